// What only Windows can decide, each a check of its own: its own NET asking
// about dependent services, session 0, a token without rights, the event as
// the Application log holds it, and msiexec's 1603. Under Wine each says why
// it cannot tell there and counts as skipped, never as passed.
#include <gtest/gtest.h>
#include <windows.h>
// Windows Installer's headers take windows.h as read.
#include <msi.h>

#include <string>
#include <vector>

#include "EventLogReader.h"
#include "MsiPackage.h"
#include "ProgramRun.h"
#include "ServiceControl.h"
#include "WineTest.h"
#include "eventlog/modEventLog.h"
#include "platform/ansi.h"

namespace {

using winetest::kName;
using winetest::Outcome;

#define SKIP_UNDER_WINE(why) \
  if (winetest::UnderWine()) GTEST_SKIP() << "not run under Wine: " << (why)

// A service of ours that depends on FQ.
const char kDependent[] = "FQDependent";
const char kRegistryOnlyImage[] = "C:\\nowhere\\fq.exe";
// The source of the one entry the checks write themselves.
const char kOwnSource[] = "FQSrvUninstall self-test";

// The SID of this process's user.
std::vector<BYTE> OwnSid() {
  std::vector<BYTE> sid;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return sid;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  if (size != 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
    PSID own = reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid;
    const auto *bytes = static_cast<const BYTE *>(own);
    sid.assign(bytes, bytes + GetLengthSid(own));
  }
  CloseHandle(token);
  return sid;
}

std::vector<BYTE> LocalSystemSid() {
  std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, sid.data(), &size)) size = 0;
  sid.resize(size);
  return sid;
}

// A token as an administrator's own is without elevation: the
// Administrators group disabled (for denying only), no privileges but the
// basic ones, medium integrity; proven so with CheckTokenMembership. Null,
// and `why` said, when it cannot be made or is not so.
HANDLE FilteredToken(std::string &why) {
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(),
                        TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT,
                        &own)) {
    why = "OpenProcessToken failed with error " + std::to_string(GetLastError());
    return nullptr;
  }
  std::vector<BYTE> admins(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(admins.size());
  SID_AND_ATTRIBUTES disable{};
  disable.Sid = admins.data();
  HANDLE filtered = nullptr;
  const BOOL made =
      CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins.data(), &size) &&
      CreateRestrictedToken(own, LUA_TOKEN, 1, &disable, 0, nullptr, 0, nullptr, &filtered);
  const DWORD error = GetLastError();
  CloseHandle(own);
  if (!made) {
    why = "CreateRestrictedToken failed with error " + std::to_string(error);
    return nullptr;
  }
  SID_IDENTIFIER_AUTHORITY labels = SECURITY_MANDATORY_LABEL_AUTHORITY;
  PSID medium = nullptr;
  bool labelled = false;
  if (AllocateAndInitializeSid(&labels, 1, SECURITY_MANDATORY_MEDIUM_RID, 0, 0, 0, 0, 0, 0, 0,
                               &medium)) {
    TOKEN_MANDATORY_LABEL label{};
    label.Label.Sid = medium;
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    labelled = SetTokenInformation(filtered, TokenIntegrityLevel, &label,
                                   sizeof label + GetLengthSid(medium)) != FALSE;
    FreeSid(medium);
  }
  // CheckTokenMembership asks an impersonation token.
  HANDLE asked = nullptr;
  BOOL member = TRUE;
  const bool checked = labelled && DuplicateToken(filtered, SecurityIdentification, &asked) &&
                       CheckTokenMembership(asked, admins.data(), &member);
  if (asked != nullptr) CloseHandle(asked);
  if (!labelled || !checked || member) {
    why = !labelled  ? "its integrity could not be set to medium"
          : !checked ? "CheckTokenMembership failed with error " + std::to_string(GetLastError())
                     : "the token made counts as a member of Administrators";
    CloseHandle(filtered);
    return nullptr;
  }
  return filtered;
}

// CreateProcessAsUserA wants this privilege of ours enabled.
void EnableIncreaseQuota() {
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &own)) return;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueA(nullptr, "SeIncreaseQuotaPrivilege", &privileges.Privileges[0].Luid)) {
    AdjustTokenPrivileges(own, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
  }
  CloseHandle(own);
}

// The record of a run whose deletion failed at `call` with `error`, exit
// code 1: what the program's entry is made from.
modEventLog::Run FailedRun(const char *call, DWORD error) {
  modEventLog::Run failed;
  failed.outcome = modEventLog::Outcome::Failed;
  failed.failedCall = call;
  failed.error = error;
  failed.exitCode = 1;
  failed.elevation = modEventLog::Elevation::Elevated;  // the kit refuses to run otherwise
  return failed;
}

