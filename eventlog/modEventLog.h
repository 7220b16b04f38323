// The one entry a run that finds the service leaves in the Application log:
// what became of it and, when its deletion failed, why and what to do.
// Installers run the program unattended; this is where an administrator looks.
#pragma once

#include <cstdint>
#include <string>

namespace modEventLog {

// What became of the service.
enum class Outcome {
  Deleted,        // the service manager accepted its deletion
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
  std::int32_t stopExitCode = 0;             // when it ended
  const char *failedCall = nullptr;          // the first call that failed, for Failed
  std::uint32_t error = 0;                   // its Windows error code
  Elevation elevation = Elevation::Unknown;  // told for error 5
  Box box = Box::Shown;                      // for Failed
  int exitCode = 0;
};

// The entry's source, not registered: Event Viewer shows the text after its
// "description cannot be found".
constexpr char kSource[] = "FQSrvUninstall";

// The entry's event IDs.
constexpr std::uint32_t kRemovedEventId = 1;  // information: FQ is gone, or goes at once
constexpr std::uint32_t kFailedEventId = 2;   // error: its deletion failed
constexpr std::uint32_t kMarkedEventId = 3;   // warning: marked for deletion, not stopped

// The entry of a run as it is written: its type (EVENTLOG_INFORMATION_TYPE,
// EVENTLOG_WARNING_TYPE or EVENTLOG_ERROR_TYPE), event ID and text, Windows'
// text for an error in this system's language.
struct Entry {
  std::uint16_t type = 0;
  std::uint32_t eventId = 0;
  std::wstring text;
};
Entry EntryOf(const Run &run);

// Writes the run's entry, source "FQSrvUninstall", with the process's user
// as its user where the token tells it. Where the entry cannot be written,
// nothing else changes.
void ReportRun(const Run &run);

}  // namespace modEventLog
