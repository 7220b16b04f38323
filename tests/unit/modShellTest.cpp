#include <cstring>

#include "StandinTest.h"
#include "process/modShell.h"

using modShell::RunAndWait;

namespace {

const char kStop[] = "CMD.EXE /C NET STOP FQ";

class ShellTest : public StandinTest {
 protected:
  static standin::ChildBehaviour ExitsWith(DWORD code) {
    standin::ChildBehaviour child;
    child.exitCode = code;
    return child;
  }
  // The record as the runner fills it: zeroed whole, padding included, then
  // these flags.
  static void Zeroed(STARTUPINFOA &record, DWORD flags) {
    std::memset(&record, 0, sizeof record);
    record.cb = sizeof record;
    record.dwFlags = flags;
  }
  // Every byte the child got.
  static void ExpectBytes(const STARTUPINFOA &expected, const standin::StartedChild &child) {
    ASSERT_EQ(sizeof expected, child.startupBytes.size());
    // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison)
    EXPECT_EQ(0, std::memcmp(&expected, child.startupBytes.data(), sizeof expected));
  }
  // The show flag, and the null device as the three standard handles.
  static void ExpectStartup(DWORD showFlags, const standin::StartedChild &child) {
    const HANDLE nullDevice = child.startup.hStdInput;
    const standin::OpenedFile *file = machine().file(nullDevice);
    ASSERT_NE(nullptr, file) << "standard input is a file the runner opened";
    EXPECT_EQ("NUL", file->name);
    EXPECT_EQ(GENERIC_READ | GENERIC_WRITE, file->access);
    EXPECT_TRUE(file->inheritable);
    STARTUPINFOA expected;
    Zeroed(expected, showFlags | STARTF_USESTDHANDLES);
    expected.hStdInput = expected.hStdOutput = expected.hStdError = nullDevice;
    ExpectBytes(expected, child);
  }
};

TEST_F(ShellTest, PositiveShowStateStartsTheChildHidden) {
  for (const int showState : {2, 1, 5}) {
    machine().reset();
    RunAndWait(L"CMD.EXE /C NET STOP FQ", showState);
    ASSERT_EQ(1u, machine().children().size());
    const standin::StartedChild child = machine().children()[0];
    EXPECT_EQ(WORD{SW_HIDE}, child.startup.wShowWindow);
    ExpectStartup(STARTF_USESHOWWINDOW, child);
  }
}

TEST_F(ShellTest, ZeroOrNegativeShowStateLeavesTheDefaultShowState) {
  for (const int showState : {0, -1}) {
    machine().reset();
    RunAndWait(L"CMD.EXE /C NET STOP FQ", showState);
    ASSERT_EQ(1u, machine().children().size());
    ExpectStartup(0, machine().children()[0]);
  }
}

TEST_F(ShellTest, StartsTheSystemDirectorysProgramThere) {
  machine().setSystemDirectory("C:\\WINDOWS\\system32");
  RunAndWait(L"CMD.EXE /C NET STOP FQ", 2);
  ASSERT_EQ(1u, machine().children().size());
  const standin::StartedChild child = machine().children()[0];
  EXPECT_EQ("C:\\WINDOWS\\system32\\CMD.EXE", child.applicationName);
  EXPECT_EQ(kStop, child.commandLine);  // the command line itself is untouched
  EXPECT_EQ("C:\\WINDOWS\\system32", child.currentDirectory);
  EXPECT_EQ(TRUE, child.inheritHandles);
  EXPECT_EQ(DWORD{NORMAL_PRIORITY_CLASS}, child.creationFlags);
  EXPECT_TRUE(child.environmentInherited);
  EXPECT_FALSE(child.securityAttributesPassed);
}

TEST_F(ShellTest, BareNameWithoutExtensionIsAnExeOfTheSystemDirectory) {
  RunAndWait(L"  NET STOP FQ", 0);
  ASSERT_EQ(1u, machine().children().size());
  EXPECT_EQ("C:\\windows\\system32\\NET.exe", machine().children()[0].applicationName);
}

TEST_F(ShellTest, NothingRunsWithoutASystemDirectoryOrWithAPathOrNoProgram) {
  machine().failCall("GetSystemDirectoryA", {1, ERROR_ACCESS_DENIED});
  EXPECT_EQ(modShell::kNotStarted, RunAndWait(L"CMD.EXE /C EXIT 5", 2));
  EXPECT_EQ(modShell::kNotStarted, RunAndWait(L".\\CMD.EXE /C EXIT 5", 2));
  EXPECT_EQ(modShell::kNotStarted, RunAndWait(L"\"C:\\x\\CMD.EXE\" /C EXIT 5", 2));
  EXPECT_EQ(modShell::kNotStarted, RunAndWait(L"   ", 2));
  EXPECT_EQ(0, machine().countCalls("CreateProcessA"));
}

TEST_F(ShellTest, ReturnsTheExitCodeAndClosesEveryHandle) {
  machine().setChild("CMD.EXE /C EXIT 5", ExitsWith(5));
  EXPECT_EQ(5, RunAndWait(L"CMD.EXE /C EXIT 5", 2));
  machine().setChild("CMD.EXE /C EXIT -2", ExitsWith(0xFFFFFFFEu));
  EXPECT_EQ(-2, RunAndWait(L"CMD.EXE /C EXIT -2", 2));
  EXPECT_TRUE(machine().openHandles().empty());
  const auto closes = machine().callsTo("CloseHandle");
  ASSERT_EQ(6u, closes.size());
  // The null device once the child has started, before the wait; then the
  // process and its thread.
  EXPECT_EQ("CloseHandle(h1) -> 1", closes[0]);
  EXPECT_LT(IndexOf("CreateProcessA"), IndexOf("CloseHandle(h1)"));
  EXPECT_LT(IndexOf("CloseHandle(h1)"), IndexOf("WaitForSingleObject"));
  EXPECT_EQ("CloseHandle(h2) -> 1", closes[1]);
  EXPECT_EQ("CloseHandle(h3) -> 1", closes[2]);
}

TEST_F(ShellTest, WithoutTheNullDeviceTheChildStartsAsBefore) {
  machine().failCall("CreateFileA", {1, ERROR_ACCESS_DENIED});
  EXPECT_EQ(0, RunAndWait(L"CMD.EXE /C NET STOP FQ", 2));
  ASSERT_EQ(1u, machine().children().size());
  STARTUPINFOA expected;
  Zeroed(expected, STARTF_USESHOWWINDOW);
  ExpectBytes(expected, machine().children()[0]);
  EXPECT_EQ(2, machine().countCalls("CloseHandle")) << "no invalid handle is closed";
  EXPECT_TRUE(machine().openHandles().empty());
}

TEST_F(ShellTest, UnreadableExitCodeGivesZero) {
  standin::ChildBehaviour child = ExitsWith(5);
  child.exitCodeUnreadable = true;
  machine().setChild(kStop, child);
  EXPECT_EQ(0, RunAndWait(L"CMD.EXE /C NET STOP FQ", 2));
  EXPECT_TRUE(machine().openHandles().empty());
}

TEST_F(ShellTest, ChildThatCannotStartGivesMinusOneAndNothingElse) {
  standin::ChildBehaviour missing;
  missing.startFails = true;
  machine().setChild("NOSUCHPROGRAM.EXE", missing);
  EXPECT_EQ(-1, RunAndWait(L"NOSUCHPROGRAM.EXE", 2));
  EXPECT_EQ(0, machine().countCalls("WaitForSingleObject"));
  EXPECT_EQ(1, machine().countCalls("CloseHandle")) << "the null device only";
  EXPECT_TRUE(machine().openHandles().empty());
  EXPECT_TRUE(machine().sleeps().empty());
}

// Counts the test message; one left in the queue comes round again, and
// destroying the window then empties the queue so that the wait can end.
int g_delivered = 0;
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM, LPARAM) {
  if (message == WM_APP && ++g_delivered > 1) DestroyWindow(window);
  return 0;
}

