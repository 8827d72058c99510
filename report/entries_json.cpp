#include "report/entries_json.h"

#include <nlohmann/json.hpp>

namespace sq71 {
namespace {

using Json = nlohmann::ordered_json;

std::string MarkerOf(char marker) { return marker == ' ' ? "" : std::string(1, marker); }

// A value in tenths, or null.
Json Tenths(const LevelValue& value, int offset_hundredths = 0) {
  if (!value.has_value) return nullptr;
  return (value.tenths * 10 + offset_hundredths) / 100.0;
}

void PutQber(const DecodedEntry& d, Json* object) {
  Json value = nullptr;
  const char* marker = "";
  if ((d.flags & kFlagLocked) != 0) {
    const uint32_t qualifier = d.qber >> 30;
    if (d.qber == 0) {
      // The meter's "nothing counted": below one.
      value = 1.0;
      marker = "<";
    } else if (qualifier != 3) {
      value = (d.qber & 0x3FFFFFFF) * 1e-8;
      marker = qualifier == 1 ? "<" : qualifier == 2 ? ">" : "";
    }
  }
  (*object)["qber"] = value;
  (*object)["qber_marker"] = marker;
}

}  // namespace

std::string EntriesJson(const std::vector<ReportEntry>& entries) {
  Json array = Json::array();
  for (const ReportEntry& e : entries) {
    const DecodedEntry& d = e.decoded;
    Json o;
    o["record"] = e.record;
    o["id"] = e.texts.id;
    o["id_major"] = d.id_major;
    o["id_minor"] = d.id_minor;
    o["status"] = d.status;
    o["name"] = e.name;
    o["longitude_deg_east"] = d.longitude / 100.0;
    o["rf_level_dbuv"] = Tenths(e.rf);
    o["rf_level_dbm"] = Tenths(e.rf, -10875);
    o["rf_level_dbmv"] = Tenths(e.rf, -6000);
    o["rf_level_marker"] = MarkerOf(e.rf.marker);
    o["locked"] = (d.flags & kFlagLocked) != 0;
    o["pilots"] = (d.flags & kFlagPilots) != 0;
    o["iq_swap"] = (d.flags & kFlagIqSwap) != 0;
    o["mer_db"] = Tenths(e.mer);
    o["mer_marker"] = MarkerOf(e.mer.marker);
    PutQber(d, &o);
    o["nominal_frequency_khz"] = d.nominal_frequency;
    o["measured_frequency_khz"] = d.measured_frequency;
    o["nominal_symbol_rate_kbd"] = d.nominal_symbol_rate;
    o["measured_symbol_rate_kbd"] = d.measured_symbol_rate;
    o["standard"] = e.texts.standard;
    o["standard_number"] = d.standard;
    o["code_rate"] = e.texts.code_rate;
    o["code_rate_index"] = d.code_rate;
    const LinkMargin& m = e.margin;
    o["required_esn0_db"] = m.has_required ? Json(m.required / 100.0) : Json(nullptr);
    o["margin_db"] = m.has_margin ? Json(m.margin / 100.0) : Json(nullptr);
    o["margin_marker"] = m.has_margin ? MarkerOf(m.marker) : "";
    o["verdict"] = VerdictWord(m.verdict);
    array.push_back(std::move(o));
  }
  return array.dump(2) + "\n";
}

}  // namespace sq71
