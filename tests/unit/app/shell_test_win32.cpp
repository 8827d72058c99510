// The shell's Win32 pieces that can run inside a test process: the progress
// bar painted into a memory bitmap, the main window's UI calls on a real
// window with a menu, and the driver table binding.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "app/app_state_win32.h"
#include "app/main_window_ui_win32.h"
#include "app/main_window_win32.h"
#include "resources/resource_ids.h"
#include "usb/d2xx_binding.h"
#include "usb/d2xx_loader_win32.h"

namespace sq71 {
namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
// What was there before the paint: a colour the bar never uses.
constexpr COLORREF kBefore = RGB(200, 30, 40);

// A 240 x 50 bitmap in the "before" colour, painted on by PaintProgressBar.
class BarCanvas {
 public:
  BarCanvas() {
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, 240, 50);
    ReleaseDC(nullptr, screen);
    old_ = SelectObject(dc_, bitmap_);
    HBRUSH brush = CreateSolidBrush(kBefore);
    RECT all = {0, 0, 240, 50};
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
  }
  ~BarCanvas() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  void Paint(int reading, int progress, int total) {
    TransferState state;
    state.reading = reading;
    state.progress = progress;
    state.total = total;
    PaintProgressBar(dc_, state);
  }
  COLORREF At(int x, int y) const { return GetPixel(dc_, x, y) & 0xFFFFFF; }

 private:
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
};

// Rectangle() covers x from left to right - 1 and y from top to bottom - 1;
// without a pen the fill stops one pixel short of that on each far side.

TEST(ProgressBar, IdleBlanksTheWholeBarToWhiteAndNothingElse) {
  BarCanvas canvas;
  canvas.Paint(0, 0, 0);
  for (int x = 10; x <= 214; ++x) {
    EXPECT_EQ(kWhite, canvas.At(x, 15)) << x;
    EXPECT_EQ(kWhite, canvas.At(x, 25)) << x;
    EXPECT_EQ(kWhite, canvas.At(x, 34)) << x;
  }
  EXPECT_EQ(kBefore, canvas.At(9, 25));
  EXPECT_EQ(kBefore, canvas.At(215, 25));
  EXPECT_EQ(kBefore, canvas.At(100, 14));
  EXPECT_EQ(kBefore, canvas.At(100, 35));
}

TEST(ProgressBar, IdleAfterADownloadWipesTheFillAndFrame) {
  BarCanvas canvas;
  canvas.Paint(1, 1024, 1024);
  canvas.Paint(0, 1024, 1024);
  EXPECT_EQ(kWhite, canvas.At(10, 15));
  EXPECT_EQ(kWhite, canvas.At(120, 25));
  EXPECT_EQ(kWhite, canvas.At(214, 34));
}

TEST(ProgressBar, NothingReadYetIsAnEmptyBlackFrame) {
  BarCanvas canvas;
  canvas.Paint(1, 0, 1024);
  // Frame on all four sides.
  EXPECT_EQ(kBlack, canvas.At(10, 25));
  EXPECT_EQ(kBlack, canvas.At(214, 25));
  EXPECT_EQ(kBlack, canvas.At(100, 15));
  EXPECT_EQ(kBlack, canvas.At(100, 34));
  // Hollow inside: the previous contents show through.
  EXPECT_EQ(kBefore, canvas.At(11, 16));
  EXPECT_EQ(kBefore, canvas.At(112, 25));
  EXPECT_EQ(kBefore, canvas.At(213, 33));
  // Nothing outside.
  EXPECT_EQ(kBefore, canvas.At(215, 25));
  EXPECT_EQ(kBefore, canvas.At(100, 35));
}

TEST(ProgressBar, HalfWayFillsToXOf112) {
  BarCanvas canvas;
  canvas.Paint(1, 512, 1024);  // 10 + 512 * 205 / 1024 = 112
  EXPECT_EQ(kBlack, canvas.At(11, 16));
  EXPECT_EQ(kBlack, canvas.At(110, 25));
  EXPECT_EQ(kBlack, canvas.At(110, 33));
  EXPECT_EQ(kBefore, canvas.At(111, 25));
  EXPECT_EQ(kBefore, canvas.At(150, 25));
  EXPECT_EQ(kBlack, canvas.At(214, 25));  // frame
}

TEST(ProgressBar, FillEdgeIsTruncatedNotRounded) {
  BarCanvas canvas;
  // 10 + 1023 * 205 / 1024 = 10 + 204.8: truncated to 214, so the fill ends
  // at x = 212 and x = 213 stays open in front of the frame.
  canvas.Paint(1, 1023, 1024);
  EXPECT_EQ(kBlack, canvas.At(212, 25));
  EXPECT_EQ(kBefore, canvas.At(213, 25));
  EXPECT_EQ(kBlack, canvas.At(214, 25));
}

