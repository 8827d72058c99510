// Text and path conversion at the edge of the Windows API. The core keeps
// names and paths as UTF-8 bytes; every call into Windows that takes a file
// name uses the W function with the UTF-16 form made here, so a name outside
// the ANSI code page survives. Transponder names and catalogue texts are not
// file names and stay in the ANSI code page.
#ifndef SQ71_UI_WIDE_TEXT_WIN32_H
#define SQ71_UI_WIDE_TEXT_WIN32_H

#include <cstddef>
#include <string>
#include <string_view>

namespace sq71 {

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

// Copies UTF-8 text into a buffer of size bytes, terminator included. Text
// that does not fit is cut at the end of the last whole character that does,
// never inside one.
void CopyUtf8(char* target, std::size_t size, const char* text);

// The UTF-16 form of a UTF-8 path for the file functions. A full path too
// long for the classic limit gets the "\\?\" form, which every Windows since
// XP accepts whatever the long-path setting says.
std::wstring WidePath(const char* path);

}  // namespace sq71

#endif
