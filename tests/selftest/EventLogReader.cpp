#include "EventLogReader.h"

#include <algorithm>
#include <cstring>

namespace kitlog {
namespace {

const char kLog[] = "Application";
// Enough for most entries; a longer one says how much it needs.
constexpr DWORD kFirstBufferSize = 8192;

// The NUL-terminated text at `offset` within the record, moving `offset`
// past it; false when it runs past the record's end.
bool TextAt(const BYTE *record, DWORD length, DWORD &offset, std::string &text) {
  if (offset >= length) return false;
  const void *end = std::memchr(record + offset, 0, length - offset);
  if (end == nullptr) return false;
  const auto size = static_cast<DWORD>(static_cast<const BYTE *>(end) - (record + offset));
  text.assign(reinterpret_cast<const char *>(record + offset), size);
  offset += size + 1;
  return true;
}

// One record as ReadEventLogA lays it out; false when it does not hold
// together.
bool Parse(const BYTE *record, DWORD length, Entry &entry) {
  EVENTLOGRECORD header{};
  if (length < sizeof header) return false;
  std::memcpy(&header, record, sizeof header);
  if (header.Length != length) return false;
  entry.record = header.RecordNumber;
  entry.type = header.EventType;
  entry.id = header.EventID;
  DWORD offset = sizeof header;
  if (!TextAt(record, length, offset, entry.source)) return false;
  if (header.UserSidLength > length || header.UserSidOffset > length - header.UserSidLength) {
    return false;
  }
  entry.userSid.assign(record + header.UserSidOffset,
                       record + header.UserSidOffset + header.UserSidLength);
  offset = header.StringOffset;
  entry.strings.resize(header.NumStrings);
  for (std::string &text : entry.strings) {
    if (!TextAt(record, length, offset, text)) return false;
  }
  return true;
}

// Reads the log from its newest entry back to `from`, collecting those of
// `source`, newest first.
bool ReadBack(HANDLE log, DWORD from, const std::string &source, std::vector<Entry> &entries) {
  std::vector<BYTE> buffer(kFirstBufferSize);
  for (;;) {
    DWORD read = 0;
    DWORD needed = 0;
    if (!ReadEventLogA(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ, 0, buffer.data(),
                       static_cast<DWORD>(buffer.size()), &read, &needed)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) return true;
      if (error != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) return false;
      buffer.resize(needed);
      continue;
    }
    for (DWORD offset = 0; offset < read;) {
      DWORD length = 0;
      if (read - offset < sizeof length) return false;
      std::memcpy(&length, buffer.data() + offset, sizeof length);
      if (length == 0 || length > read - offset) return false;
      Entry entry;
      if (!Parse(buffer.data() + offset, length, entry)) return false;
      if (entry.record < from) return true;
      if (entry.source == source) entries.push_back(entry);
      offset += length;
    }
  }
}

}  // namespace

bool NextRecord(DWORD &next) {
  HANDLE log = OpenEventLogA(nullptr, kLog);
  if (log == nullptr) return false;
  DWORD oldest = 0;
  DWORD count = 0;
  const bool read =
      GetOldestEventLogRecord(log, &oldest) && GetNumberOfEventLogRecords(log, &count);
  CloseEventLog(log);
  if (read) next = oldest + count;
  return read;
}

bool EntriesSince(DWORD from, const std::string &source, std::vector<Entry> &entries) {
  entries.clear();
  HANDLE log = OpenEventLogA(nullptr, kLog);
  if (log == nullptr) return false;
  const bool read = ReadBack(log, from, source, entries);
  CloseEventLog(log);
  std::reverse(entries.begin(), entries.end());
  return read;
}

}  // namespace kitlog
