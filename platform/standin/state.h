// Inside of the in-memory machine, shared by the stand-in's .cpp files.
// Tests use machine.h, not this.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "machine.h"

namespace standin {

struct Machine::State {
  // registry: key path (under HKEY_LOCAL_MACHINE) -> values
  std::map<std::string, RegistryKey, NoCaseLess> keys;
  std::set<std::string, NoCaseLess> deniedKeys;
  std::map<HKEY, std::string> openKeys;  // open key handle -> key path

  // service control manager
  std::map<std::string, Service, NoCaseLess> services;
  std::map<SC_HANDLE, DWORD> openManagers;        // handle -> access
  std::map<SC_HANDLE, std::string> openServices;  // handle -> service name

  // the process's token
  std::string processUser = "S-1-5-21-1-2-3-1001";
  bool elevated = true;
  std::set<HANDLE> openTokens;

  // event log
  std::map<HANDLE, std::string> openEventSources;  // handle -> source name
  std::vector<EventReported> events;
  DWORD oldestEventRecord = 1;  // the number of events[0]
  // open log handle (OpenEventLogA) -> index of the next entry a sequential
  // read gives, or none before the first read
  std::map<HANDLE, std::optional<std::size_t>> openEventLogs;

  // processes
  std::map<std::string, ChildBehaviour> childBehaviours;
  ChildBehaviour defaultChild;
  std::vector<StartedChild> started;
  std::map<HANDLE, std::size_t> openProcesses;  // process handle -> index in started
  std::set<HANDLE> openThreads;
  std::map<HANDLE, OpenedFile> files;         // every file ever opened
  std::map<std::string, DWORD> plantedFiles;  // there before the run: full path, attributes
  std::deque<DWORD> waitResults;
  std::string systemDirectory = "C:\\windows\\system32";
  DWORD sessionId = 1;                // a user's session
  DWORD windowsVersion = 0x4A61000A;  // as GetVersion gives it: 10.0, build 19041

  // windows and GDI
  std::vector<HWND> windowOrder;
  std::map<HWND, Window> windows;
  std::map<std::string, WNDPROC, NoCaseLess> classes;
  std::vector<MessageBoxShown> boxes;
  std::function<void(const MessageBoxShown &)> boxHook;
  std::deque<MSG> queue;
  std::set<HANDLE> gdiObjects;             // fonts, icons, DCs created and not released
  std::map<HDC, HGDIOBJ> selectedObjects;  // what each DC has selected
  int dpi = 96;
  int messageFontHeight = 13;  // pixels per line of the message font
  int screenWidth = 1024;
  int screenHeight = 768;
  DWORD windowStationFlags = WSF_VISIBLE;  // UOI_FLAGS of the process's window station

  // everything else
  UINT codePage = 1252;
  UINT oemCodePage = 437;
  std::string tempPath = "C:\\Users\\admin\\AppData\\Local\\Temp\\";
  LANGID systemLanguage = 0x0409;               // English (United States)
  std::map<DWORD, std::string> systemMessages;  // texts a test gave
  DWORD lastError = ERROR_SUCCESS;
  std::vector<std::string> calls;
  std::vector<DWORD> sleeps;
  std::map<std::string, std::vector<Fault>> faults;
  std::map<std::string, int> callCounts;
  std::uintptr_t nextHandle = 0x1000;
  std::map<const void *, int> handleNames;  // handle -> N of "hN"
};

// Shared by the stand-in functions.
void *NewHandle();                   // a fresh, never reused handle value
void Log(const std::string &entry);  // append to the call log
// Counts this call of `function`; when a fault was injected for this call,
// sets the last error to the fault's code and returns it (the caller then fails).
std::optional<DWORD> InjectedFault(const std::string &function);
std::string Quote(const char *text);   // "null" or the text in double quotes
std::string Hex(unsigned long value);  // "0x1f"
inline Machine::State &S() { return machine().state(); }

}  // namespace standin
