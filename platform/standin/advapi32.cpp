// Stand-in of the registry and the service control manager.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "state.h"

using namespace standin;

namespace {

std::string KeyName(HKEY key) {
  return key == HKEY_LOCAL_MACHINE ? std::string("HKLM") : handleName(key);
}

const char *const kServicesKey = "System\\CurrentControlSet\\Services\\";

// A SID in its binary form from its text ("S-1-5-18"): revision, count of
// sub-authorities, the authority in 6 big-endian bytes, the sub-authorities.
std::vector<std::uint8_t> SidBytes(const std::string &text) {
  std::vector<unsigned long long> parts;
  for (std::size_t at = 2; at <= text.size();) {  // after "S-"
    const std::size_t end = std::min(text.find('-', at), text.size());
    parts.push_back(std::stoull(text.substr(at, end - at)));
    at = end + 1;
  }
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(parts[0]),
                                  static_cast<std::uint8_t>(parts.size() - 2)};
  for (int shift = 40; shift >= 0; shift -= 8) {
    bytes.push_back(static_cast<std::uint8_t>(parts[1] >> shift));
  }
  for (std::size_t i = 2; i < parts.size(); ++i) {
    const auto sub = static_cast<DWORD>(parts[i]);
    const auto *raw = reinterpret_cast<const std::uint8_t *>(&sub);
    bytes.insert(bytes.end(), raw, raw + sizeof sub);
  }
  return bytes;
}

std::string SidText(const void *sid) {
  const auto *bytes = static_cast<const std::uint8_t *>(sid);
  unsigned long long authority = 0;
  for (int i = 2; i < 8; ++i) authority = authority << 8 | bytes[i];
  std::string text = "S-" + std::to_string(bytes[0]) + "-" + std::to_string(authority);
  for (std::size_t i = 0; i < bytes[1]; ++i) {
    DWORD sub = 0;
    std::memcpy(&sub, bytes + 8 + sizeof sub * i, sizeof sub);
    text += "-" + std::to_string(sub);
  }
  return text;
}

// A service marked for deletion goes once it has stopped and nothing holds it.
void DropIfDone(const std::string &name) {
  auto found = S().services.find(name);
  if (found == S().services.end() || !found->second.markedForDeletion ||
      found->second.currentState != SERVICE_STOPPED) {
    return;
  }
  for (const auto &open : S().openServices) {
    if (!NoCaseLess()(open.second, name) && !NoCaseLess()(name, open.second)) return;
  }
  machine().dropService(name);
}

// Windows lays the configuration out as the record followed by its strings.
std::vector<std::uint8_t> ConfigStrings(const Service &service, std::vector<std::size_t> &offsets) {
  const std::string loadOrderGroup;
  const std::string dependencies("\0", 1);  // empty list: just the closing zero
  const std::string startName = "LocalSystem";
  const std::string strings[] = {service.binaryPath, loadOrderGroup, dependencies, startName,
                                 service.displayName};
  std::vector<std::uint8_t> bytes;
  for (const std::string &text : strings) {
    offsets.push_back(sizeof(QUERY_SERVICE_CONFIGA) + bytes.size());
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  }
  return bytes;
}

}  // namespace

// ---- registry ----

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  LSTATUS status = ERROR_SUCCESS;
  std::string path;
  if (key == HKEY_LOCAL_MACHINE) {
    path = subKey ? subKey : "";
  } else if (S().openKeys.count(key) != 0) {
    path = S().openKeys[key] + (subKey && *subKey ? std::string("\\") + subKey : std::string());
  } else {
    status = ERROR_INVALID_HANDLE;
  }
  if (status == ERROR_SUCCESS) {
    if (auto fault = InjectedFault("RegOpenKeyExA")) {
      status = static_cast<LSTATUS>(*fault);
    } else if (S().deniedKeys.count(path) != 0) {
      status = ERROR_ACCESS_DENIED;
    } else if (S().keys.count(path) == 0) {
      status = ERROR_FILE_NOT_FOUND;
    }
  }
  HKEY opened = nullptr;
  if (status == ERROR_SUCCESS) {
    opened = static_cast<HKEY>(NewHandle());
    S().openKeys[opened] = path;
  }
  if (result != nullptr) *result = opened;
  Log("RegOpenKeyExA(" + KeyName(key) + ", " + Quote(subKey) + ", " + std::to_string(options) +
      ", " + Hex(access) + ") -> " + std::to_string(status) + " " + handleName(opened));
  return status;
}

