#include "eventlog/modEventLog.h"

#include <cstring>
#include <string>

#include "platform/ansi.h"
#include "platform/winapi.h"
#include "version.h"

namespace modEventLog {
namespace {

// The source is not registered in the registry: the program goes with the
// product moments later, and a message file registered for it would point at
// nothing.
const wchar_t kProgram[] = L"FQSrvUninstall " FQ_VERSION_TEXT;
const wchar_t kService[] = L"FQ";
const wchar_t kServiceKey[] = L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\FQ";
constexpr DWORD kMessageRoom = 512;
// 0: the system's own search, which ends in US English; a language named
// here would fail on a Windows without texts in it.
constexpr DWORD kSystemLanguage = 0;

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
// the line break and the full stop it ends with: it goes inside our own
// sentence. Empty when it has none.
std::wstring SystemText(DWORD error) {
  char text[kMessageRoom] = {0};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, kSystemLanguage, text, kMessageRoom, nullptr);
  std::wstring message = ansi::ToText(text, length < kMessageRoom ? length : 0);
  const auto trimEnd = [&message] { message.erase(message.find_last_not_of(L" \t\r\n") + 1); };
  trimEnd();
  if (!message.empty() && message.back() == L'.') {
    message.pop_back();
    trimEnd();
  }
  return message;
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

// What to do about the error, where we know more than Windows' text says.
std::wstring Remedy(const Run &run) {
  if (run.error == ERROR_SERVICE_DOES_NOT_EXIST) {
    // The manager reads its services when Windows starts: a key written since
    // is one it does not know.
    return std::wstring(L" The key ") + kServiceKey +
           L" holds an ImagePath, but the service manager does not know " + kService +
           L" (it reads its services when Windows starts): restart Windows and run it again, "
           L"or delete the key if nothing needs it.";
  }
  if (run.error == ERROR_ACCESS_DENIED && run.elevation == Elevation::NotElevated) {
    return L" The program did not run elevated: run it elevated.";
  }
  if (run.error == ERROR_ACCESS_DENIED && run.elevation == Elevation::Elevated) {
    return L" The program ran elevated.";
  }
  return std::wstring();
}

std::wstring FailureText(const Run &run) {
  const std::string call = run.failedCall != nullptr ? run.failedCall : "The deletion";
  std::wstring why =
      ansi::ToText(call.data(), call.size()) + L" failed with error " + Decimal(run.error);
  const std::wstring system = SystemText(run.error);
  if (!system.empty()) why += L" (" + system + L")";
  return std::wstring(kProgram) + L" could not remove the service " + kService + L": " + why +
         L"." + Remedy(run) + L" " + StopSentence(run) + L" " + BoxSentence(run.box) +
         L" Exit code " + Decimal(run.exitCode) + L".";
}

// The service's state, for one that has not stopped.
std::wstring StateClause(DWORD state) {
  const std::wstring service = kService;
  switch (state) {
    case 0:
      return L"its state could not be read";
    case SERVICE_RUNNING:
      return service + L" is still running";
    case SERVICE_STOP_PENDING:
      return service + L" is still stopping";
    case SERVICE_PAUSED:
      return service + L" is paused";
    case SERVICE_START_PENDING:
      return service + L" is starting";
    case SERVICE_PAUSE_PENDING:
      return service + L" is pausing";
    case SERVICE_CONTINUE_PENDING:
      return service + L" is resuming";
    default:
      break;
  }
  return service + L" is in state " + Decimal(state);
}

// A service marked for deletion that has not stopped runs on, its files in
// use, and its name stays taken.
std::wstring MarkedText(const Run &run) {
  const std::wstring what =
      run.outcome == Outcome::AlreadyMarked
          ? std::wstring(L" found the service ") + kService + L" already marked for deletion"
          : std::wstring(L" marked the service ") + kService + L" for deletion";
  return std::wstring(kProgram) + what + L", but " + StateClause(run.serviceState) +
         L": it goes once it has stopped and every handle to it is closed, or at the next "
         L"restart; until then its files may stay locked and installing " +
         kService + L" again fails with error 1072. " + StopSentence(run) + L" Exit code " +
         Decimal(run.exitCode) + L".";
}

std::wstring GoneText(const Run &run) {
  std::wstring how;
  switch (run.outcome) {
    case Outcome::AlreadyMarked:
      how = std::wstring(L" found the service ") + kService +
            L" already marked for deletion and stopped: it goes once every handle to it is "
            L"closed.";
      break;
    case Outcome::GoneMeanwhile:
      how = std::wstring(L" found the service ") + kService +
            L" gone by the time of its deletion: nothing was left to remove.";
      break;
    case Outcome::Deleted:
    case Outcome::Failed:
      how = std::wstring(L" removed the service ") + kService +
            L": the service manager accepted its deletion.";
      break;
  }
  return kProgram + how + L" " + StopSentence(run) + L" Exit code " + Decimal(run.exitCode) + L".";
}

// The record of the token's user, with room for the SID it points at.
struct UserRecord {
  alignas(TOKEN_USER) BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};

// The account the process runs as, which Event Viewer shows as the entry's
// user: SYSTEM for an installer's deferred action, else whoever started it.
// Null where the token cannot tell.
PSID ProcessUser(UserRecord &record) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD size = 0;
  const BOOL read = GetTokenInformation(token, TokenUser, record.bytes, sizeof record.bytes, &size);
  CloseHandle(token);
  if (!read) return nullptr;
  TOKEN_USER user{};
  std::memcpy(&user, record.bytes, sizeof user);
  return user.User.Sid;
}

}  // namespace

Entry EntryOf(const Run &run) {
  if (run.outcome == Outcome::Failed) {
    return Entry{EVENTLOG_ERROR_TYPE, kFailedEventId, FailureText(run)};
  }
  const bool marked = run.outcome == Outcome::Deleted || run.outcome == Outcome::AlreadyMarked;
  if (marked && run.serviceState != SERVICE_STOPPED) {
    return Entry{EVENTLOG_WARNING_TYPE, kMarkedEventId, MarkedText(run)};
  }
  return Entry{EVENTLOG_INFORMATION_TYPE, kRemovedEventId, GoneText(run)};
}

void ReportRun(const Run &run) {
  const Entry entry = EntryOf(run);
  const std::string text = ansi::FromText(entry.text);
  UserRecord record;
  const PSID user = ProcessUser(record);
  HANDLE source = RegisterEventSourceA(nullptr, kSource);
  if (source == nullptr) return;
  const char *strings[] = {text.c_str()};
  ReportEventA(source, entry.type, 0, entry.eventId, user, 1, 0, strings, nullptr);
  DeregisterEventSource(source);
}

}  // namespace modEventLog
