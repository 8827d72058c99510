#include "chooser/chooser_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ui/message_catalogue.h"

namespace sq71 {
namespace {

// ---------------------------------------------------------------------------
// Filter list and ending match

TEST(FilterListTest, SplitsOnlyTextFollowedBySemicolon) {
  FilterList f = ParseFilterList(".ulg;.csv;tail");
  ASSERT_EQ(f.count, 2);
  EXPECT_EQ(f.entries[0].ending, ".ulg");
  EXPECT_EQ(f.entries[1].ending, ".csv");
  EXPECT_FALSE(MatchesFilter(f, "x.tail"));
  EXPECT_FALSE(MatchesFilter(f, "tail"));

  EXPECT_EQ(ParseFilterList("").count, 0);
  EXPECT_EQ(ParseFilterList(".ulg").count, 0);  // no ";": no entry
  EXPECT_EQ(ParseFilterList(nullptr).count, 0);
}

TEST(FilterListTest, KeepsAtMostTenEntries) {
  // Eleven one-letter endings: a to k.
  FilterList f = ParseFilterList("a;b;c;d;e;f;g;h;i;j;k;");
  EXPECT_EQ(f.count, kMaxFilterEntries);
  EXPECT_TRUE(MatchesFilter(f, "x.a"));
  EXPECT_TRUE(MatchesFilter(f, "x.j"));
  EXPECT_FALSE(MatchesFilter(f, "x.k"));  // the eleventh is ignored
}

TEST(FilterListTest, EntryLongerThanFourCharactersMatchesNothing) {
  FilterList f = ParseFilterList(".html;.ulg;");
  ASSERT_EQ(f.count, 2);
  EXPECT_FALSE(f.entries[0].usable);
  EXPECT_TRUE(f.entries[1].usable);
  // Neither the whole ending nor a cut-down ".htm" shows a file.
  EXPECT_FALSE(MatchesFilter(f, "page.html"));
  EXPECT_FALSE(MatchesFilter(f, "page.htm"));
  EXPECT_TRUE(MatchesFilter(f, "log.ulg"));
  // Exactly four characters is still an entry.
  EXPECT_TRUE(MatchesFilter(ParseFilterList("abcd;"), "xabcd"));
}

TEST(FilterListTest, OverLongEntriesStillTakeTheirPlaceAmongTheTen) {
  FilterList f = ParseFilterList("aaaaa;b;c;d;e;f;g;h;i;j;k;");
  EXPECT_EQ(f.count, kMaxFilterEntries);
  EXPECT_TRUE(MatchesFilter(f, "x.j"));
  EXPECT_FALSE(MatchesFilter(f, "x.k"));
}

TEST(FilterListTest, EmptyEntryMatchesEveryName) {
  FilterList f = ParseFilterList(".ulg;;");
  ASSERT_EQ(f.count, 2);
  EXPECT_TRUE(MatchesFilter(f, "notes.txt"));
  EXPECT_TRUE(MatchesFilter(f, "x"));
  EXPECT_TRUE(MatchesFilter(ParseFilterList(";"), "anything.at.all"));
}

TEST(FilterListTest, NoEntriesMatchesNothing) {
  FilterList f = ParseFilterList("");
  EXPECT_FALSE(MatchesFilter(f, "a.ulg"));
  EXPECT_FALSE(MatchesFilter(f, ""));
}

TEST(EndingMatchTest, ComparesTheLastCharactersWithoutCase) {
  EXPECT_TRUE(EndsWithNoCase("a.ulg", ".ulg"));
  EXPECT_TRUE(EndsWithNoCase("B.ULG", ".ulg"));
  EXPECT_TRUE(EndsWithNoCase("c.Ulg", ".uLG"));
  EXPECT_TRUE(EndsWithNoCase(".ulg", ".ulg"));   // same length
  EXPECT_FALSE(EndsWithNoCase("ulg", ".ulg"));   // shorter than the ending
  EXPECT_FALSE(EndsWithNoCase("dulg", ".ulg"));  // same length, no dot
  EXPECT_FALSE(EndsWithNoCase("a.ulg.bak", ".ulg"));
  EXPECT_FALSE(EndsWithNoCase("a.csv", ".ulg"));
  EXPECT_TRUE(EndsWithNoCase("", ""));
  // Only letters fold: "@" and "`" sit beside the letter ranges.
  EXPECT_FALSE(EndsWithNoCase("x@", "`"));
}

// ---------------------------------------------------------------------------
// Entry forms

TEST(EntryFormTest, DriveIsExactlyFiveCharactersInItsPattern) {
  EXPECT_EQ(ClassifyEntry("[-c-]"), EntryKind::kDrive);
  EXPECT_EQ(ClassifyEntry("[-Z-]"), EntryKind::kDrive);
  EXPECT_EQ(DriveRoot("[-d-]"), "d:\\");
  // Near misses are folders (bracketed) or files.
  EXPECT_EQ(ClassifyEntry("[-cc-]"), EntryKind::kFolder);
  EXPECT_EQ(ClassifyEntry("[-c_]"), EntryKind::kFolder);
  EXPECT_EQ(ClassifyEntry("[_c-]"), EntryKind::kFolder);
  EXPECT_EQ(ClassifyEntry("[-c-"), EntryKind::kFile);
  EXPECT_EQ(ClassifyEntry("-c-]"), EntryKind::kFile);
}

TEST(EntryFormTest, FoldersAreBracketedNames) {
  EXPECT_EQ(ClassifyEntry("[..]"), EntryKind::kFolder);
  EXPECT_EQ(FolderName("[..]"), "..");
  EXPECT_EQ(ClassifyEntry("[my logs]"), EntryKind::kFolder);
  EXPECT_EQ(FolderName("[my logs]"), "my logs");
  EXPECT_EQ(ClassifyEntry("[]"), EntryKind::kFolder);
  EXPECT_EQ(FolderName("[]"), "");
  EXPECT_EQ(ClassifyEntry("a.ulg"), EntryKind::kFile);
  EXPECT_EQ(ClassifyEntry("["), EntryKind::kFile);
  EXPECT_EQ(ClassifyEntry("]"), EntryKind::kFile);
  EXPECT_EQ(ClassifyEntry("x]"), EntryKind::kFile);
  EXPECT_FALSE(IsBracketed("[x"));
  EXPECT_TRUE(IsBracketed("[x]"));
}

TEST(EntryFormTest, DoubleClickListsDrivesAndFoldersAndTakesFiles) {
  DoubleClickDecision d = DecideDoubleClick("[-d-]");
  EXPECT_EQ(d.action, DoubleClickDecision::Action::kList);
  EXPECT_EQ(d.path, "d:\\");
  d = DecideDoubleClick("[..]");
  EXPECT_EQ(d.action, DoubleClickDecision::Action::kList);
  EXPECT_EQ(d.path, "..");
  d = DecideDoubleClick("[sub]");
  EXPECT_EQ(d.action, DoubleClickDecision::Action::kList);
  EXPECT_EQ(d.path, "sub");
  d = DecideDoubleClick("a.ulg");
  EXPECT_EQ(d.action, DoubleClickDecision::Action::kFile);
  EXPECT_EQ(d.path, "a.ulg");
}

// ---------------------------------------------------------------------------
// Filtering a listing

class VectorListing : public ListingItems {
 public:
  explicit VectorListing(std::vector<std::string> items) : items_(std::move(items)) {}

