// The self-test kit's runner, which selftest.cmd starts. It refuses a machine
// it must not touch; removes what a stopped run left; runs every check of
// FQSelfTestChecks.exe, each in a process of its own, and prints one line for
// each from its GoogleTest report (reports\ beside selftest.cmd); and leaves
// no service, key or file of its own behind, also when a check fails or the
// run is stopped with Ctrl+C.
// Exit code: 0 every check that ran passed; 1 a check failed, or the run was
// stopped; 2 refused (after removing what an earlier run left, if any).
#include <windows.h>
// Windows Installer's headers take windows.h as read.
#include <msi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "KitGuard.h"
#include "MsiPackage.h"
#include "ServiceControl.h"
#include "WineTest.h"
#include "version.h"

namespace {

constexpr int kAllPassed = 0;
constexpr int kNotAllPassed = 1;
constexpr int kRefused = 2;

const char kChecksProgram[] = "FQSelfTestChecks.exe";
// Our own NET in the place of the system's: its Windows counterpart is
// "Windows' own NET asks", and the kit never writes to the system folders.
const char kLeftOut[] = "-UnderDllOverrides.NetThatAsks*";
// Under Wine only: Windows takes the first file found, Wine its own copy
// unless told otherwise. Wine hands a child no WINEDLLOVERRIDES: the
// program's own setting in Wine's registry tells it.
const char kPlantedDllChecks[] = "UnderDllOverrides.";
const char kWineProgramSettings[] = "Software\\Wine\\AppDefaults\\FQSrvUninstall.exe";
// Where Inno Setup registers the kit's setup's uninstaller ("<AppId>_is1"): the
// kit's own AppId, never the example's (tools/selftest-kit.sh).
const char kInnoUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\FQSrvUninstallSelfTest_is1";
// A check that hangs is ended after this long; every wait inside is bounded
// far below it.
constexpr DWORD kCheckTimeoutMs = 15 * 60 * 1000;

// What only Windows can decide, under the names people look for.
struct WindowsOnlyName {
  const char *check;
  const char *name;
};
const WindowsOnlyName kWindowsOnlyNames[] = {
    {"OnlyOnWindows.WindowsOwnNetAsks", "Windows' own NET asks"},
    {"OnlyOnWindows.SessionZero", "Session 0"},
    {"OnlyOnWindows.NotElevated", "Not elevated"},
    {"OnlyOnWindows.EventInTheLog", "The event in the log"},
    {"OnlyOnWindows.MsiexecEndsWith1603", "msiexec's 1603"}};

HANDLE stopRequested = nullptr;
HANDLE cleanedUp = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  SetEvent(stopRequested);
  // A closed window ends the process once this returns, within the 5 s
  // Windows gives: clean up meanwhile, and say at once what happens to the rest.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    std::fputs(
        "closed: what cannot be removed in the 5 seconds Windows gives is left for the next "
        "run of selftest.cmd, which removes it first and says so\n",
        stdout);
    std::fflush(stdout);
    WaitForSingleObject(cleanedUp, 4500);
  }
  return TRUE;
}

