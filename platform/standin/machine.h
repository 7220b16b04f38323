// The in-memory machine behind the Linux stand-in of Win32. Tests arrange it
// (services, registry values, children, display), run a unit, then inspect
// what it saw: the ordered call log, open handles, sleeps, windows and boxes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "windows.h"

namespace standin {

// Case-insensitive ordering, as Windows compares service names and key paths.
struct NoCaseLess {
  bool operator()(const std::string &a, const std::string &b) const;
};

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> data;
};
// Values of one key, by value name.
using RegistryKey = std::map<std::string, RegistryValue, NoCaseLess>;

struct Service {
  DWORD currentState = SERVICE_STOPPED;
  DWORD startType = SERVICE_DEMAND_START;
  std::string binaryPath;
  std::string displayName;
  DWORD deleteError = ERROR_SUCCESS;  // non-zero: DeleteService refuses with this error
  // Set by an accepted DeleteService; a second one is refused with 1072. The
  // service goes once it has stopped and no handle to it is left open.
  bool markedForDeletion = false;
  // When set, QueryServiceConfigA hands back exactly these bytes (a record
  // followed by its strings) instead of laying one out; the fixups say which
  // record fields point where, as offsets from the start of the blob.
  std::optional<std::vector<std::uint8_t>> rawConfig;
  std::map<std::size_t, std::size_t> rawConfigPointers;  // field offset -> target offset
  std::optional<DWORD> bytesNeededOverride;              // what the size probe reports
  // The error of a configuration read into too small a buffer; the bytes
  // needed are reported all the same.
  DWORD shortBufferError = ERROR_INSUFFICIENT_BUFFER;
};

// What a command line does when it is started.
struct ChildBehaviour {
  bool startFails = false;
  DWORD startError = ERROR_FILE_NOT_FOUND;
  DWORD exitCode = 0;
  bool exitCodeUnreadable = false;
  std::function<void()> onRun;  // runs when the child "runs" (during the wait)
  // Written to its standard output, then its standard error, when it runs.
  std::string output;
  std::string errorOutput;
};

// A child that was started, with everything CreateProcessA received.
struct StartedChild {
  std::string applicationName;  // empty when none was passed
  bool hadApplicationName = false;
  std::string commandLine;
  std::string currentDirectory;  // empty when none was passed
  bool hadCurrentDirectory = false;
  BOOL inheritHandles = FALSE;
  DWORD creationFlags = 0;
  bool environmentInherited = true;  // no environment block passed
  bool securityAttributesPassed = false;
  STARTUPINFOA startup{};
  std::vector<std::uint8_t> startupBytes;  // the record as raw bytes (cb of them)
  HANDLE process = nullptr;
  HANDLE thread = nullptr;
  bool ran = false;  // it has written its output
};

// A file opened with CreateFileA.
struct OpenedFile {
  std::string name;
  DWORD access = 0;
  bool inheritable = false;
  bool closed = false;
  DWORD shareMode = 0;
  DWORD creationDisposition = 0;
  DWORD flagsAndAttributes = 0;
  std::string contents;  // what children wrote to it
};

struct Window {
  std::string className;
  std::string text;
  HWND parent = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, width = 0, height = 0;  // outer rectangle, in the parent's client area
  bool visible = false;
  bool destroyed = false;
  int repaints = 0;  // immediate paints (RedrawWindow with RDW_UPDATENOW, UpdateWindow)
  HFONT font = nullptr;
  HICON bigIcon = nullptr;
  HICON smallIcon = nullptr;
  HANDLE image = nullptr;  // STM_SETIMAGE / STM_SETICON
  WNDPROC proc = nullptr;
  LONG_PTR menuId = 0;
};

struct MessageBoxShown {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  UINT type = 0;
  bool ownerVisible = false;  // was the owner visible while the box was up
};

// An entry written to the event log, with everything ReportEventA received.
struct EventReported {
  std::string source;  // as RegisterEventSourceA got it
  WORD type = 0;
  WORD category = 0;
  DWORD eventId = 0;
  std::string userSid;  // the SID passed, as text ("S-1-5-18"); empty: none
  std::vector<std::string> strings;
  DWORD dataSize = 0;
};

// One injected failure: the nth call (1-based) of a function fails and sets
// this last-error code. For QueryRegValue-style functions the code is the
// returned status.
struct Fault {
  int nth = 1;
  DWORD error = ERROR_ACCESS_DENIED;
};

class Machine {
 public:
  // ---- arrange ----
  void reset();  // an empty machine: no services, no values, code page 1252, 96 DPI

