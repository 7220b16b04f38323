// The whole FQSrvUninstall.exe run as a user or an installer runs it, against
// a real "FQ" service (our fixture), and watched the way a user would see it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "ServiceControl.h"
#include "Watcher.h"
#include "WineTest.h"

namespace winetest {

constexpr char kName[] = "FQ";
// A second instance of our fixture service, which starts the program itself.
constexpr char kLauncher[] = "FQLauncher";
// How long a run of the program, or an installer's command, may take before
// it counts as hung: the longest, in the emulated machine's 32-bit prefix,
// take under 30 s.
constexpr DWORD kProgramTimeoutMs = 120000;

struct Outcome {
  bool finished = false;
  DWORD exitCode = 0;
  std::uint64_t elapsedMs = 0;
  Sightings seen;
  bool progressGoneAfterwards = false;
};

// Each test has a folder of its own, and no FQ before or after it.
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Arg("program").empty()) << "run with --program=<FQSrvUninstall.exe>";
    ASSERT_FALSE(Arg("fixture").empty()) << "run with --fixture=<FQFixtureService.exe>";
    RemoveWhateverIsLeft(kName);
    directory_ = MakeTempDirectory();
    ASSERT_FALSE(directory_.empty());
    options_.logPath = directory_ + "\\fq.log";
  }
  void TearDown() override {
    if (launched_) RemoveWhateverIsLeft(kLauncher);  // and with it the program, if it still runs
    RemoveWhateverIsLeft(kName);
    RemoveDirectoryTree(directory_);
  }

  void RegisterFixture(bool start) {
    ASSERT_TRUE(RegisterService(kName, FixtureCommandLine(options_)));
    if (start) {
      ASSERT_TRUE(StartAndWait(kName));
    }
  }

  // Runs the program (by default the one built) in `directory` and watches it.
  Outcome RunProgram(std::string program = std::string(), const char *directory = nullptr) {
    if (program.empty()) program = WindowsPath(Arg("program"));
    return Run(program.c_str(), nullptr, directory, false);
  }

  // Runs the program with another token (CreateProcessAsUserA) and watches it.
  Outcome RunProgramAs(HANDLE token) {
    const std::string program = WindowsPath(Arg("program"));
    return Run(program.c_str(), nullptr, nullptr, false, token);
  }

  // Runs a command line that starts the program in turn, as an installer
  // does, and watches the windows of every process it starts, and of
  // `startedElsewhere` (a full path), the program as Windows Installer's
  // service starts it, outside the command's processes.
  Outcome RunCommand(std::string commandLine, const std::string &startedElsewhere = {}) {
    return Run(nullptr, &commandLine[0], nullptr, true, nullptr, startedElsewhere);
  }

  // Runs the program as an installer's action running as LocalSystem, or a
  // deployment agent, does: started by a service, in the services' window
  // station, where nobody sees a window. Nothing watches it there; the
  // launching service notes the exit code, the time and its window station's
  // flags, which say that nobody sees it indeed.
  Outcome RunFromAService();

  std::string Log() const { return ReadWholeFile(options_.logPath); }

  std::string directory_;
  FixtureOptions options_;

 private:
  Outcome Run(const char *program, char *commandLine, const char *directory, bool everyProcess,
              HANDLE token = nullptr, const std::string &startedElsewhere = {});

  bool launched_ = false;
};

}  // namespace winetest