  int Count() override { return count_error_ ? -1 : static_cast<int>(items_.size()); }
  std::string Text(int index) override { return items_.at(index); }
  void Replace(int index, const std::string& text) override { items_.at(index) = text; }
  void Remove(int index) override { items_.erase(items_.begin() + index); }
  bool ShowAll() override { return show_all_; }
  bool LongName(const std::string& name, std::string* long_name) override {
    asked_long_names_.push_back(name);
    auto it = long_names_.find(name);
    if (it == long_names_.end()) return false;
    *long_name = it->second;
    return true;
  }

  std::vector<std::string> items_;
  std::map<std::string, std::string> long_names_;
  std::vector<std::string> asked_long_names_;
  bool show_all_ = false;
  bool count_error_ = false;
};

const std::vector<std::string> kFolderListing = {
    "B.ULG", "[-c-]", "[-z-]", "[..]", "[sub]", "a.ulg", "dulg", "e.csv",
};

TEST(FilterListingTest, KeepsMatchingFilesAndAllFoldersAndDrives) {
  VectorListing list(kFolderListing);
  FilterListing(list, ".ulg;");
  EXPECT_EQ(list.items_,
            (std::vector<std::string>{"B.ULG", "[-c-]", "[-z-]", "[..]", "[sub]", "a.ulg"}));
}

TEST(FilterListingTest, ShowAllKeepsEveryFile) {
  VectorListing list(kFolderListing);
  list.show_all_ = true;
  FilterListing(list, ".ulg;");
  EXPECT_EQ(list.items_, kFolderListing);
}

TEST(FilterListingTest, NoEntriesDeletesEveryFile) {
  VectorListing list(kFolderListing);
  FilterListing(list, ".ulg");  // no ";": no entry at all
  EXPECT_EQ(list.items_, (std::vector<std::string>{"[-c-]", "[-z-]", "[..]", "[sub]"}));
}

TEST(FilterListingTest, AdjacentDeletionsAreAllMade) {
  // Every file but the last is to go; a forward walk that deletes would skip
  // the item after each deletion.
  VectorListing list({"a.txt", "b.txt", "c.txt", "d.ulg"});
  FilterListing(list, ".ulg;");
  EXPECT_EQ(list.items_, (std::vector<std::string>{"d.ulg"}));
}

TEST(FilterListingTest, ReplacesFilesByTheirLongNamesInPlace) {
  VectorListing list({"[..]", "LOGFIL~1.ULG", "REPORT~1.CSV", "plain.ulg"});
  list.long_names_["LOGFIL~1.ULG"] = "logfile from march.ulg";
  list.long_names_["REPORT~1.CSV"] = "report.ulg.csv";
  FilterListing(list, ".ulg;");
  // The long name decides the match: the report's long name ends in .csv.
  EXPECT_EQ(list.items_, (std::vector<std::string>{"[..]", "logfile from march.ulg", "plain.ulg"}));
  // Bracketed entries are never looked up; files are, from the last one.
  EXPECT_EQ(list.asked_long_names_,
            (std::vector<std::string>{"plain.ulg", "REPORT~1.CSV", "LOGFIL~1.ULG"}));
}

TEST(FilterListingTest, LongNameDecidesEvenWhenTheShortNameWouldMatch) {
  VectorListing list({"NOTES~1.ULG"});
  list.long_names_["NOTES~1.ULG"] = "notes.ulgx";
  FilterListing(list, ".ulg;");
  EXPECT_TRUE(list.items_.empty());
}

TEST(FilterListingTest, LongFolderNameKeepsItsBracket) {
  std::string folder = "[" + std::string(255, 'f') + "]";
  VectorListing list({folder, "x.txt"});
  FilterListing(list, ".ulg;");
  EXPECT_EQ(list.items_, (std::vector<std::string>{folder}));
}

TEST(FilterListingTest, EmptyOrFailingListIsLeftAlone) {
  VectorListing empty({});
  FilterListing(empty, ".ulg;");
  EXPECT_TRUE(empty.items_.empty());

  VectorListing failing({"x.txt"});
  failing.count_error_ = true;
  FilterListing(failing, ".ulg;");
  EXPECT_EQ(failing.items_, (std::vector<std::string>{"x.txt"}));
  EXPECT_TRUE(failing.asked_long_names_.empty());
}

// ---------------------------------------------------------------------------
// OK: the decision for a typed name

// A small file system: a listed folder, a set of folders and files, and names
// whose full path cannot be formed.
class FakeFileSystem : public ChooserFileSystem {
 public:
  explicit FakeFileSystem(std::string listed) : listed_(std::move(listed)) {}