TEST(ProgressBar, CompleteFillsTheWholeFrame) {
  BarCanvas canvas;
  canvas.Paint(1, 1024, 1024);
  for (int x = 10; x <= 214; ++x) {
    EXPECT_EQ(kBlack, canvas.At(x, 25)) << x;
  }
  EXPECT_EQ(kBlack, canvas.At(213, 33));
  EXPECT_EQ(kBefore, canvas.At(215, 25));
  EXPECT_EQ(kBefore, canvas.At(100, 35));
}

TEST(ProgressBar, ZeroTotalWhileReadingDrawsAFrameInsteadOfDividing) {
  BarCanvas canvas;
  canvas.Paint(1, 7, 0);
  EXPECT_EQ(kBlack, canvas.At(10, 25));
  EXPECT_EQ(kBlack, canvas.At(214, 25));
  EXPECT_EQ(kBefore, canvas.At(100, 25));
}

// A top-level window with a View item, standing in for the main window.
class UiWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = DefWindowProcA;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "sq71 ui test";
    RegisterClassA(&window_class);
    menu_ = CreateMenu();
    AppendMenuA(menu_, MF_STRING, IDM_READ, "&Read");
    AppendMenuA(menu_, MF_STRING | MF_GRAYED, IDM_VIEW, "&View");
    window_ = CreateWindowExA(0, "sq71 ui test", "test", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                              nullptr, menu_, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, window_);
  }
  void TearDown() override { DestroyWindow(window_); }

  UINT ViewState() const { return GetMenuState(menu_, IDM_VIEW, MF_BYCOMMAND); }

  // Pumps messages until a WM_TIMER with id arrives or timeout_ms pass.
  bool TimerArrives(UINT_PTR id, DWORD timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    while (GetTickCount64() < deadline) {
      MSG msg;
      while (PeekMessageA(&msg, window_, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_TIMER && msg.wParam == id) return true;
        DispatchMessageA(&msg);
      }
      Sleep(5);
    }
    return false;
  }

  HMENU menu_ = nullptr;
  HWND window_ = nullptr;
};

TEST_F(UiWindow, SetViewEnabledTogglesOnlyTheViewItem) {
  Win32MainWindowUi ui(window_);
  ui.SetViewEnabled(true);
  EXPECT_EQ(0u, ViewState() & MF_GRAYED);
  ui.SetViewEnabled(false);
  EXPECT_NE(0u, ViewState() & MF_GRAYED);
  EXPECT_EQ(0u, GetMenuState(menu_, IDM_READ, MF_BYCOMMAND) & MF_GRAYED);
  ui.SetViewEnabled(true);
  EXPECT_EQ(0u, ViewState() & MF_GRAYED);
}

TEST_F(UiWindow, TransferTimerTicksUntilKilled) {
  Win32MainWindowUi ui(window_);
  ui.StartTransferTimer();
  EXPECT_TRUE(TimerArrives(TRANSFER_TIMER_ID, 5000));
  ui.KillTransferTimer();
  // Killing a timer that no longer exists fails: the kill went through.
  EXPECT_FALSE(KillTimer(window_, TRANSFER_TIMER_ID));
}

TEST_F(UiWindow, StoppingTheTransferTimerClearsTheReadingFlag) {
  Win32MainWindowUi ui(window_);
  ui.StartTransferTimer();
  g_transfer.reading = 1;
  StopTransferTimer(window_);
  EXPECT_EQ(0, g_transfer.reading);
  EXPECT_FALSE(KillTimer(window_, TRANSFER_TIMER_ID));
}

TEST_F(UiWindow, InvalidateMarksTheClientAreaForRepaint) {
  Win32MainWindowUi ui(window_);
  ShowWindow(window_, SW_SHOWNA);
  UpdateWindow(window_);
  RECT dirty;
  EXPECT_FALSE(GetUpdateRect(window_, &dirty, FALSE));
  ui.Invalidate(false);
  EXPECT_TRUE(GetUpdateRect(window_, &dirty, FALSE));
}

// --- Binding the driver functions ------------------------------------------

// Each name resolves to its own fake address, so a function bound under the
// wrong name shows up.
struct FakeLibrary {
  std::map<std::string, uintptr_t> exports;
  static void* Lookup(void* context, const char* name) {
    auto* self = static_cast<FakeLibrary*>(context);
    auto it = self->exports.find(name);
    return it == self->exports.end() ? nullptr : reinterpret_cast<void*>(it->second);
  }
};

