// The one entry a run that finds the service leaves in the Application log:
// what became of it and, when its deletion failed, why and what to do.
// Installers run the program unattended; this is where an administrator looks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace modEventLog {

// What became of the service.
enum class Outcome {
  Deleted,        // the service manager accepted its deletion
  HeldOpen,       // accepted, stopped, but still registered: another program holds it open
  AlreadyMarked,  // its deletion refused as marked for deletion before
  GoneMeanwhile,  // not there any more when it was to be deleted
  Failed,         // its deletion failed and it is still registered
};

// What became of the stop command.
enum class Stop { NotRun, NotStarted, Ended };

// Whether the error box of a failed deletion is shown, and if not, why.
enum class Box { Shown, NobodyInSession0, NobodyAtThisWindowStation };

// Whether the process ran elevated; unknown where its token could not tell.
enum class Elevation { Unknown, Elevated, NotElevated };

struct Run {
  Outcome outcome = Outcome::Deleted;
  // For Deleted and AlreadyMarked: the service's state once its deletion was
  // accepted (SERVICE_STOPPED, SERVICE_RUNNING, ...), 0 where it could not be
  // read. A marked service goes only once it has stopped.
  std::uint32_t serviceState = 0;
  Stop stop = Stop::NotRun;
  std::int32_t stopExitCode = 0;         // when it ended
  std::wstring netSaid;                  // when it ended: the end of its output, one line
  const char *stopFailedCall = nullptr;  // when it could not be started: the call
  std::uint32_t stopError = 0;           // and its Windows error
  const char *failedCall = nullptr;      // the first call that failed, for Failed
  std::uint32_t error = 0;               // its Windows error code
  Elevation elevation = Elevation::Unknown;
  Box box = Box::Shown;  // for Failed
  int exitCode = 0;
};

// The entry's source, not registered: Event Viewer shows the text after its
// "description cannot be found".
constexpr char kSource[] = "FQSrvUninstall";

// The entry's event IDs.
constexpr std::uint32_t kRemovedEventId = 1;  // information: FQ is gone, or goes at once
constexpr std::uint32_t kFailedEventId = 2;   // error: its deletion failed
constexpr std::uint32_t kMarkedEventId = 3;   // warning: marked for deletion, not gone yet

// The entry's strings after its text, one fact each, in this order, so that
// an event query can match one by equality (EventData/Data[n]).
enum Field {
  kOutcomeField,     // "removed", "marked", "held open", "already marked", "gone", "failed"
  kFailedCallField,  // "OpenSCManager", "OpenService", "DeleteService"; "" unless failed
  kErrorField,       // its Windows error code in decimal; "" unless failed
  kStateField,       // FQ's state once deleted (1 stopped, 4 running, ...); "unknown"; ""
  kStopField,        // the stop command's exit code in decimal; "not run"; "not started"
  kNetSaidField,     // the end of what it wrote, one line; "" when nothing
  kBoxField,         // "shown", "not shown: session 0", "not shown: window station", "none"
  kElevationField,   // "elevated", "not elevated", "unknown"
  kExitCodeField,    // the program's exit code in decimal
  kFieldCount
};

// The entry of a run as it is written: its type (EVENTLOG_INFORMATION_TYPE,
// EVENTLOG_WARNING_TYPE or EVENTLOG_ERROR_TYPE), event ID, text and fields.
// Windows' text for an error comes in the first language FormatMessage finds
// it in: the thread's, the user's, then the system's.
struct Entry {
  std::uint16_t type = 0;
  std::uint32_t eventId = 0;
  std::wstring text;
  std::vector<std::wstring> fields;  // kFieldCount of them
};
Entry EntryOf(const Run &run);

// Writes the run's entry, source "FQSrvUninstall", with the process's user
// as its user where the token tells it. Where the entry cannot be written,
// nothing else changes.
void ReportRun(const Run &run);

}  // namespace modEventLog