  bool FullPath(const std::string& name, std::string* full_path) override {
    if (name.find('|') != std::string::npos) return false;
    bool absolute = (name.size() > 1 && name[1] == ':') || (!name.empty() && name[0] == '\\');
    *full_path = absolute ? name : listed_ + "\\" + name;
    return true;
  }
  PathKind Kind(const std::string& path) override {
    looked_up_.push_back(path);
    auto it = entries_.find(path);
    return it == entries_.end() ? PathKind::kMissing : it->second;
  }

  std::string listed_;
  std::map<std::string, PathKind> entries_;
  std::vector<std::string> looked_up_;
};

class RecordingMessages : public Messages {
 public:
  void ShowMessage(int number, MessageStyle style) override { shown_.emplace_back(number, style); }
  int AskQuestion(int number) override {
    asked_.push_back(number);
    return answer_;
  }

  std::vector<std::pair<int, MessageStyle>> shown_;
  std::vector<int> asked_;
  int answer_ = kAnswerYes;
};

TEST(OkDecisionTest, SaveModeAppendsDefaultExtensionToNewName) {
  FakeFileSystem fs("C:\\logs");
  OkDecision d = DecideOk("log1", true, ".ulg", fs);
  EXPECT_EQ(d.action, OkDecision::Action::kAccept);
  EXPECT_EQ(d.path, "C:\\logs\\log1.ulg");
}

TEST(OkDecisionTest, DotInAFolderNameDoesNotStopTheExtension) {
  FakeFileSystem fs("C:\\data.old");
  OkDecision d = DecideOk("log1", true, ".ulg", fs);
  EXPECT_EQ(d.action, OkDecision::Action::kAccept);
  EXPECT_EQ(d.path, "C:\\data.old\\log1.ulg");

  // Also for a path typed through such a folder.
  FakeFileSystem fs2("C:\\logs");
  d = DecideOk("..\\v1.2\\log1", true, ".csv", fs2);
  EXPECT_EQ(d.path, "C:\\logs\\..\\v1.2\\log1.csv");
}

TEST(OkDecisionTest, NameWithItsOwnDotIsTakenAsTyped) {
  FakeFileSystem fs("C:\\logs");
  OkDecision d = DecideOk("log1.bak", true, ".ulg", fs);
  EXPECT_EQ(d.action, OkDecision::Action::kAccept);
  EXPECT_EQ(d.path, "C:\\logs\\log1.bak");
}

TEST(OkDecisionTest, NoDefaultExtensionTakesTheNameAsTyped) {
  FakeFileSystem fs("C:\\logs");
  OkDecision d = DecideOk("log1", true, "", fs);
  EXPECT_EQ(d.action, OkDecision::Action::kAccept);
  EXPECT_EQ(d.path, "C:\\logs\\log1");
}

TEST(OkDecisionTest, ExistingFileAsksBeforeOverwriting) {
  FakeFileSystem fs("C:\\logs");
  fs.entries_["C:\\logs\\log1.ulg"] = PathKind::kFile;
  // Typed without the extension, found with it.
  OkDecision d = DecideOk("log1", true, ".ulg", fs);
  EXPECT_EQ(d.action, OkDecision::Action::kAskOverwriteThenAccept);
  EXPECT_EQ(d.path, "C:\\logs\\log1.ulg");
  // Typed in full.
  d = DecideOk("log1.ulg", true, ".ulg", fs);
  EXPECT_EQ(d.action, OkDecision::Action::kAskOverwriteThenAccept);
  EXPECT_EQ(d.path, "C:\\logs\\log1.ulg");
}

TEST(OkDecisionTest, OverwriteAnsweredNoKeepsTheDialogOpen) {
  FakeFileSystem fs("C:\\logs");
  fs.entries_["C:\\logs\\log1.ulg"] = PathKind::kFile;
  RecordingMessages messages;
  for (int answer : {kAnswerNo, kAnswerCancel}) {
    messages.answer_ = answer;
    OkOutcome o = ResolveOk(DecideOk("log1", true, ".ulg", fs), messages);
    EXPECT_EQ(o.action, OkOutcome::Action::kStay);
    EXPECT_FALSE(o.empty_chosen_file);
  }
  EXPECT_EQ(messages.asked_, (std::vector<int>{kMsgConfirmOverwrite, kMsgConfirmOverwrite}));
  EXPECT_TRUE(messages.shown_.empty());

  messages.answer_ = kAnswerYes;
  OkOutcome o = ResolveOk(DecideOk("log1", true, ".ulg", fs), messages);
  EXPECT_EQ(o.action, OkOutcome::Action::kAccept);
  EXPECT_EQ(o.path, "C:\\logs\\log1.ulg");
}

TEST(OkDecisionTest, TypedFolderIsEnteredInEitherMode) {
  FakeFileSystem fs("C:\\logs");
  fs.entries_["C:\\logs\\old"] = PathKind::kFolder;
  for (bool save_mode : {false, true}) {
    OkDecision d = DecideOk("old", save_mode, ".ulg", fs);
    EXPECT_EQ(d.action, OkDecision::Action::kEnterFolder);
    EXPECT_EQ(d.path, "C:\\logs\\old");
  }
  RecordingMessages messages;
  OkOutcome o = ResolveOk(DecideOk("old", true, ".ulg", fs), messages);
  EXPECT_EQ(o.action, OkOutcome::Action::kEnterFolder);
  EXPECT_TRUE(messages.asked_.empty());
}

TEST(OkDecisionTest, NewNameWhoseExtendedFormIsAFolderEntersIt) {
  FakeFileSystem fs("C:\\logs");
  fs.entries_["C:\\logs\\odd.ulg"] = PathKind::kFolder;
  OkDecision d = DecideOk("odd", true, ".ulg", fs);
  EXPECT_EQ(d.action, OkDecision::Action::kEnterFolder);
  EXPECT_EQ(d.path, "C:\\logs\\odd.ulg");
}

TEST(OkDecisionTest, OpenModeMissingNameIsAnErrorWithNoExtensionTried) {
  FakeFileSystem fs("C:\\logs");
  fs.entries_["C:\\logs\\log1.ulg"] = PathKind::kFile;
  OkDecision d = DecideOk("log1", false, ".ulg", fs);
  EXPECT_EQ(d.action, OkDecision::Action::kStay);
  EXPECT_EQ(d.message, kMsgInvalidBinaryFile);
  EXPECT_EQ(fs.looked_up_, (std::vector<std::string>{"C:\\logs\\log1"}));

  RecordingMessages messages;
  OkOutcome o = ResolveOk(d, messages);
  EXPECT_EQ(o.action, OkOutcome::Action::kStay);
  EXPECT_TRUE(o.empty_chosen_file);
  ASSERT_EQ(messages.shown_.size(), 1u);
  EXPECT_EQ(messages.shown_[0].first, kMsgInvalidBinaryFile);
  EXPECT_EQ(messages.shown_[0].second, MessageStyle::kError);
}

TEST(OkDecisionTest, OpenModeExistingFileIsAcceptedWithoutAQuestion) {
  FakeFileSystem fs("C:\\logs");
  fs.entries_["D:\\other\\x.ulg"] = PathKind::kFile;
  RecordingMessages messages;
  OkOutcome o = ResolveOk(DecideOk("D:\\other\\x.ulg", false, "", fs), messages);
  EXPECT_EQ(o.action, OkOutcome::Action::kAccept);
  EXPECT_EQ(o.path, "D:\\other\\x.ulg");
  EXPECT_TRUE(messages.asked_.empty());
  EXPECT_TRUE(messages.shown_.empty());
}

TEST(OkDecisionTest, UnformablePathIsAnErrorInBothModes) {
  FakeFileSystem fs("C:\\logs");
  for (bool save_mode : {false, true}) {
    OkDecision d = DecideOk("bad|name", save_mode, ".ulg", fs);
    EXPECT_EQ(d.action, OkDecision::Action::kStay);
    EXPECT_EQ(d.message, kMsgInvalidBinaryFile);
  }
  EXPECT_TRUE(fs.looked_up_.empty());
}

TEST(OkDecisionTest, EmptyNameStaysSilently) {
  FakeFileSystem fs("C:\\logs");
  RecordingMessages messages;
  OkDecision d = DecideOk("", true, ".ulg", fs);
  EXPECT_EQ(d.action, OkDecision::Action::kStay);
  EXPECT_EQ(d.message, -1);
  OkOutcome o = ResolveOk(d, messages);
  EXPECT_EQ(o.action, OkOutcome::Action::kStay);
  EXPECT_TRUE(messages.shown_.empty());
  EXPECT_TRUE(messages.asked_.empty());
}

TEST(PathPartsTest, DotIsSoughtInTheFileNameOnly) {
  EXPECT_FALSE(FileNameHasDot("C:\\data.old\\log1"));
  EXPECT_FALSE(FileNameHasDot("C:/v1.2/log1"));
  EXPECT_TRUE(FileNameHasDot("C:\\logs\\log1.bak"));
  EXPECT_TRUE(FileNameHasDot("C:\\logs\\.hidden"));
  EXPECT_TRUE(FileNameHasDot("a.b"));
  EXPECT_FALSE(FileNameHasDot("ab"));
}

TEST(PathPartsTest, FolderOfAChosenPath) {
  EXPECT_EQ(FolderOfPath("C:\\logs\\a.ulg"), "C:\\logs");
  EXPECT_EQ(FolderOfPath("C:\\a.ulg"), "C:");
  EXPECT_EQ(FolderOfPath("Z:\\tmp\\x y\\b.csv"), "Z:\\tmp\\x y");
}

// ---------------------------------------------------------------------------
// Placement beside the owner

TEST(PlacementTest, RightOfTheOwnerWhenThereIsRoom) {
  ScreenRect owner{100, 50, 330, 140};
  ScreenRect dialog{400, 300, 700, 800};  // 300 wide
  Placement p = PlaceBesideOwner(1024, owner, dialog);
  EXPECT_TRUE(p.move);
  EXPECT_EQ(p.left, 330);
  EXPECT_EQ(p.top, 50);
  // Exactly enough room still counts.
  p = PlaceBesideOwner(630, owner, dialog);
  EXPECT_TRUE(p.move);
  EXPECT_EQ(p.left, 330);
}

TEST(PlacementTest, LeftOfTheOwnerNearTheRightEdge) {
  ScreenRect owner{800, 60, 1000, 150};
  ScreenRect dialog{0, 0, 300, 500};
  Placement p = PlaceBesideOwner(1024, owner, dialog);
  EXPECT_TRUE(p.move);
  EXPECT_EQ(p.left, 500);
  EXPECT_EQ(p.top, 60);
}

TEST(PlacementTest, StaysPutWhenNeitherSideHasRoom) {
  ScreenRect owner{100, 60, 400, 150};
  ScreenRect dialog{10, 20, 310, 500};
  Placement p = PlaceBesideOwner(500, owner, dialog);
  EXPECT_FALSE(p.move);
}

}  // namespace
}  // namespace sq71
