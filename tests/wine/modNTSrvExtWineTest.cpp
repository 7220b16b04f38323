// The service operations against the real service manager, on a service of
// our own (the fixture) registered under a test name.
#include <gtest/gtest.h>

#include <string>

#include "ServiceControl.h"
#include "WineTest.h"
#include "service/modNTSrvExt.h"

namespace {

using modNTSrvExt::QueryServiceInfo;
using modNTSrvExt::RemoveService;
using modNTSrvExt::ServiceExists;

const char kName[] = "FQWineTest";
const wchar_t kNameText[] = L"FQWineTest";

std::wstring Widen(const std::string &text) { return std::wstring(text.begin(), text.end()); }

class ServiceOperationsOnWine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(winetest::Arg("fixture").empty()) << "run with --fixture=<FQFixtureService.exe>";
    winetest::RemoveWhateverIsLeft(kName);
    directory_ = winetest::MakeTempDirectory();
    options_.logPath = directory_ + "\\service.log";
  }
  void TearDown() override {
    winetest::RemoveWhateverIsLeft(kName);
    winetest::RemoveDirectoryTree(directory_);
  }

  // The outputs as the caller passes them, so a test sees which were written.
  std::int32_t stateCode_ = -100;
  std::int32_t startType_ = -100;
  std::wstring binaryPath_ = L"as passed";
  std::string directory_;
  winetest::FixtureOptions options_;
};

TEST_F(ServiceOperationsOnWine, StoppedServiceReportsStateStartTypeAndTrimmedPath) {
  const std::string path = winetest::FixtureCommandLine(options_);
  ASSERT_TRUE(winetest::RegisterService(kName, "  " + path + "  "));

  EXPECT_TRUE(QueryServiceInfo(kNameText, stateCode_, startType_, binaryPath_));
  EXPECT_EQ(stateCode_, 1);
  EXPECT_EQ(startType_, static_cast<std::int32_t>(SERVICE_DEMAND_START));
  EXPECT_EQ(binaryPath_, Widen(path)) << "surrounding spaces are removed";
}

class StartTypeOnWine : public ServiceOperationsOnWine,
                        public ::testing::WithParamInterface<DWORD> {};

