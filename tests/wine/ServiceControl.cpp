#include "ServiceControl.h"

#include "WineTest.h"

namespace winetest {
namespace {

// A service handle with its manager, both closed when it goes.
class OpenedService {
 public:
  OpenedService(const std::string &name, DWORD access) {
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager_) service_ = OpenServiceA(manager_, name.c_str(), access);
  }
  ~OpenedService() {
    if (service_) CloseServiceHandle(service_);
    if (manager_) CloseServiceHandle(manager_);
  }
  OpenedService(const OpenedService &) = delete;
  OpenedService &operator=(const OpenedService &) = delete;
  SC_HANDLE get() const { return service_; }

 private:
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

bool Status(const std::string &name, SERVICE_STATUS_PROCESS &status) {
  OpenedService service(name, SERVICE_QUERY_STATUS);
  DWORD needed = 0;
  return service.get() &&
         QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE *>(&status), sizeof status, &needed);
}

}  // namespace

std::string FixtureCommandLine(const FixtureOptions &options) {
  std::string line = "\"" + WindowsPath(Arg("fixture")) + "\"";
  if (!options.logPath.empty()) line += " --log \"" + options.logPath + "\"";
  if (options.startPendingMs) line += " --start-pending " + std::to_string(options.startPendingMs);
  if (options.stopPendingMs) line += " --stop-pending " + std::to_string(options.stopPendingMs);
  if (options.ignoreStop) line += " --ignore-stop";
  if (options.pausable) line += " --pausable";
  if (!options.runProgram.empty()) line += " --run \"" + options.runProgram + "\"";
  if (!options.resultPath.empty()) line += " --result \"" + options.resultPath + "\"";
  return line;
}

bool RegisterService(const std::string &name, const std::string &binaryPath, DWORD startType) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return false;
  SC_HANDLE service = CreateServiceA(
      manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, startType,
      SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return service != nullptr;
}

bool StartAndWait(const std::string &name, DWORD state) {
  {
    OpenedService service(name, SERVICE_START);
    if (!service.get() || !StartServiceA(service.get(), 0, nullptr)) return false;
  }
  return WaitForState(name, state, 10000);
}

bool SendControl(const std::string &name, DWORD control, DWORD expectedState) {
  {
    OpenedService service(name, SERVICE_PAUSE_CONTINUE | SERVICE_STOP);
    SERVICE_STATUS status;
    if (!service.get() || !::ControlService(service.get(), control, &status)) return false;
  }
  return WaitForState(name, expectedState, 10000);
}

DWORD CurrentState(const std::string &name) {
  SERVICE_STATUS_PROCESS status{};
  return Status(name, status) ? status.dwCurrentState : 0;
}

DWORD ServiceProcessId(const std::string &name) {
  SERVICE_STATUS_PROCESS status{};
  return Status(name, status) ? status.dwProcessId : 0;
}

bool WaitForState(const std::string &name, DWORD state, DWORD timeoutMs) {
  const std::uint64_t started = NowMs();
  const bool reached = WaitUntil([&] { return CurrentState(name) == state; }, timeoutMs);
  NoteWait(timeoutMs, NowMs() - started);
  return reached;
}

bool WaitUntilGone(const std::string &name, DWORD timeoutMs) {
  const std::uint64_t started = NowMs();
  const bool gone = WaitUntil(
      [&] {
        OpenedService service(name, SERVICE_QUERY_STATUS);
        return !service.get() && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
      },
      timeoutMs);
  NoteWait(timeoutMs, NowMs() - started);
  return gone;
}

bool MarkForDeletion(const std::string &name) {
  OpenedService service(name, DELETE);
  return service.get() && DeleteService(service.get());
}

void RemoveWhateverIsLeft(const std::string &name) {
  if (CurrentState(name) != 0 && CurrentState(name) != SERVICE_STOPPED) {
    const DWORD pid = ServiceProcessId(name);
    OpenedService service(name, SERVICE_STOP);
    SERVICE_STATUS status;
    if (service.get()) ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    if (!WaitForState(name, SERVICE_STOPPED, 3000) && pid != 0) {
      HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
      if (process) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
      }
    }
  }
  MarkForDeletion(name);
  WaitUntilGone(name, 5000);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, ServiceKeyPath(name).c_str());
}

std::string ServiceKeyPath(const std::string &name) {
  return "System\\CurrentControlSet\\Services\\" + name;
}

bool RegisterInRegistryOnly(const std::string &name, const std::string &imagePath) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ServiceKeyPath(name).c_str(), 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG status =
      RegSetValueExA(key, "ImagePath", 0, REG_EXPAND_SZ,
                     reinterpret_cast<const BYTE *>(imagePath.c_str()), imagePath.size() + 1);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

}  // namespace winetest