void Say(const std::string &line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string Join(const std::vector<std::string> &parts) {
  std::string joined;
  for (const std::string &part : parts) joined += (joined.empty() ? "" : ", ") + part;
  return joined;
}

bool HasKey(HKEY root, const char *path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::string ProgramFilesFolder() {
  char path[MAX_PATH] = {0};
  const DWORD length = GetEnvironmentVariableA("ProgramFiles", path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path) : std::string();
}

// The kit's folders and files.
struct Kit {
  std::string bin;      // the programs, this one among them
  std::string reports;  // beside selftest.cmd: the reports to send back
  std::string temp;     // the checks' own temporary folder, under %TEMP%
  std::string msiPackage;
  std::string productCode;  // of the package, when the kit has one

  static Kit Here() {
    Kit kit;
    char self[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    kit.bin = winetest::DirectoryOf(LongPath(self));
    kit.reports = winetest::DirectoryOf(kit.bin) + "\\reports";
    char temp[MAX_PATH] = {0};
    GetTempPathA(MAX_PATH, temp);
    kit.temp = LongPath(temp);
    if (!kit.temp.empty() && kit.temp.back() != '\\') kit.temp += '\\';
    kit.temp += "FQSelfTest";
    return kit;
  }
  // Once it may run: reading the package is left to Windows Installer.
  void ReadPackage() {
    if (!winetest::FileExists(In("FQRemoval.msi"))) return;
    msiPackage = In("FQRemoval.msi");
    productCode = winetest::ProductCode(msiPackage);
  }
  std::string In(const char *file) const { return bin + "\\" + file; }
  std::string Fixture() const { return In("FQFixtureService.exe"); }

  // A path by its long names, as a process's image is told: the same file
  // by its 8.3 name would not compare equal.
  static std::string LongPath(const std::string &path) {
    char longPath[MAX_PATH] = {0};
    const DWORD length = GetLongPathNameA(path.c_str(), longPath, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(longPath) : path;
  }
};

bool ProductInstalled(const Kit &kit) {
  return !kit.productCode.empty() &&
         MsiQueryProductStateA(kit.productCode.c_str()) == INSTALLSTATE_DEFAULT;
}

// Where the kit's programs are now: its temporary folder counts only while
// it holds the kit's marker, the installed program only while the kit's
// package is installed.
kitguard::Places OwnPlaces(const Kit &kit) {
  kitguard::Places places;
  places.bin = kit.bin;
  if (kitguard::WhoseFolder(kit.temp) == kitguard::Whose::kOwn) places.temp = kit.temp;
  if (ProductInstalled(kit) && !ProgramFilesFolder().empty())
    places.installed = ProgramFilesFolder() + "\\FQSrvUninstall self-test\\FQSrvUninstall.exe";
  return places;
}

// A fixture service runs as LocalSystem, whose processes an administrator
// may end only with SeDebugPrivilege enabled (the default DACL of SYSTEM's
// processes grants Administrators no PROCESS_TERMINATE).
std::string EnableDebugPrivilege() {
  HANDLE token = nullptr;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token))
    return "OpenProcessToken failed with error " + std::to_string(GetLastError());
  LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &privileges.Privileges[0].Luid) &&
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  // Also when it succeeds: ERROR_NOT_ALL_ASSIGNED where the token lacks it.
  const DWORD error = GetLastError();
  CloseHandle(token);
  return error == ERROR_SUCCESS ? std::string()
                                : "enabling it failed with error " + std::to_string(error);
}

// The processes of the kit's own programs but this one, by their images;
// ends them when `end`. Only a program of the kit's, by its full path.
std::vector<std::string> OwnProcesses(const Kit &kit, bool end) {
  std::vector<std::string> found;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  const kitguard::Places places = OwnPlaces(kit);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) continue;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (process == nullptr) continue;
    char image[MAX_PATH] = {0};
    DWORD size = MAX_PATH;
    const bool own = QueryFullProcessImageNameA(process, 0, image, &size) &&
                     kitguard::IsOwnProgram(Kit::LongPath(image), places);
    CloseHandle(process);
    if (!own) continue;
    found.push_back("process " + Kit::LongPath(image));
    HANDLE ending =
        end ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID) : nullptr;
    if (ending != nullptr) {
      if (TerminateProcess(ending, 1)) WaitForSingleObject(ending, 5000);
      CloseHandle(ending);
    }
  }
  CloseHandle(snapshot);
  return found;
}

