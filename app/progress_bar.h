#ifndef SQ71_APP_PROGRESS_BAR_H
#define SQ71_APP_PROGRESS_BAR_H

namespace sq71 {

// The main window's client area and the download progress bar in it, in
// client coordinates at 96 DPI (scaled by the window's DPI when drawn).
constexpr int kClientWidth = 224;
constexpr int kClientHeight = 46;
constexpr int kBarLeft = 10;
constexpr int kBarTop = 15;
constexpr int kBarRight = 215;
constexpr int kBarBottom = 35;
constexpr int kBarWidth = kBarRight - kBarLeft;  // 205

// Right edge of the black fill for progress of total (total > 0). The product
// is formed before the integer division, so the fill reaches exactly the frame
// at progress == total.
constexpr int ProgressFillRight(int progress, int total) {
  return kBarLeft + progress * kBarWidth / total;
}

// The same at a scale: the bar's edges scaled as scale_of(edge) gives them,
// the fill a share of the scaled width.
struct BarRect {
  int left, top, right, bottom;
};
template <typename Scale>
constexpr BarRect ScaledBar(Scale scale_of) {
  return {scale_of(kBarLeft), scale_of(kBarTop), scale_of(kBarRight), scale_of(kBarBottom)};
}
constexpr int ScaledFillRight(const BarRect& bar, int progress, int total) {
  return bar.left + progress * (bar.right - bar.left) / total;
}

}  // namespace sq71

#endif