TEST_F(ShellTest, WaitsOnceThenHandlesMessagesThenPauses) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = CountingProc;
  windowClass.lpszClassName = "ShellTestWindow";
  ASSERT_NE(0, RegisterClassExA(&windowClass));
  const HWND window = CreateWindowExA(0, "ShellTestWindow", "", WS_OVERLAPPED, 0, 0, 10, 10,
                                      nullptr, nullptr, nullptr, nullptr);
  g_delivered = 0;
  standin::ChildBehaviour child = ExitsWith(0);
  // A message for the thread's window arrives while the child runs.
  child.onRun = [&] { machine().queueMessage(window, WM_APP); };
  machine().setChild(kStop, child);
  RunAndWait(L"CMD.EXE /C NET STOP FQ", 2);
  // Only a child that ran before the call returned can have queued it.
  EXPECT_EQ(1, g_delivered) << "dispatched to the window procedure once, and removed";
  EXPECT_EQ(1, CountContaining(", 0xffffffff) -> 0x0"));  // one wait, for ever, that ended
  EXPECT_EQ(std::vector<DWORD>{100}, machine().sleeps());
  const int wait = IndexOf("WaitForSingleObject");
  const int peek = IndexOf("PeekMessageA", wait);
  EXPECT_LT(wait, peek);
  EXPECT_LT(peek, IndexOf("Sleep(100)"));
  EXPECT_LT(IndexOf("Sleep(100)"), IndexOf("GetExitCodeProcess"));
}