// Win32 declares `reserved` writable; the definition has to match.
LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName,
                                LPDWORD reserved,  // NOLINT(readability-non-const-parameter)
                                LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  const DWORD sizeIn = dataSize ? *dataSize : 0;
  LSTATUS status = ERROR_SUCCESS;
  const RegistryValue *value = nullptr;
  if (S().openKeys.count(key) == 0) {
    status = ERROR_INVALID_HANDLE;
  } else if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
    status = ERROR_INVALID_PARAMETER;
  } else if (auto fault = InjectedFault("RegQueryValueExA")) {
    status = static_cast<LSTATUS>(*fault);
  } else {
    const RegistryKey &values = S().keys[S().openKeys[key]];
    auto found = values.find(valueName ? valueName : "");
    if (found == values.end()) {
      status = ERROR_FILE_NOT_FOUND;
    } else {
      value = &found->second;
    }
  }
  if (value != nullptr) {
    const DWORD stored = static_cast<DWORD>(value->data.size());
    const bool read = data != nullptr && sizeIn >= stored;
    if (type != nullptr) *type = value->type;
    if (data != nullptr && !read) {
      status = ERROR_MORE_DATA;
    } else if (read && stored != 0) {
      std::memcpy(data, value->data.data(), stored);
    }
    // Windows keeps text as UTF-16: asked for its size, the narrow form may
    // report the wide bytes; only a read reports the bytes it wrote.
    const bool text =
        value->type == REG_SZ || value->type == REG_EXPAND_SZ || value->type == REG_MULTI_SZ;
    if (dataSize != nullptr) *dataSize = text && !read ? 2 * stored : stored;
  }
  Log("RegQueryValueExA(" + KeyName(key) + ", " + Quote(valueName) + ", size " +
      std::to_string(sizeIn) + ") -> " + std::to_string(status));
  return status;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  LSTATUS status = ERROR_SUCCESS;
  if (S().openKeys.erase(key) == 0) status = ERROR_INVALID_HANDLE;
  Log("RegCloseKey(" + KeyName(key) + ") -> " + std::to_string(status));
  return status;
}

// ---- service control manager ----

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD access) {
  SC_HANDLE manager = nullptr;
  if (!InjectedFault("OpenSCManagerA")) {
    manager = static_cast<SC_HANDLE>(NewHandle());
    S().openManagers[manager] = access;
  }
  Log("OpenSCManagerA(" + Quote(machineName) + ", " + Quote(databaseName) + ", " + Hex(access) +
      ") -> " + handleName(manager));
  return manager;
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access) {
  SC_HANDLE service = nullptr;
  if (S().openManagers.count(manager) == 0) {
    S().lastError = ERROR_INVALID_HANDLE;
  } else if (InjectedFault("OpenServiceA")) {
    // last error set by the fault
  } else if (serviceName == nullptr || S().services.count(serviceName) == 0) {
    S().lastError = ERROR_SERVICE_DOES_NOT_EXIST;
  } else {
    service = static_cast<SC_HANDLE>(NewHandle());
    S().openServices[service] = serviceName;
  }
  Log("OpenServiceA(" + handleName(manager) + ", " + Quote(serviceName) + ", " + Hex(access) +
      ") -> " + handleName(service));
  return service;
}

