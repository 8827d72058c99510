#include "settings/settings_store_win32.h"

#include <windows.h>

#include <cstring>

#include "ui/message_catalogue.h"

namespace sq71 {
namespace {

// A directory too long for the buffer is not written at all, so the buffer is
// emptied rather than left as it was.
void CurrentDirectoryInto(char* buffer) {
  DWORD length = GetCurrentDirectoryA(kSettingsBufferSize, buffer);
  if (length == 0 || length >= kSettingsBufferSize) buffer[0] = '\0';
}

// Reads the value into the caller's buffer as text. The data is taken up to
// its first NUL and never beyond the bytes the query returned, whatever the
// value's type: a REG_BINARY or REG_DWORD, or a REG_SZ stored without its
// terminator, is not followed into whatever lies after it. Data that fills
// the whole buffer without a NUL would need a cut, so it counts as a failure.
bool QueryFolder(HKEY key, const char* value_name, char* buffer) {
  BYTE data[kSettingsBufferSize];
  DWORD size = sizeof(data);
  if (RegQueryValueExA(key, value_name, nullptr, nullptr, data, &size) != ERROR_SUCCESS) {
    return false;
  }
  if (size > sizeof(data)) return false;
  const void* nul = std::memchr(data, 0, size);
  std::size_t length = nul != nullptr ? static_cast<const BYTE*>(nul) - data : size;
  if (length >= kSettingsBufferSize) return false;
  std::memcpy(buffer, data, length);
  buffer[length] = '\0';
  return true;
}

}  // namespace

void SettingsRead(char* buffer, const char* value_name) {
  HKEY software = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE", 0, KEY_READ, &software) != ERROR_SUCCESS) {
    CurrentDirectoryInto(buffer);
    return;
  }
  HKEY settings = nullptr;
  if (RegOpenKeyExA(software, kSettingsKey, 0, KEY_READ, &settings) != ERROR_SUCCESS) {
    CurrentDirectoryInto(buffer);
    RegCloseKey(software);
    return;
  }
  if (!QueryFolder(settings, value_name, buffer)) CurrentDirectoryInto(buffer);
  RegCloseKey(settings);
  RegCloseKey(software);
}

void SettingsWrite(const char* folder, const char* value_name, Messages* messages) {
  HKEY software = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE", 0, KEY_WRITE, &software) != ERROR_SUCCESS) {
    if (messages != nullptr) messages->ShowMessage(kMsgRegistry, MessageStyle::kError);
    return;
  }
  HKEY settings = nullptr;
  if (RegCreateKeyExA(software, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                      nullptr, &settings, nullptr) != ERROR_SUCCESS) {
    if (messages != nullptr) messages->ShowMessage(kMsgRegistry, MessageStyle::kError);
    RegCloseKey(software);
    return;
  }
  // A value that cannot be set only means the next run starts elsewhere.
  RegSetValueExA(settings, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                 static_cast<DWORD>(std::strlen(folder) + 1));
  RegCloseKey(settings);
  RegCloseKey(software);
}

}  // namespace sq71