TEST_F(ShellTest, WaitIsRepeatedUntilTheChildHasEnded) {
  machine().setWaitResults({WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_OBJECT_0});
  machine().setChild(kStop, ExitsWith(3));
  EXPECT_EQ(3, RunAndWait(L"CMD.EXE /C NET STOP FQ", 2));
  EXPECT_EQ(3, machine().countCalls("WaitForSingleObject"));
  EXPECT_EQ((std::vector<DWORD>{100, 100, 100}), machine().sleeps());
}

TEST_F(ShellTest, FailedWaitEndsTheLoop) {
  machine().setWaitResults({WAIT_FAILED, WAIT_FAILED, WAIT_FAILED});
  machine().setChild(kStop, ExitsWith(7));
  EXPECT_EQ(7, RunAndWait(L"CMD.EXE /C NET STOP FQ", 2));
  EXPECT_EQ(1, machine().countCalls("WaitForSingleObject"));
  EXPECT_TRUE(machine().openHandles().empty());

  machine().reset();
  machine().setWaitResults({WAIT_FAILED});
  standin::ChildBehaviour unreadable;
  unreadable.exitCodeUnreadable = true;
  machine().setChild(kStop, unreadable);
  EXPECT_EQ(0, RunAndWait(L"CMD.EXE /C NET STOP FQ", 2));
}

// With an Output, standard output and error go to a file of our own.
class ShellOutputTest : public ShellTest {
 protected:
  static constexpr char kTempFolder[] = "C:\\Users\\admin\\AppData\\Local\\Temp\\";
  static constexpr char kOutputFile[] =
      "C:\\Users\\admin\\AppData\\Local\\Temp\\FQSrvUninstall-4242-1.out";
  static standin::ChildBehaviour Writes(const std::string &output, const std::string &error = "") {
    standin::ChildBehaviour child = ExitsWith(2);
    child.output = output;
    child.errorOutput = error;
    return child;
  }
};

TEST_F(ShellOutputTest, OutputAndErrorGoToANewFileOfItsOwnThatGoesOnClosing) {
  machine().setChild(kStop, Writes("The FQ service is stopping.\r\n",
                                   "System error 1053 has occurred.\r\n\r\nThe service did not "
                                   "respond to the start or control request in a timely "
                                   "fashion.\r\n\r\n"));
  modShell::Output output;
  EXPECT_EQ(2, RunAndWait(L"CMD.EXE /C NET STOP FQ", 2, &output));
  EXPECT_EQ(
      L"The FQ service is stopping. System error 1053 has occurred. The service did not "
      L"respond to the start or control request in a timely fashion.",
      output.text);
  EXPECT_EQ(nullptr, output.failedCall);
  ASSERT_EQ(1u, machine().children().size());
  const STARTUPINFOA startup = machine().children()[0].startup;
  EXPECT_EQ("NUL", machine().file(startup.hStdInput)->name) << "nothing to answer a question with";
  EXPECT_EQ(startup.hStdOutput, startup.hStdError);
  const standin::OpenedFile *file = machine().file(startup.hStdOutput);
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(kOutputFile, file->name);
  EXPECT_EQ(DWORD{CREATE_NEW}, file->creationDisposition) << "never one planted there";
  EXPECT_EQ(0u, file->shareMode) << "nobody else opens it meanwhile";
  EXPECT_EQ(DWORD{FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE}, file->flagsAndAttributes);
  EXPECT_TRUE(file->inheritable);
  EXPECT_LT(IndexOf("CloseHandle(h3)"), IndexOf("ReadFile")) << "read once the child has ended";
  EXPECT_TRUE(machine().openHandles().empty());
}

