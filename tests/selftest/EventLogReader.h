// The Application log read back the way Event Viewer and wevtutil read it
// (OpenEventLogA, ReadEventLogA): the entries a run of the program left.
#pragma once

#include <string>
#include <vector>

#include "platform/winapi.h"

namespace kitlog {

struct Entry {
  DWORD record = 0;  // its number in the log
  std::string source;
  WORD type = 0;  // EVENTLOG_ERROR_TYPE, ...
  DWORD id = 0;   // as the writer gave it
  std::vector<std::string> strings;
  std::vector<BYTE> userSid;  // empty when the writer gave none
};

// The number the log's next entry will get: a mark to read from, taken
// before a run.
bool NextRecord(DWORD &next);

// The entries of `source` numbered `from` or higher, oldest first. False
// when the log cannot be read, or holds an entry it cannot make out.
bool EntriesSince(DWORD from, const std::string &source, std::vector<Entry> &entries);

}  // namespace kitlog
