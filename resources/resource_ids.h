// Numeric resource ids: commands, menus, dialogs, controls, icons and bitmaps.
// Plain #defines so both the resource compiler and C++ can include this file.
#ifndef SQ71_RESOURCES_RESOURCE_IDS_H
#define SQ71_RESOURCES_RESOURCE_IDS_H

// Menu and accelerator table of the main window.
#define IDR_MAINMENU 211
#define IDR_ACCELERATORS 211

// Icons and bitmap. The small icon id is requested by the window class but
// deliberately not present, so Windows takes the small image of icon 135.
#define IDI_MAIN 135
#define IDI_SMALL 108
#define IDB_ABOUT 212

// Commands.
#define IDM_ABOUT 104
#define IDM_EXIT 32771
#define IDM_READ 32779
#define IDM_LOAD 32780
#define IDM_ERASE_LOG 32782
#define IDM_SAVE 32784
#define IDM_VERSION 32801
#define IDM_EXPORT 32806
#define IDM_VIEW 32807
#define IDM_EXPORT_REPORT 32808

// Dialog templates.
#define IDD_ABOUT 110
#define IDD_CHOOSER 150
#define IDD_DEVICES 158
#define IDD_LOG_ENTRIES 208

// About box controls.
#define IDC_ABOUT_VERSION 1096
#define IDC_ABOUT_EXTRA 1093

// Device list controls.
#define IDC_DEVICE_LIST 1089
#define IDC_DEVICE_COUNT 1092

// Log Entries view controls.
#define IDC_ENTRY_LIST 1098
#define IDC_ENTRY_EXPORT 1100

// File chooser controls.
#define IDC_CHOOSER_PROMPT 1006
#define IDC_CHOOSER_PATH 1066
#define IDC_CHOOSER_LIST 1049
#define IDC_CHOOSER_NAME 1064
#define IDC_CHOOSER_SHOW_ALL 1067

// The Export Report job dialog and its fields.
#define IDD_REPORT_JOB 170
#define IDC_JOB_CUSTOMER 1201
#define IDC_JOB_SITE 1202
#define IDC_JOB_INSTALLER 1203
#define IDC_JOB_COMPANY 1204
#define IDC_JOB_DATE 1205
#define IDC_JOB_LOGO 1206
#define IDC_JOB_NOTES 1207

// The transfer timer on the main window.
#define TRANSFER_TIMER_ID 12345

#endif