// What of the kit's own is on the machine now: the services and keys that
// kitguard finds, the Windows Installer example, Inno Setup's registration
// of its example, and the checks' temporary folder.
std::vector<std::string> WhatIsThere(const Kit &kit, bool withTemp) {
  const kitguard::Survey survey = kitguard::Look(kit.Fixture());
  std::vector<std::string> there = OwnProcesses(kit, false);
  for (const std::string &name : survey.services) there.push_back("service " + name);
  for (const std::string &key : survey.keys) there.push_back("key HKLM\\" + key);
  if (ProductInstalled(kit)) there.push_back("the installed package FQRemoval.msi");
  if (HasKey(HKEY_LOCAL_MACHINE, kInnoUninstallKey))
    there.push_back(std::string("key HKLM\\") + kInnoUninstallKey);
  if (withTemp && kitguard::WhoseFolder(kit.temp) == kitguard::Whose::kOwn)
    there.push_back("folder " + kit.temp);
  if (HasKey(HKEY_CURRENT_USER, kWineProgramSettings)) {
    there.push_back(std::string("key HKCU\\") + kWineProgramSettings);
  }
  return there;
}

struct Removal {
  std::vector<std::string> removed;  // there before, gone now
  std::vector<std::string> left;     // still there, looked at again
};

// Removes whatever of the kit's own is there, in the order that lets each
// go; then looks again, and tells what went and what is still there.
Removal RemoveWhatIsThere(const Kit &kit, bool withTemp) {
  const std::vector<std::string> before = WhatIsThere(kit, withTemp);
  OwnProcesses(kit, true);
  const kitguard::Survey survey = kitguard::Look(kit.Fixture());
  // FQ's dependent first, FQ before the package whose removal runs the program.
  for (auto name = survey.services.rbegin(); name != survey.services.rend(); ++name) {
    winetest::RemoveWhateverIsLeft(*name);
  }
  for (const std::string &key : survey.keys) RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
  if (ProductInstalled(kit)) {
    std::string command = "msiexec /x " + kit.productCode + " /qn";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &process)) {
      WaitForSingleObject(process.hProcess, 120000);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
  }
  if (HasKey(HKEY_LOCAL_MACHINE, kInnoUninstallKey))
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kInnoUninstallKey);
  if (withTemp && kitguard::WhoseFolder(kit.temp) == kitguard::Whose::kOwn)
    winetest::RemoveDirectoryTree(kit.temp);
  if (HasKey(HKEY_CURRENT_USER, kWineProgramSettings))
    RegDeleteTreeA(HKEY_CURRENT_USER, kWineProgramSettings);
  Removal removal;
  removal.left = WhatIsThere(kit, withTemp);
  for (const std::string &thing : before) {
    if (std::find(removal.left.begin(), removal.left.end(), thing) == removal.left.end())
      removal.removed.push_back(thing);
  }
  // A service still there was marked for deletion, by the removal or before
  // it: held open still, or its process not ended.
  const std::string service = "service ";
  for (std::string &thing : removal.left) {
    if (thing.rfind(service, 0) != 0) continue;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE opened = OpenServiceA(manager, thing.c_str() + service.size(), DELETE);
    if (opened != nullptr && !DeleteService(opened) &&
        GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE) {
      thing +=
          " (marked for deletion: it goes once nothing holds it open, at the latest at the "
          "next restart)";
    }
    if (opened != nullptr) CloseServiceHandle(opened);
    if (manager != nullptr) CloseServiceHandle(manager);
  }
  return removal;
}

// "; it left A, now removed; B still there", for a check's line.
std::string Told(const Removal &removal) {
  std::string told;
  if (!removal.removed.empty()) told += "; it left " + Join(removal.removed) + ", now removed";
  if (!removal.left.empty()) told += "; still there: " + Join(removal.left);
  return told;
}

