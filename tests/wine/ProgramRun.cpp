#include "ProgramRun.h"

namespace winetest {

Outcome ProgramTest::Run(const char *program, char *commandLine, const char *directory,
                         bool everyProcess) {
  Outcome outcome;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // An installer's command has ended when every process it started has:
  // an uninstaller may hand over to a copy of itself and leave before it is
  // done. They run in a job, which counts them.
  HANDLE job = everyProcess ? CreateJobObjectA(nullptr, nullptr) : nullptr;
  if (everyProcess) {
    EXPECT_NE(job, nullptr) << GetLastError();
  }
  const auto started = NowMs();
  // The program detached from our console, as a GUI program started from
  // the desktop has none: a console program it starts gets a console of its
  // own. An installer's command line keeps ours.
  const DWORD flags = program != nullptr ? DETACHED_PROCESS : CREATE_SUSPENDED;
  if (!CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, flags, nullptr, directory,
                      &startup, &process)) {
    ADD_FAILURE() << "cannot start " << (program ? program : commandLine) << ": " << GetLastError();
    if (job) CloseHandle(job);
    return outcome;
  }
  if (job) {
    EXPECT_TRUE(AssignProcessToJobObject(job, process.hProcess)) << GetLastError();
  }
  if (flags & CREATE_SUSPENDED) ResumeThread(process.hThread);  // in its job or not
  Watcher watcher(everyProcess ? 0 : process.dwProcessId);
  bool jobUnreadable = false;
  const auto jobEmpty = [&] {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    jobUnreadable = !QueryInformationJobObject(job, JobObjectBasicAccountingInformation,
                                               &accounting, sizeof accounting, nullptr);
    return jobUnreadable || accounting.ActiveProcesses == 0;
  };
  outcome.finished = WaitForSingleObject(process.hProcess, kProgramTimeoutMs) == WAIT_OBJECT_0;
  if (outcome.finished && job) {
    const std::uint64_t now = NowMs(), deadline = started + kProgramTimeoutMs;
    outcome.finished =
        WaitUntil(jobEmpty, now < deadline ? static_cast<DWORD>(deadline - now) : 0) &&
        !jobUnreadable;
  }
  if (jobUnreadable) ADD_FAILURE() << "cannot ask the job how many processes it has";
  outcome.elapsedMs = NowMs() - started;
  NoteWait(kProgramTimeoutMs, outcome.elapsedMs);
  outcome.seen = watcher.Stop();
  if (!outcome.finished) {
    EndDescendantsOf(process.dwProcessId);  // whatever it waits for
    TerminateProcess(process.hProcess, 99);
    if (job) TerminateJobObject(job, 99);
  }
  GetExitCodeProcess(process.hProcess, &outcome.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (job) CloseHandle(job);
  outcome.progressGoneAfterwards = !outcome.seen.progress || !IsWindow(outcome.seen.progress);
  return outcome;
}

}  // namespace winetest