  void addService(const std::string &name, const Service &service);
  void setValue(const std::string &keyPath, const std::string &valueName, DWORD type,
                std::vector<std::uint8_t> data);  // key path under HKEY_LOCAL_MACHINE
  void setStringValue(const std::string &keyPath, const std::string &valueName, DWORD type,
                      const std::string &text);  // stores text plus its terminator
  void addKey(const std::string &keyPath);       // an existing key without values
  void denyKey(const std::string &keyPath);      // opening it fails with access denied

  void setChild(const std::string &commandLine, const ChildBehaviour &behaviour);
  void setDefaultChild(const ChildBehaviour &behaviour);  // for command lines not set

  void failCall(const std::string &function, Fault fault);  // e.g. "QueryServiceConfigA"
  void setWaitResults(std::vector<DWORD> results);  // successive WaitForSingleObject results

  void setCodePage(UINT codePage);     // 1252 (single-byte) or 932 (double-byte)
  void setOemCodePage(UINT codePage);  // CP_OEMCP's: 437 (taken as 1252's bytes) or 932
  // The temporary folder, with its final backslash; empty: GetTempPathA fails.
  // A new file can be made there alone, and not under a name already taken.
  void setTempPath(const std::string &path);
  // A file, folder or link someone else put there.
  void plantFile(const std::string &path, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
  void setDpi(int dpi);
  void setMessageFontHeight(int pixels);  // line height of the message font at the DPI set
  void setSystemDirectory(const std::string &path);
  // 0: the services' session. Its question fails with failCall("ProcessIdToSessionId").
  void setSessionId(DWORD id);
  void setWindowsVersion(BYTE major, BYTE minor, WORD build);
  void queueMessage(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  void setMessageBoxHook(std::function<void(const MessageBoxShown &)> hook);
  // 0: the process runs where nobody sees it (a service's window station).
  void setWindowStationFlags(DWORD flags);
  // The Application log has wrapped: its oldest entry has this number.
  void setOldestEventRecord(DWORD number);
  // The service manager forgets a service, and its registry key goes: what it
  // does with a service marked for deletion once it has stopped.
  void dropService(const std::string &name);
  // The service's state changes (a stop command stopped it, say); marked for
  // deletion, stopped and held by no handle, it goes.
  void setServiceState(const std::string &name, DWORD currentState);
  // The process's token: its user's SID as text ("S-1-5-18" for SYSTEM) and
  // whether it is elevated. Opening it fails by failCall("OpenProcessToken");
  // before Vista there is no TokenElevation.
  void setProcessUser(const std::string &sid);
  void setElevated(bool elevated);
  // The language of Windows' texts: FormatMessageA finds them for this
  // language id and for 0 (the default search), and for no other.
  void setSystemLanguage(LANGID language);

  // ---- inspect ----
  // Entries written to the event log, in order. Every event source is
  // registered: RegisterEventSourceA fails only by failCall.
  const std::vector<EventReported> &events() const;
  // Every stand-in call in order, as "Function(args) -> result" strings; see
  // each function in the .cpp files for its exact form.
  const std::vector<std::string> &calls() const;
  std::vector<std::string> callsTo(const std::string &function) const;  // entries starting so
  int countCalls(const std::string &function) const;
  const std::vector<DWORD> &sleeps() const;
  const std::vector<StartedChild> &children() const;
  std::vector<HANDLE> openHandles() const;      // handles opened and not closed yet (all kinds)
  const OpenedFile *file(HANDLE handle) const;  // a file ever opened, closed or not
  bool serviceExists(const std::string &name) const;
  const Service *service(const std::string &name) const;

  const std::vector<HWND> &windows() const;  // every window ever created, in creation order
  const Window *window(HWND hwnd) const;
  HWND findWindow(const std::string &className, const std::string &text) const;
  std::vector<HWND> childrenOf(HWND parent) const;
  const std::vector<MessageBoxShown> &messageBoxes() const;

  // FormatMessageA's text for the error codes the stand-in knows (2, 5, 6,
  // 1060, 1072, 1722), as Windows gives it, line break included, and for those
  // a test gave one (setSystemMessage); others have none.
  static std::string systemMessage(DWORD error);
  void setSystemMessage(DWORD error, const std::string &text);

  // ---- used by the stand-in functions ----
  struct State;
  State &state();

 private:
  State *state_ = nullptr;
};

Machine &machine();

// Naming of handles in the call log: "null", or a stable "hN" per handle.
std::string handleName(const void *handle);

}  // namespace standin
