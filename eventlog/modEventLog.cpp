#include "eventlog/modEventLog.h"

#include <string>

#include "platform/ansi.h"
#include "platform/winapi.h"
#include "version.h"

namespace modEventLog {
namespace {

// Not registered in the registry: the program goes with the product moments
// later, and a message file registered for it would point at nothing. Event
// Viewer shows our one string after its "description cannot be found".
const char kSource[] = "FQSrvUninstall";
const wchar_t kProgram[] = L"FQSrvUninstall " FQ_VERSION_TEXT;
const wchar_t kService[] = L"FQ";
constexpr DWORD kRemovedEventId = 1;
constexpr DWORD kFailedEventId = 2;
constexpr DWORD kMessageRoom = 512;

// Decimal digits, as std::to_wstring writes them, without the wide printf
// that it would link in (some 27 KiB of the .exe).
std::wstring Decimal(long long number) {
  const bool negative = number < 0;
  unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(number)
                                          : static_cast<unsigned long long>(number);
  std::wstring digits;
  do {
    digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  return negative ? L"-" + digits : digits;
}

// Windows' own text for an error code, in the system's language, without
// the line break it ends with; empty when it has none.
std::wstring SystemText(DWORD error) {
  char text[kMessageRoom] = {0};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, text, kMessageRoom, nullptr);
  std::wstring message = ansi::ToText(text, length < kMessageRoom ? length : 0);
  const std::size_t end = message.find_last_not_of(L" \t\r\n");
  return end == std::wstring::npos ? std::wstring() : message.substr(0, end + 1);
}

std::wstring StopSentence(const Run &run) {
  switch (run.stop) {
    case Stop::NotRun:
      return L"The stop command was not run.";
    case Stop::NotStarted:
      return L"The stop command could not be started.";
    case Stop::Ended:
      break;
  }
  return L"The stop command ended with exit code " + Decimal(run.stopExitCode) + L".";
}

std::wstring BoxSentence(Box box) {
  switch (box) {
    case Box::NobodyInSession0:
      return L"No error box: nobody could see it (session 0).";
    case Box::NobodyAtThisWindowStation:
      return L"No error box: nobody could see it (a window station nobody sees).";
    case Box::Shown:
      break;
  }
  return L"The error box is shown.";
}

std::wstring HowItWent(Outcome outcome) {
  switch (outcome) {
    case Outcome::AlreadyMarked:
      return L"it was already marked for deletion and goes when it stops";
    case Outcome::GoneMeanwhile:
      return L"it was gone by the time of its deletion";
    case Outcome::Deleted:
    case Outcome::Failed:
      break;
  }
  return L"the service manager accepted its deletion";
}

std::wstring FailureText(const Run &run) {
  const std::string call = run.failedCall != nullptr ? run.failedCall : "The deletion";
  std::wstring why =
      ansi::ToText(call.data(), call.size()) + L" failed with error " + Decimal(run.error);
  const std::wstring system = SystemText(run.error);
  if (!system.empty()) why += L" (" + system + L")";
  return std::wstring(kProgram) + L" could not remove the service " + kService + L": " + why +
         L". " + StopSentence(run) + L" " + BoxSentence(run.box) + L" Exit code " +
         Decimal(run.exitCode) + L".";
}

std::wstring RemovedText(const Run &run) {
  return std::wstring(kProgram) + L" removed the service " + kService + L": " +
         HowItWent(run.outcome) + L". " + StopSentence(run) + L" Exit code " +
         Decimal(run.exitCode) + L".";
}

}  // namespace

bool ReportRun(const Run &run) {
  const bool failed = run.outcome == Outcome::Failed;
  const std::string text = ansi::FromText(failed ? FailureText(run) : RemovedText(run));
  HANDLE source = RegisterEventSourceA(nullptr, kSource);
  if (source == nullptr) return false;
  const char *strings[] = {text.c_str()};
  const BOOL written =
      ReportEventA(source, failed ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0,
                   failed ? kFailedEventId : kRemovedEventId, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(source);
  return written != FALSE;
}

}  // namespace modEventLog
