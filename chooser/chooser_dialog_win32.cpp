#include "chooser/chooser_dialog_win32.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "chooser/chooser_logic.h"
#include "resources/resource_ids.h"
#include "settings/settings_store_win32.h"
#include "ui/message_catalogue.h"
#include "ui/message_text_win32.h"
#include "ui/wide_text_win32.h"

namespace sq71 {

ChooserBuffers g_chooser = {};

namespace {

// EN_MAXTEXT: Enter in the one-line, multi-line name box cannot add a line.
constexpr WORD kNameBoxFull = 0x0501;
// Drives, sub-folders and read-only files besides the plain ones.
constexpr UINT kListingKinds = DDL_DRIVES | DDL_DIRECTORY | DDL_READONLY;  // 0x4011
// Private message that makes the dialog list its folder again.
constexpr UINT kRefreshMessage = WM_APP;

// Where the open chooser loads its texts from and reports to; set by
// RunFileChooser for the length of one dialog.
HINSTANCE g_instance = nullptr;
Messages* g_messages = nullptr;

// Names cross into the dialog's controls and the file functions as UTF-16;
// the chooser's buffers and decisions keep them as UTF-8.
void SetItemText(HWND dialog, int id, const std::string& text) {
  SetDlgItemTextW(dialog, id, WideFromUtf8(text).c_str());
}

// Full path of a name relative to the current directory, which after a
// listing is the listed folder. False when it cannot be formed or does not
// fit a path buffer.
bool FullPathOf(const char* name, std::string* full_path) {
  const std::wstring wide = WideFromUtf8(name);
  const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return false;
  std::wstring buffer(size, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), size, buffer.data(), nullptr);
  if (length == 0 || length >= size) return false;
  std::string path = Utf8FromWide({buffer.data(), length});
  if (path.size() >= static_cast<std::size_t>(kChooserPathSize)) return false;
  *full_path = std::move(path);
  return true;
}

// The folder the user last listed, into the chooser folder.
void RememberListedFolder() {
  std::string listed;
  if (FullPathOf(".", &listed)) {
    CopyUtf8(g_chooser.chooser_folder, sizeof(g_chooser.chooser_folder), listed.c_str());
  }
}

// DlgDirListW writes into its path argument, so it always gets a scratch
// copy. Makes the folder the current directory when it can be listed.
bool ListFolder(HWND dialog, const std::string& path) {
  const std::wstring wide = WideFromUtf8(path);
  std::vector<wchar_t> scratch(wide.begin(), wide.end());
  scratch.resize(wide.size() < MAX_PATH ? MAX_PATH + 1 : wide.size() + 1, L'\0');
  return DlgDirListW(dialog, scratch.data(), IDC_CHOOSER_LIST, IDC_CHOOSER_PATH, kListingKinds) !=
         0;
}

class ListBoxItems : public ListingItems {
 public:
  explicit ListBoxItems(HWND dialog)
      : dialog_(dialog), list_(GetDlgItem(dialog, IDC_CHOOSER_LIST)) {}

  int Count() override {
    LRESULT count = SendMessageA(list_, LB_GETCOUNT, 0, 0);
    return count == LB_ERR ? -1 : static_cast<int>(count);
  }
  std::string Text(int index) override { return ItemText(list_, index); }
  void Replace(int index, const std::string& text) override {
    SendMessageW(list_, LB_DELETESTRING, index, 0);
    const std::wstring wide = WideFromUtf8(text);
    SendMessageW(list_, LB_INSERTSTRING, index, reinterpret_cast<LPARAM>(wide.c_str()));
  }
  void Remove(int index) override { SendMessageW(list_, LB_DELETESTRING, index, 0); }
  bool ShowAll() override {
    return SendDlgItemMessageA(dialog_, IDC_CHOOSER_SHOW_ALL, BM_GETCHECK, 0, 0) == BST_CHECKED;
  }
  bool LongName(const std::string& name, std::string* long_name) override {
    const std::wstring wide = WideFromUtf8(name);
    wchar_t buffer[kChooserPathSize];
    DWORD length = GetLongPathNameW(wide.c_str(), buffer, kChooserPathSize);
    if (length == 0 || length >= static_cast<DWORD>(kChooserPathSize)) return false;
    *long_name = Utf8FromWide({buffer, length});
    return true;
  }

  // Sized from LB_GETTEXTLEN, so no name can overrun the buffer.
  static std::string ItemText(HWND list, int index) {
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR || length < 0) return std::string();
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1, L'\0');
    LRESULT got = SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(buffer.data()));
    if (got == LB_ERR) return std::string();
    return Utf8FromWide(buffer.data());
  }

 private:
  HWND dialog_;
  HWND list_;
};

