#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "state.h"

namespace standin {

bool NoCaseLess::operator()(const std::string &a, const std::string &b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

Machine &machine() {
  static Machine *instance = [] {
    auto *created = new Machine();
    created->reset();
    return created;
  }();
  return *instance;
}

Machine::State &Machine::state() {
  if (state_ == nullptr) state_ = new State();
  return *state_;
}

void Machine::reset() {
  delete state_;
  state_ = new State();
}

void *NewHandle() {
  auto &s = machine().state();
  s.nextHandle += 4;
  void *handle = reinterpret_cast<void *>(s.nextHandle);
  handleName(handle);  // names follow the order of creation: h1, h2, ...
  return handle;
}

std::string handleName(const void *handle) {
  if (handle == nullptr) return "null";
  auto &names = machine().state().handleNames;
  auto found = names.find(handle);
  if (found == names.end()) {
    const int next = static_cast<int>(names.size()) + 1;
    found = names.emplace(handle, next).first;
  }
  return "h" + std::to_string(found->second);
}

void Log(const std::string &entry) { machine().state().calls.push_back(entry); }

std::optional<DWORD> InjectedFault(const std::string &function) {
  auto &s = machine().state();
  const int call = ++s.callCounts[function];
  auto found = s.faults.find(function);
  if (found == s.faults.end()) return std::nullopt;
  for (const Fault &fault : found->second) {
    if (fault.nth == call) {
      s.lastError = fault.error;
      return fault.error;
    }
  }
  return std::nullopt;
}

std::string Hex(unsigned long value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%lx", value);
  return text;
}

std::string Quote(const char *text) {
  if (text == nullptr) return "null";
  return "\"" + std::string(text) + "\"";
}

// ---- arrange ----

void Machine::addService(const std::string &name, const Service &service) {
  state().services[name] = service;
}

void Machine::setValue(const std::string &keyPath, const std::string &valueName, DWORD type,
                       std::vector<std::uint8_t> data) {
  state().keys[keyPath][valueName] = RegistryValue{type, std::move(data)};
}

void Machine::setStringValue(const std::string &keyPath, const std::string &valueName, DWORD type,
                             const std::string &text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  setValue(keyPath, valueName, type, std::move(data));
}

void Machine::addKey(const std::string &keyPath) { state().keys[keyPath]; }

void Machine::denyKey(const std::string &keyPath) { state().deniedKeys.insert(keyPath); }

void Machine::setChild(const std::string &commandLine, const ChildBehaviour &behaviour) {
  state().childBehaviours[commandLine] = behaviour;
}

void Machine::setDefaultChild(const ChildBehaviour &behaviour) { state().defaultChild = behaviour; }

void Machine::failCall(const std::string &function, Fault fault) {
  state().faults[function].push_back(fault);
}

void Machine::setWaitResults(std::vector<DWORD> results) {
  state().waitResults.assign(results.begin(), results.end());
}

void Machine::setCodePage(UINT codePage) { state().codePage = codePage; }

void Machine::setOemCodePage(UINT codePage) { state().oemCodePage = codePage; }

void Machine::setTempPath(const std::string &path) { state().tempPath = path; }

void Machine::plantFile(const std::string &path, DWORD attributes) {
  state().plantedFiles[path] = attributes;
}

void Machine::setSystemLanguage(LANGID language) { state().systemLanguage = language; }

void Machine::setSystemDirectory(const std::string &path) { state().systemDirectory = path; }

void Machine::setSessionId(DWORD id) { state().sessionId = id; }

void Machine::setOldestEventRecord(DWORD number) { state().oldestEventRecord = number; }

void Machine::setWindowsVersion(BYTE major, BYTE minor, WORD build) {
  state().windowsVersion = major | DWORD{minor} << 8 | DWORD{build} << 16;
}

// ---- inspect ----

const std::vector<std::string> &Machine::calls() const { return state_->calls; }

std::vector<std::string> Machine::callsTo(const std::string &function) const {
  std::vector<std::string> matching;
  for (const std::string &entry : state_->calls) {
    if (entry.compare(0, function.size(), function) == 0 &&
        (entry.size() == function.size() || entry[function.size()] == '(')) {
      matching.push_back(entry);
    }
  }
  return matching;
}

int Machine::countCalls(const std::string &function) const {
  return static_cast<int>(callsTo(function).size());
}

const std::vector<DWORD> &Machine::sleeps() const { return state_->sleeps; }

const std::vector<StartedChild> &Machine::children() const { return state_->started; }

std::vector<HANDLE> Machine::openHandles() const {
  const State &s = *state_;
  std::vector<HANDLE> open;
  open.reserve(s.openKeys.size() + s.openManagers.size() + s.openServices.size() +
               s.openProcesses.size() + s.openThreads.size() + s.files.size() +
               s.gdiObjects.size() + s.openEventSources.size() + s.openEventLogs.size() +
               s.openTokens.size());
  for (const auto &entry : state_->openKeys) open.push_back(entry.first);
  for (const auto &entry : state_->openManagers) open.push_back(entry.first);
  for (const auto &entry : state_->openServices) open.push_back(entry.first);
  for (const auto &entry : state_->openProcesses) open.push_back(entry.first);
  for (HANDLE thread : state_->openThreads) open.push_back(thread);
  for (const auto &entry : state_->files) {
    if (!entry.second.closed) open.push_back(entry.first);
  }
  for (HANDLE object : state_->gdiObjects) open.push_back(object);
  for (const auto &entry : state_->openEventSources) open.push_back(entry.first);
  for (const auto &entry : state_->openEventLogs) open.push_back(entry.first);
  for (HANDLE token : state_->openTokens) open.push_back(token);
  return open;
}

const OpenedFile *Machine::file(HANDLE handle) const {
  auto found = state_->files.find(handle);
  return found == state_->files.end() ? nullptr : &found->second;
}

const std::vector<EventReported> &Machine::events() const { return state_->events; }

void Machine::setSystemMessage(DWORD error, const std::string &text) {
  state().systemMessages[error] = text;
}

std::string Machine::systemMessage(DWORD error) {
  const auto &given = machine().state().systemMessages;
  if (given.count(error) != 0) return given.at(error);
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return "The system cannot find the file specified.\r\n";
    case ERROR_ACCESS_DENIED:
      return "Access is denied.\r\n";
    case ERROR_INVALID_HANDLE:
      return "The handle is invalid.\r\n";
    case ERROR_SERVICE_DOES_NOT_EXIST:
      return "The specified service does not exist as an installed service.\r\n";
    case ERROR_SERVICE_MARKED_FOR_DELETE:
      return "The specified service has been marked for deletion.\r\n";
    case 1722:
      return "The RPC server is unavailable.\r\n";
    default:
      return std::string();
  }
}

bool Machine::serviceExists(const std::string &name) const {
  return state_->services.count(name) != 0;
}

const Service *Machine::service(const std::string &name) const {
  auto found = state_->services.find(name);
  return found == state_->services.end() ? nullptr : &found->second;
}

}  // namespace standin
