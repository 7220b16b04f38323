// The benchmark's yardstick for what the event log's entry costs:
// FQSrvUninstall.exe built with this in place of eventlog/modEventLog.cpp, so
// that the entry is never written. Never shipped; tools/bench.sh times both.
#include "eventlog/modEventLog.h"

namespace modEventLog {

void ReportRun(const Run &) {}

}  // namespace modEventLog
