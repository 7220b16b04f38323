// The whole FQSrvUninstall.exe against a real "FQ" service (our fixture) in
// each state it can meet, watched the way a user would see it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "ProgramRun.h"
#include "ServiceControl.h"
#include "WineTest.h"

namespace {

using winetest::kName;
using winetest::Outcome;

// For one test, a NET.EXE of ours takes the place of the system's, which is
// put back afterwards. Wine runs the file only when the test program's run
// has WINEDLLOVERRIDES=net.exe=n (CMakeLists.txt), else its own built-in NET.
class SystemNetReplaced {
 public:
  explicit SystemNetReplaced(const std::string &replacement) {
    char directory[MAX_PATH] = {0};
    GetSystemDirectoryA(directory, MAX_PATH);
    net_ = std::string(directory) + "\\net.exe";
    saved_ = net_ + ".saved";
    replaced_ = CopyFileA(net_.c_str(), saved_.c_str(), FALSE) &&
                CopyFileA(replacement.c_str(), net_.c_str(), FALSE);
  }
  ~SystemNetReplaced() {
    if (winetest::FileExists(saved_) && CopyFileA(saved_.c_str(), net_.c_str(), FALSE)) {
      DeleteFileA(saved_.c_str());
    }
    DeleteFileA(AnswerPath().c_str());
  }
  SystemNetReplaced(const SystemNetReplaced &) = delete;
  SystemNetReplaced &operator=(const SystemNetReplaced &) = delete;

  bool replaced() const { return replaced_; }
  std::string AnswerPath() const { return net_ + ".answer"; }  // FQAskingNet leaves it

 private:
  std::string net_;
  std::string saved_;
  bool replaced_ = false;
};

using ProgramOnWine = winetest::ProgramTest;

// The scenarios that need Wine to load a file of ours instead of its built-in
// one: each runs alone, with WINEDLLOVERRIDES saying so (CMakeLists.txt).
using UnderDllOverrides = ProgramOnWine;

// FQ is still there, marked for deletion by the program: its deletion is
// refused as already done (1072).
void ExpectMarkedForDeletion() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(manager, kName, DELETE);
  ASSERT_NE(service, nullptr) << GetLastError();
  EXPECT_FALSE(DeleteService(service));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SERVICE_MARKED_FOR_DELETE}) << "marked by the program";
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

TEST_F(ProgramOnWine, NoServiceEndsAtOnceShowingNothing) {
  const Outcome run = RunProgram();
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_FALSE(run.seen.progressVisible);
  EXPECT_TRUE(run.seen.boxes.empty());
  // That it makes no pause, Wine's trace of its calls tells (no-service-trace.sh):
  // the clock cannot, where starting a program costs seconds and scatters by
  // more than the pause.
  std::printf("[ timing   ] no service: %llu ms\n", static_cast<unsigned long long>(run.elapsedMs));
}

TEST_F(ProgramOnWine, StoppedServiceIsRemovedAfterOnePause) {
  RegisterFixture(false);
  const Outcome run = RunProgram();
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(winetest::WaitUntilGone(kName, 2000));
  EXPECT_GE(run.elapsedMs, 1000u);
  EXPECT_EQ(Log(), "") << "a stopped service is not started, nor sent anything";
  EXPECT_TRUE(run.seen.progressVisible && run.seen.bothLines);
  EXPECT_TRUE(run.seen.boxes.empty());
  EXPECT_TRUE(run.progressGoneAfterwards);
}

TEST_F(ProgramOnWine, RunningServiceIsStoppedThenRemoved) {
  RegisterFixture(true);
  const Outcome run = RunProgram();
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(Log().find("STOP\r\n"), std::string::npos) << Log();
  EXPECT_TRUE(winetest::WaitUntilGone(kName, 5000));
  EXPECT_GE(run.elapsedMs, 2100u) << "two 1000 ms pauses and the runner's 100 ms";
  EXPECT_TRUE(run.seen.boxes.empty());
  std::printf("[ timing   ] running service: %llu ms from start to exit (floor 2100 ms + stop)\n",
              static_cast<unsigned long long>(run.elapsedMs));
}

