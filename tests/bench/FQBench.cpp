// Times FQSrvUninstall.exe from the Windows side, for tools/bench.sh.
//
// Each round starts, one after the other and all the same way:
//   empty    our program that does nothing (the yardstick of a process start)
//   window   our program that only creates and destroys one hidden window:
//            what a GUI program pays before it can do anything of its own
//   none     FQSrvUninstall.exe with no "FQ" registered
//   stopped  FQSrvUninstall.exe with our fixture registered as "FQ", stopped
//   running  FQSrvUninstall.exe with the fixture running as "FQ"
//   netstop  "CMD.EXE /C NET STOP FQ" alone against the running fixture,
//            started as FQSrvUninstall.exe starts it: what the stop costs
// and, after each of none, stopped and running, the same with the program
// built without its event log entry (<case>-noevents): what the entry costs.
// Each start is timed from CreateProcess to the end of the wait for the
// process. Its peak memory is read while it runs and once it has exited:
// Wine forgets the figures of a process soon after it ends. A run that does
// not do what it should (exit code, "FQ" gone or stopped) ends the benchmark:
// its time would mean nothing. One line per run on the standard output:
//   run <case> <milliseconds> <peak working set bytes> <peak pagefile bytes>
// The calls the program makes to tell whether FQ is gone and who ran it are
// also timed alone, each round, as the program makes them: FQ's state on its
// handle with all access, the running fixture just marked for deletion (both
// builds ask it, so their difference leaves it out); the user of the
// process's token; what keeping the stop command's output adds to the null
// device; and the one more look at FQ's key. One line per call:
//   call state|user|output|look <milliseconds>
//
//   FQBench --program=<FQSrvUninstall.exe> --empty=<FQEmpty.exe>
//           --window=<FQEmptyWindow.exe> --fixture=<FQFixtureService.exe>
//           --without-events=<FQSrvUninstallWithoutEvents.exe> [--runs=7]
#include <windows.h>
// psapi.h needs the types of windows.h first.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ServiceControl.h"
#include "WineTest.h"

namespace {

const char kName[] = "FQ";
const char kStopCommand[] = "CMD.EXE /C NET STOP FQ";
constexpr DWORD kRunTimeoutMs = 60000;
constexpr DWORD kSettleMs = 200;  // lets the last run's processes go before the next starts
constexpr DWORD kSampleMs = 20;   // how often the peak memory is read while a process runs

struct Run {
  double ms = 0;
  SIZE_T peakWorkingSet = 0;
  SIZE_T peakPagefile = 0;
  DWORD exitCode = 0;
};

std::string SystemDirectory() {
  char directory[MAX_PATH] = {0};
  const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(directory, length) : std::string();
}

// Peaks only grow: keeps the highest figures read so far.
void ReadPeakMemory(HANDLE process, Run &run) {
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  if (!GetProcessMemoryInfo(process, &memory, sizeof memory)) return;
  run.peakWorkingSet = std::max(run.peakWorkingSet, memory.PeakWorkingSetSize);
  run.peakPagefile = std::max(run.peakPagefile, memory.PeakPagefileUsage);
}

// Starts `program`, waits for it to end and says how long that took and how
// much memory it used. With a command line it is started the way the
// program's command runner starts one: hidden, inheriting our handles, in
// `directory`. It shares our console, as the program's child does in these
// runs: Wine hands our console down to the program, and it to its child.
// (A child with a console of its own would take some 80 ms longer here.)
bool Time(const std::string &program, const char *commandLine, const char *directory, Run &run) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (commandLine) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  std::string line = commandLine ? commandLine : "";
  PROCESS_INFORMATION process{};
  LARGE_INTEGER frequency, started, ended;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&started);
  if (!CreateProcessA(program.c_str(), commandLine ? &line[0] : nullptr, nullptr, nullptr,
                      commandLine != nullptr, commandLine ? NORMAL_PRIORITY_CLASS : 0, nullptr,
                      directory, &startup, &process)) {
    std::fprintf(stderr, "FQBench: cannot start %s: error %lu\n", program.c_str(), GetLastError());
    return false;
  }
  DWORD waited = 0;
  DWORD result = WAIT_TIMEOUT;
  do {
    ReadPeakMemory(process.hProcess, run);
    result = WaitForSingleObject(process.hProcess, kSampleMs);
    waited += kSampleMs;
  } while (result == WAIT_TIMEOUT && waited < kRunTimeoutMs);
  QueryPerformanceCounter(&ended);
  run.ms = static_cast<double>(ended.QuadPart - started.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
  const bool endedInTime = result == WAIT_OBJECT_0;
  if (!endedInTime) {
    std::fprintf(stderr, "FQBench: %s did not end within %lu ms\n", program.c_str(), kRunTimeoutMs);
    TerminateProcess(process.hProcess, 99);
  }
  ReadPeakMemory(process.hProcess, run);
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return endedInTime;
}

