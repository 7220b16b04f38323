// How installers call the program we ship: the calls the README gives them,
// each run against a real "FQ" service (our fixture).
#include <gtest/gtest.h>
#include <windows.h>
// Windows Installer's headers take windows.h as read.
#include <msi.h>

#include <string>
#include <vector>

#include "MsiPackage.h"
#include "ProgramRun.h"
#include "ServiceControl.h"
#include "WineTest.h"

namespace {

using winetest::kName;
using winetest::Outcome;

// The calls the README gives installers ("From an installer"), as an
// installer maker copies them from tests/wine/installer: an NSIS uninstaller
// with ExecWait (remove-fq.nsi), a batch file that runs the program as one of
// its commands (remove-fq.cmd), a Windows Installer package whose
// uninstallation runs the program as a deferred custom action
// (remove-fq.wxs), and an Inno Setup uninstaller with Exec (remove-fq.iss).
// The setups are installed first, as a product is; their uninstallers then
// run the program.
enum class Caller { kNsisUninstaller, kBatchFile, kWindowsInstaller, kInnoUninstaller };

// A box of another program's, open on the desktop all along, as the user's
// own "Save changes?" may be: what watches the program must leave it alone.
class SomeoneElsesBox {
 public:
  SomeoneElsesBox() : thread_(CreateThread(nullptr, 0, Show, nullptr, 0, nullptr)) {
    winetest::WaitUntil([] { return Find() != nullptr; }, 10000);
  }
  ~SomeoneElsesBox() {
    HWND box = Find();
    if (box != nullptr) PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    if (WaitForSingleObject(thread_, 10000) == WAIT_OBJECT_0) CloseHandle(thread_);
  }
  SomeoneElsesBox(const SomeoneElsesBox &) = delete;
  SomeoneElsesBox &operator=(const SomeoneElsesBox &) = delete;

  // Open and unanswered: the thread that shows it is still waiting.
  bool StillOpen() const {
    return Find() != nullptr && WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT;
  }
  static HWND Find() { return FindWindowA("#32770", kTitle); }

 private:
  static constexpr const char *kTitle = "Notes";
  static DWORD WINAPI Show(void *) {
    return static_cast<DWORD>(
        MessageBoxA(nullptr, "Save changes?", kTitle, MB_OKCANCEL | MB_ICONQUESTION));
  }
  HANDLE thread_;
};

// The lines of a log that name `word`, each from that word on (Inno Setup
// puts the time before each line).
std::vector<std::string> LinesNaming(const std::string &log, const std::string &word) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t found = line.find(word);
    if (found != std::string::npos) lines.push_back(line.substr(found));
    start = end + 1;
  }
  return lines;
}

