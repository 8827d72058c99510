#include "settings/settings_store_win32.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "ui/message_catalogue.h"
#include "ui/wide_text_win32.h"

namespace sq71 {
namespace {

// The current directory, asked for its length first; empty when it cannot be
// had.
std::string CurrentDirectory() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  if (size == 0) return std::string();
  std::wstring current(size, L'\0');
  const DWORD length = GetCurrentDirectoryW(size, current.data());
  if (length == 0 || length >= size) return std::string();
  return Utf8FromWide({current.data(), length});
}

// Reads the value as UTF-8 text, its size asked for first so a folder of any
// length comes back whole. A string value is read as the UTF-16 text Windows
// keeps (an earlier version wrote it through the ANSI call, which Windows
// converted then). Any other type is taken as bytes, as before. The data is
// taken up to its first NUL and never beyond what the query returned: a
// REG_BINARY or REG_DWORD, or a REG_SZ stored without its terminator, is not
// followed into whatever lies after it.
bool QueryFolder(HKEY key, const char* value_name, std::string* folder) {
  const std::wstring name = WideFromUtf8(value_name);
  std::wstring data;
  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG result = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
  // The value may grow between the two calls: ask again with its new size.
  for (int attempt = 0; result == ERROR_SUCCESS && attempt < 4; ++attempt) {
    data.assign(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    result = RegQueryValueExW(key, name.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &got);
    if (result == ERROR_MORE_DATA) {
      size = got;
      result = ERROR_SUCCESS;
      continue;
    }
    size = got;
    break;
  }
  if (result != ERROR_SUCCESS || size > data.size() * sizeof(wchar_t)) return false;
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    const std::size_t count = size / sizeof(wchar_t);
    const wchar_t* nul = std::wmemchr(data.data(), L'\0', count);
    *folder = Utf8FromWide(
        {data.data(), nul != nullptr ? static_cast<std::size_t>(nul - data.data()) : count});
  } else {
    const char* bytes = reinterpret_cast<const char*>(data.data());
    const void* nul = std::memchr(bytes, 0, size);
    folder->assign(bytes, nul != nullptr ? static_cast<const char*>(nul) - bytes : size);
  }
  return true;
}

}  // namespace

std::string SettingsRead(const char* value_name) {
  HKEY software = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE", 0, KEY_READ, &software) != ERROR_SUCCESS) {
    return CurrentDirectory();
  }
  HKEY settings = nullptr;
  std::string folder;
  if (RegOpenKeyExA(software, kSettingsKey, 0, KEY_READ, &settings) != ERROR_SUCCESS) {
    RegCloseKey(software);
    return CurrentDirectory();
  }
  const bool stored = QueryFolder(settings, value_name, &folder);
  RegCloseKey(settings);
  RegCloseKey(software);
  return stored ? folder : CurrentDirectory();
}

std::string SettingsReadText(const char* value_name) {
  std::string text;
  HKEY settings = nullptr;
  const std::string key = std::string("SOFTWARE\\") + kSettingsKey;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &settings) == ERROR_SUCCESS) {
    if (!QueryFolder(settings, value_name, &text)) text.clear();
    RegCloseKey(settings);
  }
  return text;
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
