// The one entry a run that finds the service leaves in the Application log:
// what became of it and, when its deletion failed, why. Installers run the
// program unattended; this is where an administrator looks.
#pragma once

#include <cstdint>

namespace modEventLog {

// What became of the service.
enum class Outcome {
  Deleted,        // the service manager accepted its deletion
  AlreadyMarked,  // marked for deletion before: it goes when it stops
  GoneMeanwhile,  // not there any more when it was to be deleted
  Failed,         // its deletion failed and it is still registered
};

// What became of the stop command.
enum class Stop { NotRun, NotStarted, Ended };

// Whether the error box of a failed deletion is shown, and if not, why.
enum class Box { Shown, NobodyInSession0, NobodyAtThisWindowStation };

struct Run {
  Outcome outcome = Outcome::Deleted;
  Stop stop = Stop::NotRun;
  std::int32_t stopExitCode = 0;     // when it ended
  const char *failedCall = nullptr;  // the first call that failed, for Failed
  std::uint32_t error = 0;           // its Windows error code
  Box box = Box::Shown;              // for Failed
  int exitCode = 0;
};

// Writes the run's entry, information or error, source "FQSrvUninstall".
// True when it was written; where it cannot be, nothing else changes.
bool ReportRun(const Run &run);

}  // namespace modEventLog