namespace {
// The service behind an open handle, or null with the last error set.
Service *OpenedService(SC_HANDLE handle, const char *function) {
  auto found = S().openServices.find(handle);
  if (found == S().openServices.end()) {
    S().lastError = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  auto service = S().services.find(found->second);
  if (service == S().services.end()) {
    S().lastError = ERROR_SERVICE_MARKED_FOR_DELETE;
    return nullptr;
  }
  if (InjectedFault(function)) return nullptr;
  return &service->second;
}
}  // namespace

BOOL WINAPI QueryServiceStatus(SC_HANDLE handle, LPSERVICE_STATUS status) {
  Service *service = OpenedService(handle, "QueryServiceStatus");
  if (service != nullptr && status != nullptr) {
    *status = SERVICE_STATUS{};
    status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status->dwCurrentState = service->currentState;
  }
  const BOOL ok = service != nullptr ? TRUE : FALSE;
  Log("QueryServiceStatus(" + handleName(handle) + ") -> " + std::to_string(ok));
  return ok;
}

BOOL WINAPI QueryServiceConfigA(SC_HANDLE handle, LPQUERY_SERVICE_CONFIGA config, DWORD bufferSize,
                                LPDWORD bytesNeeded) {
  BOOL ok = FALSE;
  if (Service *service = OpenedService(handle, "QueryServiceConfigA")) {
    std::vector<std::size_t> offsets;
    std::vector<std::uint8_t> blob;
    if (service->rawConfig) {
      blob = *service->rawConfig;
    } else {
      QUERY_SERVICE_CONFIGA record{};
      record.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
      record.dwStartType = service->startType;
      record.dwErrorControl = 1;
      blob.resize(sizeof record);
      std::memcpy(blob.data(), &record, sizeof record);
      const std::vector<std::uint8_t> strings = ConfigStrings(*service, offsets);
      blob.insert(blob.end(), strings.begin(), strings.end());
    }
    const DWORD needed = service->bytesNeededOverride.value_or(static_cast<DWORD>(blob.size()));
    if (bytesNeeded != nullptr) *bytesNeeded = needed;
    if (config == nullptr || bufferSize < needed || bufferSize < blob.size()) {
      S().lastError = service->shortBufferError;
    } else {
      auto *base = reinterpret_cast<std::uint8_t *>(config);
      if (!blob.empty()) std::memcpy(base, blob.data(), blob.size());  // an empty one has no data()
      if (service->rawConfig) {
        for (const auto &fixup : service->rawConfigPointers) {
          // Like the manager, never write past the caller's buffer, however
          // short the record is.
          if (fixup.first > bufferSize || bufferSize - fixup.first < sizeof(char *)) continue;
          char *target = reinterpret_cast<char *>(base) + fixup.second;
          std::memcpy(base + fixup.first, static_cast<const void *>(&target), sizeof target);
        }
      } else {
        char *const strings[] = {reinterpret_cast<char *>(base) + offsets[0],
                                 reinterpret_cast<char *>(base) + offsets[1],
                                 reinterpret_cast<char *>(base) + offsets[2],
                                 reinterpret_cast<char *>(base) + offsets[3],
                                 reinterpret_cast<char *>(base) + offsets[4]};
        config->lpBinaryPathName = strings[0];
        config->lpLoadOrderGroup = strings[1];
        config->lpDependencies = strings[2];
        config->lpServiceStartName = strings[3];
        config->lpDisplayName = strings[4];
      }
      ok = TRUE;
    }
  }
  Log("QueryServiceConfigA(" + handleName(handle) + ", size " + std::to_string(bufferSize) +
      ") -> " + std::to_string(ok));
  return ok;
}

BOOL WINAPI DeleteService(SC_HANDLE handle) {
  BOOL ok = FALSE;
  if (Service *service = OpenedService(handle, "DeleteService")) {
    if (service->deleteError != ERROR_SUCCESS) {
      S().lastError = service->deleteError;
    } else if (service->markedForDeletion) {
      S().lastError = ERROR_SERVICE_MARKED_FOR_DELETE;
    } else {
      service->markedForDeletion = true;
      ok = TRUE;
    }
  }
  Log("DeleteService(" + handleName(handle) + ") -> " + std::to_string(ok));
  return ok;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
  auto service = S().openServices.find(handle);
  const std::string name = service != S().openServices.end() ? service->second : std::string();
  const bool known = S().openServices.erase(handle) + S().openManagers.erase(handle) != 0;
  if (!known) S().lastError = ERROR_INVALID_HANDLE;
  if (!name.empty()) DropIfDone(name);
  Log("CloseServiceHandle(" + handleName(handle) + ") -> " + std::to_string(known ? 1 : 0));
  return known ? TRUE : FALSE;
}

// ---- the process's token ----

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, HANDLE *token) {
  HANDLE opened = nullptr;
  if (process != GetCurrentProcess() || token == nullptr) {
    S().lastError = ERROR_INVALID_HANDLE;  // only our own process
  } else if (!InjectedFault("OpenProcessToken")) {
    opened = NewHandle();
    S().openTokens.insert(opened);
  }
  if (token != nullptr) *token = opened;
  Log("OpenProcessToken(" + Hex(access) + ") -> " + handleName(opened));
  return opened != nullptr ? TRUE : FALSE;
}

