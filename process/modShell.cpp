#include "process/modShell.h"

#include <cstring>
#include <vector>

#include "platform/ansi.h"
#include "platform/winapi.h"

namespace modShell {
namespace {

// Pause after each wait, so that the child's last effects settle.
constexpr DWORD kPauseAfterWaitMs = 100;

// The system directory, or empty when it cannot be read.
std::string SystemDirectory() {
  char directory[MAX_PATH + 1] = {0};
  const UINT length = GetSystemDirectoryA(directory, sizeof directory);
  if (length == 0 || length >= sizeof directory) return std::string();
  return std::string(directory, length);
}

// The program that the command line's first word names, in `directory`.
// We run with administrator rights: a bare name must not be looked up beside
// the program or in the current directory, where anyone may have put one.
std::string ProgramPath(const std::string &directory, const std::string &commandLine) {
  const std::size_t start = commandLine.find_first_not_of(' ');
  if (start == std::string::npos) return std::string();
  std::string word = commandLine.substr(start, commandLine.find(' ', start) - start);
  if (word.find_first_of("\\/:\"") != std::string::npos) return std::string();
  if (word.find('.') == std::string::npos) word += ".exe";
  return directory + "\\" + word;
}

// The null device, opened so that the child inherits it. The child's console
// is hidden and nobody reads it: a command that asks a question there (NET
// STOP does when other services depend on the one it stops) would wait for an
// answer for ever, and us with it. From the null device it reads end of input
// at once and takes its default answer.
HANDLE OpenNullDevice() {
  SECURITY_ATTRIBUTES inheritable{};
  inheritable.nLength = sizeof inheritable;
  inheritable.bInheritHandle = TRUE;
  return CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &inheritable, OPEN_EXISTING, 0, nullptr);
}

// Runs every window message queued for this thread, then returns.
void ProcessPendingMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// Waits for the child to end. A failed wait would fail again forever, so it
// ends the loop too.
void WaitForChild(HANDLE process) {
  DWORD result = WAIT_OBJECT_0;
  do {
    result = WaitForSingleObject(process, INFINITE);
    ProcessPendingMessages();
    Sleep(kPauseAfterWaitMs);
  } while (result != WAIT_OBJECT_0 && result != WAIT_FAILED);
}

}  // namespace

std::int32_t RunAndWait(const std::wstring &commandLine, int showState) {
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (showState > 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    // The field is still zero here, so every positive show state hides the child.
    startup.wShowWindow = static_cast<WORD>(showState & startup.wShowWindow);
  }

  const std::string directory = SystemDirectory();
  const std::string line = ansi::FromText(commandLine);
  const std::string program = ProgramPath(directory, line);
  if (directory.empty() || program.empty()) return kNotStarted;
  std::vector<char> writableLine(line.begin(), line.end());  // CreateProcessA may write to it
  writableLine.push_back('\0');

  // Without the null device the child starts as it would have anyway.
  const HANDLE nullDevice = OpenNullDevice();
  if (nullDevice != INVALID_HANDLE_VALUE) {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = nullDevice;
    startup.hStdOutput = nullDevice;
    startup.hStdError = nullDevice;
  }
  PROCESS_INFORMATION child{};
  const BOOL started =
      CreateProcessA(program.c_str(), writableLine.data(), nullptr, nullptr, TRUE,
                     NORMAL_PRIORITY_CLASS, nullptr, directory.c_str(), &startup, &child);
  if (nullDevice != INVALID_HANDLE_VALUE) CloseHandle(nullDevice);  // the child has its own
  if (!started) return kNotStarted;
  WaitForChild(child.hProcess);
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(child.hProcess, &exitCode)) exitCode = 0;
  CloseHandle(child.hProcess);
  CloseHandle(child.hThread);
  return static_cast<std::int32_t>(exitCode);
}

}  // namespace modShell