std::string Platform() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  const std::string bits = wow64 ? "64-bit" : "32-bit";
  using WineVersion = const char *(*)();
  const FARPROC wine = GetProcAddress(ntdll, "wine_get_version");
  if (wine != nullptr) {
    return "under Wine " +
           std::string(reinterpret_cast<WineVersion>(reinterpret_cast<void (*)()>(wine))()) +
           ", a " + bits + " prefix";
  }
  // GetVersionEx tells a program without a manifest an older version.
  using GetVersionFunction = LONG(WINAPI *)(OSVERSIONINFOW *);
  const FARPROC get = GetProcAddress(ntdll, "RtlGetVersion");
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (get == nullptr ||
      reinterpret_cast<GetVersionFunction>(reinterpret_cast<void (*)()>(get))(&version) != 0) {
    return "on " + bits + " Windows";
  }
  return "on " + bits + " Windows " + std::to_string(version.dwMajorVersion) + "." +
         std::to_string(version.dwMinorVersion) + " (build " +
         std::to_string(version.dwBuildNumber) + ")";
}

// ---- one check ----

// The value of an attribute in the first element of `xml` that starts with
// `element`, XML's escapes undone; empty when there is none.
std::string Attribute(const std::string &xml, const std::string &element, const std::string &name) {
  const std::size_t start = xml.find("<" + element + " ");
  if (start == std::string::npos) return std::string();
  const std::size_t end = xml.find('>', start);
  const std::size_t at = xml.find(" " + name + "=\"", start);
  if (at == std::string::npos || at > end) return std::string();
  const std::size_t from = at + name.size() + 3;
  const std::string raw = xml.substr(from, xml.find('"', from) - from);
  std::string text;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '&') {
      text += raw[i];
      continue;
    }
    const std::size_t semicolon = raw.find(';', i);
    const std::string entity = raw.substr(i + 1, semicolon - i - 1);
    if (entity == "quot")
      text += '"';
    else if (entity == "apos")
      text += '\'';
    else if (entity == "lt")
      text += '<';
    else if (entity == "gt")
      text += '>';
    else if (entity == "amp")
      text += '&';
    else if (entity.rfind("#x", 0) == 0)
      text += static_cast<char>(std::stoi(entity.substr(2), nullptr, 16));
    else if (entity.rfind('#', 0) == 0)
      text += static_cast<char>(std::stoi(entity.substr(1)));
    i = semicolon;
  }
  return text;
}

// GoogleTest's "<file>:<line>\n<what>" as "<what> (<file>:<line>)", on one line.
std::string OneLine(const std::string &message) {
  const std::size_t newline = message.find('\n');
  std::string where = message.substr(0, newline);
  const std::size_t slash = where.find_last_of("\\/");
  if (slash != std::string::npos) where = where.substr(slash + 1);
  std::string what;
  if (newline != std::string::npos) {
    std::size_t start = newline + 1;
    while (start < message.size()) {
      std::size_t end = message.find('\n', start);
      if (end == std::string::npos) end = message.size();
      std::string line = message.substr(start, end - start);
      const std::size_t first = line.find_first_not_of(" \r\t");
      if (first != std::string::npos) what += (what.empty() ? "" : " / ") + line.substr(first);
      start = end + 1;
    }
  }
  return (what.empty() ? "no reason given" : what) + " (" + where + ")";
}

// A check that could not prove its own premise (a token without elevation,
// a log that reads back) fails with this first, as the checks write it: it
// counts as failed, told apart from a fault of the program.
const char kCouldNotCheck[] = "could not check: ";

enum class Verdict { kPassed, kFailed, kCouldNotCheck, kSkipped };

struct Result {
  Verdict verdict = Verdict::kFailed;
  std::string why;
};