// TokenUser: the record, then the SID it points at; TokenElevation only from
// Vista on. A buffer too small gets nothing but the size needed.
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass,
                                LPVOID information, DWORD length, LPDWORD returnLength) {
  BOOL ok = FALSE;
  const bool vista = (S().windowsVersion & 0xFF) >= 6;
  if (S().openTokens.count(token) == 0 || returnLength == nullptr) {
    S().lastError = ERROR_INVALID_HANDLE;
  } else if (InjectedFault("GetTokenInformation")) {
    // last error set by the fault
  } else if (informationClass == TokenUser) {
    const std::vector<std::uint8_t> sid = SidBytes(S().processUser);
    *returnLength = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    if (information == nullptr || length < *returnLength) {
      S().lastError = ERROR_INSUFFICIENT_BUFFER;
    } else {
      auto *user = static_cast<TOKEN_USER *>(information);
      auto *copy = static_cast<std::uint8_t *>(information) + sizeof(TOKEN_USER);
      std::memcpy(copy, sid.data(), sid.size());
      *user = TOKEN_USER{{copy, 0}};
      ok = TRUE;
    }
  } else if (informationClass == TokenElevation && vista) {
    *returnLength = sizeof(TOKEN_ELEVATION);
    if (information == nullptr || length < sizeof(TOKEN_ELEVATION)) {
      S().lastError = ERROR_INSUFFICIENT_BUFFER;
    } else {
      static_cast<TOKEN_ELEVATION *>(information)->TokenIsElevated = S().elevated ? 1 : 0;
      ok = TRUE;
    }
  } else {
    S().lastError = ERROR_INVALID_PARAMETER;
  }
  Log("GetTokenInformation(" + handleName(token) + ", " + std::to_string(informationClass) +
      ", size " + std::to_string(length) + ") -> " + std::to_string(ok));
  return ok;
}

// ---- event log ----

HANDLE WINAPI RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName) {
  HANDLE source = nullptr;
  if (InjectedFault("RegisterEventSourceA")) {
    // last error set by the fault
  } else if (serverName != nullptr || sourceName == nullptr) {
    S().lastError = ERROR_INVALID_PARAMETER;  // only this machine's log, by name
  } else {
    source = NewHandle();
    S().openEventSources[source] = sourceName;
  }
  Log("RegisterEventSourceA(" + Quote(serverName) + ", " + Quote(sourceName) + ") -> " +
      handleName(source));
  return source;
}

