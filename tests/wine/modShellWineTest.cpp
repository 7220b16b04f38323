// The command runner on real children: the command interpreter, our own
// child program, and decoys planted where a careless search would find them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "WineTest.h"
#include "process/modShell.h"

namespace {

using modShell::RunAndWait;

constexpr int kHidden = 2;  // what the uninstall sequence passes

// RunAndWait on a thread of its own, so that a child that never ends fails
// the test instead of holding it: past `limitMs` the children are ended,
// which lets the call return.
struct BoundedRun {
  std::wstring commandLine;
  std::int32_t result = 0;
  bool endedInTime = false;
  modShell::Output output;  // what the child wrote
};
DWORD WINAPI RunOnThread(void *argument) {
  auto *run = static_cast<BoundedRun *>(argument);
  run->result = RunAndWait(run->commandLine, kHidden, &run->output);
  return 0;
}
BoundedRun RunAndWaitWithin(const std::wstring &commandLine, DWORD limitMs) {
  BoundedRun run;
  run.commandLine = commandLine;
  HANDLE thread = CreateThread(nullptr, 0, RunOnThread, &run, 0, nullptr);
  if (thread == nullptr) {
    ADD_FAILURE() << "no thread: " << GetLastError();
    return run;
  }
  const std::uint64_t started = winetest::NowMs();
  run.endedInTime = WaitForSingleObject(thread, limitMs) == WAIT_OBJECT_0;
  winetest::NoteWait(limitMs, winetest::NowMs() - started);
  if (!run.endedInTime) {
    winetest::EndDescendantsOf(GetCurrentProcessId());
    WaitForSingleObject(thread, INFINITE);
  }
  CloseHandle(thread);
  return run;
}

class CommandRunnerOnWine : public ::testing::Test {
 protected:
  // Like the program, a GUI program, we have no console: each child gets one
  // of its own, hidden, that nobody reads or answers.
  static void SetUpTestSuite() { FreeConsole(); }

  void SetUp() override {
    ASSERT_FALSE(winetest::Arg("child").empty()) << "run with --child=<FQTestChild.exe>";
    child_ = winetest::WindowsPath(winetest::Arg("child"));
    directory_ = winetest::MakeTempDirectory();
    ASSERT_FALSE(directory_.empty());
    GetCurrentDirectoryA(MAX_PATH, previousDirectory_);
  }
  void TearDown() override {
    SetCurrentDirectoryA(previousDirectory_);
    for (const std::string &decoy : planted_) DeleteFileA(decoy.c_str());
    winetest::RemoveDirectoryTree(directory_);
  }

  // Copies the child under a system program's name; it leaves "<path>.ran"
  // behind if it is ever started.
  std::string PlantDecoy(const std::string &directory, const std::string &name) {
    const std::string path = directory + "\\" + name;
    EXPECT_TRUE(CopyFileA(child_.c_str(), path.c_str(), FALSE)) << path;
    planted_.push_back(path);
    planted_.push_back(path + ".ran");
    return path;
  }
  std::string PlantBatchDecoy(const std::string &directory, const std::string &name) {
    const std::string path = directory + "\\" + name;
    EXPECT_TRUE(winetest::WriteWholeFile(path, "@echo ran> \"" + path + ".ran\"\r\n@exit 77\r\n"));
    planted_.push_back(path);
    planted_.push_back(path + ".ran");
    return path;
  }
  static bool Ran(const std::string &decoy) { return winetest::FileExists(decoy + ".ran"); }