// The verdict of one check's report, and of its exit code.
Result Read(const std::string &report, DWORD exitCode, bool finished) {
  Result result;
  if (!finished) {
    result.why = "did not end within " + std::to_string(kCheckTimeoutMs / 60000) + " minutes";
    return result;
  }
  const std::string xml = winetest::ReadWholeFile(report);
  if (xml.find("<testcase ") == std::string::npos) {
    result.why = "ended with exit code " + std::to_string(exitCode) + " and no report";
    return result;
  }
  if (xml.find("<failure ") != std::string::npos) {
    const std::string message = Attribute(xml, "failure", "message");
    const std::size_t premise = message.find(kCouldNotCheck);
    if (premise != std::string::npos) {
      result.verdict = Verdict::kCouldNotCheck;
      const std::size_t from = premise + sizeof kCouldNotCheck - 1;
      result.why = message.substr(from, message.find('\n', from) - from);
    } else {
      result.why = OneLine(message);
    }
  } else if (exitCode != 0) {
    result.why = "ended with exit code " + std::to_string(exitCode);
  } else if (Attribute(xml, "testcase", "result") == "skipped") {
    result.verdict = Verdict::kSkipped;
    const std::string message = Attribute(xml, "skipped", "message");
    result.why = message.substr(message.find('\n') + 1);
  } else {
    result.verdict = Verdict::kPassed;
    result.why = Attribute(xml, "testcase", "time") + " s";
  }
  return result;
}

class Runner {
 public:
  explicit Runner(const Kit &kit) : kit_(kit) {}

