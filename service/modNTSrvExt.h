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

// True when the service control manager accepted the deletion, now or, for a
// service marked for deletion, before.
bool RemoveService(const std::wstring &name);

}  // namespace modNTSrvExt