class CalledByAnInstaller : public winetest::ProgramTest,
                            public ::testing::WithParamInterface<Caller> {
 protected:
  static void TearDownTestSuite() {
    winetest::RemoveDirectoryTree(innoOutput_);
    innoOutput_.clear();
  }

  void SetUp() override {
    ProgramTest::SetUp();
    if (HasFatalFailure()) return;
    switch (GetParam()) {
      case Caller::kNsisUninstaller:
        return InstallNsisSetup();
      case Caller::kBatchFile:
        return PutTheBatchFileBesideTheProgram();
      case Caller::kWindowsInstaller:
        return InstallPackage();
      case Caller::kInnoUninstaller:
        return InstallInnoSetup();
    }
  }

  void TearDown() override {
    // A package whose uninstallation was rolled back is still installed: on
    // Windows the whole product; on Wine its file and component, but not the
    // product's registration, which installing it again puts back. With FQ
    // cleared away, its uninstallation then takes all of it away, and the
    // prefix is left as it was found.
    if (!productCode_.empty() && !RegisteredProgram().empty()) {
      winetest::RemoveWhateverIsLeft(kName);
      if (MsiQueryProductStateA(productCode_.c_str()) == INSTALLSTATE_UNKNOWN) {
        RunCommand("msiexec /i \"" + package_ + "\" /qn");
      }
      RunCommand("msiexec /x \"" + package_ + "\" /qn");
      EXPECT_EQ(RegisteredProgram(), "") << "the package is still installed";
      EXPECT_FALSE(winetest::FileExists(installedProgram_));
      RemoveDirectoryA(winetest::DirectoryOf(installedProgram_).c_str());  // if left empty
    }
    ProgramTest::TearDown();
  }

  // What the caller made of the program's exit code.
  void ExpectTheCallerGot(const Outcome &run, DWORD code) const {
    const std::vector<std::string> writtenDown = {"FQSrvUninstall.exe exit code " +
                                                  std::to_string(code)};
    switch (GetParam()) {
      case Caller::kNsisUninstaller:  // hands it on as its own
        EXPECT_EQ(run.exitCode, code);
        break;
      case Caller::kBatchFile:  // writes it down and hands it on
        EXPECT_EQ(run.exitCode, code);
        EXPECT_EQ(ProgramLines(directory_ + "\\install.log"), writtenDown);
        break;
      case Caller::kInnoUninstaller:  // logs it, and goes on
        EXPECT_EQ(ProgramLines(UninstallLog()), writtenDown);
        // Its first process leaves before the copy it hands over to is done.
        EXPECT_FALSE(winetest::FileExists(InnoApp())) << "the uninstallation went on to its end";
        break;
      case Caller::kWindowsInstaller:
        // Any code but 0 fails the action, and the uninstallation is rolled
        // back. Windows, as documented, restores the whole product and
        // msiexec ends with 1603; Wine's rollback puts the files and their
        // components back but not the product's registration, and msiexec
        // ends with 1627. What holds on both is checked.
        if (code == 0) {
          EXPECT_EQ(run.exitCode, 0u) << ActionLines();
          EXPECT_EQ(MsiQueryProductStateA(productCode_.c_str()), INSTALLSTATE_UNKNOWN)
              << "the product is no longer installed";
          EXPECT_EQ(RegisteredProgram(), "");
          EXPECT_FALSE(winetest::FileExists(installedProgram_));
        } else {
          EXPECT_NE(run.exitCode, 0u) << "the uninstallation failed: " << ActionLines();
          EXPECT_EQ(RegisteredProgram(), installedProgram_)
              << "rolled back: Windows Installer has the program installed again";
          EXPECT_TRUE(winetest::FileExists(installedProgram_)) << "and it is in place";
        }
        break;
    }
  }

  std::string command_;
  // The program as the caller's service starts it (Windows Installer's), or
  // empty: the caller starts it itself.
  std::string startedElsewhere_;

 private:
  void InstallNsisSetup() {
    const std::string setup = winetest::Arg("nsis-setup");
    if (setup.empty()) GTEST_SKIP() << "no --nsis-setup=<setup.exe>: built without makensis";
    // A folder whose name holds a space, as under Program Files.
    const std::string folder = directory_ + "\\FQ Removal";
    const Outcome installed = RunCommand("\"" + winetest::WindowsPath(setup) + "\" /D=" + folder);
    ASSERT_TRUE(installed.finished && installed.exitCode == 0) << installed.exitCode;
    // The README's call: silent (the script is not), and in place, so that it
    // hands the exit code on; _?= last, unquoted even with the space.
    command_ = "\"" + folder + "\\uninstall.exe\" /S _?=" + folder;
  }

  void PutTheBatchFileBesideTheProgram() {
    ASSERT_FALSE(winetest::Arg("batch").empty()) << "run with --batch=<remove-fq.cmd>";
    const std::string program = directory_ + "\\FQSrvUninstall.exe";
    const std::string batch = directory_ + "\\remove-fq.cmd";
    ASSERT_TRUE(
        CopyFileA(winetest::WindowsPath(winetest::Arg("program")).c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(
        CopyFileA(winetest::WindowsPath(winetest::Arg("batch")).c_str(), batch.c_str(), FALSE));
    command_ = "cmd.exe /c \"" + batch + "\"";
  }

  void InstallPackage() {
    if (winetest::Arg("msi-package").empty()) {
      GTEST_SKIP() << "no --msi-package=<.msi>: built without wixl";
    }
    const std::string package = winetest::WindowsPath(winetest::Arg("msi-package"));
    const std::string productCode = winetest::ProductCode(package);
    const std::string component = winetest::ComponentId(package);
    ASSERT_FALSE(productCode.empty() || component.empty()) << "cannot read " << package;
    const Outcome installed = RunCommand("msiexec /i \"" + package + "\" /qn");
    ASSERT_TRUE(installed.finished && installed.exitCode == 0) << installed.exitCode;
    package_ = package;
    productCode_ = productCode;
    component_ = component;
    installedProgram_ = RegisteredProgram();
    ASSERT_TRUE(winetest::FileExists(installedProgram_)) << installedProgram_;
    command_ = "msiexec /x \"" + package_ + "\" /qn /l*v \"" + UninstallLog() + "\"";
    startedElsewhere_ = installedProgram_;
  }

  void InstallInnoSetup() {
    // A setup compiled beforehand (the self-test kit carries one), or one
    // compiled here from the script.
    std::string setup = winetest::WindowsPath(winetest::Arg("inno-setup"));
    if (setup.empty()) {
      if (winetest::Arg("iscc").empty()) GTEST_SKIP() << "no --iscc=<ISCC.exe>: not installed";
      ASSERT_FALSE(winetest::Arg("inno-script").empty()) << "run with --inno-script=<.iss>";
      CompileInnoSetup();
      if (HasFatalFailure()) return;
      setup = innoOutput_ + "\\Output\\FQRemovalSetup.exe";
    }
    const std::string app = InnoApp();
    const Outcome installed = RunCommand("\"" + setup +
                                         "\" /VERYSILENT /SUPPRESSMSGBOXES "
                                         "/NORESTART /DIR=\"" +
                                         app + "\"");
    ASSERT_TRUE(installed.finished && installed.exitCode == 0) << installed.exitCode;
    ASSERT_TRUE(winetest::FileExists(app + "\\FQSrvUninstall.exe"));
    // The log goes beside the application's folder, which the uninstaller removes.
    command_ = "\"" + app + "\\unins000.exe\" /VERYSILENT /SUPPRESSMSGBOXES /LOG=\"" +
               UninstallLog() + "\"";
  }

  // Once for the suite, as the README tells installer makers: the script and
  // the program in one folder, the program by its bare name, which Inno Setup
  // looks for beside the script; the setup goes to Output there. ISCC.exe is a
  // Windows program, so it runs here.
  void CompileInnoSetup() {
    if (!innoOutput_.empty()) return;
    const std::string folder = winetest::MakeTempDirectory();
    ASSERT_FALSE(folder.empty());
    const std::string script = folder + "\\remove-fq.iss";
    const bool staged = CopyFileA(winetest::WindowsPath(winetest::Arg("program")).c_str(),
                                  (folder + "\\FQSrvUninstall.exe").c_str(), FALSE) &&
                        CopyFileA(winetest::WindowsPath(winetest::Arg("inno-script")).c_str(),
                                  script.c_str(), FALSE);
    Outcome compiled;
    if (staged) {
      compiled = RunCommand("\"" + winetest::WindowsPath(winetest::Arg("iscc")) +
                            "\" /Q /DProgram=FQSrvUninstall.exe \"" + script + "\"");
    }
    if (!compiled.finished || compiled.exitCode != 0) winetest::RemoveDirectoryTree(folder);
    ASSERT_TRUE(staged) << "cannot copy the script and the program to " << folder;
    ASSERT_TRUE(compiled.finished && compiled.exitCode == 0) << compiled.exitCode;
    innoOutput_ = folder;
  }

  std::string UninstallLog() const { return directory_ + "\\uninstall.log"; }
  std::string InnoApp() const { return directory_ + "\\app"; }

  std::vector<std::string> ProgramLines(const std::string &log) const {
    return LinesNaming(winetest::ReadWholeFile(log), "FQSrvUninstall.exe ");
  }

  // How msiexec's log says the custom action (remove-fq.wxs) ended, for a
  // failure's message.
  std::string ActionLines() const {
    std::string lines;
    for (const std::string &line :
         LinesNaming(winetest::ReadWholeFile(UninstallLog()), "RemoveFQService. Return value")) {
      lines += "\n  " + line;
    }
    return lines;
  }

  // Where Windows Installer has the package's program installed, or empty.
  std::string RegisteredProgram() const {
    char path[MAX_PATH] = {0};
    DWORD size = MAX_PATH;
    MsiGetComponentPathA(productCode_.c_str(), component_.c_str(), path, &size);
    return path;
  }

  static inline std::string innoOutput_;
  std::string package_;
  std::string productCode_;
  std::string component_;
  std::string installedProgram_;
};

// Windows Installer runs the deferred action as LocalSystem, on Windows in
// session 0 or in the session of whoever started the uninstallation (its
// documentation leaves it open; the Windows-only check MsiexecEndsWith1603
// reads which from the program's event). In session 0 nobody, this test
// included, sees the program's window or box. Wine runs it in our session.
bool InSessionZero(const CalledByAnInstaller &test, const Outcome &run) {
  return test.GetParam() == Caller::kWindowsInstaller && !winetest::UnderWine() &&
         run.seen.progress == nullptr;
}

TEST_P(CalledByAnInstaller, GetsZeroOnceTheRunningServiceIsGone) {
  RegisterFixture(true);
  const Outcome run = RunCommand(command_, startedElsewhere_);
  ASSERT_TRUE(run.finished);
  EXPECT_TRUE(run.seen.progressVisible || InSessionZero(*this, run)) << "the program ran";
  EXPECT_TRUE(run.seen.boxes.empty());
  EXPECT_TRUE(winetest::WaitUntilGone(kName, 5000));
  ExpectTheCallerGot(run, 0);
}

TEST_P(CalledByAnInstaller, GetsOneWhenTheDeletionFails) {
  ASSERT_TRUE(winetest::RegisterInRegistryOnly(kName, "C:\\nowhere\\fq.exe"));
  const SomeoneElsesBox other;
  ASSERT_TRUE(other.StillOpen()) << "cannot show a box of another program";
  const Outcome run = RunCommand(command_, startedElsewhere_);
  ASSERT_TRUE(run.finished) << "the box was not found or not closed";
  EXPECT_TRUE(other.StillOpen()) << "another program's box was answered";
  if (InSessionZero(*this, run)) {
    EXPECT_TRUE(run.seen.boxes.empty()) << "another program's box was counted";
  } else {
    ASSERT_EQ(run.seen.boxes.size(), 1u) << "another program's box was counted";
    EXPECT_EQ(run.seen.boxes[0].title, "Error");
    EXPECT_EQ(run.seen.boxes[0].text, "Access denied ...");
  }
  ExpectTheCallerGot(run, 1);
}

INSTANTIATE_TEST_SUITE_P(Installers, CalledByAnInstaller,
                         ::testing::Values(Caller::kNsisUninstaller, Caller::kBatchFile,
                                           Caller::kWindowsInstaller, Caller::kInnoUninstaller),
                         [](const ::testing::TestParamInfo<Caller> &caller) {
                           switch (caller.param) {
                             case Caller::kNsisUninstaller:
                               return "NsisUninstaller";
                             case Caller::kBatchFile:
                               return "BatchFile";
                             case Caller::kWindowsInstaller:
                               return "WindowsInstaller";
                             case Caller::kInnoUninstaller:
                               return "InnoUninstaller";
                           }
                           return "Unknown";
                         });

}  // namespace
