#include "log/log_image.h"

#include <cstring>

namespace sq71 {

int EntryCount(const LogImage& image, ViewItem* view) {
  int n = 0;
  // Only the status byte counts here; the decoder stops at invalid ones later.
  while (n < kRecordCount && RecordAt(image, n)[rec::kStatus] != kEndMarker) ++n;
  if (n == 0 && view != nullptr) view->SetViewEnabled(false);
  return n;
}

void MarkLogEnd(LogImage& image, int n) {
  if (n < 0 || n >= kRecordCount) return;
  std::memset(RecordAt(image, n), kEndMarker, kRecordSize);
}

}  // namespace sq71