bool Fail(const char *what) {
  std::fprintf(stderr, "FQBench: %s\n", what);
  return false;
}

bool TimeProgram(const std::string &program, Run &run) {
  if (!Time(winetest::WindowsPath(program), nullptr, nullptr, run)) return false;
  return run.exitCode == 0 || Fail("the program did not exit with 0");
}

bool RegisterFixture(bool start) {
  const std::string line = winetest::FixtureCommandLine(winetest::FixtureOptions());
  if (!winetest::RegisterService(kName, line)) return Fail("cannot register the fixture as FQ");
  return !start || winetest::StartAndWait(kName) || Fail("cannot start FQ");
}

bool TimeCase(const std::string &name, Run &run) {
  winetest::RemoveWhateverIsLeft(kName);
  Sleep(kSettleMs);
  if (name == "empty" || name == "window") return TimeProgram(winetest::Arg(name), run);
  const std::string suffix = "-noevents";
  const bool withoutEvents = name.size() > suffix.size() &&
                             name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  const std::string program = winetest::Arg(withoutEvents ? "without-events" : "program");
  const std::string what = withoutEvents ? name.substr(0, name.size() - suffix.size()) : name;
  if (what == "none") return TimeProgram(program, run);
  if (what == "stopped" || what == "running") {
    if (!RegisterFixture(what == "running")) return false;
    Sleep(kSettleMs);
    return TimeProgram(program, run) &&
           (winetest::WaitUntilGone(kName, 10000) || Fail("FQ is still registered"));
  }
  // netstop: the interpreter from the system directory, as the program runs it.
  const std::string system = SystemDirectory();
  if (system.empty() || !RegisterFixture(true)) return false;
  Sleep(kSettleMs);
  return Time(system + "\\CMD.EXE", kStopCommand, system.c_str(), run) &&
         (winetest::WaitForState(kName, SERVICE_STOPPED, 10000) || Fail("FQ did not stop"));
}

double Elapsed(const LARGE_INTEGER &started) {
  LARGE_INTEGER frequency, ended;
  QueryPerformanceCounter(&ended);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(ended.QuadPart - started.QuadPart) * 1000.0 /
         static_cast<double>(frequency.QuadPart);
}

// The token's user, read as the program reads it for its event.
bool ReadUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(TOKEN_USER) BYTE record[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  const BOOL read = GetTokenInformation(token, TokenUser, record, sizeof record, &size);
  CloseHandle(token);
  return read != FALSE;
}