BOOL WINAPI ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                         WORD stringCount, DWORD dataSize, LPCSTR *strings, LPVOID data) {
  BOOL ok = FALSE;
  auto found = S().openEventSources.find(eventLog);
  if (found == S().openEventSources.end()) {
    S().lastError = ERROR_INVALID_HANDLE;
  } else if ((stringCount != 0 && strings == nullptr) || (dataSize != 0 && data == nullptr)) {
    S().lastError = ERROR_INVALID_PARAMETER;
  } else if (!InjectedFault("ReportEventA")) {
    EventReported event;
    event.source = found->second;
    event.type = type;
    event.category = category;
    event.eventId = eventId;
    if (userSid != nullptr) event.userSid = SidText(userSid);
    for (WORD i = 0; i < stringCount; ++i) event.strings.emplace_back(strings[i] ? strings[i] : "");
    event.dataSize = dataSize;
    S().events.push_back(event);
    ok = TRUE;
  }
  Log("ReportEventA(" + handleName(eventLog) + ", " + std::to_string(type) + ", " +
      std::to_string(eventId) + ") -> " + std::to_string(ok));
  return ok;
}

BOOL WINAPI DeregisterEventSource(HANDLE eventLog) {
  const bool known = S().openEventSources.erase(eventLog) != 0;
  if (!known) S().lastError = ERROR_INVALID_HANDLE;
  Log("DeregisterEventSource(" + handleName(eventLog) + ") -> " + std::to_string(known ? 1 : 0));
  return known ? TRUE : FALSE;
}

namespace {

// One entry as ReadEventLogA lays it out: the record, the source's and the
// computer's names, the user's SID (when one was given), the strings, no
// data, padding to a DWORD, and the length again at the end.
std::vector<std::uint8_t> RecordBytes(const EventReported &event, DWORD number) {
  EVENTLOGRECORD record{};
  std::vector<std::uint8_t> bytes(sizeof record);
  const auto append = [&bytes](const std::string &text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  };
  const auto pad = [&bytes] { bytes.resize((bytes.size() + 3) / 4 * 4); };
  append(event.source);
  append("FQTESTMACHINE");
  pad();
  record.UserSidOffset = static_cast<DWORD>(bytes.size());
  if (!event.userSid.empty()) {
    const std::vector<std::uint8_t> sid = SidBytes(event.userSid);
    record.UserSidLength = static_cast<DWORD>(sid.size());
    bytes.insert(bytes.end(), sid.begin(), sid.end());
  }
  record.StringOffset = static_cast<DWORD>(bytes.size());
  for (const std::string &text : event.strings) append(text);
  record.DataOffset = static_cast<DWORD>(bytes.size());
  pad();
  bytes.resize(bytes.size() + sizeof(DWORD));
  record.Length = static_cast<DWORD>(bytes.size());
  record.RecordNumber = number;
  record.EventID = event.eventId;
  record.EventType = event.type;
  record.NumStrings = static_cast<WORD>(event.strings.size());
  record.EventCategory = event.category;
  std::memcpy(bytes.data(), &record, sizeof record);
  std::memcpy(bytes.data() + bytes.size() - sizeof(DWORD), &record.Length, sizeof(DWORD));
  return bytes;
}

}  // namespace

HANDLE WINAPI OpenEventLogA(LPCSTR serverName, LPCSTR sourceName) {
  HANDLE log = nullptr;
  if (InjectedFault("OpenEventLogA")) {
    // last error set by the fault
  } else if (serverName != nullptr || sourceName == nullptr) {
    S().lastError = ERROR_INVALID_PARAMETER;  // only this machine's log, by name
  } else {
    log = NewHandle();
    S().openEventLogs[log] = std::nullopt;
  }
  Log("OpenEventLogA(" + Quote(serverName) + ", " + Quote(sourceName) + ") -> " + handleName(log));
  return log;
}