// The record of a run that removed FQ, or marked it, as the elevated kit runs it.
modEventLog::Run RemovedRun(DWORD state) {
  modEventLog::Run removed;
  removed.serviceState = state;
  removed.elevation = modEventLog::Elevation::Elevated;
  return removed;
}

class OnlyOnWindows : public winetest::ProgramTest {
 protected:
  void TearDown() override {
    winetest::RemoveWhateverIsLeft(kDependent);
    if (!package_.empty()) RemoveThePackage();
    ProgramTest::TearDown();
  }

  // Where the Application log stands before a run. The first time, an entry
  // of the checks' own is written and read back: that the log holds what is
  // written and is read as it was written is the premise of each check of it.
  void MarkTheLog() {
    static bool proven = false;
    if (!proven) {
      DWORD before = 0;
      std::vector<kitlog::Entry> entries;
      const std::string text = "FQSrvUninstall self-test: the log is read back, " +
                               std::to_string(GetCurrentProcessId());
      const char *strings[] = {text.c_str()};
      HANDLE source = RegisterEventSourceA(nullptr, kOwnSource);
      const bool written =
          kitlog::NextRecord(before) && source != nullptr &&
          ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
      if (source != nullptr) DeregisterEventSource(source);
      ASSERT_TRUE(written) << COULD_NOT_CHECK "no entry could be written to the log: error "
                           << GetLastError();
      ASSERT_TRUE(kitlog::EntriesSince(before, kOwnSource, entries) && entries.size() == 1 &&
                  entries[0].strings == std::vector<std::string>{text})
          << COULD_NOT_CHECK "an entry written to the log was not read back as written";
      proven = true;
    }
    ASSERT_TRUE(kitlog::NextRecord(mark_)) << "cannot read the log: " << GetLastError();
  }

  // The entries the program left since the mark.
  std::vector<kitlog::Entry> Entries() const {
    std::vector<kitlog::Entry> entries;
    EXPECT_TRUE(kitlog::EntriesSince(mark_, modEventLog::kSource, entries))
        << "cannot read the log: " << GetLastError();
    return entries;
  }

  // The run left one entry, of the source, type, ID, text and fields the
  // program writes for `run` (modEventLog::EntryOf, as the unit tests hold
  // them), with `user` as its user. What NET said, in this Windows' language,
  // is taken from the entry: it must have said something.
  void ExpectOneEntry(modEventLog::Run run, const std::vector<BYTE> &user,
                      const std::string &what) {
    const std::vector<kitlog::Entry> entries = Entries();
    ASSERT_EQ(entries.size(), 1u) << what;
    const std::vector<std::string> &strings = entries[0].strings;
    ASSERT_EQ(strings.size(), 1u + modEventLog::kFieldCount) << what;
    if (run.stop == modEventLog::Stop::Ended) {
      const std::string &said = strings[1 + modEventLog::kNetSaidField];
      EXPECT_FALSE(said.empty()) << what << ": NET's words are missing";
      run.netSaid = ansi::ToText(said.data(), said.size());
    }
    // Windows' words for an error, in parentheses after its code, come in
    // the language of the program's session, which as LocalSystem may not
    // be ours: there our words and the code must be exactly ours, Windows'
    // any.
    const bool ourLanguage = user != LocalSystemSid() || run.error == 0;
    ExpectEntry(entries[0], modEventLog::EntryOf(run), user, what,
                ourLanguage ? std::string() : "error " + std::to_string(run.error) + " (");
  }

  static void ExpectEntry(const kitlog::Entry &entry, const modEventLog::Entry &expected,
                          const std::vector<BYTE> &user, const std::string &what,
                          const std::string &windowsWordsAfter = std::string()) {
    EXPECT_EQ(entry.source, modEventLog::kSource) << what;
    EXPECT_EQ(entry.type, expected.type) << what;
    EXPECT_EQ(entry.id, expected.eventId) << what;
    std::vector<std::string> strings{ansi::FromText(expected.text)};
    for (const std::wstring &field : expected.fields) strings.push_back(ansi::FromText(field));
    std::vector<std::string> got = entry.strings;
    const std::size_t from = strings[0].find(windowsWordsAfter);
    if (!windowsWordsAfter.empty() && from != std::string::npos && !got.empty()) {
      // "... error 1060 (<any>). ...": from the code on, up to the text's ")." after it.
      const std::size_t words = from + windowsWordsAfter.size();
      const std::size_t ours = strings[0].find(").", words);
      if (ours != std::string::npos && got[0].compare(0, words, strings[0], 0, words) == 0) {
        const std::string after = strings[0].substr(ours);
        const std::size_t theirs = got[0].rfind(after);
        if (theirs != std::string::npos && theirs >= words &&
            theirs + after.size() == got[0].size())
          got[0] = strings[0];
      }
    }
    EXPECT_EQ(got, strings) << what;
    EXPECT_FALSE(user.empty()) << what << ": cannot tell whose SID to expect";
    EXPECT_EQ(entry.userSid, user) << what;
    ::testing::Test::RecordProperty("entry_" + std::to_string(entry.record),
                                    entry.strings.empty() ? std::string() : entry.strings[0]);
  }