  std::string child_;
  std::string directory_;
  char previousDirectory_[MAX_PATH] = {0};
  std::vector<std::string> planted_;
};

TEST_F(CommandRunnerOnWine, ReturnsTheInterpretersExitCode) {
  EXPECT_EQ(RunAndWait(L"CMD.EXE /C EXIT 5", kHidden), 5);
  EXPECT_EQ(RunAndWait(L"CMD.EXE /C EXIT 0", kHidden), 0);
  EXPECT_EQ(RunAndWait(L"CMD.EXE /C EXIT 5", 0), 5) << "default show state";
}

TEST_F(CommandRunnerOnWine, ReturnsOnlyAfterTheChildHasEnded) {
  // Copied to a directory of ours: its path has no spaces for the interpreter to trip on.
  const std::string child = directory_ + "\\FQTestChild.exe";
  ASSERT_TRUE(CopyFileA(child_.c_str(), child.c_str(), FALSE));
  const std::string line = "CMD.EXE /C " + child + " --sleep 1500 --exit 9";

  const auto started = winetest::NowMs();
  EXPECT_EQ(RunAndWait(std::wstring(line.begin(), line.end()), kHidden), 9);
  const auto elapsed = winetest::NowMs() - started;
  EXPECT_GE(elapsed, 1500u + 100u) << "the child's sleep and our 100 ms pause";
}

TEST_F(CommandRunnerOnWine, OutputIsKeptButNeverWaitedOn) {
  const std::string child = directory_ + "\\FQTestChild.exe";
  ASSERT_TRUE(CopyFileA(child_.c_str(), child.c_str(), FALSE));
  const std::wstring run = L"CMD.EXE /C " + std::wstring(child.begin(), child.end());

  // A megabyte, more than any pipe holds unread, then the last words on
  // standard output and error.
  const BoundedRun big =
      RunAndWaitWithin(run + L" --write 1048576 --say last --complain words --exit 4", 120000);
  ASSERT_TRUE(big.endedInTime) << "the child waited for its output to be read";
  EXPECT_EQ(big.result, 4);
  const std::wstring &text = big.output.text;
  EXPECT_LE(text.size(), modShell::kOutputBound);
  ASSERT_GE(text.size(), 64u) << "the end of it is kept";
  EXPECT_EQ(text.substr(text.size() - 11), L" last words");
  EXPECT_EQ(text.substr(0, 63), std::wstring(62, L'w') + L" ") << "from a line's start";

  // A grandchild that holds the output open long after the child has ended.
  const BoundedRun held = RunAndWaitWithin(run + L" --hold 120000 --exit 3", 60000);
  ASSERT_TRUE(held.endedInTime) << "waited for the grandchild that holds the output";
  EXPECT_EQ(held.result, 3);
  const std::string said(held.output.text.begin(), held.output.text.end());
  ASSERT_EQ(said.rfind("holder ", 0), 0u) << "kept \"" << said << "\"";
  const DWORD holderId = std::strtoul(said.c_str() + 7, nullptr, 10);
  HANDLE holder = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, holderId);
  ASSERT_NE(holder, nullptr) << holderId;
  EXPECT_EQ(WaitForSingleObject(holder, 0), DWORD{WAIT_TIMEOUT})
      << "returned while the grandchild still runs";
  TerminateProcess(holder, 0);
  WaitForSingleObject(holder, 10000);
  CloseHandle(holder);

  // The system's own NET, through the interpreter, in the console's code page.
  const BoundedRun net = RunAndWaitWithin(L"CMD.EXE /C NET STOP FQNOSUCHSERVICE", 60000);
  EXPECT_TRUE(net.endedInTime);
  EXPECT_NE(net.result, 0);
  EXPECT_FALSE(net.output.text.empty()) << "NET said nothing that was kept";
  std::printf("[ output   ] NET STOP of no such service: %d, said \"%ls\"\n", net.result,
              net.output.text.c_str());
}

TEST_F(CommandRunnerOnWine, ChildThatAsksForInputReadsEndOfItAndEnds) {
  // The child's console is hidden: a question asked there would never be
  // answered.
  const BoundedRun run =
      RunAndWaitWithin(L"CMD.EXE /C SET /P ANSWER=Continue? (Y/N) [N]: & EXIT 3", 30000);
  EXPECT_TRUE(run.endedInTime) << "the child was still waiting for an answer";
  EXPECT_EQ(run.result, 3);
}

TEST_F(CommandRunnerOnWine, ProgramThatDoesNotExistGivesMinusOne) {
  // That nothing is then waited for, the unit test tells from the calls made
  // (ChildThatCannotStartGivesMinusOneAndNothingElse): on an emulated machine
  // a clock cannot tell a short pause from the failed start's own cost.
  const BoundedRun run = RunAndWaitWithin(L"FQNOSUCHPROGRAM.EXE /C EXIT 5", 30000);
  EXPECT_TRUE(run.endedInTime);
  EXPECT_EQ(run.result, modShell::kNotStarted);
  EXPECT_STREQ(run.output.failedCall, "CreateProcess");
  EXPECT_EQ(run.output.error, DWORD{ERROR_FILE_NOT_FOUND});
}

TEST_F(CommandRunnerOnWine, InterpreterBesideTheCallerOrInTheCurrentDirectoryNeverRuns) {
  char self[MAX_PATH] = {0};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string besideUs = PlantDecoy(winetest::DirectoryOf(self), "CMD.EXE");
  const std::string inCurrent = PlantDecoy(directory_, "CMD.EXE");
  ASSERT_TRUE(SetCurrentDirectoryA(directory_.c_str()));

  EXPECT_EQ(RunAndWait(L"CMD.EXE /C EXIT 5", kHidden), 5);
  EXPECT_FALSE(Ran(besideUs));
  EXPECT_FALSE(Ran(inCurrent));
}

TEST_F(CommandRunnerOnWine, NetInTheCurrentDirectoryNeverRuns) {
  const std::string netExe = PlantDecoy(directory_, "NET.EXE");
  const std::string netBat = PlantBatchDecoy(directory_, "NET.BAT");
  ASSERT_TRUE(SetCurrentDirectoryA(directory_.c_str()));
  // The decoys work: started from here, the interpreter would find them.
  ASSERT_EQ(
      RunAndWait(L"CMD.EXE /C " + std::wstring(directory_.begin(), directory_.end()) + L"\\NET.BAT",
                 kHidden),
      77);
  ASSERT_TRUE(DeleteFileA((netBat + ".ran").c_str()));

  EXPECT_NE(RunAndWait(L"CMD.EXE /C NET STOP FQNOSUCHSERVICE", kHidden), 77);
  EXPECT_FALSE(Ran(netExe));
  EXPECT_FALSE(Ran(netBat));
}

}  // namespace
