#include "tests/e2e/harness_win32.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace sq71::e2e {
namespace {

std::string WindowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// PATH without any folder that holds a driver library.
std::string PathWithoutDriver(const std::string& path) {
  std::string result;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(';', start);
    if (end == std::string::npos) end = path.size();
    std::string folder = path.substr(start, end - start);
    if (!folder.empty() && !FileExists(folder + "\\Ftd2xx.dll")) {
      if (!result.empty()) result += ';';
      result += folder;
    }
    start = end + 1;
  }
  return result;
}

// The driver's environment with PATH, SQ71_SIM and the given variables
// replaced, as a CreateProcess environment block.
std::string EnvironmentBlock(const LaunchOptions& options) {
  std::vector<std::pair<std::string, std::string>> vars;
  char* strings = GetEnvironmentStringsA();
  for (const char* p = strings; *p != '\0'; p += std::strlen(p) + 1) {
    const char* eq = std::strchr(p + 1, '=');  // entries like "=C:=C:\" start with '='
    if (eq == nullptr) continue;
    vars.emplace_back(std::string(p, eq), std::string(eq + 1));
  }
  FreeEnvironmentStringsA(strings);

  auto set = [&vars](const std::string& name, const std::string* value) {
    vars.erase(std::remove_if(vars.begin(), vars.end(),
                              [&name](const auto& v) { return SameText(v.first, name); }),
               vars.end());
    if (value != nullptr) vars.emplace_back(name, *value);
  };
  std::string path;
  for (const auto& v : vars) {
    if (SameText(v.first, "PATH")) path = v.second;
  }
  path = PathWithoutDriver(path);
  if (options.with_driver) path = WindowsPath(BuildPaths().standin_dir) + ";" + path;
  set("PATH", &path);
  set("SQ71_SIM", options.scenario.empty() ? nullptr : &options.scenario);
  for (const auto& [name, value] : options.environment) set(name, &value);

  std::string block;
  for (const auto& [name, value] : vars) {
    block += name + "=" + value;
    block += '\0';
  }
  block += '\0';
  return block;
}

std::string MakeScratchDir() {
  static int counter = 0;
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  std::string dir = std::string(temp) + "sq71e2e-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(++counter);
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

// Wide and in the "\\?\" form, so folders with long paths or names outside
// the code page go too.
void RemoveTree(const std::wstring& dir) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = dir + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(dir.c_str());
}

struct EnumContext {
  DWORD pid;
  std::vector<HWND>* windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM lparam) {
  auto* context = reinterpret_cast<EnumContext*>(lparam);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == context->pid && IsWindowVisible(window)) context->windows->push_back(window);
  return TRUE;
}

// Runs a thread in process at start with parameter; returns its exit code,
// or -1 when it cannot run or does not end in time.
long RunRemoteThread(HANDLE process, uint64_t start, void* parameter) {
  HANDLE thread = CreateRemoteThread(
      process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(start), parameter, 0, nullptr);
  if (thread == nullptr) return -1;
  long result = -1;
  if (WaitForSingleObject(thread, kPatience) == WAIT_OBJECT_0) {
    DWORD code = 0;
    if (GetExitCodeThread(thread, &code)) result = static_cast<long>(code);
  }
  CloseHandle(thread);
  return result;
}

uint64_t RemoteModuleBase(DWORD pid, const std::string& file_name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  uint64_t base = 0;
  MODULEENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Module32First(snapshot, &entry); ok; ok = Module32Next(snapshot, &entry)) {
    if (SameText(entry.szModule, file_name)) {
      base = reinterpret_cast<uint64_t>(entry.modBaseAddr);
      break;
    }
  }
  CloseHandle(snapshot);
  return base;
}

}  // namespace

const Paths& BuildPaths() {
  static const Paths paths = {WindowsPath(SQ71_E2E_EXE),
                              WindowsPath(SQ71_E2E_STANDIN_DIR) + "\\sq71log.exe",
                              WindowsPath(SQ71_E2E_STANDIN_DIR), WindowsPath(SQ71_E2E_PROBE_DLL),
                              WindowsPath(SQ71_TEST_DATA_DIR)};
  return paths;
}

Program::~Program() {
  Kill();
  if (info_.hProcess != nullptr) CloseHandle(info_.hProcess);
  if (info_.hThread != nullptr) CloseHandle(info_.hThread);
  if (own_scratch_) RemoveTree(L"\\\\?\\" + Wide(scratch_));
}