TEST_F(ProgramOnWine, PausedServiceIsStoppedThenRemoved) {
  options_.pausable = true;
  RegisterFixture(true);
  ASSERT_TRUE(winetest::SendControl(kName, SERVICE_CONTROL_PAUSE, SERVICE_PAUSED));
  const Outcome run = RunProgram();
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  const std::string log = Log();
  EXPECT_NE(log.find("PAUSE\r\nSTOP\r\n"), std::string::npos) << log;
  EXPECT_TRUE(winetest::WaitUntilGone(kName, 5000));
}

// A service still starting is not stopped by the program (it is not
// stopped), so NET sends the stop. What follows is the service manager's:
// Windows' refuses a stop sent to a service that is START_PENDING
// (ControlService: ERROR_SERVICE_CANNOT_ACCEPT_CTRL, 1061), so NET fails, FQ
// never gets the stop and is only marked for deletion, running on; Wine's
// sends it, and FQ stops and goes. The exit code is 0 either way: the
// deletion was accepted.
TEST_F(ProgramOnWine, StartPendingServiceIsRemovedOrMarked) {
  options_.startPendingMs = 30000;
  ASSERT_TRUE(winetest::RegisterService(kName, winetest::FixtureCommandLine(options_)));
  ASSERT_TRUE(winetest::StartAndWait(kName, SERVICE_START_PENDING));
  const Outcome run = RunProgram();
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.seen.boxes.empty());
  const std::string log = Log();
  ASSERT_NE(log.find("START_PENDING\r\n"), std::string::npos) << "no log of the fixture's: " << log;
  if (winetest::UnderWine()) {
    EXPECT_NE(log.find("START_PENDING\r\nSTOP\r\n"), std::string::npos)
        << "Wine's service manager sends the stop: " << log;
    EXPECT_TRUE(winetest::WaitUntilGone(kName, 5000));
  } else {
    EXPECT_EQ(log.find("STOP\r\n"), std::string::npos)
        << "Windows' service manager sends no stop to a service still starting (1061): " << log;
    EXPECT_EQ(winetest::CurrentState(kName), DWORD{SERVICE_START_PENDING}) << "still starting";
    ExpectMarkedForDeletion();
  }
}

TEST_F(ProgramOnWine, SlowToStopServiceShowsTheWindowAndIsStillRemoved) {
  options_.stopPendingMs = 4000;
  RegisterFixture(true);
  const Outcome run = RunProgram();
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u) << "the deletion was accepted while the stop was pending";
  EXPECT_TRUE(run.seen.progressVisible);
  EXPECT_TRUE(run.seen.bothLines) << "both lines of the message on screen";
  EXPECT_TRUE(run.progressGoneAfterwards);
  EXPECT_NE(Log().find("STOP\r\n"), std::string::npos);
  EXPECT_TRUE(winetest::WaitUntilGone(kName, 15000)) << "gone once it has stopped";
  std::printf("[ timing   ] stop-pending service: %llu ms from start to exit\n",
              static_cast<unsigned long long>(run.elapsedMs));
}

TEST_F(ProgramOnWine, ServiceIgnoringTheStopDoesNotHoldTheProgramAndRunsOnMarked) {
  options_.ignoreStop = true;
  RegisterFixture(true);
  const Outcome run = RunProgram();
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u) << "the manager accepts the deletion of a running service";
  EXPECT_NE(Log().find("STOP\r\n"), std::string::npos);
  EXPECT_TRUE(run.seen.boxes.empty());
  EXPECT_EQ(winetest::CurrentState(kName), DWORD{SERVICE_RUNNING}) << "still there";
  ExpectMarkedForDeletion();
}

TEST_F(ProgramOnWine, ServiceIgnoringTheStopAndMarked_RunAgainIsNoFailure) {
  // What the run above leaves: FQ running, marked. Run again, the program
  // sends the stop again, and its deletion is refused as already done (1072).
  options_.ignoreStop = true;
  RegisterFixture(true);
  ASSERT_TRUE(winetest::MarkForDeletion(kName));
  const Outcome again = RunProgram();
  ASSERT_TRUE(again.finished);
  EXPECT_EQ(again.exitCode, 0u);
  EXPECT_TRUE(again.seen.boxes.empty());
  EXPECT_EQ(winetest::CurrentState(kName), DWORD{SERVICE_RUNNING}) << "still there, marked";
}

