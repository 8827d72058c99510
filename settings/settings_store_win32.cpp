#include "settings/settings_store_win32.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "ui/message_catalogue.h"
#include "ui/wide_text_win32.h"

namespace sq71 {
namespace {

// A directory too long for the buffer is not written at all, so the buffer is
// emptied rather than left as it was.
void CurrentDirectoryInto(char* buffer) {
  wchar_t current[kSettingsBufferSize];
  const DWORD length = GetCurrentDirectoryW(kSettingsBufferSize, current);
  const std::string text = length == 0 || length >= kSettingsBufferSize
                               ? std::string()
                               : Utf8FromWide({current, length});
  if (text.size() >= kSettingsBufferSize) {
    buffer[0] = '\0';
    return;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
}

// Reads the value into the caller's buffer as UTF-8 text. A string value is
// read as the UTF-16 text Windows keeps (an earlier version wrote it through
// the ANSI call, which Windows converted then). Any other type is taken as
// bytes, as before. The data is taken up to its first NUL and never beyond
// what the query returned: a REG_BINARY or REG_DWORD, or a REG_SZ stored
// without its terminator, is not followed into whatever lies after it. Text
// that does not fit the buffer whole would need a cut, so it counts as a
// failure.
bool QueryFolder(HKEY key, const char* value_name, char* buffer) {
  wchar_t data[kSettingsBufferSize];
  DWORD size = sizeof(data);
  DWORD type = REG_NONE;
  const std::wstring name = WideFromUtf8(value_name);
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (size > sizeof(data)) return false;
  std::string text;
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    const std::size_t count = size / sizeof(wchar_t);
    const wchar_t* nul = std::wmemchr(data, L'\0', count);
    text = Utf8FromWide({data, nul != nullptr ? static_cast<std::size_t>(nul - data) : count});
  } else {
    const char* bytes = reinterpret_cast<const char*>(data);
    const void* nul = std::memchr(bytes, 0, size);
    text.assign(bytes, nul != nullptr ? static_cast<const char*>(nul) - bytes : size);
  }
  if (text.size() >= kSettingsBufferSize) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
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

std::string SettingsReadText(const char* value_name) {
  char buffer[kSettingsBufferSize] = "";
  HKEY settings = nullptr;
  const std::string key = std::string("SOFTWARE\\") + kSettingsKey;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &settings) == ERROR_SUCCESS) {
    if (!QueryFolder(settings, value_name, buffer)) buffer[0] = '\0';
    RegCloseKey(settings);
  }
  return buffer;
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
  const std::wstring name = WideFromUtf8(value_name);
  const std::wstring text = WideFromUtf8(folder);
  RegSetValueExW(settings, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(settings);
  RegCloseKey(software);
}

}  // namespace sq71
