#include "usb/d2xx_loader_win32.h"

namespace sq71 {
namespace {

// Bound by name rather than by ordinal: the names are what the driver
// documents and keeps stable, and a stand-in library can export them too.
template <typename Fn>
bool Bind(ExportLookup lookup, void* context, const char* name, Fn* slot) {
  FARPROC address = lookup(context, name);
  // GetProcAddress hands back a generic pointer; the types in d2xx.h are the
  // driver's real signatures.
  *slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
  return address != nullptr;
}

FARPROC LookupInModule(void* context, const char* name) {
  return GetProcAddress(static_cast<HMODULE>(context), name);
}

}  // namespace

bool BindD2xxFunctions(ExportLookup lookup, void* context, D2xxFunctions* functions) {
  D2xxFunctions bound;
  bool ok = true;
  ok &= Bind(lookup, context, "FT_Open", &bound.Open);
  ok &= Bind(lookup, context, "FT_Close", &bound.Close);
  ok &= Bind(lookup, context, "FT_Read", &bound.Read);
  ok &= Bind(lookup, context, "FT_Write", &bound.Write);
  ok &= Bind(lookup, context, "FT_SetBaudRate", &bound.SetBaudRate);
  ok &= Bind(lookup, context, "FT_SetDataCharacteristics", &bound.SetDataCharacteristics);
  ok &= Bind(lookup, context, "FT_SetFlowControl", &bound.SetFlowControl);
  ok &= Bind(lookup, context, "FT_SetDtr", &bound.SetDtr);
  ok &= Bind(lookup, context, "FT_ClrDtr", &bound.ClrDtr);
  ok &= Bind(lookup, context, "FT_Purge", &bound.Purge);
  ok &= Bind(lookup, context, "FT_SetTimeouts", &bound.SetTimeouts);
  ok &= Bind(lookup, context, "FT_ListDevices", &bound.ListDevices);
  ok &= Bind(lookup, context, "FT_EE_Read", &bound.EE_Read);
  // Optional: a driver without it still serves, with the chip's own timer.
  Bind(lookup, context, "FT_SetLatencyTimer", &bound.SetLatencyTimer);
  *functions = ok ? bound : D2xxFunctions{};
  return ok;
}

HMODULE LoadD2xxLibrary(const char* library_name, D2xxFunctions* functions) {
  *functions = D2xxFunctions{};
  HMODULE module = LoadLibraryA(library_name);
  if (module == nullptr) return nullptr;
  // A library without every function we call is not a driver we can use:
  // it counts as one that cannot be loaded.
  if (!BindD2xxFunctions(LookupInModule, module, functions)) {
    FreeLibrary(module);
    return nullptr;
  }
  return module;
}

}  // namespace sq71
