// The file chooser's decisions, kept apart from the dialog so they can be
// tested without windows: the filter list, the ending match, the three forms
// of listed entries, the pass that filters a listing, the answer to OK and to
// a double-click, and where the dialog places itself.
#ifndef SQ71_CHOOSER_CHOOSER_LOGIC_H
#define SQ71_CHOOSER_CHOOSER_LOGIC_H

#include <array>
#include <cstddef>
#include <string>

#include "ui/ui.h"

namespace sq71 {

constexpr int kMaxFilterEntries = 10;
constexpr std::size_t kMaxFilterEntryLength = 4;

// The endings of a filter list such as ".ulg;". Only text followed by ";"
// forms an entry, the first ten entries count, and text after the last ";" is
// ignored. An entry longer than four characters keeps its place among the ten
// but matches no name: cutting it short would show files it does not name.
struct FilterList {
  struct Entry {
    std::string ending;
    bool usable = false;  // false for an over-long entry
  };
  int count = 0;
  std::array<Entry, kMaxFilterEntries> entries;
};

FilterList ParseFilterList(const char* text);

// True when the name is at least as long as the ending and ends with it,
// without regard to case. An empty ending matches every name.
bool EndsWithNoCase(const std::string& name, const std::string& ending);

// True when some usable entry matches the name; false with no entries.
bool MatchesFilter(const FilterList& filters, const std::string& name);

// The three forms a directory listing gives its entries.
enum class EntryKind {
  kDrive,   // "[-c-]": exactly five characters
  kFolder,  // "[name]", the parent being "[..]"
  kFile,    // a plain name
};

EntryKind ClassifyEntry(const std::string& text);
// True for a folder or a drive: the text starts with "[" and ends with "]".
bool IsBracketed(const std::string& text);
// The root of a drive entry, "c:\" for "[-c-]".
std::string DriveRoot(const std::string& drive_entry);
// The name between the brackets of a folder entry.
std::string FolderName(const std::string& folder_entry);

// The listed items as the filter pass sees them; the dialog backs it with its
// list box, tests with a vector.
class ListingItems {
 public:
  virtual ~ListingItems() = default;
  // Number of items; negative when the list reports an error.
  virtual int Count() = 0;
  virtual std::string Text(int index) = 0;
  virtual void Replace(int index, const std::string& text) = 0;
  virtual void Remove(int index) = 0;
  virtual bool ShowAll() = 0;
  // The long form of a listed name, relative to the listed folder; false when
  // there is none.
  virtual bool LongName(const std::string& name, std::string* long_name) = 0;
};

// Runs after every listing: each file item is replaced by its long name and,
// unless Show All is ticked, removed when no filter entry matches it. Folders
// and drives stay. Walks from the last item so deletions do not shift the
// items still to visit.
void FilterListing(ListingItems& items, const char* filter_list);

// What the chooser needs of the file system.
enum class PathKind { kMissing, kFolder, kFile };

class ChooserFileSystem {
 public:
  virtual ~ChooserFileSystem() = default;
  // Full path of a name relative to the listed folder; false on failure.
  virtual bool FullPath(const std::string& name, std::string* full_path) = 0;
  virtual PathKind Kind(const std::string& path) = 0;
};

// The answer to OK (or Enter in the name box) for a typed name.
struct OkDecision {
  enum class Action {
    kStay,                    // dialog stays open; show `message` unless it is -1
    kEnterFolder,             // list `path` and empty the name box
    kAskOverwriteThenAccept,  // ask message 18; Yes accepts `path`
    kAccept,                  // `path` is the chosen file
  };
  Action action = Action::kStay;
  int message = -1;
  std::string path;
};

OkDecision DecideOk(const std::string& typed, bool save_mode, const std::string& default_extension,
                    ChooserFileSystem& fs);

// What OK finally does once any question has been answered.
struct OkOutcome {
  enum class Action { kStay, kEnterFolder, kAccept };
  Action action = Action::kStay;
  std::string path;
  // A name that could not be used is dropped from the chosen file; a declined
  // overwrite keeps it, like the name box does.
  bool empty_chosen_file = false;
};

// Shows the decision's error message, or asks "Confirm file overwrite?" and
// goes on only on Yes.
OkOutcome ResolveOk(const OkDecision& decision, Messages& messages);

// True when the file name part of a path (after its last "\" or "/") holds a
// ".". Folder names along the path do not count: a new name typed in a folder
// such as "data.old" still gets the default extension.
bool FileNameHasDot(const std::string& path);

// The folder to remember for a chosen full path: everything before its last
// backslash ("c:" for a file in a drive's root).
std::string FolderOfPath(const std::string& full_path);

// The answer to a double-click on a listed item.
struct DoubleClickDecision {
  enum class Action {
    kList,  // list `path` (a drive root or a folder name) and filter again
    kFile,  // a file: ask first in save mode, then take its full path
  };
  Action action = Action::kFile;
  std::string path;
};

DoubleClickDecision DecideDoubleClick(const std::string& item_text);

// Screen rectangle, as Win32 gives it.
struct ScreenRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

struct Placement {
  bool move = false;  // false: stay where the template put it
  int left = 0;
  int top = 0;
};

// Places the dialog right of its owner when the screen has room, else left of
// it touching it, else nowhere new.
Placement PlaceBesideOwner(int screen_width, const ScreenRect& owner, const ScreenRect& dialog);

}  // namespace sq71

#endif