bool Program::Launch(const LaunchOptions& options) {
  std::string exe = options.with_driver ? BuildPaths().exe_with_driver : BuildPaths().exe;
  if (!options.program.empty()) exe = WindowsPath(options.program);
  if (!FileExists(exe)) {
    error_ = "no program at " + exe;
    return false;
  }
  if (options.working_dir.empty()) {
    scratch_ = MakeScratchDir();
    own_scratch_ = true;
  } else {
    scratch_ = WindowsPath(options.working_dir);
  }
  std::string command = "\"" + exe + "\"";
  if (!options.arguments.empty()) command += " " + options.arguments;
  // Wide throughout, so arguments outside the ANSI code page arrive intact.
  std::wstring wide_command = Wide(command);
  if (!options.wide_arguments.empty()) wide_command += L" " + options.wide_arguments;
  wide_command.push_back(L'\0');
  std::wstring environment = Wide(EnvironmentBlock(options));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (!CreateProcessW(Wide(exe).c_str(), wide_command.data(), nullptr, nullptr, FALSE,
                      CREATE_UNICODE_ENVIRONMENT, environment.data(), Wide(scratch_).c_str(),
                      &startup, &info_)) {
    error_ = "CreateProcess failed with error " + std::to_string(GetLastError());
    info_ = {};
    return false;
  }
  return true;
}

bool Program::Running() const {
  return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

long Program::WaitExit(int timeout_ms) {
  if (info_.hProcess == nullptr) return -1;
  if (WaitForSingleObject(info_.hProcess, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0) {
    Kill();
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(info_.hProcess, &code);
  return static_cast<long>(code);
}

void Program::Kill() {
  if (Running()) {
    TerminateProcess(info_.hProcess, 99);
    WaitForSingleObject(info_.hProcess, kPatience);
  }
}

std::vector<HWND> Program::TopLevelWindows() const {
  std::vector<HWND> windows;
  EnumContext context = {info_.dwProcessId, &windows};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&context));
  return windows;
}

HWND Program::WaitWindow(const char* class_name, const char* caption, int timeout_ms) const {
  HWND match = nullptr;
  WaitUntil(
      [&] {
        for (HWND window : TopLevelWindows()) {
          if (class_name != nullptr && ClassName(window) != class_name) continue;
          if (caption != nullptr && WindowText(window) != caption) continue;
          match = window;
          return true;
        }
        return false;
      },
      timeout_ms);
  return match;
}

HWND Program::FindBox() const {
  for (HWND window : TopLevelWindows()) {
    if (ClassName(window) == kDialogClass) return window;
  }
  return nullptr;
}

bool Program::LoadProbe() {
  if (remote_probe_run_ != 0) return true;
  const std::string& dll = BuildPaths().probe_dll;
  // The exported function's offset inside the DLL, learnt from a copy loaded here.
  HMODULE local = LoadLibraryA(dll.c_str());
  if (local == nullptr) return false;
  const uint64_t offset =
      reinterpret_cast<uint64_t>(reinterpret_cast<void*>(GetProcAddress(local, "ProbeRun"))) -
      reinterpret_cast<uint64_t>(local);

  void* remote_path = VirtualAllocEx(info_.hProcess, nullptr, dll.size() + 1,
                                     MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (remote_path == nullptr) return false;
  bool written =
      WriteProcessMemory(info_.hProcess, remote_path, dll.c_str(), dll.size() + 1, nullptr);
  // kernel32 sits at the same address in every process.
  const uint64_t load_library = reinterpret_cast<uint64_t>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
  const long loaded = written ? RunRemoteThread(info_.hProcess, load_library, remote_path) : 0;
  VirtualFreeEx(info_.hProcess, remote_path, 0, MEM_RELEASE);
  if (loaded == 0 || loaded == -1) return false;

  std::string file_name = dll.substr(dll.find_last_of('\\') + 1);
  uint64_t base = RemoteModuleBase(info_.dwProcessId, file_name);
  if (base == 0) base = reinterpret_cast<uint64_t>(local);  // same preferred base
  remote_probe_run_ = base + offset;
  return true;
}

bool Program::Probe(HWND window, ProbeBlock* block) {
  if (!LoadProbe()) return false;
  block->window = reinterpret_cast<uint64_t>(window);
  void* remote = VirtualAllocEx(info_.hProcess, nullptr, sizeof *block, MEM_COMMIT | MEM_RESERVE,
                                PAGE_READWRITE);
  if (remote == nullptr) return false;
  bool ok = WriteProcessMemory(info_.hProcess, remote, block, sizeof *block, nullptr) &&
            RunRemoteThread(info_.hProcess, remote_probe_run_, remote) == 1 &&
            ReadProcessMemory(info_.hProcess, remote, block, sizeof *block, nullptr);
  VirtualFreeEx(info_.hProcess, remote, 0, MEM_RELEASE);
  return ok;
}

bool WaitUntil(const std::function<bool()>& condition, int timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(10);
  }
}

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(
      static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                              wide.data(), static_cast<int>(wide.size()))));
  return wide;
}

