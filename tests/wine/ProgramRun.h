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
constexpr DWORD kProgramTimeoutMs = 60000;

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
  void SetUp() override;
  void TearDown() override;

  void RegisterFixture(bool start);

  // Runs the program (by default the one built) in `directory` and watches it.
  Outcome RunProgram(std::string program = std::string(), const char *directory = nullptr);

  // Runs a command line that starts the program in turn, as an installer
  // does, and watches the windows of every process.
  Outcome RunCommand(std::string commandLine);

  std::string Log() const { return ReadWholeFile(options_.logPath); }

  std::string directory_;
  FixtureOptions options_;

 private:
  Outcome Run(const char *program, char *commandLine, const char *directory, bool everyProcess);
};

}  // namespace winetest