  bool RegisterDependent() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return false;
    winetest::FixtureOptions options;
    const std::string commandLine = winetest::FixtureCommandLine(options);
    SC_HANDLE service =
        CreateServiceA(manager, kDependent, kDependent, SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                       commandLine.c_str(), nullptr, nullptr, "FQ\0", nullptr, nullptr);
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
  }

  // Installs the package as a product is installed.
  void InstallThePackage() {
    const std::string package = winetest::WindowsPath(winetest::Arg("msi-package"));
    productCode_ = winetest::ProductCode(package);
    component_ = winetest::ComponentId(package);
    ASSERT_FALSE(productCode_.empty() || component_.empty()) << "cannot read " << package;
    package_ = package;
    const Outcome installed = RunCommand("msiexec /i \"" + package_ + "\" /qn");
    ASSERT_TRUE(installed.finished && installed.exitCode == 0) << installed.exitCode;
  }

  // Where Windows Installer has the package's program, or empty.
  std::string InstalledProgram() const {
    char path[MAX_PATH] = {0};
    DWORD size = MAX_PATH;
    MsiGetComponentPathA(productCode_.c_str(), component_.c_str(), path, &size);
    return path;
  }

  void RemoveThePackage() {
    winetest::RemoveWhateverIsLeft(kName);  // so that its removal succeeds
    if (MsiQueryProductStateA(productCode_.c_str()) == INSTALLSTATE_DEFAULT) {
      RunCommand("msiexec /x \"" + package_ + "\" /qn");
    }
    EXPECT_NE(MsiQueryProductStateA(productCode_.c_str()), INSTALLSTATE_DEFAULT)
        << "the package is still installed";
    package_.clear();
  }

  DWORD mark_ = 0;
  std::string package_;
  std::string productCode_;
  std::string component_;
};

TEST_F(OnlyOnWindows, WindowsOwnNetAsks) {
  SKIP_UNDER_WINE(
      "Wine's NET never asks about dependent services: its EnumDependentServices is a stub");
  RegisterFixture(true);
  ASSERT_TRUE(RegisterDependent()) << GetLastError();
  ASSERT_TRUE(winetest::StartAndWait(kDependent));
  MarkTheLog();
  const Outcome run = RunProgram();
  ASSERT_TRUE(run.finished) << "the program waited for an answer that nobody could give";
  EXPECT_EQ(run.exitCode, 0u) << "the manager accepts the deletion of a running service";
  EXPECT_TRUE(run.seen.boxes.empty());
  const std::string log = Log();
  ASSERT_NE(log.find("RUNNING\r\n"), std::string::npos) << "no log of FQ's to read: " << log;
  EXPECT_EQ(log.find("STOP"), std::string::npos) << "NET took its default answer: " << log;
  EXPECT_EQ(winetest::CurrentState(kName), DWORD{SERVICE_RUNNING}) << "marked, still running";
  EXPECT_EQ(winetest::CurrentState(kDependent), DWORD{SERVICE_RUNNING});
  modEventLog::Run marked = RemovedRun(SERVICE_RUNNING);  // a warning: marked, still running
  marked.stop = modEventLog::Stop::Ended;
  marked.stopExitCode = 2;  // NET: "No valid response was provided."
  ExpectOneEntry(marked, OwnSid(), "marked while its dependent runs");
}

TEST_F(OnlyOnWindows, SessionZero) {
  SKIP_UNDER_WINE("Wine gives every process session 1");
  ASSERT_TRUE(winetest::RegisterInRegistryOnly(kName, kRegistryOnlyImage));
  MarkTheLog();
  const Outcome run = RunFromAService();
  ASSERT_TRUE(run.finished) << "a box that nobody can see holds the program for ever";
  EXPECT_EQ(run.exitCode, 1u);
  modEventLog::Run failed = FailedRun("OpenService", ERROR_SERVICE_DOES_NOT_EXIST);
  failed.box = modEventLog::Box::NobodyInSession0;
  ExpectOneEntry(failed, LocalSystemSid(), "started by a service in session 0");
}