std::string WindowText(HWND window) {
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ClassName(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string BoxText(HWND box) {
  HWND text = GetDlgItem(box, 0xFFFF);
  return text != nullptr ? WindowText(text) : std::string();
}

std::vector<int> VisibleButtons(HWND box) {
  std::vector<int> ids;
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassName(child) == "Button" && IsWindowVisible(child)) ids.push_back(GetDlgCtrlID(child));
  }
  return ids;
}

bool PressButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (button == nullptr) return false;
  SendMessageA(button, BM_CLICK, 0, 0);
  return true;
}

void PostCommand(HWND window, int id) { PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

bool Responsive(HWND window, int timeout_ms) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, static_cast<UINT>(timeout_ms),
                             &result) != 0;
}

std::vector<std::wstring> WideListRows(HWND list) {
  std::vector<std::wstring> rows;
  const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide.data()));
    wide.resize(wcslen(wide.c_str()));
    rows.push_back(wide);
  }
  return rows;
}

std::vector<std::string> ListRows(HWND list) {
  std::vector<std::string> rows;
  for (const std::wstring& wide : WideListRows(list)) {
    std::string row(wide.size() * 2 + 1, '\0');
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()),
                                      row.data(), static_cast<int>(row.size()), nullptr, nullptr);
    row.resize(static_cast<size_t>(n > 0 ? n : 0));
    rows.push_back(row);
  }
  return rows;
}

COLORREF ClientPixel(HWND window, int x, int y) {
  POINT point = {x, y};
  ClientToScreen(window, &point);
  HDC screen = GetDC(nullptr);
  const COLORREF colour = GetPixel(screen, point.x, point.y);
  ReleaseDC(nullptr, screen);
  return colour;
}

void SetLogPixels(DWORD dpi) {
  RegSetKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", REG_DWORD, &dpi,
                  sizeof dpi);
}

namespace {

HWND IconStatic(HWND box) {
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassName(child) == "Static" &&
        (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child)) {
      return child;
    }
  }
  return nullptr;
}

// Pixels of a width x height bitmap selected into dc, top row first.
std::vector<COLORREF> Pixels(HDC dc, HBITMAP bitmap, int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<COLORREF> pixels(static_cast<size_t>(width * height));
  GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
  for (COLORREF& p : pixels) p &= 0xFFFFFF;
  return pixels;
}

// Share of pixels that differ clearly between two images.
double Mismatch(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b) {
  if (a.size() != b.size() || a.empty()) return 1.0;
  size_t differing = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      const int x = static_cast<int>((a[i] >> shift) & 0xFF);
      const int y = static_cast<int>((b[i] >> shift) & 0xFF);
      if (std::abs(x - y) > 32) {
        ++differing;
        break;
      }
    }
  }
  return static_cast<double>(differing) / static_cast<double>(a.size());
}

}  // namespace

BoxIcon IdentifyBoxIcon(HWND box) {
  HWND icon = IconStatic(box);
  if (icon == nullptr) return BoxIcon::kNone;
  RECT rect;
  GetClientRect(icon, &rect);
  const int width = rect.right;
  const int height = rect.bottom;
  if (width <= 0 || height <= 0) return BoxIcon::kNone;
  POINT origin = {0, 0};
  ClientToScreen(icon, &origin);

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
  const std::vector<COLORREF> shown = Pixels(memory, bitmap, width, height);
  // The icons' corners are transparent, so the corner shows the background.
  HBRUSH background = CreateSolidBrush(shown[0]);

  struct Candidate {
    BoxIcon icon;
    LPCSTR id;
  };
  const Candidate candidates[] = {{BoxIcon::kHand, IDI_HAND},
                                  {BoxIcon::kQuestion, IDI_QUESTION},
                                  {BoxIcon::kExclamation, IDI_EXCLAMATION},
                                  {BoxIcon::kInformation, IDI_ASTERISK}};
  BoxIcon best = BoxIcon::kNone;
  double best_mismatch = 0.05;  // a clear match or none
  for (const Candidate& candidate : candidates) {
    RECT all = {0, 0, width, height};
    FillRect(memory, &all, background);
    DrawIconEx(memory, 0, 0, LoadIconA(nullptr, candidate.id), 0, 0, 0, nullptr, DI_NORMAL);
    const double mismatch = Mismatch(shown, Pixels(memory, bitmap, width, height));
    if (mismatch < best_mismatch) {
      best_mismatch = mismatch;
      best = candidate.icon;
    }
  }
  DeleteObject(background);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return best;
}

const char* BoxIconName(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::kHand:
      return "hand (error)";
    case BoxIcon::kQuestion:
      return "question";
    case BoxIcon::kExclamation:
      return "exclamation";
    case BoxIcon::kInformation:
      return "information";
    default:
      return "none";
  }
}

}  // namespace sq71::e2e
