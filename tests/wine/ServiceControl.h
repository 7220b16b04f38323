// Registering, driving and clearing away real services for the Wine tests.
#pragma once

#include <windows.h>

#include <string>

namespace winetest {

// How our fixture service (fixture/FQFixtureService.cpp) should behave.
struct FixtureOptions {
  std::string logPath;
  DWORD startPendingMs = 0;
  DWORD stopPendingMs = 0;
  bool ignoreStop = false;
  bool pausable = false;
  std::string runProgram;  // started once the service runs; see the fixture
  std::string resultPath;
};

// The fixture's command line: its quoted path (from the test's "--fixture"
// argument) and the options.
std::string FixtureCommandLine(const FixtureOptions &options);

// Registers `name` with the service manager, stopped.
bool RegisterService(const std::string &name, const std::string &binaryPath,
                     DWORD startType = SERVICE_DEMAND_START);

// Starts it and waits until it reports `state` (running, unless told otherwise).
bool StartAndWait(const std::string &name, DWORD state = SERVICE_RUNNING);

// Sends a control and waits until the service reports `expectedState`.
bool SendControl(const std::string &name, DWORD control, DWORD expectedState);

// The service's current state, or 0 when the service manager does not know it.
DWORD CurrentState(const std::string &name);

// The process id of a running service, or 0.
DWORD ServiceProcessId(const std::string &name);

bool WaitForState(const std::string &name, DWORD state, DWORD timeoutMs);

// Deletes the service; the manager marks it for deletion while it runs.
bool MarkForDeletion(const std::string &name);

// Waits until the service manager no longer knows the service.
bool WaitUntilGone(const std::string &name, DWORD timeoutMs);

// Stops (or ends) whatever is left of `name`, deletes it and its registry key.
void RemoveWhateverIsLeft(const std::string &name);

// Writes only the registry's side of a service: its key with an "ImagePath"
// value, which the service manager itself does not know.
bool RegisterInRegistryOnly(const std::string &name, const std::string &imagePath);

// The service's registry key, as the program looks it up.
std::string ServiceKeyPath(const std::string &name);

}  // namespace winetest
