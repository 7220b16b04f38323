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
  for (int showState : {2, 1, 5}) {
    machine().reset();
    RunAndWait(L"CMD.EXE /C NET STOP FQ", showState);
    ASSERT_EQ(1u, machine().children().size());
    const standin::StartedChild child = machine().children()[0];
    EXPECT_EQ(WORD{SW_HIDE}, child.startup.wShowWindow);
    ExpectStartup(STARTF_USESHOWWINDOW, child);
  }
}

TEST_F(ShellTest, ZeroOrNegativeShowStateLeavesTheDefaultShowState) {
  for (int showState : {0, -1}) {
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

}  // namespace
