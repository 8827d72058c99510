#include "report/report_job.h"

#include "log/key_value_text.h"
#include "log/regular_file.h"
#include "ui/message_quote.h"

namespace sq71 {
namespace {

constexpr std::size_t kMaxJobBytes = 64 * 1024;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

bool IsAbsolute(const std::string& path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
         (path.size() > 1 && path[1] == ':');
}

}  // namespace

const char* ImageTypeOf(const std::string& bytes) {
  if (bytes.rfind("\x89PNG\r\n\x1a\n", 0) == 0) return "image/png";
  if (bytes.rfind("\xFF\xD8\xFF", 0) == 0) return "image/jpeg";
  return nullptr;
}

bool LoadLogo(const std::string& path, ReportJob* job, std::string* error) {
  std::string bytes;
  if (!ReadRegularFile(path, kMaxLogoBytes, &bytes, error, "logo")) return false;
  const char* type = ImageTypeOf(bytes);
  if (type == nullptr) {
    *error = "logo " + QuoteForMessage(path) + " is neither a PNG nor a JPEG image";
    return false;
  }
  job->logo_type = type;
  job->logo_bytes = std::move(bytes);
  return true;
}

bool LoadJobFile(const std::string& path, ReportJob* job, std::string* title, std::string* error) {
  std::string text;
  if (!ReadRegularFile(path, kMaxJobBytes, &text, error, "job file")) return false;
  ReportJob read;
  std::string logo;
  const KeyValueSink sink = [&](const std::string& key, const std::string& value, bool section,
                                std::string* why) {
    std::string* field = key == "customer"    ? &read.customer
                         : key == "site"      ? &read.site
                         : key == "installer" ? &read.installer
                         : key == "company"   ? &read.company
                         : key == "date"      ? &read.date
                         : key == "logo"      ? &logo
                         : key == "title"     ? title
                                              : nullptr;
    if (key == "notes" && !section) {
      read.notes += (read.notes.empty() ? "" : "\n") + value;
      return true;
    }
    if (field == nullptr || section) {
      *why = "unknown " + std::string(section ? "section '" : "key '") + key +
             "' (title, customer, site, installer, company, date, notes, logo)";
      return false;
    }
    *field = value;
    return true;
  };
  std::string why;
  if (!ParseKeyValueText(text, sink, &why)) {
    *error = "job file " + QuoteForMessage(path) + ": " + why;
    return false;
  }
  if (!logo.empty() && !LoadLogo(IsAbsolute(logo) ? logo : FolderOf(path) + logo, &read, error)) {
    return false;
  }
  *job = std::move(read);
  return true;
}

bool ThresholdsOf(const ReportOptions& options, Thresholds* thresholds,
                  std::vector<std::string>* errors) {
  Thresholds t;
  const std::size_t before = errors->size();
  const std::pair<const char*, const std::string*> given[] = {{"--good", &options.good},
                                                              {"--marginal", &options.marginal}};
  for (const auto& [name, text] : given) {
    if (!ParseThresholdDb(*text, name == given[0].first ? &t.good : &t.marginal)) {
      errors->push_back(std::string(name) + " takes decimal dB from 0 to 20 (at most two " +
                        "decimals), not " + QuoteForMessage(*text));
    }
  }
  if (errors->size() != before) return false;
  if (t.marginal > t.good) {
    errors->push_back("--marginal " + QuoteForMessage(options.marginal) +
                      " is above --good " + QuoteForMessage(options.good) +
                      ": a marginal link cannot need more margin than a good one");
    return false;
  }
  *thresholds = t;
  return true;
}

bool JobOf(const ReportOptions& options, ReportJob* job, std::string* title, std::string* error) {
  ReportJob made;
  std::string job_title = "Installation report";
  if (!options.job_file.empty() && !LoadJobFile(options.job_file, &made, &job_title, error)) {
    return false;
  }
  *title = options.title.empty() ? job_title : options.title;
  const std::pair<const std::string*, std::string*> fields[] = {
      {&options.customer, &made.customer}, {&options.site, &made.site},
      {&options.installer, &made.installer}, {&options.company, &made.company},
      {&options.date, &made.date}, {&options.notes, &made.notes}};
  for (const auto& [given, field] : fields) {
    if (!given->empty()) *field = *given;
  }
  if (!options.logo.empty() && !LoadLogo(options.logo, &made, error)) return false;
  *job = std::move(made);
  return true;
}

}  // namespace sq71
