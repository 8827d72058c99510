// The stand-in Ftd2xx.dll as the Windows program meets it: loaded by name
// from its own folder, bound by export name, configured from SQ71_SIM.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "protocol/frame.h"
#include "usb/d2xx.h"

namespace {

// The build puts the stand-in in <tree>/standin, the test in <tree>/tests/unit.
std::string StandinPath() {
  char exe[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string path(exe);
  for (int up = 0; up < 3; ++up) path = path.substr(0, path.find_last_of("\\/"));
  return path + "\\standin\\Ftd2xx.dll";
}

std::string ReadText(const std::string& path) {
  std::string text;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return text;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof(buffer), f)) > 0) text.append(buffer, got);
  std::fclose(f);
  return text;
}

template <typename Fn>
Fn Bind(HMODULE dll, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

TEST(StandinDll, ServesTheScenarioUnderTheDriversNames) {
  const std::string dir = ::testing::TempDir();
  const std::string trace = dir + "link_standin_trace.txt";
  const std::string scenario = dir + "link_standin.txt";
  std::FILE* f = std::fopen(scenario.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  std::fputs("timing = instant\ntrace = link_standin_trace.txt\n[device]\nname = Dll Meter\n", f);
  std::fclose(f);
  ASSERT_TRUE(SetEnvironmentVariableA("SQ71_SIM", scenario.c_str()));
  _putenv_s("SQ71_SIM", scenario.c_str());

  HMODULE dll = LoadLibraryA(StandinPath().c_str());
  ASSERT_NE(nullptr, dll) << StandinPath() << " (build the ftd2xx_standin target)";
  for (const char* name :
       {"FT_Open", "FT_Close", "FT_Read", "FT_Write", "FT_SetBaudRate", "FT_SetDataCharacteristics",
        "FT_SetFlowControl", "FT_SetDtr", "FT_ClrDtr", "FT_Purge", "FT_SetTimeouts",
        "FT_ListDevices", "FT_EE_Read", "FT_SetLatencyTimer", "FT_GetLatencyTimer"}) {
    EXPECT_NE(nullptr, reinterpret_cast<void*>(GetProcAddress(dll, name))) << name;
  }
  auto list = Bind<FT_ListDevicesFn>(dll, "FT_ListDevices");
  auto open = Bind<FT_OpenFn>(dll, "FT_Open");
  auto close = Bind<FT_CloseFn>(dll, "FT_Close");
  auto baud = Bind<FT_SetBaudRateFn>(dll, "FT_SetBaudRate");
  auto timeouts = Bind<FT_SetTimeoutsFn>(dll, "FT_SetTimeouts");
  auto write = Bind<FT_WriteFn>(dll, "FT_Write");
  auto read = Bind<FT_ReadFn>(dll, "FT_Read");
  ASSERT_TRUE(list && open && close && baud && timeouts && write && read);

  uint32_t count = 0;
  EXPECT_EQ(FT_OK, list(&count, nullptr, FT_LIST_NUMBER_ONLY));
  EXPECT_EQ(1u, count);
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(FT_OK, open(0, &handle));
  EXPECT_EQ(FT_OK, baud(handle, 115200));
  EXPECT_EQ(FT_OK, timeouts(handle, 200, 1000));
  uint8_t request[sq71::kIdentifyRequestSize];
  sq71::BuildIdentifyRequest(request);
  uint32_t n = 0;
  EXPECT_EQ(FT_OK, write(handle, request, sizeof(request), &n));
  uint8_t reply[sq71::kIdentifyReplyMax] = {};
  EXPECT_EQ(FT_OK, read(handle, reply, sizeof(reply), &n));
  std::string name;
  EXPECT_TRUE(sq71::TestIdentifyReply(FT_OK, n, reply, &name));
  EXPECT_EQ("Dll Meter", name);
  EXPECT_EQ(FT_OK, close(handle));

  // The trace file is flushed line by line: readable while the DLL is loaded.
  const std::string text = ReadText(trace);
  EXPECT_EQ(0u, text.find("BUS timing=instant latency_ms=16 devices=1\n")) << text;
  EXPECT_NE(std::string::npos, text.find("\nWRITE 02 00 01 49 B8\n")) << text;
  EXPECT_NE(std::string::npos, text.find("\nMETER 0 I: reply 14 bytes\n")) << text;
  FreeLibrary(dll);
  std::remove(trace.c_str());
  std::remove(scenario.c_str());
}

}  // namespace