TEST_F(ProgramOnWine, RunningServiceMarkedForDeletionBeforehandIsGoneWithoutABox) {
  RegisterFixture(true);
  ASSERT_TRUE(winetest::MarkForDeletion(kName));
  const Outcome run = RunProgram();
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u) << "stopped, it went: nothing was left to delete";
  EXPECT_TRUE(run.seen.boxes.empty());
  EXPECT_NE(Log().find("STOP\r\n"), std::string::npos);
  EXPECT_TRUE(winetest::WaitUntilGone(kName, 5000));
}

TEST_F(ProgramOnWine, ServiceMarkedForDeletionAndHeldOpenElsewhereIsNoFailure) {
  // A marked service stays until the last handle to it is closed: another
  // program (the services console, say) holds one here.
  RegisterFixture(false);
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE held = OpenServiceA(manager, kName, SERVICE_QUERY_STATUS);
  ASSERT_NE(held, nullptr);
  ASSERT_TRUE(winetest::MarkForDeletion(kName));
  const Outcome run = RunProgram();
  EXPECT_EQ(winetest::CurrentState(kName), DWORD{SERVICE_STOPPED}) << "still there, marked";
  CloseServiceHandle(held);
  CloseServiceHandle(manager);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u) << "its deletion was accepted before";
  EXPECT_TRUE(run.seen.boxes.empty());
  EXPECT_TRUE(winetest::WaitUntilGone(kName, 5000));
}

TEST_F(ProgramOnWine, StoppedServiceHeldOpenElsewhereIsMarkedAndGoesOnceClosed) {
  // Another program (the services console, say) holds a handle to FQ all
  // along: its deletion is accepted, but it stays until that handle closes.
  RegisterFixture(false);
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE held = OpenServiceA(manager, kName, SERVICE_QUERY_STATUS);
  ASSERT_NE(held, nullptr);
  const Outcome run = RunProgram();
  const DWORD stateMeanwhile = winetest::CurrentState(kName);
  CloseServiceHandle(held);
  CloseServiceHandle(manager);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u) << "its deletion was accepted";
  EXPECT_TRUE(run.seen.boxes.empty());
  EXPECT_EQ(stateMeanwhile, DWORD{SERVICE_STOPPED}) << "held open, it is still there";
  EXPECT_TRUE(winetest::WaitUntilGone(kName, 5000)) << "gone once the handle is closed";
}

TEST_F(UnderDllOverrides, NetThatAsks_ReadsNoAnswerAndTheRemovalGoesOn) {
  ASSERT_FALSE(winetest::Arg("asking-net").empty()) << "run with --asking-net=<FQAskingNet.exe>";
  char overrides[256] = {0};
  GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
  ASSERT_NE(std::string(overrides).find("net.exe=n"), std::string::npos)
      << "run with WINEDLLOVERRIDES=net.exe=n, or Wine runs its own NET";
  RegisterFixture(true);
  const SystemNetReplaced net(winetest::WindowsPath(winetest::Arg("asking-net")));
  ASSERT_TRUE(net.replaced());
  const Outcome run = RunProgram();
  ASSERT_TRUE(run.finished) << "the program waited for an answer that nobody could give";
  EXPECT_EQ(run.exitCode, 0u) << "the manager accepts the deletion of a running service";
  EXPECT_TRUE(run.seen.boxes.empty());
  EXPECT_EQ(winetest::ReadWholeFile(net.AnswerPath()), "end of input") << "NET was asked";
  EXPECT_EQ(Log().find("STOP"), std::string::npos) << "NET took its default answer: " << Log();
}

TEST_F(ProgramOnWine, RegistryOnlyServiceGetsOneErrorBoxWhileTheWindowIsUp) {
  ASSERT_TRUE(winetest::RegisterInRegistryOnly(kName, "C:\\nowhere\\fq.exe"));

  const Outcome run = RunProgram();
  ASSERT_TRUE(run.finished) << "the box was not found or not closed";
  EXPECT_EQ(run.exitCode, 1u);
  ASSERT_EQ(run.seen.boxes.size(), 1u);
  const winetest::SeenBox &box = run.seen.boxes[0];
  EXPECT_EQ(box.title, "Error");
  EXPECT_EQ(box.text, "Access denied ...");
  EXPECT_TRUE(box.progressVisible) << "the box shows while the window is up";
  EXPECT_TRUE(box.ownedByProgress);
  EXPECT_TRUE(run.progressGoneAfterwards);
}

