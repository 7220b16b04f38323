#include "ProgramRun.h"

#include <cstdio>

namespace winetest {

Outcome ProgramTest::Run(const char *program, char *commandLine, const char *directory,
                         bool everyProcess, HANDLE token, const std::string &startedElsewhere) {
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
  const BOOL created =
      token != nullptr ? CreateProcessAsUserA(token, program, commandLine, nullptr, nullptr, FALSE,
                                              flags, nullptr, directory, &startup, &process)
                       : CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, flags,
                                        nullptr, directory, &startup, &process);
  if (!created) {
    ADD_FAILURE() << "cannot start " << (program ? program : commandLine) << ": " << GetLastError();
    if (job) CloseHandle(job);
    return outcome;
  }
  if (job) {
    EXPECT_TRUE(AssignProcessToJobObject(job, process.hProcess)) << GetLastError();
  }
  if (flags & CREATE_SUSPENDED) ResumeThread(process.hThread);  // in its job or not
  Watcher watcher(Watched{process.dwProcessId, job, startedElsewhere});
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

Outcome ProgramTest::RunFromAService() {
  Outcome outcome;
  FixtureOptions launcher;
  launcher.runProgram = WindowsPath(Arg("program"));
  launcher.resultPath = directory_ + "\\launched.txt";
  launched_ = true;
  EXPECT_TRUE(RegisterService(kLauncher, FixtureCommandLine(launcher)));
  EXPECT_TRUE(StartAndWait(kLauncher));
  // The file is moved into place whole; until the mover has let go of it,
  // it may not open yet.
  std::string result;
  const std::uint64_t started = NowMs();
  WaitUntil(
      [&] {
        result = ReadWholeFile(launcher.resultPath);
        return !result.empty();
      },
      kProgramTimeoutMs);
  NoteWait(kProgramTimeoutMs, NowMs() - started);
  unsigned long exitCode = 0;
  unsigned long long elapsedMs = 0;
  unsigned long stationFlags = 0;
  const int read =
      std::sscanf(result.c_str(), "%lu %llu %lu", &exitCode, &elapsedMs, &stationFlags);
  outcome.finished = read >= 2;
  outcome.exitCode = exitCode;
  outcome.elapsedMs = elapsedMs;
  if (outcome.finished) {
    EXPECT_EQ(read, 3) << "the launcher could not read its window station's flags";
    EXPECT_EQ(stationFlags & WSF_VISIBLE, 0u) << "the program ran where it is seen";
  }
  return outcome;
}

}  // namespace winetest