// Sequential reads only, either way, as many whole entries as fit; an entry
// that does not fit at all fails with the size it needs.
BOOL WINAPI ReadEventLogA(HANDLE eventLog, DWORD readFlags, DWORD, LPVOID buffer, DWORD bytesToRead,
                          DWORD *bytesRead, DWORD *minNumberOfBytesNeeded) {
  BOOL ok = FALSE;
  DWORD read = 0;
  auto found = S().openEventLogs.find(eventLog);
  const std::vector<EventReported> &events = S().events;
  const bool backwards = (readFlags & EVENTLOG_BACKWARDS_READ) != 0;
  if (found == S().openEventLogs.end()) {
    S().lastError = ERROR_INVALID_HANDLE;
  } else if ((readFlags != (EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ) &&
              readFlags != (EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ)) ||
             buffer == nullptr || bytesRead == nullptr || minNumberOfBytesNeeded == nullptr) {
    S().lastError = ERROR_INVALID_PARAMETER;
  } else if (!InjectedFault("ReadEventLogA")) {
    std::size_t next = found->second.value_or(backwards ? events.size() - 1 : 0);
    auto *out = static_cast<std::uint8_t *>(buffer);
    while (next < events.size()) {
      const std::vector<std::uint8_t> record =
          RecordBytes(events[next], S().oldestEventRecord + static_cast<DWORD>(next));
      if (record.size() > bytesToRead - read) {
        if (read == 0) {
          *minNumberOfBytesNeeded = static_cast<DWORD>(record.size());
          S().lastError = ERROR_INSUFFICIENT_BUFFER;
        }
        break;
      }
      std::memcpy(out + read, record.data(), record.size());
      read += static_cast<DWORD>(record.size());
      next = backwards ? next - 1 : next + 1;  // before the first, it wraps past the end
    }
    found->second = next;
    if (read == 0 && next >= events.size()) S().lastError = ERROR_HANDLE_EOF;
    ok = read != 0 ? TRUE : FALSE;
    *bytesRead = read;
  }
  Log("ReadEventLogA(" + handleName(eventLog) + ", " + Hex(readFlags) + ", size " +
      std::to_string(bytesToRead) + ") -> " + std::to_string(ok) + " read " + std::to_string(read));
  return ok;
}

BOOL WINAPI GetNumberOfEventLogRecords(HANDLE eventLog, PDWORD numberOfRecords) {
  const bool known = S().openEventLogs.count(eventLog) != 0 && numberOfRecords != nullptr;
  if (known) *numberOfRecords = static_cast<DWORD>(S().events.size());
  if (!known) S().lastError = ERROR_INVALID_HANDLE;
  Log("GetNumberOfEventLogRecords(" + handleName(eventLog) + ") -> " + std::to_string(known));
  return known ? TRUE : FALSE;
}

BOOL WINAPI GetOldestEventLogRecord(HANDLE eventLog, PDWORD oldestRecord) {
  const bool known = S().openEventLogs.count(eventLog) != 0 && oldestRecord != nullptr;
  if (known) *oldestRecord = S().oldestEventRecord;
  if (!known) S().lastError = ERROR_INVALID_HANDLE;
  Log("GetOldestEventLogRecord(" + handleName(eventLog) + ") -> " + std::to_string(known));
  return known ? TRUE : FALSE;
}

BOOL WINAPI CloseEventLog(HANDLE eventLog) {
  const bool known = S().openEventLogs.erase(eventLog) != 0;
  if (!known) S().lastError = ERROR_INVALID_HANDLE;
  Log("CloseEventLog(" + handleName(eventLog) + ") -> " + std::to_string(known ? 1 : 0));
  return known ? TRUE : FALSE;
}

void standin::Machine::dropService(const std::string &name) {
  state().keys.erase(kServicesKey + name);
  state().services.erase(name);
}

void standin::Machine::setServiceState(const std::string &name, DWORD currentState) {
  auto found = state().services.find(name);
  if (found == state().services.end()) return;
  found->second.currentState = currentState;
  DropIfDone(name);
}

void standin::Machine::setProcessUser(const std::string &sid) { state().processUser = sid; }

void standin::Machine::setElevated(bool elevated) { state().elevated = elevated; }
