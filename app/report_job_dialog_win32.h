// The job dialog of File > Export Report: customer, site, installer,
// company, date, logo file and notes, asked before the chooser. The
// installer, company and logo file are remembered in the settings store.
#ifndef SQ71_APP_REPORT_JOB_DIALOG_WIN32_H
#define SQ71_APP_REPORT_JOB_DIALOG_WIN32_H

#include <windows.h>

#include "report/report_job.h"

namespace sq71 {

INT_PTR CALLBACK ReportJobDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Runs the dialog modally over owner; false when it is cancelled. A logo
// that cannot be used is told in a box and the dialog stays open.
bool AskReportJob(HWND owner, ReportJob* job);

}  // namespace sq71

#endif