class Win32ChooserFileSystem : public ChooserFileSystem {
 public:
  bool FullPath(const std::string& name, std::string* full_path) override {
    return FullPathOf(name.c_str(), full_path);
  }
  PathKind Kind(const std::string& path) override {
    DWORD attributes = GetFileAttributesW(WidePath(path.c_str()).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::kFolder : PathKind::kFile;
  }
};

void Filter(HWND dialog) {
  ListBoxItems items(dialog);
  FilterListing(items, g_chooser.filter_list);
}

std::string MessageString(int number) {
  char text[kMessageBufferSize];
  LoadMessageText(g_instance, number, text, static_cast<int>(sizeof(text)));
  return text;
}

void PlaceBeside(HWND dialog, HWND owner) {
  RECT o;
  RECT d;
  if (owner == nullptr || !GetWindowRect(owner, &o) || !GetWindowRect(dialog, &d)) return;
  Placement place =
      PlaceBesideOwner(GetSystemMetrics(SM_CXFULLSCREEN), {o.left, o.top, o.right, o.bottom},
                       {d.left, d.top, d.right, d.bottom});
  if (place.move) {
    MoveWindow(dialog, place.left, place.top, d.right - d.left, d.bottom - d.top, TRUE);
  }
}

void OnInitDialog(HWND dialog, HWND owner) {
  PlaceBeside(dialog, owner);
  SetWindowTextA(dialog, MessageString(kMsgEnterFilename).c_str());
  SetItemText(dialog, IDC_CHOOSER_NAME, g_chooser.chosen_file);
  g_chooser.chosen_file[0] = '\0';
  SetDlgItemTextA(dialog, IDCANCEL, MessageString(kMsgCancel).c_str());
  if (!ListFolder(dialog, g_chooser.start_folder)) {
    // The folder has gone (removed, drive unplugged): start where we are.
    std::string current;
    if (!FullPathOf(".", &current)) current.clear();
    CopyUtf8(g_chooser.start_folder, sizeof(g_chooser.start_folder), current.c_str());
    ListFolder(dialog, g_chooser.start_folder);
  }
  Filter(dialog);
  SetFocus(GetDlgItem(dialog, IDC_CHOOSER_LIST));
}

void EnterFolder(HWND dialog, const std::string& path) {
  ListFolder(dialog, path);
  Filter(dialog);
  g_chooser.chosen_file[0] = '\0';
  SetDlgItemTextW(dialog, IDC_CHOOSER_NAME, L"");
}

void Accept(HWND dialog, const std::string& path, const std::string& folder) {
  CopyUtf8(g_chooser.chosen_file, sizeof(g_chooser.chosen_file), path.c_str());
  CopyUtf8(g_chooser.chooser_folder, sizeof(g_chooser.chooser_folder), folder.c_str());
  EndDialog(dialog, IDOK);
}

void OnOk(HWND dialog) {
  RememberListedFolder();
  wchar_t typed[kChooserPathSize];
  GetDlgItemTextW(dialog, IDC_CHOOSER_NAME, typed, kChooserPathSize);
  CopyUtf8(g_chooser.chosen_file, sizeof(g_chooser.chosen_file), Utf8FromWide(typed).c_str());
  if (g_chooser.chosen_file[0] == '\0') return;

  Win32ChooserFileSystem fs;
  OkDecision decision =
      DecideOk(g_chooser.chosen_file, g_chooser.save_mode != 0, g_chooser.default_extension, fs);
  // A name that only fits once its extension is appended would be cut short
  // in the chosen file: refuse it like any other unusable name.
  if (decision.action != OkDecision::Action::kStay &&
      decision.path.size() >= static_cast<std::size_t>(kChooserPathSize)) {
    decision.action = OkDecision::Action::kStay;
    decision.message = kMsgInvalidBinaryFile;
  }
  OkOutcome outcome = ResolveOk(decision, *g_messages);
  switch (outcome.action) {
    case OkOutcome::Action::kStay:
      if (outcome.empty_chosen_file) g_chooser.chosen_file[0] = '\0';
      break;
    case OkOutcome::Action::kEnterFolder:
      EnterFolder(dialog, outcome.path);
      break;
    case OkOutcome::Action::kAccept: {
      // The listed folder, not the folder of a path typed into another one.
      std::string listed = g_chooser.chooser_folder;
      FullPathOf(".", &listed);
      Accept(dialog, outcome.path, listed);
      break;
    }
  }
}

void OnCancel(HWND dialog) {
  g_chooser.chosen_file[0] = '\0';
  RememberListedFolder();
  EndDialog(dialog, IDCANCEL);
}

void OnSelectionChange(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_CHOOSER_LIST);
  LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
  if (selected == LB_ERR) return;
  std::string text = ListBoxItems::ItemText(list, static_cast<int>(selected));
  if (!IsBracketed(text)) SetItemText(dialog, IDC_CHOOSER_NAME, text);
}