TEST_P(StartTypeOnWine, ComesBackAsConfigured) {
  ASSERT_TRUE(winetest::RegisterService(kName, winetest::FixtureCommandLine(options_), GetParam()));
  EXPECT_TRUE(QueryServiceInfo(kNameText, stateCode_, startType_, binaryPath_));
  EXPECT_EQ(startType_, static_cast<std::int32_t>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(AutoDemandDisabled, StartTypeOnWine,
                         ::testing::Values(DWORD{SERVICE_AUTO_START}, DWORD{SERVICE_DEMAND_START},
                                           DWORD{SERVICE_DISABLED}));

TEST_F(ServiceOperationsOnWine, BinaryPathLongerThan255CharactersComesBackWhole) {
  // The service never starts here, so its log may live anywhere, however deep.
  options_.logPath = directory_ + "\\" + std::string(300, 'd') + "\\service.log";
  const std::string path = winetest::FixtureCommandLine(options_);
  ASSERT_GT(path.size(), 255u);
  ASSERT_TRUE(winetest::RegisterService(kName, path));

  EXPECT_TRUE(QueryServiceInfo(kNameText, stateCode_, startType_, binaryPath_));
  EXPECT_EQ(binaryPath_, Widen(path));
}

TEST_F(ServiceOperationsOnWine, LiveStatesMapToTheirCodes) {
  options_.pausable = true;
  options_.stopPendingMs = 3000;
  ASSERT_TRUE(winetest::RegisterService(kName, winetest::FixtureCommandLine(options_)));
  ASSERT_TRUE(winetest::StartAndWait(kName));
  EXPECT_TRUE(QueryServiceInfo(kNameText, stateCode_, startType_, binaryPath_));
  EXPECT_EQ(stateCode_, 4) << "running";

  ASSERT_TRUE(winetest::SendControl(kName, SERVICE_CONTROL_PAUSE, SERVICE_PAUSED));
  EXPECT_TRUE(QueryServiceInfo(kNameText, stateCode_, startType_, binaryPath_));
  EXPECT_EQ(stateCode_, 7) << "paused";

  ASSERT_TRUE(winetest::SendControl(kName, SERVICE_CONTROL_STOP, SERVICE_STOP_PENDING));
  EXPECT_TRUE(QueryServiceInfo(kNameText, stateCode_, startType_, binaryPath_));
  EXPECT_EQ(stateCode_, 3) << "stop pending";

  ASSERT_TRUE(winetest::WaitForState(kName, SERVICE_STOPPED, 10000));
  EXPECT_TRUE(QueryServiceInfo(kNameText, stateCode_, startType_, binaryPath_));
  EXPECT_EQ(stateCode_, 1) << "stopped";
}

TEST_F(ServiceOperationsOnWine, StartPendingMapsToTheCodeOfPaused) {
  options_.startPendingMs = 30000;
  ASSERT_TRUE(winetest::RegisterService(kName, winetest::FixtureCommandLine(options_)));
  ASSERT_TRUE(winetest::StartAndWait(kName, SERVICE_START_PENDING));
  EXPECT_TRUE(QueryServiceInfo(kNameText, stateCode_, startType_, binaryPath_));
  EXPECT_EQ(stateCode_, 7);
}

TEST_F(ServiceOperationsOnWine, MissingServiceLeavesTheOutputsAsPassed) {
  EXPECT_FALSE(QueryServiceInfo(kNameText, stateCode_, startType_, binaryPath_));
  EXPECT_EQ(stateCode_, -100);
  EXPECT_EQ(startType_, -100);
  EXPECT_EQ(binaryPath_, L"as passed");
  EXPECT_FALSE(ServiceExists(kNameText));
  EXPECT_FALSE(RemoveService(kNameText));
}

TEST_F(ServiceOperationsOnWine, OnlyTheQueryTrimsTheName) {
  ASSERT_TRUE(winetest::RegisterService(kName, winetest::FixtureCommandLine(options_)));
  const std::wstring padded = std::wstring(L" ") + kNameText + L" ";

  EXPECT_TRUE(QueryServiceInfo(padded, stateCode_, startType_, binaryPath_));
  EXPECT_EQ(stateCode_, 1);
  EXPECT_FALSE(ServiceExists(padded));
  EXPECT_FALSE(RemoveService(padded));
  EXPECT_EQ(winetest::CurrentState(kName), static_cast<DWORD>(SERVICE_STOPPED)) << "still there";
}

TEST_F(ServiceOperationsOnWine, RegisteredServiceExistsUntilRemoved) {
  ASSERT_TRUE(winetest::RegisterService(kName, winetest::FixtureCommandLine(options_)));
  EXPECT_TRUE(ServiceExists(kNameText));

  EXPECT_TRUE(RemoveService(kNameText));
  EXPECT_TRUE(winetest::WaitUntilGone(kName, 5000));
  EXPECT_FALSE(ServiceExists(kNameText)) << "the manager removed its registry key too";
  EXPECT_FALSE(RemoveService(kNameText)) << "nothing left to remove";
}

TEST_F(ServiceOperationsOnWine, ServiceKnownOnlyToTheRegistryExistsButCannotBeQueriedOrRemoved) {
  ASSERT_TRUE(winetest::RegisterInRegistryOnly(kName, "C:\\nowhere\\fq.exe"));

  EXPECT_TRUE(ServiceExists(kNameText));
  EXPECT_FALSE(QueryServiceInfo(kNameText, stateCode_, startType_, binaryPath_));
  EXPECT_EQ(stateCode_, -100);
  EXPECT_FALSE(RemoveService(kNameText));
}

}  // namespace
