// What the self-test kit decides on its own, where Wine cannot show it: that
// it refuses a machine with a real FQ or a process that is not elevated,
// changing nothing, and finds what a stopped run left; and that it reads an
// entry back from the Application log as the program wrote it.
#include <string>
#include <vector>

#include "StandinTest.h"
#include "app/Uninstall.h"
#include "tests/selftest/EventLogReader.h"
#include "tests/selftest/KitGuard.h"

namespace {

const char kRealImage[] = "C:\\Program Files\\FernQuay\\fq.exe";
const char kKitBin[] = "C:\\FQ self-test\\bin";
const char kFixture[] = "C:\\FQ self-test\\bin\\FQFixtureService.exe";
const char kKitFixture[] = "\"C:\\FQ self-test\\bin\\FQFixtureService.exe\" --log C:\\t\\fq.log";

class KitGuardTest : public StandinTest {
 protected:
  static void RegistryOnly(const std::string &name, const std::string &imagePath) {
    machine().setStringValue(ServiceKey(name), "ImagePath", REG_EXPAND_SZ, imagePath);
  }
  // Looked at, the machine is as it was: nothing deleted, every handle closed.
  static kitguard::Survey LookChangingNothing(const std::string &what) {
    kitguard::Survey survey = kitguard::Look(kFixture);
    EXPECT_EQ(0, machine().countCalls("DeleteService")) << what;
    EXPECT_EQ(0, machine().countCalls("CreateProcessA")) << what;
    EXPECT_TRUE(machine().openHandles().empty()) << what;
    return survey;
  }
};

TEST_F(KitGuardTest, CleanElevatedMachine_MayRunAndNothingIsLeft) {
  const kitguard::Survey survey = LookChangingNothing("clean");
  EXPECT_EQ("", survey.refusal);
  EXPECT_TRUE(survey.services.empty());
  EXPECT_TRUE(survey.keys.empty());
}

TEST_F(KitGuardTest, RealFq_IsRefusedInOneLineNamingIt_EvenWhenNotElevated) {
  const std::string refusedEnd =
      ": the checks would remove it. Run the self-test on a test machine without FQ.";
  const std::string key = "the key HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\FQ";
  struct Case {
    const char *what;
    void (*arrange)();
    std::string refusal;
  };
  const Case cases[] = {
      {"a service", [] { InstallService("FQ", SERVICE_RUNNING, kRealImage); },
       "this machine has the service FQ (" + std::string(kRealImage) + ")" + refusedEnd},
      {"a key the manager does not know", [] { RegistryOnly("FQ", kRealImage); },
       "this machine has " + key + " (ImagePath " + kRealImage + ")" + refusedEnd},
      {"a key without ImagePath", [] { machine().addKey(ServiceKey("FQ")); },
       "this machine has " + key + " (no ImagePath)" + refusedEnd},
      {"our fixture's name in another folder",
       [] { RegistryOnly("FQ", "C:\\x\\FQFixtureService.exe"); },
       "this machine has " + key + " (ImagePath C:\\x\\FQFixtureService.exe)" + refusedEnd},
      {"our fixture's path with more after it",
       [] { RegistryOnly("FQ", std::string(kFixture) + ".old"); },
       "this machine has " + key + " (ImagePath " + kFixture + ".old)" + refusedEnd},
      {"the checks' path with more after it", [] { RegistryOnly("FQ", "C:\\nowhere\\fq.exe2"); },
       "this machine has " + key + " (ImagePath C:\\nowhere\\fq.exe2)" + refusedEnd}};
  for (const Case &c : cases) {
    for (const bool elevated : {true, false}) {
      machine().reset();
      machine().setElevated(elevated);
      c.arrange();
      InstallService("FQLauncher", SERVICE_STOPPED, kKitFixture);  // left, but not touched now
      const kitguard::Survey survey = LookChangingNothing(c.what);
      EXPECT_EQ(c.refusal, survey.refusal) << c.what;
      EXPECT_TRUE(survey.services.empty()) << c.what << ": nothing to remove when refused";
      EXPECT_TRUE(machine().serviceExists("FQLauncher"));
    }
  }
}

TEST_F(KitGuardTest, NotElevated_IsRefusedSayingWhatToDo_AndNothingIsRemoved) {
  machine().setElevated(false);
  InstallService("FQ", SERVICE_RUNNING, kKitFixture);  // a stopped run's: ours, but not now
  InstallService("FQLauncher", SERVICE_STOPPED, kKitFixture);
  const kitguard::Survey survey = LookChangingNothing("not elevated");
  EXPECT_EQ(
      "not elevated: it registers services and writes to HKEY_LOCAL_MACHINE. Open the command "
      "prompt with \"Run as administrator\" and run selftest.cmd there again.",
      survey.refusal);
  EXPECT_TRUE(survey.services.empty());
  EXPECT_TRUE(survey.keys.empty());
}

TEST_F(KitGuardTest, ElevationThatCannotBeRead_IsRefusedNamingTheCall) {
  for (const char *failing : {"OpenProcessToken", "GetTokenInformation"}) {
    machine().reset();
    machine().failCall(failing, {1, ERROR_ACCESS_DENIED});
    const kitguard::Survey survey = LookChangingNothing(failing);
    EXPECT_EQ(
        std::string("cannot tell whether it runs elevated: ") + failing + " failed with error 5",
        survey.refusal);
  }
}

TEST_F(KitGuardTest, WhatAStoppedRunLeft_IsListedForRemoval) {
  struct Case {
    const char *what;
    void (*arrange)();
  };
  const Case fqCases[] = {{"FQ, our fixture, quoted with options",
                           [] { InstallService("FQ", SERVICE_RUNNING, kKitFixture); }},
                          {"FQ, our fixture, bare and in lower case",
                           [] {
                             InstallService("FQ", SERVICE_STOPPED,
                                            "c:\\fq SELF-TEST\\bin\\fqfixtureservice.exe");
                           }},
                          {"FQ known to the registry only, as the checks make it",
                           [] { RegistryOnly("FQ", "C:\\nowhere\\fq.exe"); }}};
  for (const Case &c : fqCases) {
    machine().reset();
    c.arrange();
    InstallService("FQLauncher", SERVICE_RUNNING, kKitFixture);
    InstallService("FQDependent", SERVICE_RUNNING, kKitFixture);
    RegistryOnly("FQWineTest", "C:\\nowhere\\fq.exe");  // as the checks make it
    machine().setStringValue(kitguard::kOwnKey, "Sz", REG_SZ, "left");
    const kitguard::Survey survey = LookChangingNothing(c.what);
    EXPECT_EQ("", survey.refusal) << c.what;
    EXPECT_EQ((std::vector<std::string>{"FQ", "FQLauncher", "FQDependent", "FQWineTest"}),
              survey.services)
        << c.what;
    EXPECT_EQ(std::vector<std::string>{kitguard::kOwnKey}, survey.keys) << c.what;
    EXPECT_TRUE(machine().serviceExists("FQLauncher")) << "only listed";
  }
}

TEST_F(KitGuardTest, ServiceOfAnotherNameOfOursWithAnImageNotOurs_IsRefusedNamingIt) {
  for (const char *name : kitguard::kOwnServices) {
    for (const bool registryOnly : {false, true}) {
      machine().reset();
      InstallService("FQ", SERVICE_STOPPED, kKitFixture);  // ours, left, but not touched now
      if (registryOnly) {
        RegistryOnly(name, kRealImage);
      } else {
        InstallService(name, SERVICE_STOPPED, kRealImage);
      }
      const std::string there = registryOnly
                                    ? std::string("the key HKEY_LOCAL_MACHINE\\") +
                                          ServiceKey(name) + " (ImagePath " + kRealImage + ")"
                                    : std::string("the service ") + name + " (" + kRealImage + ")";
      const kitguard::Survey survey = LookChangingNothing(name);
      EXPECT_EQ("this machine has " + there +
                    ": the checks would remove it. Run the self-test on a test machine without " +
                    name + ".",
                survey.refusal);
      EXPECT_TRUE(survey.services.empty()) << name;
    }
  }
}

TEST_F(KitGuardTest, OwnProgram_IsOneTheKitShipsOrACheckCopied_ByItsFullPath) {
  const kitguard::Places places{kKitBin, "C:\\Temp\\FQSelfTest",
                                "C:\\Program Files\\FQSrvUninstall self-test\\FQSrvUninstall.exe"};
  struct Case {
    const char *image;
    bool own;
  };
  const Case cases[] = {
      {"C:\\FQ self-test\\bin\\FQSrvUninstall.exe", true},
      {"c:\\fq SELF-TEST\\BIN\\fqfixtureservice.EXE", true},  // as Windows compares paths
      {"C:\\FQ self-test\\bin\\FQRemovalInnoSetup.exe", true},
      {"C:\\Temp\\FQSelfTest\\fq-1\\FQSrvUninstall.exe", true},
      {"C:\\Program Files\\FQSrvUninstall self-test\\FQSrvUninstall.exe", true},
      // Look-alikes: beside the kit's programs, under them, or named like them.
      {"C:\\FQ self-test\\bin\\Notepad.exe", false},
      {"C:\\FQ self-test\\bin\\old\\FQSrvUninstall.exe", false},
      {"C:\\FQ self-test\\bin\\FQSrvUninstall.exe.exe", false},
      {"C:\\FQ self-test\\bin2\\FQSrvUninstall.exe", false},
      {"C:\\FQ self-test\\FQSrvUninstall.exe", false},
      {"C:\\Temp\\FQSelfTest2\\FQSrvUninstall.exe", false},
      {"C:\\Temp\\FQSelfTest", false},
      {"C:\\Program Files\\FQSrvUninstall self-test\\unins000.exe", false}};
  for (const Case &c : cases) {
    EXPECT_EQ(c.own, kitguard::IsOwnProgram(c.image, places)) << c.image;
  }
  const kitguard::Places notOurs{kKitBin, "", ""};  // a temporary folder the kit did not mark
  EXPECT_FALSE(kitguard::IsOwnProgram("C:\\Temp\\FQSelfTest\\fq-1\\FQSrvUninstall.exe", notOurs));
  EXPECT_FALSE(kitguard::IsOwnProgram("\\FQSrvUninstall.exe", kitguard::Places{}));
}

TEST_F(KitGuardTest, Folder_IsTheKitsOnlyWhenARealFolderHoldsItsMarker) {
  const std::string reports = "C:\\FQ self-test\\reports";
  const std::string marker = reports + "\\" + kitguard::kMarkerFile;
  struct Case {
    const char *what;
    DWORD folder;  // 0: not there
    DWORD marker;  // 0: not there
    kitguard::Whose whose;
  };
  const DWORD directory = FILE_ATTRIBUTE_DIRECTORY;
  const DWORD link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  const Case cases[] = {
      {"none", 0, 0, kitguard::Whose::kNobodys},
      {"marked", directory, FILE_ATTRIBUTE_ARCHIVE, kitguard::Whose::kOwn},
      {"someone else's", directory, 0, kitguard::Whose::kOther},
      {"a junction to a marked folder", link, FILE_ATTRIBUTE_ARCHIVE, kitguard::Whose::kOther},
      {"a file of that name", FILE_ATTRIBUTE_ARCHIVE, 0, kitguard::Whose::kOther},
      {"a folder of the marker's name", directory, directory, kitguard::Whose::kOther},
      {"the marker a link", directory, FILE_ATTRIBUTE_REPARSE_POINT, kitguard::Whose::kOther}};
  for (const Case &c : cases) {
    machine().reset();
    if (c.folder != 0) machine().plantFile(reports, c.folder);
    if (c.marker != 0) machine().plantFile(marker, c.marker);
    EXPECT_EQ(c.whose, kitguard::WhoseFolder(reports)) << c.what;
  }
}

class KitEventLogTest : public StandinTest {
 protected:
  // A SID's text from its bytes: revision, count, 6 bytes of authority (big
  // end first), the sub-authorities (little end first).
  static std::string SidText(const std::vector<BYTE> &sid) {
    if (sid.size() < 8 || sid.size() != 8 + 4 * std::size_t{sid[1]}) return "malformed";
    unsigned long long authority = 0;
    for (int i = 2; i < 8; ++i) authority = authority << 8 | sid[i];
    std::string text = "S-" + std::to_string(sid[0]) + "-" + std::to_string(authority);
    for (std::size_t at = 8; at < sid.size(); at += 4) {
      text += "-" + std::to_string(sid[at] | sid[at + 1] << 8 | sid[at + 2] << 16 |
                                   static_cast<unsigned long>(sid[at + 3]) << 24);
    }
    return text;
  }
  // An entry of another program, as any program writes one.
  static void Report(const char *source, WORD type, DWORD id, const std::string &text) {
    HANDLE log = RegisterEventSourceA(nullptr, source);
    const char *strings[] = {text.c_str()};
    ReportEventA(log, type, 0, id, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(log);
  }
};

TEST_F(KitEventLogTest, EachRunsEntryComesBackAsTheProgramWroteIt_OthersLeftOut) {
  machine().setOldestEventRecord(500);  // a log that has wrapped
  Report("Other", EVENTLOG_INFORMATION_TYPE, 7, "before");
  Report("FQSrvUninstall", EVENTLOG_ERROR_TYPE, 2, "an earlier run's");
  DWORD mark = 0;
  ASSERT_TRUE(kitlog::NextRecord(mark));
  EXPECT_EQ(502u, mark);

  machine().setStringValue(ServiceKey("FQ"), "ImagePath", REG_EXPAND_SZ, "C:\\nowhere\\fq.exe");
  EXPECT_EQ(Uninstall::kExitRemovalFailed, Uninstall::Main());
  Report("Other", EVENTLOG_ERROR_TYPE, 9, "between");
  machine().dropService("FQ");
  InstallService("FQ", SERVICE_STOPPED);
  machine().setProcessUser("S-1-5-18");  // LocalSystem, as an installer's action runs it
  EXPECT_EQ(Uninstall::kExitRemoved, Uninstall::Main());

  std::vector<kitlog::Entry> entries;
  ASSERT_TRUE(kitlog::EntriesSince(mark, "FQSrvUninstall", entries));
  const std::vector<standin::EventReported> written = machine().events();
  ASSERT_EQ(5u, written.size());
  ASSERT_EQ(2u, entries.size());
  const std::size_t runs[] = {2, 4};  // the program's two entries among those written
  const DWORD types[] = {EVENTLOG_ERROR_TYPE, EVENTLOG_INFORMATION_TYPE};
  const DWORD ids[] = {2, 1};
  const char *const users[] = {"S-1-5-21-1-2-3-1001", "S-1-5-18"};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(500 + runs[i], entries[i].record);
    EXPECT_EQ("FQSrvUninstall", entries[i].source);
    EXPECT_EQ(types[i], entries[i].type);
    EXPECT_EQ(ids[i], entries[i].id);
    EXPECT_EQ(written[runs[i]].strings, entries[i].strings);
    EXPECT_EQ(users[i], SidText(entries[i].userSid));
  }
  EXPECT_NE(std::string::npos, entries[0].strings.at(0).find("could not remove the service FQ"));
  EXPECT_TRUE(machine().openHandles().empty());
}

TEST_F(KitEventLogTest, EntryLongerThanTheFirstBuffer_ComesBackWhole) {
  DWORD mark = 0;
  ASSERT_TRUE(kitlog::NextRecord(mark));
  const std::string longText(20000, 'x');
  Report("FQSrvUninstall", EVENTLOG_ERROR_TYPE, 2, longText);
  Report("FQSrvUninstall", EVENTLOG_INFORMATION_TYPE, 1, "short");
  std::vector<kitlog::Entry> entries;
  ASSERT_TRUE(kitlog::EntriesSince(mark, "FQSrvUninstall", entries));
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(std::vector<std::string>{longText}, entries[0].strings);
  EXPECT_EQ(std::vector<std::string>{"short"}, entries[1].strings);
  EXPECT_TRUE(entries[1].userSid.empty()) << "written without a user";
  EXPECT_EQ(1, CountContaining("size 8192) -> 0 read 0"))
      << "one read too small for it, then a larger one";
}

TEST_F(KitEventLogTest, EmptyLog_OrNothingSinceTheMark_GivesNoEntry) {
  DWORD mark = 0;
  ASSERT_TRUE(kitlog::NextRecord(mark));
  std::vector<kitlog::Entry> entries{kitlog::Entry{}};
  EXPECT_TRUE(kitlog::EntriesSince(mark, "FQSrvUninstall", entries));
  EXPECT_TRUE(entries.empty());
  Report("FQSrvUninstall", EVENTLOG_ERROR_TYPE, 2, "before the mark");
  ASSERT_TRUE(kitlog::NextRecord(mark));
  EXPECT_TRUE(kitlog::EntriesSince(mark, "FQSrvUninstall", entries));
  EXPECT_TRUE(entries.empty());
}

TEST_F(KitEventLogTest, LogThatCannotBeOpenedOrRead_IsNoAnswer) {
  std::vector<kitlog::Entry> entries;
  DWORD mark = 0;
  machine().failCall("OpenEventLogA", {1, ERROR_ACCESS_DENIED});
  machine().failCall("OpenEventLogA", {2, ERROR_ACCESS_DENIED});
  EXPECT_FALSE(kitlog::NextRecord(mark));
  EXPECT_FALSE(kitlog::EntriesSince(0, "FQSrvUninstall", entries));

  machine().reset();
  Report("FQSrvUninstall", EVENTLOG_ERROR_TYPE, 2, "written");
  machine().failCall("ReadEventLogA", {1, 1722});
  EXPECT_FALSE(kitlog::EntriesSince(0, "FQSrvUninstall", entries));
  EXPECT_TRUE(machine().openHandles().empty()) << "closed on failure too";
}

}  // namespace
