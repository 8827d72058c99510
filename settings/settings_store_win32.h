// The settings store: the last folder of each file command, kept as string
// values under HKEY_CURRENT_USER\SOFTWARE\CorvaleData.
#ifndef SQ71_SETTINGS_SETTINGS_STORE_WIN32_H
#define SQ71_SETTINGS_SETTINGS_STORE_WIN32_H

#include <string>

#include "ui/ui.h"

namespace sq71 {

// Value names, one per file command.
constexpr const char* kLogLoadDir = "LogLoadDir";
constexpr const char* kLogSaveDir = "LogSaveDir";
constexpr const char* kExportDir = "ExportDir";
constexpr const char* kReportDir = "ReportDir";
// Text the Export Report dialog remembers: installer, company, logo file.
constexpr const char* kReportInstaller = "ReportInstaller";
constexpr const char* kReportCompany = "ReportCompany";
constexpr const char* kReportLogo = "ReportLogo";

// Key below HKEY_CURRENT_USER\SOFTWARE that holds the values.
constexpr const char* kSettingsKey = "CorvaleData";

// Folders are UTF-8 text here and UTF-16 in the registry.

// The stored folder, whatever its length, or the current directory when there
// is none to be had (no key, no value). Never creates the key.
std::string SettingsRead(const char* value_name);

// The stored text of a value; empty when there is none to be had.
std::string SettingsReadText(const char* value_name);

// Stores the folder. When the key cannot be opened or created, shows message
// 21 in the error style (through messages, when given); a failure to set the
// value itself is not reported.
void SettingsWrite(const char* folder, const char* value_name, Messages* messages);

}  // namespace sq71

#endif
