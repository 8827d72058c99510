#include "ui/wide_text_win32.h"

#include <windows.h>

#include <cstring>

namespace sq71 {

std::wstring WideFromUtf8(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) return std::string();
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  }
  return narrow;
}

void CopyUtf8(char* target, std::size_t size, const char* text) {
  if (size == 0) return;
  std::size_t length = std::strlen(text);
  if (length >= size) {
    length = size - 1;
    // Back over continuation bytes (10xxxxxx) to the lead byte of the
    // character the cut would split, and cut before it.
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(target, text, length);
  target[length] = '\0';
}

std::wstring WidePath(const char* path) {
  std::wstring wide = WideFromUtf8(path != nullptr ? path : "");
  // 248 rather than 260: a folder name must leave room for an 8.3 file name.
  constexpr std::size_t kClassicLimit = 248;
  if (wide.size() < kClassicLimit || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  const bool drive = wide.size() > 2 && wide[1] == L':' && (wide[2] == L'\\' || wide[2] == L'/');
  const bool unc = wide.rfind(L"\\\\", 0) == 0;
  if (!drive && !unc) return wide;
  // The "\\?\" form is taken literally, so it gets the path already made full
  // and with backslashes only.
  const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return wide;
  full.resize(length);
  return unc ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
}

}  // namespace sq71