void OnDoubleClick(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_CHOOSER_LIST);
  LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
  if (selected == LB_ERR) return;
  DoubleClickDecision decision =
      DecideDoubleClick(ListBoxItems::ItemText(list, static_cast<int>(selected)));
  if (decision.action == DoubleClickDecision::Action::kList) {
    // A folder or drive that cannot be listed leaves what the listing left.
    ListFolder(dialog, decision.path);
    Filter(dialog);
    return;
  }
  if (g_chooser.save_mode != 0 && g_messages->AskQuestion(kMsgConfirmOverwrite) != kAnswerYes) {
    return;
  }
  std::string full_path;
  if (!FullPathOf(decision.path.c_str(), &full_path)) return;
  Accept(dialog, full_path, FolderOfPath(full_path));
}

void OnRefresh(HWND dialog) {
  RememberListedFolder();
  ListFolder(dialog, g_chooser.chooser_folder);
  Filter(dialog);
}

}  // namespace

INT_PTR CALLBACK ChooserDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog, reinterpret_cast<HWND>(lparam));
      return FALSE;  // the focus is on the file list already
    case kRefreshMessage:
      OnRefresh(dialog);
      return TRUE;
    case WM_COMMAND: {
      const WORD id = LOWORD(wparam);
      const WORD code = HIWORD(wparam);
      if (id == IDOK || (id == IDC_CHOOSER_NAME && code == kNameBoxFull)) {
        OnOk(dialog);
        return TRUE;
      }
      if (id == IDCANCEL) {
        OnCancel(dialog);
        return TRUE;
      }
      if (id == IDC_CHOOSER_LIST && code == LBN_SELCHANGE) {
        OnSelectionChange(dialog);
        return TRUE;
      }
      if (id == IDC_CHOOSER_LIST && code == LBN_DBLCLK) {
        OnDoubleClick(dialog);
        return TRUE;
      }
      if (id == IDC_CHOOSER_SHOW_ALL && code == BN_CLICKED) {
        PostMessageW(dialog, kRefreshMessage, 0, 0);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

bool RunFileChooser(HINSTANCE instance, HWND owner, Messages& messages, const char* value_name,
                    int save_mode, const char* filter_list, const char* default_extension) {
  // A chooser opened from a dialog of an open chooser's caller reports to
  // its own caller; the outer one gets its own back afterwards.
  HINSTANCE outer_instance = g_instance;
  Messages* outer_messages = g_messages;
  g_instance = instance;
  g_messages = &messages;
  // A folder too long for the chooser's buffers could not be listed whole:
  // the chooser then starts in the current directory, as for a folder gone.
  const std::string stored = SettingsRead(value_name);
  if (stored.size() < sizeof(g_chooser.start_folder)) {
    std::memcpy(g_chooser.start_folder, stored.c_str(), stored.size() + 1);
  } else {
    g_chooser.start_folder[0] = '\0';
  }
  CopyUtf8(g_chooser.chooser_folder, sizeof(g_chooser.chooser_folder), g_chooser.start_folder);
  g_chooser.chosen_file[0] = '\0';
  g_chooser.save_mode = save_mode;
  CopyUtf8(g_chooser.filter_list, sizeof(g_chooser.filter_list), filter_list);
  if (default_extension != nullptr) {
    CopyUtf8(g_chooser.default_extension, sizeof(g_chooser.default_extension), default_extension);
  }
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_CHOOSER), owner, ChooserDialogProc,
                  reinterpret_cast<LPARAM>(owner));
  // Also after Cancel: the next use starts where the user last looked.
  SettingsWrite(g_chooser.chooser_folder, value_name, &messages);
  g_instance = outer_instance;
  g_messages = outer_messages;
  return g_chooser.chosen_file[0] != '\0';
}

bool RunFileChooser(HINSTANCE instance, HWND owner, Messages& messages, const ChooserForm& form) {
  return RunFileChooser(instance, owner, messages, form.value_name, form.save_mode,
                        form.filter_list, form.default_extension);
}

}  // namespace sq71
