#include "eventlog/modEventLog.h"

#include <cstring>
#include <string>
#include <vector>

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
// 0: FormatMessage's own search, the thread's language, the user's, the
// system's, then US English; a language named here would fail on a Windows
// without texts in it.
constexpr DWORD kLanguageSearch = 0;

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

// Windows' own text for an error code, in the first language found, without
// the line break and the full stop it ends with: it goes inside our own
// sentence. Empty when it has none.
std::wstring SystemText(DWORD error) {
  char text[kMessageRoom] = {0};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, kLanguageSearch, text, kMessageRoom, nullptr);
  std::wstring message = ansi::ToText(text, length < kMessageRoom ? length : 0);
  const auto trimEnd = [&message] { message.erase(message.find_last_not_of(L" \t\r\n") + 1); };
  trimEnd();
  if (!message.empty() && message.back() == L'.') {
    message.pop_back();
    trimEnd();
  }
  return message;
}

// Our text for a call that failed: its name, the code, Windows' own words.
std::wstring CallFailed(const char *call, DWORD error) {
  const std::string name = call;
  std::wstring why =
      ansi::ToText(name.data(), name.size()) + L" failed with error " + Decimal(error);
  const std::wstring system = SystemText(error);
  if (!system.empty()) why += L" (" + system + L")";
  return why;
}

std::wstring StopSentence(const Run &run) {
  switch (run.stop) {
    case Stop::NotRun:
      return L"The stop command was not run.";
    case Stop::NotStarted:
      if (run.stopFailedCall == nullptr) return L"The stop command could not be started.";
      return L"The stop command could not be started: " +
             CallFailed(run.stopFailedCall, run.stopError) + L".";
    case Stop::Ended:
      break;
  }
  std::wstring sentence =
      L"The stop command ended with exit code " + Decimal(run.stopExitCode) + L".";
  if (!run.netSaid.empty()) sentence += L" NET said: \"" + run.netSaid + L"\"";
  return sentence;
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
    // Elevated, what refuses is the service's own security, or a program
    // that guards it.
    return std::wstring(L" The program ran elevated: ") + kService +
           L"'s own security refuses its deletion to administrators (sc sdshow " + kService +
           L" shows who may delete it), or a program that protects it (a security product, "
           L"say) refused it.";
  }
  if (run.error == ERROR_ACCESS_DENIED) {
    return L" Elevation unknown (the program's token could not be read): run it elevated.";
  }
  return std::wstring();
}

