#include "service/modNTSrvExt.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "platform/ansi.h"
#include "platform/winapi.h"
#include "registry/modRegistryAccess.h"

namespace modNTSrvExt {
namespace {

constexpr DWORD kQueryManagerAccess = SC_MANAGER_CONNECT;
constexpr DWORD kRemoveManagerAccess = SC_MANAGER_CREATE_SERVICE;
constexpr DWORD kQueryServiceAccess = GENERIC_READ;
constexpr DWORD kRemoveServiceAccess = SERVICE_ALL_ACCESS;
const wchar_t kServicesKey[] = L"System\\CurrentControlSet\\Services\\";
const wchar_t kImagePathValue[] = L"ImagePath";
// The service manager never hands back more than 8 KiB of configuration;
// a larger size is not worth allocating.
constexpr DWORD kMaxConfigSize = 8 * 1024;

// Our state codes for the service manager's current states. Start pending
// shares 7 with paused; 16 and 32 are kept as they have always been read.
bool StateCodeOf(DWORD currentState, std::int32_t &code) {
  struct Mapping {
    DWORD state;
    std::int32_t code;
  };
  static const Mapping kTable[] = {{SERVICE_STOPPED, 1},
                                   {SERVICE_START_PENDING, 7},
                                   {SERVICE_STOP_PENDING, 3},
                                   {SERVICE_RUNNING, 4},
                                   {SERVICE_CONTINUE_PENDING, 5},
                                   {SERVICE_PAUSE_PENDING, 6},
                                   {SERVICE_PAUSED, 7},
                                   {16, 2},
                                   {32, 1}};
  for (const Mapping &entry : kTable) {
    if (entry.state == currentState) {
      code = entry.code;
      return true;
    }
  }
  return false;
}

// Leading and trailing space characters only; tabs and the like stay.
std::wstring TrimSpaces(const std::wstring &text) {
  const std::size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) return std::wstring();
  return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

// The binary path of a configuration the service manager wrote into `buffer`,
// whatever its length. A pointer outside the buffer reads as no path.
std::wstring BinaryPathOf(const std::vector<std::uint8_t> &buffer, const char *path) {
  const char *begin = reinterpret_cast<const char *>(buffer.data());
  const char *end = begin + buffer.size();
  // The pointer may lie anywhere: compare addresses, which is defined for
  // unrelated pointers, where < on the pointers themselves is not.
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(path);
  if (path == nullptr || address < reinterpret_cast<std::uintptr_t>(begin) ||
      address >= reinterpret_cast<std::uintptr_t>(end)) {
    return std::wstring();
  }
  const void *terminator = std::memchr(path, '\0', static_cast<std::size_t>(end - path));
  const std::size_t length =
      terminator != nullptr ? static_cast<std::size_t>(static_cast<const char *>(terminator) - path)
                            : static_cast<std::size_t>(end - path);
  return ansi::ToText(path, length);
}

// Status, then configuration, of an open service. False at the first step
// that fails; outputs of the steps before it stay written.
bool ReadStatusAndConfig(SC_HANDLE service, std::int32_t &stateCode, std::int32_t &startType,
                         std::wstring &binaryPath) {
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service, &status)) return false;
  StateCodeOf(status.dwCurrentState, stateCode);

  bool ok = true;
  DWORD needed = 0;
  alignas(QUERY_SERVICE_CONFIGA) BYTE probe[1] = {0};
  const BOOL probed =
      QueryServiceConfigA(service, reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(probe), 0, &needed);
  const DWORD probeError = GetLastError();
  if (!probed && probeError != ERROR_INSUFFICIENT_BUFFER) ok = false;
  if (needed > kMaxConfigSize) return false;

  std::vector<std::uint8_t> buffer;
  try {
    buffer.assign(static_cast<std::size_t>(needed) + 1, 0);
  } catch (const std::bad_alloc &) {
    return false;
  }
  if (!QueryServiceConfigA(service, reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buffer.data()),
                           needed, &needed)) {
    return false;
  }
  QUERY_SERVICE_CONFIGA config{};
  std::memcpy(&config, buffer.data(), std::min(sizeof config, buffer.size()));
  startType = static_cast<std::int32_t>(config.dwStartType);
  binaryPath = TrimSpaces(BinaryPathOf(buffer, config.lpBinaryPathName));
  return ok;
}

// Length of the value as text: an integer always has digits.
std::size_t TextLength(const modRegistryAccess::RegistryValue &value) {
  if (const auto *text = std::get_if<std::wstring>(&value)) return text->size();
  if (std::holds_alternative<std::int32_t>(value)) return 1;
  // A byte-string path counts when it holds at least one byte.
  if (const auto *bytes = std::get_if<modRegistryAccess::ByteString>(&value)) return bytes->size();
  return 0;
}

}  // namespace

bool QueryServiceInfo(const std::wstring &name, std::int32_t &stateCode, std::int32_t &startType,
                      std::wstring &binaryPath) {
  bool ok = true;
  // A manager that cannot be opened makes the service open below fail.
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, kQueryManagerAccess);
  if (manager == nullptr) ok = false;
  SC_HANDLE service =
      OpenServiceA(manager, ansi::FromText(TrimSpaces(name)).c_str(), kQueryServiceAccess);
  if (service == nullptr || !ReadStatusAndConfig(service, stateCode, startType, binaryPath)) {
    ok = false;
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return ok;
}

bool ServiceExists(const std::wstring &name) {
  const modRegistryAccess::RegistryValue imagePath =
      modRegistryAccess::ReadRegValue(HKEY_LOCAL_MACHINE, kServicesKey + name, kImagePathValue);
  return TextLength(imagePath) != 0;
}

bool RemoveService(const std::wstring &name, RemovalFailure *failure, std::uint32_t *state) {
  RemovalFailure first;
  // The error is read right after the call that failed, before anything else
  // can change it.
  const auto failed = [&first](const char *call) {
    const DWORD error = GetLastError();
    if (first.call == nullptr) first = RemovalFailure{call, error};
    return error;
  };
  // Neither handle is tested: a null one makes DeleteService fail.
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, kRemoveManagerAccess);
  if (manager == nullptr) failed("OpenSCManager");
  SC_HANDLE service = OpenServiceA(manager, ansi::FromText(name).c_str(), kRemoveServiceAccess);
  if (service == nullptr) failed("OpenService");
  // A service already marked for deletion (still running when an earlier run
  // deleted it) goes when it stops: the manager accepted its deletion then.
  const bool removed =
      DeleteService(service) != FALSE || failed("DeleteService") == ERROR_SERVICE_MARKED_FOR_DELETE;
  if (removed && state != nullptr) {
    // Asked before the handle goes, ours being one that keeps it there.
    SERVICE_STATUS status{};
    *state = QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (first.call != nullptr) SetLastError(first.error);  // not what closing a null handle left
  if (failure != nullptr) *failure = first;
  return removed;
}

}  // namespace modNTSrvExt
