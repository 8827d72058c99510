#include "chooser/chooser_logic.h"

#include <cstring>

#include "ui/message_catalogue.h"

namespace sq71 {
namespace {

// ASCII case folding only: file name endings are compared the way the file
// system does for the extensions the program uses, independent of locale.
char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

FilterList ParseFilterList(const char* text) {
  FilterList filters;
  if (text == nullptr) return filters;
  const char* start = text;
  while (filters.count < kMaxFilterEntries) {
    const char* end = std::strchr(start, ';');
    if (end == nullptr) break;  // text after the last ";" is no entry
    std::size_t length = static_cast<std::size_t>(end - start);
    FilterList::Entry& entry = filters.entries[filters.count++];
    entry.usable = length <= kMaxFilterEntryLength;
    if (entry.usable) entry.ending.assign(start, length);
    start = end + 1;
  }
  return filters;
}

bool EndsWithNoCase(const std::string& name, const std::string& ending) {
  if (name.size() < ending.size()) return false;
  std::size_t offset = name.size() - ending.size();
  for (std::size_t i = 0; i < ending.size(); ++i) {
    if (FoldCase(name[offset + i]) != FoldCase(ending[i])) return false;
  }
  return true;
}

bool MatchesFilter(const FilterList& filters, const std::string& name) {
  for (int i = 0; i < filters.count; ++i) {
    const FilterList::Entry& entry = filters.entries[i];
    if (entry.usable && EndsWithNoCase(name, entry.ending)) return true;
  }
  return false;
}

bool IsBracketed(const std::string& text) {
  return text.size() >= 2 && text.front() == '[' && text.back() == ']';
}

EntryKind ClassifyEntry(const std::string& text) {
  if (text.size() == 5 && text[0] == '[' && text[1] == '-' && text[3] == '-' && text[4] == ']') {
    return EntryKind::kDrive;
  }
  if (IsBracketed(text)) return EntryKind::kFolder;
  return EntryKind::kFile;
}

std::string DriveRoot(const std::string& drive_entry) {
  std::string root(1, drive_entry.size() > 2 ? drive_entry[2] : '?');
  root += ":\\";
  return root;
}

std::string FolderName(const std::string& folder_entry) {
  if (!IsBracketed(folder_entry)) return folder_entry;
  return folder_entry.substr(1, folder_entry.size() - 2);
}

void FilterListing(ListingItems& items, const char* filter_list) {
  const FilterList filters = ParseFilterList(filter_list);
  const int count = items.Count();
  if (count <= 0) return;
  for (int index = count - 1; index >= 0; --index) {
    // Read whole: a folder with a long name must keep its closing bracket.
    std::string name = items.Text(index);
    if (!name.empty() && name.back() == ']') continue;  // folder or drive
    std::string long_name;
    if (items.LongName(name, &long_name)) {
      items.Replace(index, long_name);
      name = long_name;
    }
    if (items.ShowAll()) continue;
    if (!MatchesFilter(filters, name)) items.Remove(index);
  }
}

bool FileNameHasDot(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/");
  std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  return path.find('.', name_start) != std::string::npos;
}

std::string FolderOfPath(const std::string& full_path) {
  std::size_t slash = full_path.find_last_of('\\');
  if (slash == std::string::npos) return full_path;
  return full_path.substr(0, slash);
}

OkDecision DecideOk(const std::string& typed, bool save_mode, const std::string& default_extension,
                    ChooserFileSystem& fs) {
  OkDecision decision;
  if (typed.empty()) return decision;  // nothing typed: stay, silently

  std::string path;
  if (!fs.FullPath(typed, &path)) {
    decision.message = kMsgInvalidBinaryFile;
    return decision;
  }

  auto act_on = [&decision](const std::string& p, PathKind kind) {
    decision.path = p;
    switch (kind) {
      case PathKind::kFolder:
        decision.action = OkDecision::Action::kEnterFolder;
        break;
      case PathKind::kFile:
        decision.action = OkDecision::Action::kAskOverwriteThenAccept;
        break;
      case PathKind::kMissing:
        decision.action = OkDecision::Action::kAccept;
        break;
    }
  };

  const PathKind kind = fs.Kind(path);
  if (!save_mode) {
    if (kind == PathKind::kMissing) {
      decision.message = kMsgInvalidBinaryFile;
      return decision;
    }
    decision.path = path;
    decision.action =
        kind == PathKind::kFolder ? OkDecision::Action::kEnterFolder : OkDecision::Action::kAccept;
    return decision;
  }

  if (kind != PathKind::kMissing || FileNameHasDot(path) || default_extension.empty()) {
    act_on(path, kind);
    return decision;
  }
  const std::string extended = path + default_extension;
  act_on(extended, fs.Kind(extended));
  return decision;
}

OkOutcome ResolveOk(const OkDecision& decision, Messages& messages) {
  OkOutcome outcome;
  switch (decision.action) {
    case OkDecision::Action::kStay:
      if (decision.message >= 0) {
        messages.ShowMessage(decision.message, MessageStyle::kError);
        outcome.empty_chosen_file = true;
      }
      return outcome;
    case OkDecision::Action::kEnterFolder:
      outcome.action = OkOutcome::Action::kEnterFolder;
      break;
    case OkDecision::Action::kAskOverwriteThenAccept:
      if (messages.AskQuestion(kMsgConfirmOverwrite) != kAnswerYes) return outcome;
      outcome.action = OkOutcome::Action::kAccept;
      break;
    case OkDecision::Action::kAccept:
      outcome.action = OkOutcome::Action::kAccept;
      break;
  }
  outcome.path = decision.path;
  return outcome;
}

DoubleClickDecision DecideDoubleClick(const std::string& item_text) {
  DoubleClickDecision decision;
  switch (ClassifyEntry(item_text)) {
    case EntryKind::kDrive:
      decision.action = DoubleClickDecision::Action::kList;
      decision.path = DriveRoot(item_text);
      break;
    case EntryKind::kFolder:
      decision.action = DoubleClickDecision::Action::kList;
      decision.path = FolderName(item_text);
      break;
    case EntryKind::kFile:
      decision.action = DoubleClickDecision::Action::kFile;
      decision.path = item_text;
      break;
  }
  return decision;
}

Placement PlaceBesideOwner(int screen_width, const ScreenRect& owner, const ScreenRect& dialog) {
  const int width = dialog.right - dialog.left;
  Placement placement;
  if (screen_width - owner.right >= width) {
    placement = {true, owner.right, owner.top};
  } else if (owner.left >= width) {
    placement = {true, owner.left - width, owner.top};
  }
  return placement;
}

}  // namespace sq71