TEST_F(ProgramOnWine, StartedByAServiceWhereNobodySees_FailedDeletionEndsWithOneAndNoBox) {
  ASSERT_TRUE(winetest::RegisterInRegistryOnly(kName, "C:\\nowhere\\fq.exe"));
  const Outcome run = RunFromAService();
  ASSERT_TRUE(run.finished) << "a box that nobody can see holds the program for ever";
  EXPECT_EQ(run.exitCode, 1u);
  std::printf("[ timing   ] failed deletion, started by a service: %llu ms\n",
              static_cast<unsigned long long>(run.elapsedMs));
}

TEST_F(ProgramOnWine, StartedByAServiceWhereNobodySees_RunningServiceIsRemoved) {
  RegisterFixture(true);
  const Outcome run = RunFromAService();
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(Log().find("STOP\r\n"), std::string::npos);
  EXPECT_TRUE(winetest::WaitUntilGone(kName, 5000));
}

TEST_F(ProgramOnWine, DecoysBesideTheProgramAndInItsDirectoryNeverRun) {
  const std::string program = directory_ + "\\FQSrvUninstall.exe";
  const std::string child = winetest::WindowsPath(winetest::Arg("child"));
  ASSERT_TRUE(
      CopyFileA(winetest::WindowsPath(winetest::Arg("program")).c_str(), program.c_str(), FALSE));
  for (const char *name : {"CMD.EXE", "NET.EXE"}) {
    ASSERT_TRUE(CopyFileA(child.c_str(), (directory_ + "\\" + name).c_str(), FALSE));
  }
  const std::string netBat = directory_ + "\\NET.BAT";
  ASSERT_TRUE(winetest::WriteWholeFile(netBat, "@echo ran> \"" + netBat + ".ran\"\r\n"));
  RegisterFixture(true);

  const Outcome run = RunProgram(program, directory_.c_str());
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  for (const char *name : {"CMD.EXE", "NET.EXE", "NET.BAT"}) {
    EXPECT_FALSE(winetest::FileExists(directory_ + "\\" + name + ".ran")) << name << " ran";
  }
  EXPECT_NE(Log().find("STOP\r\n"), std::string::npos) << "the real NET stopped it";
  EXPECT_TRUE(winetest::WaitUntilGone(kName, 5000));
}

TEST_F(ProgramOnWine, UncaughtExceptionEndsTheProgramWithThreeAndNoBox) {
  ASSERT_FALSE(winetest::Arg("uncaught").empty()) << "run with --uncaught=<FQUncaught.exe>";
  const Outcome run = RunProgram(winetest::WindowsPath(winetest::Arg("uncaught")));
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 3u) << "abort()'s exit code, which installers are told of";
  // Wine's msvcrt shows no box for abort(); Windows' does, which is why the
  // handler does not call it. This holds that no box of any kind comes.
  EXPECT_TRUE(run.seen.boxes.empty());
}

// DLLs of ours that note their own load (FQPlantedDll), planted under the
// names of DLLs that Windows loads late on a program's behalf and takes from
// beside the program, or from the current directory, when someone put them
// there. Wine prefers its own built-in copies unless the run's environment says
// native first, as Windows has it for every DLL that is not a KnownDLL: this
// test runs alone with WINEDLLOVERRIDES for these names (CMakeLists.txt), or,
// where a Windows program starts it (the self-test kit's runner, whose
// children Wine hands no WINEDLLOVERRIDES), with Wine's own setting of them
// for the program: AppDefaults\FQSrvUninstall.exe\DllOverrides in
// HKEY_CURRENT_USER\Software\Wine.
const char *const kPlantedDlls[] = {"uxtheme.dll"};

bool WineTakesPlantedDlls() {
  char overrides[256] = {0};
  GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
  if (std::string(overrides).find("uxtheme") != std::string::npos) return true;
  char setting[64] = {0};
  DWORD size = sizeof setting;
  return RegGetValueA(HKEY_CURRENT_USER,
                      "Software\\Wine\\AppDefaults\\FQSrvUninstall.exe\\DllOverrides", "uxtheme",
                      RRF_RT_REG_SZ, nullptr, setting, &size) == ERROR_SUCCESS &&
         std::string(setting).rfind("native", 0) == 0;
}

