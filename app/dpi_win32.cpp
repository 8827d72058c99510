#include "app/dpi_win32.h"

namespace sq71 {
namespace {

template <typename Function>
Function User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 != nullptr
             ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
             : nullptr;
}

}  // namespace

void BecomeDpiAware() {
  using SetContext = BOOL(WINAPI*)(HANDLE);
  using SetAware = BOOL(WINAPI*)();
  // Refused when the manifest has already decided, which is what we want.
  if (auto set_context = User32Function<SetContext>("SetProcessDpiAwarenessContext")) {
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    if (set_context(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)))) return;
    if (GetLastError() == ERROR_ACCESS_DENIED) return;
  }
  if (auto set_aware = User32Function<SetAware>("SetProcessDPIAware")) set_aware();
}

void KeepDialogScalingToItself(HWND dialog) {
  using SetBehavior = BOOL(WINAPI*)(HWND, int, int);
  static const auto set_behavior = User32Function<SetBehavior>("SetDialogDpiChangeBehavior");
  constexpr int kDisableAll = 1;  // DDC_DISABLE_ALL
  if (set_behavior != nullptr) set_behavior(dialog, kDisableAll, kDisableAll);
}

UINT WindowDpi(HWND window) {
  using GetDpi = UINT(WINAPI*)(HWND);
  static const auto get_dpi = User32Function<GetDpi>("GetDpiForWindow");
  if (get_dpi != nullptr && window != nullptr) {
    const UINT dpi = get_dpi(window);
    if (dpi != 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kDesignDpi;
}

SIZE WindowSizeForClient(int client_width, int client_height, DWORD style, DWORD ex_style,
                         bool menu, UINT dpi) {
  using Adjust = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjust = User32Function<Adjust>("AdjustWindowRectExForDpi");
  RECT rect = {0, 0, client_width, client_height};
  if (adjust == nullptr || !adjust(&rect, style, menu ? TRUE : FALSE, ex_style, dpi)) {
    rect = {0, 0, client_width, client_height};
    AdjustWindowRectEx(&rect, style, menu ? TRUE : FALSE, ex_style);
  }
  return {rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace sq71
