#include "app/report_job_dialog_win32.h"

#include <string>

#include "app/app_state_win32.h"
#include "report/report_file.h"
#include "resources/resource_ids.h"
#include "settings/settings_store_win32.h"
#include "ui/wide_text_win32.h"

namespace sq71 {
namespace {

std::string FieldText(HWND dialog, int id) {
  HWND field = GetDlgItem(dialog, id);
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(field)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(field, text.data(),
                                                      static_cast<int>(text.size()))));
  std::string utf8 = Utf8FromWide(text);
  // Lines of the notes as the report keeps them: '\n' between them.
  std::string lines;
  for (const char c : utf8) {
    if (c != '\r') lines += c;
  }
  return lines;
}

void SetField(HWND dialog, int id, const std::string& utf8) {
  SetDlgItemTextW(dialog, id, WideFromUtf8(utf8).c_str());
}

// The remembered fields, by the settings value that keeps each.
constexpr std::pair<int, const char*> kRemembered[] = {{IDC_JOB_INSTALLER, kReportInstaller},
                                                       {IDC_JOB_COMPANY, kReportCompany},
                                                       {IDC_JOB_LOGO, kReportLogo}};

bool OnOk(HWND dialog, ReportJob* job) {
  ReportJob made;
  made.customer = FieldText(dialog, IDC_JOB_CUSTOMER);
  made.site = FieldText(dialog, IDC_JOB_SITE);
  made.installer = FieldText(dialog, IDC_JOB_INSTALLER);
  made.company = FieldText(dialog, IDC_JOB_COMPANY);
  made.date = FieldText(dialog, IDC_JOB_DATE);
  made.notes = FieldText(dialog, IDC_JOB_NOTES);
  const std::string logo = FieldText(dialog, IDC_JOB_LOGO);
  std::string error;
  if (!logo.empty() && !LoadLogo(logo, &made, &error)) {
    MessageBoxW(dialog, WideFromUtf8(error).c_str(), WideFromUtf8(g_caption).c_str(),
                MB_OK | MB_ICONERROR);
    SetFocus(GetDlgItem(dialog, IDC_JOB_LOGO));
    return false;
  }
  for (const auto& [id, value] : kRemembered) {
    SettingsWrite(FieldText(dialog, id).c_str(), value, nullptr);
  }
  *job = std::move(made);
  return true;
}

}  // namespace

INT_PTR CALLBACK ReportJobDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      for (const auto& [id, value] : kRemembered) SetField(dialog, id, SettingsReadText(value));
      SetField(dialog, IDC_JOB_DATE, LocalTimeNow().substr(0, 10));
      return TRUE;
    case WM_COMMAND: {
      const WORD id = LOWORD(wparam);
      auto* job = reinterpret_cast<ReportJob*>(GetWindowLongPtrW(dialog, DWLP_USER));
      if (id == IDOK && OnOk(dialog, job)) {
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (id == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

bool AskReportJob(HWND owner, ReportJob* job) {
  return DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_REPORT_JOB), owner, ReportJobDialogProc,
                         reinterpret_cast<LPARAM>(job)) == IDOK;
}

}  // namespace sq71