TEST_F(UnderDllOverrides, PlantedDllsBesideTheProgramAndInItsCurrentDirectoryNeverLoad) {
  const std::string planted = winetest::WindowsPath(winetest::Arg("planted-dll"));
  ASSERT_FALSE(winetest::Arg("planted-dll").empty()) << "run with --planted-dll=<FQPlantedDll.dll>";
  // Windows takes the first file found; Wine only where told to.
  if (winetest::UnderWine()) {
    ASSERT_TRUE(WineTakesPlantedDlls())
        << "run with WINEDLLOVERRIDES=uxtheme=n,b, or Wine loads its own";
  }
  const std::string folder = directory_ + "\\program";
  const std::string current = directory_ + "\\current";
  const std::string program = folder + "\\FQSrvUninstall.exe";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) &&
              CreateDirectoryA(current.c_str(), nullptr));
  for (const std::string &where : {folder, current}) {
    for (const char *name : kPlantedDlls) {
      ASSERT_TRUE(CopyFileA(planted.c_str(), (where + "\\" + name).c_str(), FALSE));
    }
  }
  // It is a DLL of our bitness that notes its load: one loaded on purpose does.
  const std::string control = directory_ + "\\control.dll";
  ASSERT_TRUE(CopyFileA(planted.c_str(), control.c_str(), FALSE));
  EXPECT_EQ(LoadLibraryA(control.c_str()), nullptr) << "it refuses to load";
  ASSERT_TRUE(winetest::FileExists(control + ".loaded"));

  // Where a planted DLL notes its load.
  std::vector<std::string> markers;
  for (const std::string &where : {folder, current}) {
    for (const char *name : kPlantedDlls) markers.push_back(where + "\\" + name + ".loaded");
  }
  const auto anyLoaded = [&] {
    return std::any_of(markers.begin(), markers.end(), winetest::FileExists);
  };
  // The control first: the program without its guard, in the program's place
  // and run the same way, loads a planted DLL; without that, none loaded
  // below would prove nothing.
  ASSERT_FALSE(winetest::Arg("unguarded").empty()) << "run with --unguarded=<FQUnguarded.exe>";
  ASSERT_TRUE(
      CopyFileA(winetest::WindowsPath(winetest::Arg("unguarded")).c_str(), program.c_str(), FALSE));
  RegisterFixture(true);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION unguarded{};
  ASSERT_TRUE(CreateProcessA(program.c_str(), nullptr, nullptr, nullptr, FALSE, DETACHED_PROCESS,
                             nullptr, current.c_str(), &startup, &unguarded))
      << GetLastError();
  winetest::WaitUntil(
      [&] { return anyLoaded() || WaitForSingleObject(unguarded.hProcess, 0) == WAIT_OBJECT_0; },
      30000);
  const bool loadedWithoutTheGuard = anyLoaded();
  // It need go no further: a theme engine that will not load may hold it up.
  TerminateProcess(unguarded.hProcess, 99);
  WaitForSingleObject(unguarded.hProcess, 5000);
  CloseHandle(unguarded.hThread);
  CloseHandle(unguarded.hProcess);
  winetest::RemoveWhateverIsLeft(kName);
  for (const std::string &marker : markers) DeleteFileA(marker.c_str());
  ASSERT_TRUE(loadedWithoutTheGuard)
      << COULD_NOT_CHECK "the program without its guard loaded no planted DLL here either";
  ASSERT_TRUE(
      CopyFileA(winetest::WindowsPath(winetest::Arg("program")).c_str(), program.c_str(), FALSE));

  const auto expectNoneLoaded = [&](const char *run) {
    for (const std::string &marker : markers) {
      EXPECT_FALSE(winetest::FileExists(marker)) << marker << ": loaded " << run;
    }
  };

  RegisterFixture(true);
  const Outcome removed = RunProgram(program, current.c_str());
  expectNoneLoaded("removing a running FQ");
  ASSERT_TRUE(removed.finished);
  EXPECT_EQ(removed.exitCode, 0u);
  EXPECT_TRUE(removed.seen.progressVisible && removed.seen.bothLines);
  EXPECT_TRUE(winetest::WaitUntilGone(kName, 5000));

  ASSERT_TRUE(winetest::RegisterInRegistryOnly(kName, "C:\\nowhere\\fq.exe"));
  const Outcome refused = RunProgram(program, current.c_str());
  expectNoneLoaded("showing the error box");
  ASSERT_TRUE(refused.finished);
  EXPECT_EQ(refused.exitCode, 1u);
  EXPECT_EQ(refused.seen.boxes.size(), 1u);
}

}  // namespace
