#include "usb/d2xx_binding.h"

namespace sq71 {
namespace {

// Bound by name rather than by ordinal: the names are what the driver
// documents and keeps stable, and a stand-in library can export them too.
template <typename Fn>
bool Bind(ExportLookup lookup, void* context, const char* name, Fn* slot, const char** missing) {
  void* address = lookup(context, name);
  // The lookup hands back a generic pointer; the types in d2xx.h are the
  // driver's real signatures.
  *slot = reinterpret_cast<Fn>(address);
  if (address == nullptr && missing != nullptr && *missing == nullptr) *missing = name;
  return address != nullptr;
}

}  // namespace

bool BindD2xxFunctions(ExportLookup lookup, void* context, D2xxFunctions* functions,
                       const char** missing) {
  if (missing != nullptr) *missing = nullptr;
  D2xxFunctions bound;
  bool ok = true;
  ok &= Bind(lookup, context, "FT_Open", &bound.Open, missing);
  ok &= Bind(lookup, context, "FT_Close", &bound.Close, missing);
  ok &= Bind(lookup, context, "FT_Read", &bound.Read, missing);
  ok &= Bind(lookup, context, "FT_Write", &bound.Write, missing);
  ok &= Bind(lookup, context, "FT_SetBaudRate", &bound.SetBaudRate, missing);
  ok &= Bind(lookup, context, "FT_SetDataCharacteristics", &bound.SetDataCharacteristics, missing);
  ok &= Bind(lookup, context, "FT_SetFlowControl", &bound.SetFlowControl, missing);
  ok &= Bind(lookup, context, "FT_SetDtr", &bound.SetDtr, missing);
  ok &= Bind(lookup, context, "FT_ClrDtr", &bound.ClrDtr, missing);
  ok &= Bind(lookup, context, "FT_Purge", &bound.Purge, missing);
  ok &= Bind(lookup, context, "FT_SetTimeouts", &bound.SetTimeouts, missing);
  ok &= Bind(lookup, context, "FT_ListDevices", &bound.ListDevices, missing);
  ok &= Bind(lookup, context, "FT_EE_Read", &bound.EE_Read, missing);
  // Optional: a driver without it still serves, with the chip's own timer.
  Bind(lookup, context, "FT_SetLatencyTimer", &bound.SetLatencyTimer, nullptr);
  Bind(lookup, context, "FT_GetQueueStatus", &bound.GetQueueStatus, nullptr);
  Bind(lookup, context, "FT_GetLibraryVersion", &bound.GetLibraryVersion, nullptr);
  *functions = ok ? bound : D2xxFunctions{};
  return ok;
}

}  // namespace sq71
