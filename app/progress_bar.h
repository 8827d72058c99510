#ifndef SQ71_APP_PROGRESS_BAR_H
#define SQ71_APP_PROGRESS_BAR_H

namespace sq71 {

// Geometry of the download progress bar in client coordinates.
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

}  // namespace sq71

#endif
