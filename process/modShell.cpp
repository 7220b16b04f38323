#include "process/modShell.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/ansi.h"
#include "platform/winapi.h"

namespace modShell {
namespace {

// Pause after each wait, so that the child's last effects settle.
constexpr DWORD kPauseAfterWaitMs = 100;
// How many names the output file may take before the null device takes it.
constexpr int kOutputFileNames = 4;

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

// The file the child's standard output and error go to: in the temporary
// folder, and gone once the last handle to it is closed, ours, the child's or
// a grandchild's that outlives it. A file rather than a pipe: a pipe that
// nobody reads while the child runs stops a child that writes more than its
// buffer, and one read until its end waits for every grandchild that holds
// it. Nobody else may open it while we hold it. CREATE_NEW fails on a file or
// link already there under its name (planted, or one that a grandchild of an
// earlier command still holds): the next name is tried, and after the last
// one the child writes to the null device.
HANDLE CreateOutputFile() {
  char folder[MAX_PATH + 1] = {0};
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) return INVALID_HANDLE_VALUE;
  SECURITY_ATTRIBUTES inheritable{};
  inheritable.nLength = sizeof inheritable;
  inheritable.bInheritHandle = TRUE;
  const std::string stem =
      std::string(folder, length) + "FQSrvUninstall-" + std::to_string(GetCurrentProcessId()) + "-";
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int name = 1; name <= kOutputFileNames && file == INVALID_HANDLE_VALUE; ++name) {
    file = CreateFileA((stem + std::to_string(name) + ".out").c_str(), GENERIC_READ | GENERIC_WRITE,
                       0, &inheritable, CREATE_NEW,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  }
  return file;
}

// Line breaks and blanks, each run of them one space, none at either end:
// the output goes inside one sentence.
std::wstring OneLine(const std::wstring &text) {
  std::wstring line;
  bool blank = false;
  for (const wchar_t c : text) {
    if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') {
      blank = !line.empty();
    } else {
      if (blank) line.push_back(L' ');
      blank = false;
      line.push_back(c);
    }
  }
  return line;
}

// The end of what the child wrote, read from the file once it has ended.
// Cut, it would start inside a line, perhaps inside a character: it starts
// at the next line instead, unless its last line is all there is.
std::wstring OutputOf(HANDLE file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0) return std::wstring();
  const auto total = static_cast<unsigned long long>(size.QuadPart);
  const unsigned long long start = total > kOutputBound ? total - kOutputBound : 0;
  std::vector<char> bytes(static_cast<std::size_t>(total - start));
  // At that offset, whatever a grandchild still writing did to the file's position.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(start);
  at.OffsetHigh = static_cast<DWORD>(start >> 32);
  DWORD read = 0;
  if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, &at)) {
    return std::wstring();
  }
  bytes.resize(std::min<std::size_t>(read, bytes.size()));
  while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r')) bytes.pop_back();
  if (start > 0) {
    const auto newline = std::find(bytes.begin(), bytes.end(), '\n');
    if (newline != bytes.end()) bytes.erase(bytes.begin(), newline + 1);
  }
  return OneLine(ansi::ToText(bytes.data(), bytes.size(), CP_OEMCP));
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

// Why the child could not be started, for the caller that asked.
std::int32_t NotStarted(Output *output, const char *call, DWORD error) {
  if (output != nullptr) {
    output->failedCall = call;
    output->error = error;
  }
  return kNotStarted;
}

}  // namespace

std::int32_t RunAndWait(const std::wstring &commandLine, int showState, Output *output) {
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (showState > 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    // The field is still zero here, so every positive show state hides the child.
    startup.wShowWindow = static_cast<WORD>(showState & startup.wShowWindow);
  }

  const std::string directory = SystemDirectory();
  if (directory.empty()) return NotStarted(output, "GetSystemDirectory", GetLastError());
  const std::string line = ansi::FromText(commandLine);
  const std::string program = ProgramPath(directory, line);
  if (program.empty()) return NotStarted(output, nullptr, 0);
  std::vector<char> writableLine(line.begin(), line.end());  // CreateProcessA may write to it
  writableLine.push_back('\0');

  // Without the null device the child starts as it would have anyway; where
  // its output cannot be kept, it goes to the null device.
  const HANDLE nullDevice = OpenNullDevice();
  const HANDLE outputFile = output != nullptr ? CreateOutputFile() : INVALID_HANDLE_VALUE;
  const HANDLE written = outputFile != INVALID_HANDLE_VALUE ? outputFile : nullDevice;
  if (nullDevice != INVALID_HANDLE_VALUE) {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = nullDevice;
    startup.hStdOutput = written;
    startup.hStdError = written;
  }
  PROCESS_INFORMATION child{};
  const BOOL started =
      CreateProcessA(program.c_str(), writableLine.data(), nullptr, nullptr, TRUE,
                     NORMAL_PRIORITY_CLASS, nullptr, directory.c_str(), &startup, &child);
  const DWORD startError = started ? ERROR_SUCCESS : GetLastError();
  if (nullDevice != INVALID_HANDLE_VALUE) CloseHandle(nullDevice);  // the child has its own
  std::int32_t result = kNotStarted;
  if (started) {
    WaitForChild(child.hProcess);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(child.hProcess, &exitCode)) exitCode = 0;
    result = static_cast<std::int32_t>(exitCode);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    // Read once the child has ended, whoever else still holds the file.
    if (outputFile != INVALID_HANDLE_VALUE) output->text = OutputOf(outputFile);
  }
  if (outputFile != INVALID_HANDLE_VALUE) CloseHandle(outputFile);
  if (!started) return NotStarted(output, "CreateProcess", startError);
  return result;
}

}  // namespace modShell