  // The checks' names, as GoogleTest lists them.
  bool ListChecks(const std::string &only, std::vector<std::string> &checks) {
    const std::string list = kit_.reports + "\\checks.txt";
    DWORD exitCode = 0;
    if (Start("--gtest_list_tests --gtest_filter=" + only + kLeftOut, list, exitCode) !=
            WAIT_OBJECT_0 ||
        exitCode != 0) {
      return false;
    }
    std::string suite;
    const std::string text = winetest::ReadWholeFile(list);
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      start = end + 1;
      line = line.substr(0, line.find_first_of("#\r"));
      while (!line.empty() && line.back() == ' ') line.pop_back();
      if (line.empty()) continue;
      if (line[0] != ' ') {
        suite = line;  // "Suite." or "Prefix/Suite."
      } else {
        checks.push_back(suite + line.substr(line.find_first_not_of(' ')));
      }
    }
    return !checks.empty();
  }

  // Runs one check in a process of its own; false when the run was stopped.
  bool RunCheck(const std::string &check, int number) {
    const std::string file = Numbered(number) + "-" + FileName(check);
    const std::string report = kit_.reports + "\\" + file + ".xml";
    const bool override = winetest::UnderWine() && check.rfind(kPlantedDllChecks, 0) == 0;
    if (override) TakePlantedDllsUnderWine();
    DWORD exitCode = 0;
    const DWORD ended =
        Start("--gtest_filter=" + check + " --gtest_output=xml:\"" + report + "\"" + Arguments(),
              kit_.reports + "\\" + file + ".log", exitCode);
    if (override) RegDeleteTreeA(HKEY_CURRENT_USER, kWineProgramSettings);
    if (ended == WAIT_OBJECT_0 + 1) return false;
    Result result = Read(report, exitCode, ended == WAIT_OBJECT_0);
    // What a check left behind is the kit's to remove, and says so.
    result.why += Told(RemoveWhatIsThere(kit_, false));
    Print(check, result);
    return true;
  }

  void Total() const {
    Say(std::to_string(passed_) + " passed, " + std::to_string(failed_) + " failed" +
        (couldNotCheck_ > 0 ? " (" + std::to_string(couldNotCheck_) + " could not check)" : "") +
        ", " + std::to_string(skipped_) + " skipped");
  }
  void CountFailure(const std::string &line) {
    Say(line);
    ++failed_;
  }
  int failed() const { return failed_; }

 private:
  static std::string Numbered(int number) {
    return (number < 10 ? "0" : "") + std::to_string(number);
  }
  static std::string FileName(std::string check) {
    for (char &c : check) {
      if (c == '/') c = '-';
    }
    return check;
  }

  static void TakePlantedDllsUnderWine() {
    HKEY key = nullptr;
    const std::string path = std::string(kWineProgramSettings) + "\\DllOverrides";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
      return;
    }
    const char native[] = "native,builtin";
    RegSetValueExA(key, "uxtheme", 0, REG_SZ, reinterpret_cast<const BYTE *>(native),
                   sizeof native);
    RegCloseKey(key);
  }

  // The kit's files, for the checks that need them.
  std::string Arguments() const {
    std::string arguments;
    const char *const files[][2] = {
        {"program", "FQSrvUninstall.exe"},   {"fixture", "FQFixtureService.exe"},
        {"child", "FQTestChild.exe"},        {"uncaught", "FQUncaught.exe"},
        {"planted-dll", "FQPlantedDll.dll"}, {"unguarded", "FQUnguarded.exe"},
        {"batch", "remove-fq.cmd"},          {"nsis-setup", "FQRemovalSetup.exe"},
        {"msi-package", "FQRemoval.msi"},    {"inno-setup", "FQRemovalInnoSetup.exe"}};
    for (const auto &file : files) {
      const std::string path = kit_.In(file[1]);
      if (winetest::FileExists(path))
        arguments += " \"--" + std::string(file[0]) + "=" + path + "\"";
    }
    return arguments;
  }

  // Runs the checks' program with `arguments`, its output to `log`, until it
  // ends (WAIT_OBJECT_0), is stopped (WAIT_OBJECT_0 + 1) or times out. In a
  // process group of its own: Ctrl+C comes to the runner, which ends it.
  DWORD Start(const std::string &arguments, const std::string &log, DWORD &exitCode) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE output = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    std::string command = "\"" + kit_.In(kChecksProgram) + "\" " + arguments;
    const BOOL started =
        output != INVALID_HANDLE_VALUE &&
        CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                       nullptr, kit_.bin.c_str(), &startup, &process);
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    if (!started) {
      exitCode = GetLastError();
      return WAIT_FAILED;
    }
    const HANDLE waitFor[] = {process.hProcess, stopRequested};
    const DWORD ended = WaitForMultipleObjects(2, waitFor, FALSE, kCheckTimeoutMs);
    if (ended != WAIT_OBJECT_0) {
      winetest::EndDescendantsOf(process.dwProcessId);
      TerminateProcess(process.hProcess, 99);
      WaitForSingleObject(process.hProcess, 10000);
    }
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended;
  }

  void Print(const std::string &check, const Result &result) {
    std::string name = check;
    for (const WindowsOnlyName &known : kWindowsOnlyNames) {
      if (check == known.check) name = known.name;
    }
    switch (result.verdict) {
      case Verdict::kPassed:
        ++passed_;
        Say("passed   " + name + " (" + result.why + ")");
        break;
      case Verdict::kSkipped:
        ++skipped_;
        Say("skipped  " + name + ": " + result.why);
        break;
      case Verdict::kFailed:
        ++failed_;
        Say("FAILED   " + name + ": " + result.why);
        break;
      case Verdict::kCouldNotCheck:
        ++failed_;
        ++couldNotCheck_;
        Say("FAILED   " + name + ": could not check, not a fault of the program's: " + result.why);
        break;
    }
  }

  const Kit &kit_;
  int passed_ = 0;
  int failed_ = 0;
  int skipped_ = 0;
  int couldNotCheck_ = 0;
};

// After the checks, or when stopped: nothing of the kit's may stay.
void CleanUp(const Kit &kit, Runner &runner, bool stopped) {
  const Removal removal = RemoveWhatIsThere(kit, true);
  if (stopped) {
    Say("stopped: removed " +
        (removal.removed.empty() ? "nothing: nothing was left" : Join(removal.removed)));
  }
  if (!removal.left.empty()) {
    runner.CountFailure("FAILED   nothing left behind: " + Join(removal.left) +
                        " could not be removed");
  }
}