TEST_F(ShellOutputTest, KeepsTheEndUpToTheBoundFromALinesStart) {
  ASSERT_EQ(modShell::kOutputBound, 1024u);
  const std::string last = "System error 5 has occurred.\r\n\r\nAccess is denied.\r\n\r\n";
  const std::wstring lastWords = L"System error 5 has occurred. Access is denied.";
  const std::size_t room = 1024 - last.size() - 2;  // for a first line of 1024 bytes in all
  struct Case {
    const char *what;
    std::string written;
    std::wstring kept;
  };
  const Case cases[] = {
      {"1024 bytes: all of it", std::string(room, 'a') + "\r\n" + last,
       std::wstring(room, L'a') + L" " + lastWords},
      {"1025 bytes: from the second line", std::string(room + 1, 'a') + "\r\n" + last, lastWords},
      {"a megabyte: its last lines", std::string(1 << 20, 'a') + "\r\n" + last, lastWords},
      {"one long line: its last 1024 bytes", std::string(5000, 'a') + std::string(1024, 'b'),
       std::wstring(1024, L'b')},
      {"nothing", "", L""}};
  for (const Case &c : cases) {
    machine().reset();
    machine().setChild(kStop, Writes(c.written));
    modShell::Output output;
    EXPECT_EQ(2, RunAndWait(L"CMD.EXE /C NET STOP FQ", 2, &output)) << c.what;
    EXPECT_EQ(c.kept, output.text) << c.what;
    EXPECT_TRUE(machine().openHandles().empty()) << c.what;
  }
}

TEST_F(ShellOutputTest, DecodedFromTheOemCodePageAConsoleWritesIn) {
  machine().setCodePage(1252);
  machine().setOemCodePage(932);
  // Two characters of the double-byte code page; in 1252 they are four.
  machine().setChild(kStop, Writes("\x83\x41\x83\x42\r\n"));
  modShell::Output output;
  RunAndWait(L"CMD.EXE /C NET STOP FQ", 2, &output);
  EXPECT_EQ((std::wstring{wchar_t{0x4E00 + 2 * 256 + 0x41}, wchar_t{0x4E00 + 2 * 256 + 0x42}}),
            output.text);
}

TEST_F(ShellOutputTest, WhereNoFileCanBeMadeTheNullDeviceTakesItAll) {
  // Files planted under each of its names in the temporary folder, or no
  // such folder.
  for (const bool planted : {true, false}) {
    machine().reset();
    if (planted) {
      for (const char *name : {"1", "2", "3", "4"}) {
        machine().plantFile(std::string(kTempFolder) + "FQSrvUninstall-4242-" + name + ".out");
      }
    } else {
      machine().setTempPath("");
    }
    machine().setChild(kStop, Writes("The FQ service is stopping.\r\n"));
    modShell::Output output;
    EXPECT_EQ(2, RunAndWait(L"CMD.EXE /C NET STOP FQ", 2, &output)) << planted;
    EXPECT_EQ(L"", output.text) << planted;
    ExpectStartup(STARTF_USESHOWWINDOW, machine().children().at(0));
    EXPECT_EQ(0, machine().countCalls("ReadFile")) << planted;
    EXPECT_TRUE(machine().openHandles().empty()) << planted;
  }
}

TEST_F(ShellOutputTest, NameTakenTheNextOneServes) {
  machine().plantFile(std::string(kTempFolder) + "FQSrvUninstall-4242-1.out");
  machine().setChild(kStop, Writes("The FQ service is stopping.\r\n"));
  modShell::Output output;
  RunAndWait(L"CMD.EXE /C NET STOP FQ", 2, &output);
  EXPECT_EQ(L"The FQ service is stopping.", output.text);
  const standin::OpenedFile *file = machine().file(machine().children().at(0).startup.hStdOutput);
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(std::string(kTempFolder) + "FQSrvUninstall-4242-2.out", file->name);
}

TEST_F(ShellOutputTest, NotStartedTellsTheCallAndItsError) {
  standin::ChildBehaviour missing;
  missing.startFails = true;
  missing.startError = ERROR_ACCESS_DENIED;
  machine().setChild(kStop, missing);
  modShell::Output output;
  EXPECT_EQ(modShell::kNotStarted, RunAndWait(L"CMD.EXE /C NET STOP FQ", 2, &output));
  EXPECT_STREQ("CreateProcess", output.failedCall);
  EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, output.error);
  EXPECT_EQ(0, machine().countCalls("WaitForSingleObject"));
  EXPECT_TRUE(machine().openHandles().empty()) << "the output file closed too";

  machine().reset();
  machine().failCall("GetSystemDirectoryA", {1, ERROR_NOT_ENOUGH_MEMORY});
  output = modShell::Output();
  EXPECT_EQ(modShell::kNotStarted, RunAndWait(L"CMD.EXE /C NET STOP FQ", 2, &output));
  EXPECT_STREQ("GetSystemDirectory", output.failedCall);
  EXPECT_EQ(DWORD{ERROR_NOT_ENOUGH_MEMORY}, output.error);
  EXPECT_EQ(0, machine().countCalls("CreateFileA"));
}

}  // namespace
