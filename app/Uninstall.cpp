#include "app/Uninstall.h"

#include <cstdint>
#include <string>

#include "eventlog/modEventLog.h"
#include "platform/winapi.h"
#include "process/modShell.h"
#include "service/modNTSrvExt.h"
#include "ui/frmFQSrvUninstall.h"

namespace Uninstall {
namespace {

const wchar_t kServiceName[] = L"FQ";
const wchar_t kStopCommand[] = L"CMD.EXE /C NET STOP FQ";
constexpr int kStopShowState = 2;  // any positive show state starts the command hidden
constexpr DWORD kPauseMs = 1000;
constexpr std::int32_t kStoppedStateCode = 1;
const char kErrorText[] = "Access denied ...";
const char kErrorTitle[] = "Error";

constexpr DWORD kVistaMajorVersion = 6;

// Since Vista, session 0 holds the services alone and no user ever sees it,
// though its own WinSta0 is marked visible (interactive services, programs
// started as LocalSystem on WinSta0\Default). Before Vista it is the
// console's, where the user sits. GetVersion's low byte is the major version.
bool InServicesSession() {
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) return false;
  return session == 0 && (GetVersion() & 0xFF) >= kVistaMajorVersion;
}

// Whether anyone sees what this process shows. A process started by a service
// (an installer's action run as LocalSystem, a deployment agent) mostly has a
// window station that nobody sees, where a message box would wait for ever
// for an answer. When we cannot tell, we take it that someone sees.
modEventLog::Box WhereTheBoxGoes() {
  if (InServicesSession()) return modEventLog::Box::NobodyInSession0;
  USEROBJECTFLAGS flags{};
  if (!GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                 nullptr)) {
    return modEventLog::Box::Shown;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0 ? modEventLog::Box::Shown
                                            : modEventLog::Box::NobodyAtThisWindowStation;
}

// Whether the process runs elevated, which explains most refusals: an
// administrator's programs run with a filtered token unless started
// elevated. TokenElevation exists since Vista; before, nothing is said.
modEventLog::Elevation ProcessElevation() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return modEventLog::Elevation::Unknown;
  }
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const BOOL read = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  if (!read) return modEventLog::Elevation::Unknown;
  return elevation.TokenIsElevated != 0 ? modEventLog::Elevation::Elevated
                                        : modEventLog::Elevation::NotElevated;
}

// Deletes the service and tells what became of it, in the run's record.
void Remove(modEventLog::Run &run) {
  modNTSrvExt::RemovalFailure failure;
  std::uint32_t state = 0;
  if (modNTSrvExt::RemoveService(kServiceName, &failure, &state)) {
    // Accepted, or refused as already marked for deletion: either way it
    // goes only once it has stopped.
    run.outcome = failure.call != nullptr ? modEventLog::Outcome::AlreadyMarked
                                          : modEventLog::Outcome::Deleted;
    run.serviceState = state;
    // Stopped, the manager drops it, key and all, as the last handle to it
    // closes; ours are closed: still registered, another program holds one.
    if (run.outcome == modEventLog::Outcome::Deleted && state == SERVICE_STOPPED &&
        modNTSrvExt::ServiceExists(kServiceName)) {
      run.outcome = modEventLog::Outcome::HeldOpen;
    }
  } else if (!modNTSrvExt::ServiceExists(kServiceName)) {
    // It was marked for deletion and has stopped meanwhile: it is gone.
    run.outcome = modEventLog::Outcome::GoneMeanwhile;
  } else {
    run.outcome = modEventLog::Outcome::Failed;
    run.failedCall = failure.call;
    run.error = failure.error;
    run.box = WhereTheBoxGoes();
    run.exitCode = kExitRemovalFailed;
  }
}

}  // namespace

int Main() {
  // Without a window (it could not be created) the removal still goes ahead.
  frmFQSrvUninstall::Load();

  std::int32_t stateCode = 0;
  std::int32_t startType = 0;
  std::wstring binaryPath;
  const bool queryOk =
      modNTSrvExt::QueryServiceInfo(kServiceName, stateCode, startType, binaryPath);
  // A failed query never asks for a stop; an unmapped state does.
  const bool stopNeeded = queryOk && stateCode != kStoppedStateCode;

  modEventLog::Run run;
  run.exitCode = kExitRemoved;
  if (modNTSrvExt::ServiceExists(kServiceName)) {
    frmFQSrvUninstall::Show();
    frmFQSrvUninstall::Repaint();
    if (stopNeeded) {
      // A failed stop shows in the removal; its exit code and what NET said
      // go into the log.
      modShell::Output said;
      run.stopExitCode = modShell::RunAndWait(kStopCommand, kStopShowState, &said);
      run.stop = run.stopExitCode == modShell::kNotStarted ? modEventLog::Stop::NotStarted
                                                           : modEventLog::Stop::Ended;
      run.netSaid = said.text;
      run.stopFailedCall = said.failedCall;
      run.stopError = said.error;
      Sleep(kPauseMs);
    }
    Sleep(kPauseMs);
    Remove(run);
    run.elevation = ProcessElevation();
    // Before the box, so that a run ended while its box waits still tells why.
    modEventLog::ReportRun(run);
    // Where nobody sees the box, nobody could close it: the exit status
    // alone tells the installer.
    if (run.outcome == modEventLog::Outcome::Failed && run.box == modEventLog::Box::Shown) {
      MessageBoxA(frmFQSrvUninstall::Handle(), kErrorText, kErrorTitle, MB_OK | MB_ICONSTOP);
    }
  }
  frmFQSrvUninstall::Unload();
  return run.exitCode;
}

}  // namespace Uninstall
