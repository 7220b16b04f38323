#include <cstdint>
#include <optional>

#include "StandinTest.h"
#include "app/Uninstall.h"
#include "eventlog/modEventLog.h"
#include "version.h"

namespace {

const char kStop[] = "CMD.EXE /C NET STOP FQ";

class UninstallTest : public StandinTest {
 protected:
  // The progress window: the first top-level window created.
  static HWND ProgressWindow() {
    for (HWND hwnd : machine().windows()) {
      if (machine().window(hwnd)->parent == nullptr) return hwnd;
    }
    return nullptr;
  }
  static bool StopWasRun() {
    for (const auto &child : machine().children()) {
      if (child.commandLine == kStop) return true;
    }
    return false;
  }
  // The deletion accepted: FQ is gone, or marked and goes once it has stopped.
  static void ExpectRemovedQuietly() {
    EXPECT_EQ(1, machine().countCalls("DeleteService"));
    const standin::Service *left = machine().service("FQ");
    EXPECT_TRUE(left == nullptr || left->markedForDeletion);
    EXPECT_TRUE(machine().messageBoxes().empty());
  }
  // A NET that stops FQ, as it mostly does.
  static standin::ChildBehaviour NetThatStops() {
    standin::ChildBehaviour net;
    net.onRun = [] { machine().setServiceState("FQ", SERVICE_STOPPED); };
    return net;
  }
  static void ExpectWindowGone() {
    HWND window = ProgressWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_TRUE(machine().window(window)->destroyed);
  }
};

TEST_F(UninstallTest, NotRegistered_EndsSilentlyWithoutShowingAnything) {
  EXPECT_EQ(Uninstall::kExitRemoved, Uninstall::Main());
  EXPECT_EQ(1, machine().countCalls("OpenSCManagerA")) << "the query runs all the same";
  HWND window = ProgressWindow();
  ASSERT_NE(nullptr, window) << "loaded before anything else";
  EXPECT_EQ(0, CountContaining("ShowWindow("));
  EXPECT_EQ(0, machine().window(window)->repaints);
  EXPECT_TRUE(machine().window(window)->destroyed);
  EXPECT_TRUE(machine().messageBoxes().empty());
  EXPECT_TRUE(machine().children().empty());
  EXPECT_EQ(0, machine().countCalls("DeleteService"));
  EXPECT_TRUE(machine().sleeps().empty());
  EXPECT_EQ(0, machine().countCalls("RegisterEventSourceA")) << "nothing to tell";
  EXPECT_EQ(0, machine().countCalls("OpenProcessToken"));
}

TEST_F(UninstallTest, KnownToTheManagerButNotRegistered_IsLeftAlone) {
  standin::Service service;
  service.currentState = SERVICE_RUNNING;
  machine().addService("FQ", service);  // no ImagePath in the registry
  EXPECT_EQ(Uninstall::kExitRemoved, Uninstall::Main());
  EXPECT_TRUE(machine().serviceExists("FQ"));
  EXPECT_TRUE(machine().children().empty());
}

TEST_F(UninstallTest, Stopped_OnePauseThenRemoval) {
  InstallService("FQ", SERVICE_STOPPED);
  EXPECT_EQ(Uninstall::kExitRemoved, Uninstall::Main());
  EXPECT_FALSE(StopWasRun());
  EXPECT_EQ(std::vector<DWORD>{1000}, machine().sleeps());
  EXPECT_LT(IndexOf("Sleep(1000)"), IndexOf("DeleteService"));
  ExpectRemovedQuietly();
  ExpectWindowGone();
  EXPECT_TRUE(machine().openHandles().empty());
}

TEST_F(UninstallTest, EveryStateButStopped_IsStoppedHiddenBeforeTwoPauses) {
  // Start pending reads as 7, an unmapped state leaves 0: both ask for a stop.
  const DWORD states[] = {
      SERVICE_RUNNING, SERVICE_START_PENDING, SERVICE_PAUSED, SERVICE_STOP_PENDING, 0, 16};
  for (const DWORD state : states) {
    machine().reset();
    InstallService("FQ", state);
    EXPECT_EQ(Uninstall::kExitRemoved, Uninstall::Main()) << state;
    ASSERT_EQ(1u, machine().children().size()) << state;
    const standin::StartedChild child = machine().children()[0];
    EXPECT_EQ(kStop, child.commandLine);
    EXPECT_EQ(DWORD{STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES}, child.startup.dwFlags);
    EXPECT_EQ(WORD{SW_HIDE}, child.startup.wShowWindow);
    EXPECT_EQ((std::vector<DWORD>{100, 1000, 1000}), machine().sleeps()) << state;
    EXPECT_LT(IndexOf("CreateProcessA"), IndexOf("Sleep(1000)"));
    ExpectRemovedQuietly();
  }
}

TEST_F(UninstallTest, StateThirtyTwoReadsAsStopped_NoStop) {
  InstallService("FQ", 32);
  EXPECT_EQ(Uninstall::kExitRemoved, Uninstall::Main());
  EXPECT_FALSE(StopWasRun());
  EXPECT_EQ(std::vector<DWORD>{1000}, machine().sleeps());
}

TEST_F(UninstallTest, FailedQueryOfARunningService_NoStopButRemoval) {
  InstallService("FQ", SERVICE_RUNNING);
  machine().failCall("QueryServiceStatus", {1, ERROR_ACCESS_DENIED});
  EXPECT_EQ(Uninstall::kExitRemoved, Uninstall::Main());
  EXPECT_FALSE(StopWasRun());
  EXPECT_EQ(std::vector<DWORD>{1000}, machine().sleeps());
  ExpectRemovedQuietly();
}

TEST_F(UninstallTest, SizeProbeFailingForAnotherReason_NoStopButRemoval) {
  // The probe reports the size but fails with an error other than "buffer too
  // small"; the configuration read that follows succeeds, yet the query failed.
  standin::Service service;
  service.currentState = SERVICE_RUNNING;
  service.binaryPath = "C:\\FQ\\fq.exe";
  service.shortBufferError = ERROR_MORE_DATA;
  machine().addService("FQ", service);
  machine().setStringValue(ServiceKey("FQ"), "ImagePath", REG_EXPAND_SZ, service.binaryPath);
  EXPECT_EQ(Uninstall::kExitRemoved, Uninstall::Main());
  const auto reads = machine().callsTo("QueryServiceConfigA");
  ASSERT_EQ(2u, reads.size());
  EXPECT_NE(std::string::npos, reads[0].find(", size 0) -> 0"));
  EXPECT_NE(std::string::npos, reads[1].find(") -> 1"));
  EXPECT_FALSE(StopWasRun());
  EXPECT_EQ(std::vector<DWORD>{1000}, machine().sleeps());
  ExpectRemovedQuietly();
}

TEST_F(UninstallTest, StopThatCannotStart_RemovalStillAttempted) {
  InstallService("FQ", SERVICE_RUNNING);
  standin::ChildBehaviour broken;
  broken.startFails = true;
  machine().setChild(kStop, broken);
  EXPECT_EQ(Uninstall::kExitRemoved, Uninstall::Main());
  EXPECT_EQ(1, machine().countCalls("CreateProcessA"));
  EXPECT_EQ((std::vector<DWORD>{1000, 1000}), machine().sleeps());
  ExpectRemovedQuietly();
}

TEST_F(UninstallTest, Registered_WindowVisibleAndPaintedBeforeAnyBlockingWork) {
  InstallService("FQ", SERVICE_RUNNING);
  Uninstall::Main();
  HWND window = ProgressWindow();
  ASSERT_NE(nullptr, window);
  const std::string name = standin::handleName(window);
  const int shown = IndexOf("ShowWindow(" + name);
  const int painted = IndexOf("RedrawWindow(" + name, shown);
  ASSERT_GE(shown, 0);
  ASSERT_GT(painted, shown);
  EXPECT_GT(IndexOf("OpenSCManagerA"), IndexOf("CreateWindowExA")) << "loaded first";
  EXPECT_LT(painted, IndexOf("CreateProcessA"));
  EXPECT_LT(painted, IndexOf("Sleep("));
  EXPECT_GE(machine().window(window)->repaints, 1);
  EXPECT_TRUE(machine().window(window)->destroyed);
}

TEST_F(UninstallTest, RefusedRemoval_OneErrorBoxOverTheVisibleWindow) {
  standin::Service refused;
  refused.deleteError = ERROR_ACCESS_DENIED;
  machine().addService("FQ", refused);
  machine().setStringValue(ServiceKey("FQ"), "ImagePath", REG_SZ, "C:\\FQ\\fq.exe");
  EXPECT_EQ(Uninstall::kExitRemovalFailed, Uninstall::Main());
  const auto boxes = machine().messageBoxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("Access denied ...", boxes[0].text);
  EXPECT_EQ("Error", boxes[0].caption);
  EXPECT_EQ(UINT{MB_OK | MB_ICONSTOP}, boxes[0].type);
  EXPECT_EQ(ProgressWindow(), boxes[0].owner);
  EXPECT_TRUE(boxes[0].ownerVisible);
  EXPECT_LT(IndexOf("MessageBoxA"),
            IndexOf("DestroyWindow(" + standin::handleName(ProgressWindow())));
  ExpectWindowGone();
}

TEST_F(UninstallTest, RegisteredOnlyInTheRegistry_ReportsTheFailedRemoval) {
  machine().setStringValue(ServiceKey("FQ"), "ImagePath", REG_EXPAND_SZ, "C:\\FQ\\fq.exe");
  EXPECT_EQ(Uninstall::kExitRemovalFailed, Uninstall::Main());
  EXPECT_EQ(1u, machine().messageBoxes().size());
  EXPECT_FALSE(StopWasRun()) << "the query failed";
}

TEST_F(UninstallTest, FailedRemoval_BoxOnlyWhereSomeoneSeesIt_ExitOneAlways) {
  struct Case {
    const char *where;
    DWORD stationFlags;
    bool questionFails;
    std::optional<DWORD> session;  // none: the session cannot be told
    BYTE major, minor;
    WORD build;
    std::size_t boxes;
  };
  const Case cases[] = {
      {"a visible window station", WSF_VISIBLE, false, 1, 10, 0, 19041, 1},
      {"a window station nobody sees", 0, false, 1, 10, 0, 19041, 0},
      {"a window station that cannot be asked", 0, true, 1, 10, 0, 19041, 1},
      {"session 0 of Vista", WSF_VISIBLE, false, 0, 6, 0, 6002, 0},
      {"session 0 of Windows 10", WSF_VISIBLE, false, 0, 10, 0, 19041, 0},
      {"session 0 of XP, the console's", WSF_VISIBLE, false, 0, 5, 1, 2600, 1},
      {"session 0 of Server 2003, the console's", WSF_VISIBLE, false, 0, 5, 2, 3790, 1},
      {"a session that cannot be told", WSF_VISIBLE, false, std::nullopt, 10, 0, 19041, 1}};
  for (const Case &c : cases) {
    machine().reset();
    machine().setStringValue(ServiceKey("FQ"), "ImagePath", REG_EXPAND_SZ, "C:\\FQ\\fq.exe");
    machine().setWindowStationFlags(c.stationFlags);
    if (c.questionFails) machine().failCall("GetUserObjectInformationA", {1, ERROR_ACCESS_DENIED});
    if (c.session) {
      machine().setSessionId(*c.session);
    } else {
      machine().failCall("ProcessIdToSessionId", {1, ERROR_ACCESS_DENIED});
    }
    machine().setWindowsVersion(c.major, c.minor, c.build);
    EXPECT_EQ(Uninstall::kExitRemovalFailed, Uninstall::Main()) << c.where;
    EXPECT_EQ(c.boxes, machine().messageBoxes().size()) << c.where;
  }
}

TEST_F(UninstallTest, GoneBeforeItsDeletion_IsNoFailure) {
  // Marked for deletion before the run: once stopped, the manager drops it,
  // key and all, and the deletion finds nothing to delete.
  InstallService("FQ", SERVICE_RUNNING);
  standin::ChildBehaviour stopsAndGoes;
  stopsAndGoes.onRun = [] { machine().dropService("FQ"); };
  machine().setChild(kStop, stopsAndGoes);
  EXPECT_EQ(Uninstall::kExitRemoved, Uninstall::Main());
  EXPECT_EQ(1, CountContaining("DeleteService(null) -> 0"));
  EXPECT_TRUE(machine().messageBoxes().empty());
}

TEST_F(UninstallTest, WindowThatCannotBeCreated_RemovalGoesAheadWithAnUnownedBox) {
  standin::Service refused;
  refused.deleteError = ERROR_ACCESS_DENIED;
  machine().addService("FQ", refused);
  machine().setStringValue(ServiceKey("FQ"), "ImagePath", REG_SZ, "C:\\FQ\\fq.exe");
  machine().failCall("CreateWindowExA", {1, ERROR_NOT_ENOUGH_MEMORY});
  EXPECT_EQ(Uninstall::kExitRemovalFailed, Uninstall::Main());
  EXPECT_EQ(1, machine().countCalls("DeleteService"));
  ASSERT_EQ(1u, machine().messageBoxes().size());
  EXPECT_EQ(nullptr, machine().messageBoxes()[0].owner);
  EXPECT_EQ(0, CountContaining("ShowWindow("));
}

// The one entry of a run, in the Application log under our own name, with
// the process's user (empty: none).
std::string OnlyEntry(WORD type, DWORD eventId, const std::string &user, const std::string &where) {
  const auto events = standin::machine().events();
  if (events.size() != 1u) {
    ADD_FAILURE() << where << ": " << events.size() << " entries";
    return std::string();
  }
  const standin::EventReported &event = events[0];
  EXPECT_EQ("FQSrvUninstall", event.source) << where;
  EXPECT_EQ(type, event.type) << where;
  EXPECT_EQ(eventId, event.eventId) << where;
  EXPECT_EQ(0, event.category) << where;
  EXPECT_EQ(user, event.userSid) << where;
  EXPECT_EQ(0u, event.dataSize) << where;
  EXPECT_EQ(1u + modEventLog::kFieldCount, event.strings.size()) << where;
  return event.strings.empty() ? std::string() : event.strings[0];
}

// The fields after the only entry's text, in their order, joined by " | ".
std::string OnlyEntrysFields() {
  const auto events = standin::machine().events();
  std::string fields;
  for (std::size_t i = 1; events.size() == 1u && i < events[0].strings.size(); ++i) {
    fields += (i == 1 ? "" : " | ") + events[0].strings[i];
  }
  return fields;
}

const char kSystem[] = "S-1-5-18";  // an installer's deferred action runs as SYSTEM
const char kAdministrator[] = "S-1-5-21-3623811015-3361044348-30300820-500";

TEST_F(UninstallTest, Event_EveryRunThatDeletesTheServiceTellsWhetherItIsGoneOrStillThere) {
  const std::string program = "FQSrvUninstall " FQ_VERSION_TEXT;
  const std::string removed = program + " removed the service FQ: ";
  const std::string marked = program + " marked the service FQ for deletion, but ";
  const std::string markedBefore = program + " found the service FQ already marked for deletion";
  const std::string goesWhen =
      ": it goes once it has stopped and every handle to it is closed, or at the next restart; "
      "until then its files may stay locked and installing FQ again fails with error 1072. ";
  // What NET says when a dependent runs: its reason on the last line.
  const std::string dependentsRun =
      "System error 1051 has occurred.\r\n\r\nA stop control has been sent to a service that "
      "other running services are dependent on.\r\n\r\n";
  enum Net : std::uint8_t { NotNeeded, Stops, StopIgnored, FailsToStart };
  struct Case {
    const char *what;
    DWORD state;
    bool markedBefore;
    bool heldElsewhere;  // another program holds a handle to FQ throughout
    Net net;
    std::int32_t netExitCode;
    std::string netOutput;
    std::optional<standin::Fault> queryFault;
    WORD type;
    DWORD eventId;
    std::string text;
    std::string fields;
  };
  const Case cases[] = {
      {"stopped", SERVICE_STOPPED, false, false, NotNeeded, 0, "", std::nullopt,
       EVENTLOG_INFORMATION_TYPE, 1,
       removed + "the service manager accepted its deletion. The stop command was not run. "
                 "Exit code 0.",
       "removed |  |  | 1 | not run |  | none | elevated | 0"},
      {"running, stopped by NET", SERVICE_RUNNING, false, false, Stops, 0,
       "The FQ service is stopping.\r\nThe FQ service was stopped successfully.\r\n\r\n",
       std::nullopt, EVENTLOG_INFORMATION_TYPE, 1,
       removed + "the service manager accepted its deletion. The stop command ended with exit "
                 "code 0. NET said: \"The FQ service is stopping. The FQ service was stopped "
                 "successfully.\" Exit code 0.",
       "removed |  |  | 1 | 0 | The FQ service is stopping. The FQ service was stopped "
       "successfully. | none | elevated | 0"},
      {"running, NET refused: a dependent runs", SERVICE_RUNNING, false, false, StopIgnored, 2,
       dependentsRun, std::nullopt, EVENTLOG_WARNING_TYPE, 3,
       marked + "FQ is still running" + goesWhen +
           "The stop command ended with exit code 2. NET said: \"System error 1051 has "
           "occurred. A stop control has been sent to a service that other running services "
           "are dependent on.\" Exit code 0.",
       "marked |  |  | 4 | 2 | System error 1051 has occurred. A stop control has been sent to "
       "a service that other running services are dependent on. | none | elevated | 0"},
      {"running, NET could not start", SERVICE_RUNNING, false, false, FailsToStart, 0, "",
       std::nullopt, EVENTLOG_WARNING_TYPE, 3,
       marked + "FQ is still running" + goesWhen +
           "The stop command could not be started: CreateProcess failed with error 2 (The "
           "system cannot find the file specified). Exit code 0.",
       "marked |  |  | 4 | not started |  | none | elevated | 0"},
      {"still stopping after NET", SERVICE_STOP_PENDING, false, false, StopIgnored, 0, "",
       std::nullopt, EVENTLOG_WARNING_TYPE, 3,
       marked + "FQ is still stopping" + goesWhen +
           "The stop command ended with exit code 0. Exit code 0.",
       "marked |  |  | 3 | 0 |  | none | elevated | 0"},
      {"paused, its first query failed: no stop", SERVICE_PAUSED, false, false, NotNeeded, 0, "",
       standin::Fault{1, ERROR_ACCESS_DENIED}, EVENTLOG_WARNING_TYPE, 3,
       marked + "FQ is paused" + goesWhen + "The stop command was not run. Exit code 0.",
       "marked |  |  | 7 | not run |  | none | elevated | 0"},
      {"stopped, its state unreadable once deleted", SERVICE_STOPPED, false, false, NotNeeded, 0,
       "", standin::Fault{2, ERROR_ACCESS_DENIED}, EVENTLOG_WARNING_TYPE, 3,
       marked + "its state could not be read" + goesWhen +
           "The stop command was not run. Exit code 0.",
       "marked |  |  | unknown | not run |  | none | elevated | 0"},
      {"stopped, held open elsewhere", SERVICE_STOPPED, false, true, NotNeeded, 0, "", std::nullopt,
       EVENTLOG_WARNING_TYPE, 3,
       program + " marked the service FQ for deletion and it has stopped, but another program "
                 "still holds it open (the Services console, Task Manager's Services tab, a "
                 "monitoring agent, say): it goes once that program closes it, or at the next "
                 "restart; until then installing FQ again fails with error 1072. The stop "
                 "command was not run. Exit code 0.",
       "held open |  |  | 1 | not run |  | none | elevated | 0"},
      {"stopped by NET, held open elsewhere", SERVICE_RUNNING, false, true, Stops, 0, "",
       std::nullopt, EVENTLOG_WARNING_TYPE, 3,
       program + " marked the service FQ for deletion and it has stopped, but another program "
                 "still holds it open (the Services console, Task Manager's Services tab, a "
                 "monitoring agent, say): it goes once that program closes it, or at the next "
                 "restart; until then installing FQ again fails with error 1072. The stop "
                 "command ended with exit code 0. Exit code 0.",
       "held open |  |  | 1 | 0 |  | none | elevated | 0"},
      {"marked before, and stopped", SERVICE_STOPPED, true, true, NotNeeded, 0, "", std::nullopt,
       EVENTLOG_INFORMATION_TYPE, 1,
       markedBefore + " and stopped: it goes once every handle to it is closed. The stop command "
                      "was not run. Exit code 0.",
       "already marked |  |  | 1 | not run |  | none | elevated | 0"},
      {"marked before, ignoring the stop", SERVICE_RUNNING, true, false, StopIgnored, 0, "",
       std::nullopt, EVENTLOG_WARNING_TYPE, 3,
       markedBefore + ", but FQ is still running" + goesWhen +
           "The stop command ended with exit code 0. Exit code 0.",
       "already marked |  |  | 4 | 0 |  | none | elevated | 0"},
      {"marked before, gone once NET stopped it", SERVICE_RUNNING, true, false, Stops, 0, "",
       std::nullopt, EVENTLOG_INFORMATION_TYPE, 1,
       program + " found the service FQ gone by the time of its deletion: nothing was left to "
                 "remove. The stop command ended with exit code 0. Exit code 0.",
       "gone |  |  |  | 0 |  | none | elevated | 0"}};
  for (const Case &c : cases) {
    machine().reset();
    machine().setProcessUser(kSystem);
    InstallService("FQ", c.state);
    standin::Service service = *machine().service("FQ");
    service.markedForDeletion = c.markedBefore;
    machine().addService("FQ", service);
    // Deleted and stopped, it stays only while someone else holds a handle
    // to it (the services console, say).
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE held = c.heldElsewhere ? OpenServiceA(manager, "FQ", GENERIC_READ) : nullptr;
    if (c.queryFault) machine().failCall("QueryServiceStatus", *c.queryFault);
    standin::ChildBehaviour net = c.net == Stops ? NetThatStops() : standin::ChildBehaviour();
    net.startFails = c.net == FailsToStart;
    net.exitCode = static_cast<DWORD>(c.netExitCode);
    net.output = c.netOutput;
    machine().setChild(kStop, net);
    EXPECT_EQ(Uninstall::kExitRemoved, Uninstall::Main()) << c.what;
    EXPECT_EQ(c.net != NotNeeded, machine().countCalls("CreateProcessA") == 1) << c.what;
    EXPECT_EQ(c.text, OnlyEntry(c.type, c.eventId, kSystem, c.what));
    EXPECT_EQ(c.fields, OnlyEntrysFields()) << c.what;
    EXPECT_TRUE(machine().messageBoxes().empty()) << c.what;
    if (c.heldElsewhere) {
      EXPECT_TRUE(machine().serviceExists("FQ")) << c.what << ": still there";
    }
    if (held != nullptr) CloseServiceHandle(held);
    CloseServiceHandle(manager);
    EXPECT_FALSE(c.heldElsewhere && machine().serviceExists("FQ"))
        << c.what << ": gone once the other handle is closed";
    EXPECT_TRUE(machine().openHandles().empty()) << c.what << ": the token and source closed";
  }
}

TEST_F(UninstallTest, Event_MarkedButNotStoppedNamesEveryStateTheManagerGives) {
  const std::pair<DWORD, std::string> states[] = {{SERVICE_RUNNING, "FQ is still running"},
                                                  {SERVICE_STOP_PENDING, "FQ is still stopping"},
                                                  {SERVICE_START_PENDING, "FQ is starting"},
                                                  {SERVICE_PAUSE_PENDING, "FQ is pausing"},
                                                  {SERVICE_CONTINUE_PENDING, "FQ is resuming"},
                                                  {SERVICE_PAUSED, "FQ is paused"},
                                                  {16, "FQ is in state 16"},
                                                  {0, "its state could not be read"}};
  for (const auto &[state, clause] : states) {
    for (auto outcome : {modEventLog::Outcome::Deleted, modEventLog::Outcome::AlreadyMarked}) {
      modEventLog::Run run;
      run.outcome = outcome;
      run.serviceState = state;
      const modEventLog::Entry entry = modEventLog::EntryOf(run);
      EXPECT_EQ(EVENTLOG_WARNING_TYPE, entry.type) << state;
      EXPECT_EQ(modEventLog::kMarkedEventId, entry.eventId) << state;
      const std::wstring expected(clause.begin(), clause.end());
      EXPECT_NE(std::wstring::npos, entry.text.find(L", but " + expected + L": it goes once"))
          << state;
    }
  }
}

TEST_F(UninstallTest, Event_FailedDeletionLeavesOneErrorEntryWithWhatToDoBeforeTheBox) {
  const std::string failed = "FQSrvUninstall " FQ_VERSION_TEXT " could not remove the service FQ: ";
  const std::string unknownKey =
      "OpenService failed with error 1060 (The specified service does not exist as an installed "
      "service). The key HKLM\\SYSTEM\\CurrentControlSet\\Services\\FQ holds an ImagePath, but the "
      "service manager does not know FQ (it reads its services when Windows starts): restart "
      "Windows and run it again, or delete the key if nothing needs it. The stop command was not "
      "run. ";
  // Error codes of an application's own (bit 29): Windows has no text for
  // them. The second one gets a text here, one without a final full stop.
  constexpr DWORD kNoText = 0x20000001;
  constexpr DWORD kTextWithoutStop = 0x20000002;
  enum Setup : std::uint8_t { ManagerDenied, RegistryOnly, DeletionDenied, DeletionOtherError };
  struct Case {
    const char *what;
    Setup setup;
    DWORD deleteError;
    bool elevated;
    DWORD session;
    DWORD stationFlags;
    std::size_t boxes;
    std::string text;
    std::string fields;
  };
  const Case cases[] = {
      {"the service manager refused, not elevated", ManagerDenied, 0, false, 1, WSF_VISIBLE, 1,
       failed + "OpenSCManager failed with error 5 (Access is denied). The program did not run "
                "elevated: run it elevated. The stop command was not run. The error box is shown. "
                "Exit code 1.",
       "failed | OpenSCManager | 5 |  | not run |  | shown | not elevated | 1"},
      {"the deletion refused after a stop, elevated", DeletionDenied, ERROR_ACCESS_DENIED, true, 1,
       WSF_VISIBLE, 1,
       failed + "DeleteService failed with error 5 (Access is denied). The program ran elevated: "
                "FQ's own security refuses its deletion to administrators (sc sdshow FQ shows "
                "who may delete it), or a program that protects it (a security product, say) "
                "refused it. The stop command ended with exit code 0. The error box is shown. "
                "Exit code 1.",
       "failed | DeleteService | 5 |  | 0 |  | shown | elevated | 1"},
      {"a registry key the manager does not know", RegistryOnly, 0, true, 1, WSF_VISIBLE, 1,
       failed + unknownKey + "The error box is shown. Exit code 1.",
       "failed | OpenService | 1060 |  | not run |  | shown | elevated | 1"},
      {"an error Windows has no text for", DeletionOtherError, kNoText, true, 1, WSF_VISIBLE, 1,
       failed + "DeleteService failed with error 536870913. The stop command was not run. The "
                "error box is shown. Exit code 1.",
       "failed | DeleteService | 536870913 |  | not run |  | shown | elevated | 1"},
      {"a text without a final full stop", DeletionOtherError, kTextWithoutStop, true, 1,
       WSF_VISIBLE, 1,
       failed + "DeleteService failed with error 536870914 (Text without a final full stop). The "
                "stop command was not run. The error box is shown. Exit code 1.",
       "failed | DeleteService | 536870914 |  | not run |  | shown | elevated | 1"},
      {"nobody sees, session 0", RegistryOnly, 0, true, 0, WSF_VISIBLE, 0,
       failed + unknownKey + "No error box: nobody could see it (session 0). Exit code 1.",
       "failed | OpenService | 1060 |  | not run |  | not shown: session 0 | elevated | 1"},
      {"nobody sees, a service's window station", RegistryOnly, 0, true, 1, 0, 0,
       failed + unknownKey +
           "No error box: nobody could see it (a window station nobody sees). Exit code 1.",
       "failed | OpenService | 1060 |  | not run |  | not shown: window station | elevated | 1"}};
  for (const Case &c : cases) {
    machine().reset();
    machine().setProcessUser(kAdministrator);
    machine().setElevated(c.elevated);
    machine().setSessionId(c.session);
    machine().setWindowStationFlags(c.stationFlags);
    machine().setSystemMessage(kTextWithoutStop, "Text without a final full stop\r\n");
    switch (c.setup) {
      case ManagerDenied:
        InstallService("FQ", SERVICE_STOPPED);
        machine().failCall("OpenSCManagerA", {2, ERROR_ACCESS_DENIED});  // the deletion's
        break;
      case RegistryOnly:
        machine().setStringValue(ServiceKey("FQ"), "ImagePath", REG_EXPAND_SZ, "C:\\FQ\\fq.exe");
        break;
      case DeletionDenied:
      case DeletionOtherError: {
        InstallService("FQ", c.setup == DeletionDenied ? SERVICE_RUNNING : SERVICE_STOPPED);
        standin::Service service = *machine().service("FQ");
        service.deleteError = c.deleteError;
        machine().addService("FQ", service);
        break;
      }
    }
    EXPECT_EQ(Uninstall::kExitRemovalFailed, Uninstall::Main()) << c.what;
    EXPECT_EQ(c.text, OnlyEntry(EVENTLOG_ERROR_TYPE, 2, kAdministrator, c.what));
    EXPECT_EQ(c.fields, OnlyEntrysFields()) << c.what;
    EXPECT_EQ(c.boxes, machine().messageBoxes().size()) << c.what;
    if (c.boxes != 0) {
      EXPECT_LT(IndexOf("DeregisterEventSource"), IndexOf("MessageBoxA")) << c.what;
    }
    EXPECT_TRUE(machine().openHandles().empty()) << c.what;
  }
}

TEST_F(UninstallTest, Event_WindowsTextComesInTheSystemsLanguageWhateverItIs) {
  for (const LANGID language : {0x0409, 0x0407, 0x0411}) {  // English (US), German, Japanese
    machine().reset();
    machine().setSystemLanguage(language);
    machine().setStringValue(ServiceKey("FQ"), "ImagePath", REG_EXPAND_SZ, "C:\\FQ\\fq.exe");
    Uninstall::Main();
    const auto events = machine().events();
    ASSERT_EQ(1u, events.size()) << language;
    EXPECT_NE(std::string::npos,
              events[0].strings.at(0).find(
                  "error 1060 (The specified service does not exist as an installed service). "))
        << language;
  }
}

TEST_F(UninstallTest, Event_TokenThatCannotBeRead_SameEntryWithoutItsUserElevationUnknown) {
  const std::string denied = "FQSrvUninstall " FQ_VERSION_TEXT
                             " could not remove the service FQ: OpenSCManager failed with error 5 "
                             "(Access is denied). Elevation unknown (the program's token could "
                             "not be read): run it elevated. The stop command was not run. The "
                             "error box is shown. Exit code 1.";
  // Each read of the token fails: the elevation's, then the user's.
  for (const char *failing : {"OpenProcessToken", "GetTokenInformation"}) {
    machine().reset();
    machine().setElevated(false);
    machine().failCall(failing, {1, ERROR_ACCESS_DENIED});
    machine().failCall(failing, {2, ERROR_ACCESS_DENIED});
    InstallService("FQ", SERVICE_STOPPED);
    machine().failCall("OpenSCManagerA", {2, ERROR_ACCESS_DENIED});
    EXPECT_EQ(Uninstall::kExitRemovalFailed, Uninstall::Main()) << failing;
    EXPECT_EQ(denied, OnlyEntry(EVENTLOG_ERROR_TYPE, 2, "", failing));
    EXPECT_EQ("failed | OpenSCManager | 5 |  | not run |  | shown | unknown | 1",
              OnlyEntrysFields())
        << failing;
    EXPECT_EQ(1u, machine().messageBoxes().size()) << failing;
    EXPECT_TRUE(machine().openHandles().empty()) << failing;
  }
}

TEST_F(UninstallTest, Event_LogThatCannotBeWritten_ChangesNothingElse) {
  for (const char *failing : {"RegisterEventSourceA", "ReportEventA"}) {
    machine().reset();
    machine().failCall(failing, {1, 1722});  // the event log service is not there
    machine().setStringValue(ServiceKey("FQ"), "ImagePath", REG_EXPAND_SZ, "C:\\FQ\\fq.exe");
    EXPECT_EQ(Uninstall::kExitRemovalFailed, Uninstall::Main()) << failing;
    ASSERT_EQ(1u, machine().messageBoxes().size()) << failing;
    EXPECT_EQ("Access denied ...", machine().messageBoxes()[0].text);
    EXPECT_TRUE(machine().events().empty()) << failing;
    EXPECT_TRUE(machine().openHandles().empty()) << failing;

    machine().reset();
    machine().failCall(failing, {1, 1722});
    InstallService("FQ", SERVICE_RUNNING);
    machine().setChild(kStop, NetThatStops());
    EXPECT_EQ(Uninstall::kExitRemoved, Uninstall::Main()) << failing;
    EXPECT_FALSE(machine().serviceExists("FQ")) << failing;
    EXPECT_EQ((std::vector<DWORD>{100, 1000, 1000}), machine().sleeps()) << failing;
  }
}

}  // namespace
