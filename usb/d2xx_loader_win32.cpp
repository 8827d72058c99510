#include "usb/d2xx_loader_win32.h"

#include <string>

#include "usb/d2xx_binding.h"

namespace sq71 {
namespace {

void* LookupInModule(void* context, const char* name) {
  // GetProcAddress hands back a generic function pointer.
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(context), name));
}

std::wstring WideName(const char* name) {
  std::wstring wide;
  for (const char* p = name; *p != '\0'; ++p)
    wide += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  return wide;
}

std::wstring FolderOfModule(HMODULE module) {
  std::wstring path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return std::wstring();
  path.resize(length);
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return std::wstring(folder, length) + L"\\";
}

void Unload(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

}  // namespace

void RestrictLibrarySearch() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  auto set_directories = reinterpret_cast<SetDirectories>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  if (set_directories != nullptr) set_directories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

HMODULE LoadLibraryFromSafePlaces(const char* library_name) {
  const std::wstring name = WideName(library_name);
  const bool bare = name.find_first_of(L"\\/:") == std::wstring::npos;
  if (!bare) return LoadLibraryExW(name.c_str(), nullptr, 0);
  // Each place by its full path: that also holds where the search flags of
  // LoadLibraryExW are not known (Windows 7 without its update).
  for (const std::wstring& folder : {FolderOfModule(nullptr), SystemFolder()}) {
    if (folder.empty()) continue;
    HMODULE module = LoadLibraryExW((folder + name).c_str(), nullptr, 0);
    if (module != nullptr) return module;
  }
  return nullptr;
}

std::unique_ptr<D2xxDriver> LoadD2xxLibrary(const char* library_name) {
  HMODULE module = LoadLibraryFromSafePlaces(library_name);
  if (module == nullptr) return nullptr;
  // A library without every function we call is not a driver we can use:
  // it counts as one that cannot be loaded.
  D2xxFunctions functions;
  if (!BindD2xxFunctions(LookupInModule, module, &functions)) {
    FreeLibrary(module);
    return nullptr;
  }
  return std::make_unique<D2xxDriver>(functions, module, Unload);
}

}  // namespace sq71