const char* const kDriverNames[] = {
    "FT_Open",           "FT_Close",       "FT_Read",
    "FT_Write",          "FT_SetBaudRate", "FT_SetDataCharacteristics",
    "FT_SetFlowControl", "FT_SetDtr",      "FT_ClrDtr",
    "FT_Purge",          "FT_SetTimeouts", "FT_ListDevices",
    "FT_EE_Read"};

FakeLibrary FullLibrary() {
  FakeLibrary library;
  uintptr_t address = 0x1000;
  for (const char* name : kDriverNames) library.exports[name] = (address += 0x10);
  return library;
}

uintptr_t Address(const void* function) { return reinterpret_cast<uintptr_t>(function); }

TEST(D2xxBinding, BindsEveryFunctionToTheExportOfItsName) {
  FakeLibrary library = FullLibrary();
  D2xxFunctions f;
  ASSERT_TRUE(BindD2xxFunctions(FakeLibrary::Lookup, &library, &f));
  EXPECT_EQ(library.exports["FT_Open"], Address(reinterpret_cast<void*>(f.Open)));
  EXPECT_EQ(library.exports["FT_Close"], Address(reinterpret_cast<void*>(f.Close)));
  EXPECT_EQ(library.exports["FT_Read"], Address(reinterpret_cast<void*>(f.Read)));
  EXPECT_EQ(library.exports["FT_Write"], Address(reinterpret_cast<void*>(f.Write)));
  EXPECT_EQ(library.exports["FT_SetBaudRate"], Address(reinterpret_cast<void*>(f.SetBaudRate)));
  EXPECT_EQ(library.exports["FT_SetDataCharacteristics"],
            Address(reinterpret_cast<void*>(f.SetDataCharacteristics)));
  EXPECT_EQ(library.exports["FT_SetFlowControl"],
            Address(reinterpret_cast<void*>(f.SetFlowControl)));
  EXPECT_EQ(library.exports["FT_SetDtr"], Address(reinterpret_cast<void*>(f.SetDtr)));
  EXPECT_EQ(library.exports["FT_ClrDtr"], Address(reinterpret_cast<void*>(f.ClrDtr)));
  EXPECT_EQ(library.exports["FT_Purge"], Address(reinterpret_cast<void*>(f.Purge)));
  EXPECT_EQ(library.exports["FT_SetTimeouts"], Address(reinterpret_cast<void*>(f.SetTimeouts)));
  EXPECT_EQ(library.exports["FT_ListDevices"], Address(reinterpret_cast<void*>(f.ListDevices)));
  EXPECT_EQ(library.exports["FT_EE_Read"], Address(reinterpret_cast<void*>(f.EE_Read)));
}

TEST(D2xxBinding, AnyMissingFunctionFailsAndLeavesTheTableEmpty) {
  for (const char* missing : kDriverNames) {
    SCOPED_TRACE(missing);
    FakeLibrary library = FullLibrary();
    library.exports.erase(missing);
    D2xxFunctions f;
    f.Open = reinterpret_cast<FT_OpenFn>(reinterpret_cast<void*>(uintptr_t{0x42}));
    EXPECT_FALSE(BindD2xxFunctions(FakeLibrary::Lookup, &library, &f));
    EXPECT_EQ(nullptr, f.Open);
    EXPECT_EQ(nullptr, f.Read);
    EXPECT_EQ(nullptr, f.EE_Read);
  }
}

TEST(D2xxBinding, LatencyTimerIsOptional) {
  FakeLibrary library = FullLibrary();
  D2xxFunctions f;
  ASSERT_TRUE(BindD2xxFunctions(FakeLibrary::Lookup, &library, &f));
  EXPECT_EQ(nullptr, f.SetLatencyTimer);
  library.exports["FT_SetLatencyTimer"] = 0x9990;
  ASSERT_TRUE(BindD2xxFunctions(FakeLibrary::Lookup, &library, &f));
  EXPECT_EQ(0x9990u, Address(reinterpret_cast<void*>(f.SetLatencyTimer)));
}

TEST(D2xxBinding, LibraryThatCannotBeLoadedGivesNoDriver) {
  EXPECT_EQ(nullptr, LoadD2xxLibrary("sq71-no-such-library.dll"));
}

TEST(D2xxBinding, LibraryWithoutTheDriverFunctionsCountsAsNotLoadable) {
  EXPECT_EQ(nullptr, LoadD2xxLibrary("version.dll"));
}

}  // namespace
}  // namespace sq71