// A folder the kit may make and use: none there, or one it made itself.
std::string WhyNotOwn(const std::string &folder) {
  if (kitguard::WhoseFolder(folder) != kitguard::Whose::kOther) return std::string();
  return "the folder " + folder + " is not one the kit made (no " + kitguard::kMarkerFile +
         " in it, or it is a junction or link): move it away, then run selftest.cmd again";
}

// Makes a folder of the kit's own: created, then marked as such.
bool MakeOwnFolder(const std::string &folder) {
  return CreateDirectoryA(folder.c_str(), nullptr) &&
         winetest::WriteWholeFile(folder + "\\" + kitguard::kMarkerFile,
                                  "Made by FQSelfTest.exe, which removes this folder.\r\n");
}

}  // namespace

// FQSelfTest.exe [--only=<checks>]: every check, or those of GoogleTest's
// filter (the kit's own tests under Wine run a few where the other prefix
// runs them all).
int main(int argc, char **argv) {
  const std::string onlyOption = "--only=";
  std::string only = "*";
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]).rfind(onlyOption, 0) == 0) only = argv[i] + onlyOption.size();
  }
  Kit kit = Kit::Here();
  kitguard::Survey survey = kitguard::Look(kit.Fixture());
  if (survey.refusal.empty()) survey.refusal = WhyNotOwn(kit.reports);
  if (survey.refusal.empty()) survey.refusal = WhyNotOwn(kit.temp);
  if (!survey.refusal.empty()) {
    Say("refused: " + survey.refusal);
    return kRefused;
  }
  kit.ReadPackage();
  stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  cleanedUp = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  const std::string noDebug = EnableDebugPrivilege();
  if (!noDebug.empty())
    Say("SeDebugPrivilege: " + noDebug + "; a fixture running as LocalSystem may not be ended");

  // What a run that was stopped left: removed, or named and refused.
  if (!WhatIsThere(kit, true).empty()) {
    const Removal removal = RemoveWhatIsThere(kit, true);
    if (!removal.removed.empty()) Say("removed what an earlier run left: " + Join(removal.removed));
    if (!removal.left.empty()) {
      Say("refused: an earlier run left " + Join(removal.left) +
          ", which cannot be removed now: restart Windows, then run selftest.cmd again");
      return kRefused;
    }
  }

  Say("FQSrvUninstall " FQ_VERSION_TEXT " self-test " + Platform());
  if (kitguard::WhoseFolder(kit.reports) == kitguard::Whose::kOwn)
    winetest::RemoveDirectoryTree(kit.reports);
  if (!MakeOwnFolder(kit.reports)) {
    Say("FAILED   cannot make " + kit.reports);
    return kNotAllPassed;
  }
  Say("reports: " + kit.reports);
  // The checks' temporary files go to a folder of the kit's own, named by its
  // short path: some checks hand it to cmd.exe unquoted.
  MakeOwnFolder(kit.temp);
  char shortTemp[MAX_PATH] = {0};
  const DWORD length = GetShortPathNameA(kit.temp.c_str(), shortTemp, MAX_PATH);
  const std::string temp = length > 0 && length < MAX_PATH ? shortTemp : kit.temp;
  SetEnvironmentVariableA("TEMP", temp.c_str());
  SetEnvironmentVariableA("TMP", temp.c_str());

  Runner runner(kit);
  std::vector<std::string> checks;
  bool stopped = false;
  if (!runner.ListChecks(only, checks)) {
    runner.CountFailure("FAILED   the checks: " + kit.In(kChecksProgram) +
                        " did not list them (see reports\\checks.txt)");
  }
  int number = 0;
  for (const std::string &check : checks) {
    if (!runner.RunCheck(check, ++number)) {
      stopped = true;
      break;
    }
  }
  CleanUp(kit, runner, stopped);
  SetEvent(cleanedUp);
  runner.Total();
  return runner.failed() == 0 && !stopped ? kAllPassed : kNotAllPassed;
}