TEST_F(OnlyOnWindows, NotElevated) {
  SKIP_UNDER_WINE("Wine grants every right, so a token without them is refused nothing");
  RegisterFixture(false);
  EnableIncreaseQuota();
  std::string why;
  HANDLE token = FilteredToken(why);
  ASSERT_NE(token, nullptr) << COULD_NOT_CHECK "no token without elevation: " << why;
  MarkTheLog();
  const Outcome run = RunProgramAs(token);
  CloseHandle(token);
  ASSERT_TRUE(run.finished) << "the box was not found or not closed";
  EXPECT_EQ(run.exitCode, 1u);
  ASSERT_EQ(run.seen.boxes.size(), 1u);
  EXPECT_EQ(run.seen.boxes[0].text, "Access denied ...");
  EXPECT_EQ(winetest::CurrentState(kName), DWORD{SERVICE_STOPPED}) << "still registered";
  modEventLog::Run failed = FailedRun("OpenSCManager", ERROR_ACCESS_DENIED);
  failed.elevation = modEventLog::Elevation::NotElevated;
  ExpectOneEntry(failed, OwnSid(), "without elevation");
}

TEST_F(OnlyOnWindows, EventInTheLog) {
  SKIP_UNDER_WINE("Wine keeps no event log");
  const std::vector<BYTE> user = OwnSid();
  MarkTheLog();
  const Outcome none = RunProgram();
  ASSERT_TRUE(none.finished);
  EXPECT_TRUE(Entries().empty()) << "no FQ, no entry";

  RegisterFixture(false);
  MarkTheLog();
  ASSERT_TRUE(RunProgram().finished);
  ExpectOneEntry(RemovedRun(SERVICE_STOPPED), user, "a stopped FQ removed");
  ASSERT_TRUE(winetest::WaitUntilGone(kName, 5000));

  RegisterFixture(true);
  MarkTheLog();
  ASSERT_TRUE(RunProgram().finished);
  modEventLog::Run stopped = RemovedRun(SERVICE_STOPPED);
  stopped.stop = modEventLog::Stop::Ended;
  ExpectOneEntry(stopped, user, "a running FQ stopped by NET and removed");
  ASSERT_TRUE(winetest::WaitUntilGone(kName, 5000));

  ASSERT_TRUE(winetest::RegisterInRegistryOnly(kName, kRegistryOnlyImage));
  MarkTheLog();
  const Outcome refused = RunProgram();
  ASSERT_TRUE(refused.finished);
  EXPECT_EQ(refused.seen.boxes.size(), 1u);
  ExpectOneEntry(FailedRun("OpenService", ERROR_SERVICE_DOES_NOT_EXIST), user,
                 "an FQ known to the registry only");
}

TEST_F(OnlyOnWindows, MsiexecEndsWith1603) {
  SKIP_UNDER_WINE(
      "Wine's msiexec ends with 1627, and its rollback drops the product's registration");
  if (winetest::Arg("msi-package").empty())
    GTEST_SKIP() << "no --msi-package=<.msi>: built without wixl";
  InstallThePackage();
  if (HasFatalFailure()) return;
  const std::string installed = InstalledProgram();
  ASSERT_TRUE(winetest::FileExists(installed)) << installed;
  ASSERT_TRUE(winetest::RegisterInRegistryOnly(kName, kRegistryOnlyImage));
  MarkTheLog();
  const std::string log = directory_ + "\\uninstall.log";
  const Outcome run =
      RunCommand("msiexec /x \"" + package_ + "\" /qn /l*v \"" + log + "\"", installed);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 1603u);
  EXPECT_EQ(MsiQueryProductStateA(productCode_.c_str()), INSTALLSTATE_DEFAULT)
      << "rolled back: the product is installed";
  EXPECT_EQ(InstalledProgram(), installed);
  EXPECT_TRUE(winetest::FileExists(installed)) << "and its program is in place";
  // Windows Installer runs a deferred action without impersonation as
  // LocalSystem; whether in session 0, where nobody sees its box, or in the
  // session of whoever started the uninstallation, its documentation leaves
  // open. The program's entry says which it was; what was seen must agree.
  const std::vector<kitlog::Entry> entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  ASSERT_EQ(entries[0].strings.size(), 1u + modEventLog::kFieldCount);
  const std::string &box = entries[0].strings[1 + modEventLog::kBoxField];
  ::testing::Test::RecordProperty("action_box", box);
  modEventLog::Run failed = FailedRun("OpenService", ERROR_SERVICE_DOES_NOT_EXIST);
  if (box == "not shown: session 0") {
    failed.box = modEventLog::Box::NobodyInSession0;
    EXPECT_TRUE(run.seen.boxes.empty()) << "the entry says session 0, yet a box was seen";
  } else {
    failed.box = modEventLog::Box::Shown;
    ASSERT_EQ(run.seen.boxes.size(), 1u) << "the entry says " << box << ", yet no box was seen";
    EXPECT_EQ(run.seen.boxes[0].text, "Access denied ...");
  }
  ExpectOneEntry(failed, LocalSystemSid(), "the package's action, as LocalSystem");
}

}  // namespace
