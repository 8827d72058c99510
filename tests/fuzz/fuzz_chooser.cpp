// The file chooser's decisions over any filter list, listing, typed name and
// default extension: the filter pass keeps every folder and drive and only
// matching files, OK's answer agrees with what the file system said, and the
// double-click and placement answers keep to their forms.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "chooser/chooser_logic.h"
#include "ui/message_catalogue.h"

namespace {

using namespace sq71;

class Items : public ListingItems {
 public:
  std::vector<std::string> texts;
  std::vector<std::string> long_names;  // by position in the original listing, "" for none
  bool show_all = false;

  int Count() override { return static_cast<int>(texts.size()); }
  std::string Text(int index) override { return texts.at(static_cast<std::size_t>(index)); }
  void Replace(int index, const std::string& text) override {
    texts.at(static_cast<std::size_t>(index)) = text;
  }
  void Remove(int index) override { texts.erase(texts.begin() + index); }
  bool ShowAll() override { return show_all; }
  bool LongName(const std::string& name, std::string* long_name) override {
    for (std::size_t i = 0; i < originals.size(); ++i) {
      if (originals[i] == name && !long_names[i].empty()) {
        *long_name = long_names[i];
        return true;
      }
    }
    return false;
  }
  std::vector<std::string> originals;
};

// A file system whose answers depend only on the path and a seed.
class FileSystem : public ChooserFileSystem {
 public:
  explicit FileSystem(uint8_t seed) : seed_(seed) {}
  bool FullPath(const std::string& name, std::string* full_path) override {
    if (name.find('?') != std::string::npos || name.find('*') != std::string::npos) return false;
    *full_path = name.size() > 1 && name[1] == ':' ? name : "c:\\logs\\" + name;
    return true;
  }
  PathKind Kind(const std::string& path) override {
    return static_cast<PathKind>((std::hash<std::string>()(path) + seed_) % 3);
  }

 private:
  uint8_t seed_;
};

class Answers : public Messages {
 public:
  explicit Answers(int answer) : answer_(answer) {}
  void ShowMessage(int number, MessageStyle) override { shown.push_back(number); }
  int AskQuestion(int number) override {
    asked.push_back(number);
    return answer_;
  }
  std::vector<int> shown, asked;

 private:
  int answer_;
};

bool IsFolderOrDrive(const std::string& text) { return !text.empty() && text.back() == ']'; }

void CheckFilterPass(FuzzedDataProvider& in) {
  const std::string filter = in.ConsumeRandomLengthString(64);
  const FilterList filters = ParseFilterList(filter.c_str());
  if (filters.count < 0 || filters.count > kMaxFilterEntries) std::abort();
  for (int i = 0; i < filters.count; ++i) {
    const auto& entry = filters.entries[i];
    if (entry.usable && entry.ending.size() > kMaxFilterEntryLength) std::abort();
  }

  Items items;
  items.show_all = in.ConsumeBool();
  const int count = in.ConsumeIntegralInRange(0, 12);
  for (int i = 0; i < count; ++i) {
    items.texts.push_back(in.ConsumeRandomLengthString(24));
    items.long_names.push_back(in.ConsumeBool() ? in.ConsumeRandomLengthString(24) : "");
  }
  items.originals = items.texts;
  std::vector<std::string> kept_folders;
  for (const auto& text : items.texts) {
    if (IsFolderOrDrive(text)) kept_folders.push_back(text);
  }
  FilterListing(items, filter.c_str());

  if (items.texts.size() > items.originals.size()) std::abort();
  if (items.show_all && items.texts.size() != items.originals.size()) std::abort();
  std::vector<std::string> folders;
  for (const auto& text : items.texts) {
    // A file item is its long name now; one that is left must match.
    if (!items.show_all && !MatchesFilter(filters, text) && !IsFolderOrDrive(text)) std::abort();
    if (std::find(kept_folders.begin(), kept_folders.end(), text) != kept_folders.end()) {
      folders.push_back(text);
    }
  }
  if (folders.size() < kept_folders.size()) std::abort();  // a folder or drive went missing
}

void CheckOk(FuzzedDataProvider& in) {
  const std::string typed = in.ConsumeRandomLengthString(40);
  const bool save_mode = in.ConsumeBool();
  const std::string extension = in.ConsumeRandomLengthString(6);
  FileSystem fs(in.ConsumeIntegral<uint8_t>());
  const OkDecision decision = DecideOk(typed, save_mode, extension, fs);
  using Action = OkDecision::Action;
  switch (decision.action) {
    case Action::kStay:
      if (decision.message != (typed.empty() ? -1 : kMsgInvalidBinaryFile)) std::abort();
      break;
    case Action::kEnterFolder:
      if (fs.Kind(decision.path) != PathKind::kFolder) std::abort();
      break;
    case Action::kAskOverwriteThenAccept:
      if (!save_mode || fs.Kind(decision.path) != PathKind::kFile) std::abort();
      break;
    case Action::kAccept:
      if (fs.Kind(decision.path) != (save_mode ? PathKind::kMissing : PathKind::kFile)) {
        std::abort();
      }
      break;
  }

  const int answer = in.PickValueInArray({kAnswerYes, kAnswerNo, kAnswerCancel});
  Answers messages(answer);
  const OkOutcome outcome = ResolveOk(decision, messages);
  const bool asked = decision.action == Action::kAskOverwriteThenAccept;
  if (messages.asked.size() != (asked ? 1u : 0u)) std::abort();
  if (outcome.action != OkOutcome::Action::kStay && outcome.path != decision.path) std::abort();
  if (asked && (outcome.action == OkOutcome::Action::kAccept) != (answer == kAnswerYes)) {
    std::abort();
  }

  const std::string folder = FolderOfPath(decision.path);
  if (decision.path.compare(0, folder.size(), folder) != 0) std::abort();
}

void CheckDoubleClickAndPlacement(FuzzedDataProvider& in) {
  const std::string item = in.ConsumeRandomLengthString(24);
  const DoubleClickDecision click = DecideDoubleClick(item);
  const bool listed = click.action == DoubleClickDecision::Action::kList;
  if (listed != IsBracketed(item)) std::abort();
  if (!listed && click.path != item) std::abort();
  if (ClassifyEntry(item) == EntryKind::kDrive && click.path.size() != 3) std::abort();

  // Coordinates of real screens, so no sum can overflow.
  auto coordinate = [&in] { return in.ConsumeIntegralInRange(-20000, 20000); };
  const int screen_width = in.ConsumeIntegralInRange(0, 20000);
  const ScreenRect owner{coordinate(), coordinate(), coordinate(), coordinate()};
  const ScreenRect dialog{coordinate(), coordinate(), coordinate(), coordinate()};
  const Placement place = PlaceBesideOwner(screen_width, owner, dialog);
  const int width = dialog.right - dialog.left;
  if (place.move) {
    const bool right = place.left == owner.right && owner.right + width <= screen_width;
    const bool left = place.left + width == owner.left && place.left >= 0;
    if ((!right && !left) || place.top != owner.top) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  CheckFilterPass(in);
  CheckOk(in);
  CheckDoubleClickAndPlacement(in);
  return 0;
}
