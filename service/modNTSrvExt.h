// The program's operations on Windows services: query, presence test, removal.
#pragma once

#include <cstdint>
#include <string>

namespace modNTSrvExt {

// Reads the service's state code (see the table in the .cpp; 1 means
// stopped), start type and binary path. Each output is written only when the
// step producing it is reached. True when everything was read.
bool QueryServiceInfo(const std::wstring &name, std::int32_t &stateCode, std::int32_t &startType,
                      std::wstring &binaryPath);

// True when the service's registry key holds a non-empty "ImagePath" value.
bool ServiceExists(const std::wstring &name);

// The first call of a removal that failed, and its Windows error code.
struct RemovalFailure {
  const char *call = nullptr;  // "OpenSCManager", "OpenService", "DeleteService"; null: none
  std::uint32_t error = 0;
};

// True when the service control manager accepted the deletion, now or, for a
// service marked for deletion, before. When a call failed, the first one
// that did goes into `failure`, when given, and its error is left as the
// thread's last error, as Win32 leaves it: a deletion refused as already
// marked returns true with DeleteService and 1072 there. A marked service
// goes only once it has stopped: when the deletion was accepted, `state`,
// when given, gets its current state (SERVICE_STOPPED, SERVICE_RUNNING, ...)
// as the manager gives it on the same handle, or 0 where it cannot be read.
bool RemoveService(const std::wstring &name, RemovalFailure *failure = nullptr,
                   std::uint32_t *state = nullptr);

}  // namespace modNTSrvExt