// What keeping the stop command's output adds to opening the null device,
// as the command runner does it: the file made in the temporary folder, its
// end read back once NET has written its two lines, the file closed (and so
// deleted).
bool KeepOutput() {
  char folder[MAX_PATH + 1] = {0};
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) return false;
  const std::string path =
      std::string(folder, length) + "FQBench-" + std::to_string(GetCurrentProcessId()) + "-1.out";
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inheritable, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const char said[] = "The FQ service is stopping.\r\nThe FQ service was stopped successfully.\r\n";
  DWORD done = 0;
  WriteFile(file, said, sizeof said - 1, &done, nullptr);  // NET's part, not timed apart
  LARGE_INTEGER size{};
  char bytes[1024];
  OVERLAPPED at{};
  const bool read = GetFileSizeEx(file, &size) &&
                    ReadFile(file, bytes, static_cast<DWORD>(size.QuadPart), &done, &at);
  CloseHandle(file);
  return read && done == sizeof said - 1;
}

// One more look at FQ once its deletion is accepted: its ImagePath, as the
// program reads it.
bool LookAgain() {
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\FQ", 0, KEY_READ, &key);
  DWORD type = 0, size = 0;
  const LONG probe = RegQueryValueExA(key, "ImagePath", nullptr, &type, nullptr, &size);
  RegCloseKey(key);
  return probe == ERROR_SUCCESS || probe == ERROR_MORE_DATA;
}

// The calls added for the event, timed call by call.
constexpr int kTimedCalls = 5;
bool TimeAddedCalls() {
  winetest::RemoveWhateverIsLeft(kName);
  if (!RegisterFixture(true)) return false;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
  SC_HANDLE service = OpenServiceA(manager, kName, SERVICE_ALL_ACCESS);
  bool ok = service != nullptr && DeleteService(service);
  for (int i = 0; ok && i < kTimedCalls; ++i) {
    SERVICE_STATUS status{};
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    ok = QueryServiceStatus(service, &status) != FALSE;
    std::printf("call state %.3f\n", Elapsed(started));
    QueryPerformanceCounter(&started);
    ok = ok && ReadUser();
    std::printf("call user %.3f\n", Elapsed(started));
    QueryPerformanceCounter(&started);
    ok = ok && KeepOutput();
    std::printf("call output %.3f\n", Elapsed(started));
    QueryPerformanceCounter(&started);
    ok = ok && LookAgain();
    std::printf("call look %.3f\n", Elapsed(started));
  }
  std::fflush(stdout);
  if (service != nullptr) CloseServiceHandle(service);
  if (manager != nullptr) CloseServiceHandle(manager);
  return ok || Fail("cannot ask for FQ's state, the token's user, keep an output or look again");
}

}  // namespace

int main(int argc, char **argv) {
  winetest::ParseArguments(argc, argv);
  const int runs = winetest::Arg("runs").empty() ? 7 : std::atoi(winetest::Arg("runs").c_str());
  for (const char *needed : {"program", "empty", "window", "fixture", "without-events"}) {
    if (winetest::Arg(needed).empty() || runs < 1) {
      std::fprintf(stderr,
                   "usage: FQBench --program=<exe> --empty=<exe> --window=<exe> --fixture=<exe> "
                   "--without-events=<exe> [--runs=N]\n");
      return 2;
    }
  }
  const char *cases[] = {"empty",         "window",           "none",
                         "none-noevents", "stopped",          "stopped-noevents",
                         "running",       "running-noevents", "netstop"};
  // Round 0 warms Wine's caches up and is not reported.
  for (int round = 0; round <= runs; ++round) {
    for (const char *name : cases) {
      Run run;
      if (!TimeCase(name, run)) {
        std::fprintf(stderr, "FQBench: the %s run failed\n", name);
        winetest::RemoveWhateverIsLeft(kName);
        return 1;
      }
      if (round == 0) continue;
      std::printf("run %s %.1f %llu %llu\n", name, run.ms,
                  static_cast<unsigned long long>(run.peakWorkingSet),
                  static_cast<unsigned long long>(run.peakPagefile));
      std::fflush(stdout);
    }
    if (round != 0 && !TimeAddedCalls()) {
      winetest::RemoveWhateverIsLeft(kName);
      return 1;
    }
  }
  winetest::RemoveWhateverIsLeft(kName);
  return 0;
}
