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
  const std::wstring text = kNotOpenedBefore + wide + kNotOpenedAfter;
  MessageBoxW(owner, text.c_str(), caption, MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL);
}

}  // namespace sq71
