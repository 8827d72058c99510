#include "app/report_open_win32.h"

#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "app/app_state_win32.h"
#include "ui/wide_text_win32.h"

namespace sq71 {
namespace {

constexpr const wchar_t* kNotOpenedBefore = L"The report was written to\n\n";
constexpr const wchar_t* kNotOpenedAfter =
    L"\n\nbut it could not be opened. Open it from that folder in a web browser.";

// The path as the box shows it. A message box breaks lines only between
// words, and a long path is one long word: it is broken here after a
// backslash once a line holds 48 characters, and anywhere (but never inside
// a surrogate pair) once it holds 80.
std::wstring ShownPath(const std::wstring& path) {
  std::wstring shown;
  std::size_t line = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const bool after_backslash = i > 0 && path[i - 1] == L'\\';
    const bool low_surrogate = path[i] >= 0xDC00 && path[i] <= 0xDFFF;
    if (!low_surrogate && (line >= 80 || (line >= 48 && after_backslash))) {
      shown += L'\n';
      line = 0;
    }
    shown += path[i];
    ++line;
  }
  return shown;
}

// ShellExecuteW reports success with a value above 32. A path of MAX_PATH
// characters or more is not handed over at all: the shell and the programs it
// starts are not bound to take it, and its "\\?\" form the shell refuses.
bool ShellOpen(HWND owner, const std::wstring& path) {
  if (path.size() >= MAX_PATH) return false;
  // The shell's handlers may be COM objects, which expect an apartment.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(owner, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (SUCCEEDED(com)) CoUninitialize();
  return result > 32;
}

}  // namespace

void OpenWrittenReport(HWND owner, const char* path) {
  // The plain path: the shell does not take the "\\?\" form of a long one.
  const std::wstring wide = WideFromUtf8(path);
  if (ShellOpen(owner, wide)) return;
  wchar_t caption[kCaptionSize] = {};
  MultiByteToWideChar(CP_ACP, 0, g_caption, -1, caption, kCaptionSize);
  const std::wstring text = kNotOpenedBefore + ShownPath(wide) + kNotOpenedAfter;
  MessageBoxW(owner, text.c_str(), caption, MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL);
}

}  // namespace sq71