std::wstring FailureText(const Run &run) {
  return std::wstring(kProgram) + L" could not remove the service " + kService + L": " +
         CallFailed(run.failedCall != nullptr ? run.failedCall : "The deletion", run.error) + L"." +
         Remedy(run) + L" " + StopSentence(run) + L" " + BoxSentence(run.box) + L" Exit code " +
         Decimal(run.exitCode) + L".";
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

// Deleted and stopped, a service goes as the last handle to it is closed:
// still registered once ours are, another program holds one.
std::wstring HeldOpenText(const Run &run) {
  return std::wstring(kProgram) + L" marked the service " + kService +
         L" for deletion and it has stopped, but another program still holds it open (the "
         L"Services console, Task Manager's Services tab, a monitoring agent, say): it goes once "
         L"that program closes it, or at the next restart; until then installing " +
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
    case Outcome::HeldOpen:
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

// Whether the deletion was accepted, now or before, and the service has not
// stopped (or its state could not be read: it may not have).
bool MarkedNotStopped(const Run &run) {
  const bool marked = run.outcome == Outcome::Deleted || run.outcome == Outcome::AlreadyMarked;
  return marked && run.serviceState != SERVICE_STOPPED;
}

const wchar_t *OutcomeField(const Run &run) {
  switch (run.outcome) {
    case Outcome::Deleted:
      return MarkedNotStopped(run) ? L"marked" : L"removed";
    case Outcome::HeldOpen:
      return L"held open";
    case Outcome::AlreadyMarked:
      return L"already marked";
    case Outcome::GoneMeanwhile:
      return L"gone";
    case Outcome::Failed:
      break;
  }
  return L"failed";
}

std::wstring StateField(const Run &run) {
  if (run.outcome == Outcome::GoneMeanwhile || run.outcome == Outcome::Failed) return L"";
  return run.serviceState == 0 ? L"unknown" : Decimal(run.serviceState);
}

std::wstring StopField(const Run &run) {
  switch (run.stop) {
    case Stop::NotRun:
      return L"not run";
    case Stop::NotStarted:
      return L"not started";
    case Stop::Ended:
      break;
  }
  return Decimal(run.stopExitCode);
}

const wchar_t *BoxField(const Run &run) {
  if (run.outcome != Outcome::Failed) return L"none";
  switch (run.box) {
    case Box::NobodyInSession0:
      return L"not shown: session 0";
    case Box::NobodyAtThisWindowStation:
      return L"not shown: window station";
    case Box::Shown:
      break;
  }
  return L"shown";
}

const wchar_t *ElevationField(Elevation elevation) {
  switch (elevation) {
    case Elevation::Elevated:
      return L"elevated";
    case Elevation::NotElevated:
      return L"not elevated";
    case Elevation::Unknown:
      break;
  }
  return L"unknown";
}

std::vector<std::wstring> FieldsOf(const Run &run) {
  const bool failed = run.outcome == Outcome::Failed;
  std::vector<std::wstring> fields(kFieldCount);
  fields[kOutcomeField] = OutcomeField(run);
  if (failed && run.failedCall != nullptr) {
    const std::string call = run.failedCall;
    fields[kFailedCallField] = ansi::ToText(call.data(), call.size());
  }
  if (failed) fields[kErrorField] = Decimal(run.error);
  fields[kStateField] = StateField(run);
  fields[kStopField] = StopField(run);
  if (run.stop == Stop::Ended) fields[kNetSaidField] = run.netSaid;
  fields[kBoxField] = BoxField(run);
  fields[kElevationField] = ElevationField(run.elevation);
  fields[kExitCodeField] = Decimal(run.exitCode);
  return fields;
}

}  // namespace

Entry EntryOf(const Run &run) {
  Entry entry;
  if (run.outcome == Outcome::Failed) {
    entry = Entry{EVENTLOG_ERROR_TYPE, kFailedEventId, FailureText(run), {}};
  } else if (MarkedNotStopped(run)) {
    entry = Entry{EVENTLOG_WARNING_TYPE, kMarkedEventId, MarkedText(run), {}};
  } else if (run.outcome == Outcome::HeldOpen) {
    entry = Entry{EVENTLOG_WARNING_TYPE, kMarkedEventId, HeldOpenText(run), {}};
  } else {
    entry = Entry{EVENTLOG_INFORMATION_TYPE, kRemovedEventId, GoneText(run), {}};
  }
  entry.fields = FieldsOf(run);
  return entry;
}

void ReportRun(const Run &run) {
  const Entry entry = EntryOf(run);
  std::vector<std::string> narrow{ansi::FromText(entry.text)};
  narrow.reserve(1 + entry.fields.size());
  for (const std::wstring &field : entry.fields) narrow.push_back(ansi::FromText(field));
  std::vector<const char *> strings;
  strings.reserve(narrow.size());
  for (const std::string &text : narrow) strings.push_back(text.c_str());
  UserRecord record;
  const PSID user = ProcessUser(record);
  HANDLE source = RegisterEventSourceA(nullptr, kSource);
  if (source == nullptr) return;
  ReportEventA(source, entry.type, 0, entry.eventId, user, static_cast<WORD>(strings.size()), 0,
               strings.data(), nullptr);
  DeregisterEventSource(source);
}

}  // namespace modEventLog
