// Stand-in of the kernel: last error, code pages, processes, waits, sleeps.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "state.h"

using namespace standin;

namespace {

// Code page 932 stand-in: a lead byte in 0x81-0x9F or 0xE0-0xFC and the byte
// after it make one character, mapped into U+4E00...; every other byte is a
// character of its own, mapped as in Latin-1. Enough to tell bytes from
// characters; not the real table.
bool IsLeadByte(unsigned char byte, UINT codePage) {
  return codePage == 932 && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
}
constexpr wchar_t kDoubleByteBase = 0x4E00;
int LeadIndex(unsigned char lead) { return lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 31; }
unsigned char LeadOf(int index) {
  return static_cast<unsigned char>(index < 31 ? index + 0x81 : index - 31 + 0xE0);
}

std::wstring Decode(const unsigned char *bytes, std::size_t count, UINT codePage) {
  std::wstring text;
  for (std::size_t i = 0; i < count; ++i) {
    if (IsLeadByte(bytes[i], codePage) && i + 1 < count) {
      text.push_back(
          static_cast<wchar_t>(kDoubleByteBase + LeadIndex(bytes[i]) * 256 + bytes[i + 1]));
      ++i;
    } else if (IsLeadByte(bytes[i], codePage)) {
      text.push_back(L'?');  // a lead byte cut off at the end
    } else {
      text.push_back(static_cast<wchar_t>(bytes[i]));
    }
  }
  return text;
}

std::string Encode(const wchar_t *text, std::size_t count) {
  std::string bytes;
  for (std::size_t i = 0; i < count; ++i) {
    // A wide character, not a char: the check takes any signed character type for one.
    const auto c = static_cast<std::uint32_t>(text[i]);  // NOLINT(bugprone-signed-char-misuse)
    if (S().codePage == 932 && c >= kDoubleByteBase && c < kDoubleByteBase + 60u * 256u) {
      bytes.push_back(static_cast<char>(LeadOf(static_cast<int>((c - kDoubleByteBase) / 256))));
      bytes.push_back(static_cast<char>((c - kDoubleByteBase) % 256));
    } else if (c < 256 && !IsLeadByte(static_cast<unsigned char>(c), S().codePage)) {
      bytes.push_back(static_cast<char>(c));
    } else {
      bytes.push_back('?');
    }
  }
  return bytes;
}

// How both conversions hand back their result: the size needed when given no
// room, nothing when the room is too small, else the converted text.
template <typename Text, typename Char>
int CopyOut(const Text &converted, Char *out, int room) {
  if (out == nullptr || room == 0) return static_cast<int>(converted.size());
  if (static_cast<std::size_t>(room) < converted.size()) {
    S().lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::copy(converted.begin(), converted.end(), out);
  return static_cast<int>(converted.size());
}

// The command lines' behaviour, by exact text.
const ChildBehaviour &BehaviourOf(const std::string &commandLine) {
  auto found = S().childBehaviours.find(commandLine);
  return found == S().childBehaviours.end() ? S().defaultChild : found->second;
}

// The file an open handle stands for, or null.
OpenedFile *OpenFile(HANDLE handle) {
  auto found = S().files.find(handle);
  return found == S().files.end() || found->second.closed ? nullptr : &found->second;
}

// What a running child writes to one of its standard handles: kept in a
// file, dropped by the null device.
void WriteTo(HANDLE handle, const std::string &bytes) {
  OpenedFile *file = OpenFile(handle);
  if (file != nullptr && file->name != "NUL") file->contents += bytes;
}

// Whether a file of that name is there: one planted, or one of ours that is
// open or was not deleted on closing.
bool FileThere(const std::string &name) {
  if (S().plantedFiles.count(name) != 0) return true;
  for (const auto &entry : S().files) {
    const OpenedFile &file = entry.second;
    const bool deleted = file.closed && (file.flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    if (file.name == name && file.name != "NUL" && !deleted) return true;
  }
  return false;
}

constexpr DWORD kOwnProcessId = 4242;

}  // namespace

DWORD WINAPI GetLastError() {
  Log("GetLastError() -> " + std::to_string(S().lastError));
  return S().lastError;
}

void WINAPI SetLastError(DWORD error) { S().lastError = error; }

// Only the system's own texts (FORMAT_MESSAGE_FROM_SYSTEM), into the caller's
// buffer; a text that does not fit, with its terminator, is not written. They
// are in the system's language: asked for another, Windows finds none.
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD languageId, LPSTR buffer,
                            DWORD size, va_list *) {
  DWORD length = 0;
  const std::string text = Machine::systemMessage(messageId);
  if (InjectedFault("FormatMessageA")) {
    // last error set by the fault
  } else if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
    S().lastError = ERROR_INVALID_PARAMETER;
  } else if (languageId != 0 && languageId != S().systemLanguage) {
    S().lastError = ERROR_RESOURCE_LANG_NOT_FOUND;
  } else if (text.empty()) {
    S().lastError = ERROR_MR_MID_NOT_FOUND;
  } else if (text.size() + 1 > size) {
    S().lastError = ERROR_INSUFFICIENT_BUFFER;
  } else {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    length = static_cast<DWORD>(text.size());
  }
  Log("FormatMessageA(" + Hex(flags) + ", " + std::to_string(messageId) + ", " + Hex(languageId) +
      ", size " + std::to_string(size) + ") -> " + std::to_string(length));
  return length;
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR multiByte, int multiByteCount,
                               LPWSTR wide, int wideCount) {
  if ((codePage != CP_ACP && codePage != CP_OEMCP) || multiByte == nullptr || wideCount < 0) {
    S().lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  const std::size_t count =
      multiByteCount < 0 ? std::strlen(multiByte) + 1 : static_cast<std::size_t>(multiByteCount);
  const std::wstring text = Decode(reinterpret_cast<const unsigned char *>(multiByte), count,
                                   codePage == CP_OEMCP ? S().oemCodePage : S().codePage);
  return CopyOut(text, wide, wideCount);
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideCount, LPSTR multiByte,
                               int multiByteCount, LPCSTR, BOOL *usedDefaultChar) {
  if (codePage != CP_ACP || wide == nullptr || multiByteCount < 0) {
    S().lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  const std::size_t count =
      wideCount < 0 ? std::wcslen(wide) + 1 : static_cast<std::size_t>(wideCount);
  const std::string bytes = Encode(wide, count);
  if (usedDefaultChar != nullptr) *usedDefaultChar = FALSE;
  return CopyOut(bytes, multiByte, multiByteCount);
}

BOOL WINAPI CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                           LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                           DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                           LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION processInformation) {
  const std::string line = commandLine ? commandLine : "";
  const ChildBehaviour &behaviour = BehaviourOf(line);
  BOOL ok = FALSE;
  if (startupInfo == nullptr || processInformation == nullptr) {
    S().lastError = ERROR_INVALID_PARAMETER;
  } else if (InjectedFault("CreateProcessA")) {
    // last error set by the fault
  } else if (behaviour.startFails) {
    S().lastError = behaviour.startError;
  } else {
    StartedChild child;
    child.hadApplicationName = applicationName != nullptr;
    child.applicationName = applicationName ? applicationName : "";
    child.commandLine = line;
    child.hadCurrentDirectory = currentDirectory != nullptr;
    child.currentDirectory = currentDirectory ? currentDirectory : "";
    child.inheritHandles = inheritHandles;
    child.creationFlags = creationFlags;
    child.environmentInherited = environment == nullptr;
    child.securityAttributesPassed = processAttributes != nullptr || threadAttributes != nullptr;
    child.startup = *startupInfo;
    const std::size_t recorded = std::min<std::size_t>(startupInfo->cb, sizeof(STARTUPINFOA));
    const auto *raw = reinterpret_cast<const std::uint8_t *>(startupInfo);
    child.startupBytes.assign(raw, raw + recorded);
    child.process = NewHandle();
    child.thread = NewHandle();
    S().openProcesses[child.process] = S().started.size();
    S().openThreads.insert(child.thread);
    *processInformation = PROCESS_INFORMATION{child.process, child.thread,
                                              static_cast<DWORD>(100 + S().started.size()),
                                              static_cast<DWORD>(200 + S().started.size())};
    S().started.push_back(child);
    ok = TRUE;
  }
  Log("CreateProcessA(" + Quote(applicationName) + ", " + Quote(commandLine) + ", " +
      std::to_string(inheritHandles) + ", " + Hex(creationFlags) + ", " + Quote(currentDirectory) +
      ") -> " + std::to_string(ok) +
      (ok ? " " + handleName(processInformation->hProcess) + " " +
                handleName(processInformation->hThread)
          : std::string()));
  return ok;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  DWORD result = WAIT_FAILED;
  if (!S().waitResults.empty()) {
    result = S().waitResults.front();
    S().waitResults.pop_front();
    if (result == WAIT_FAILED) S().lastError = ERROR_INVALID_HANDLE;
  } else if (S().openProcesses.count(handle) != 0) {
    StartedChild &child = S().started[S().openProcesses[handle]];
    const ChildBehaviour behaviour = BehaviourOf(child.commandLine);
    if (behaviour.onRun) behaviour.onRun();
    if (!child.ran && (child.startup.dwFlags & STARTF_USESTDHANDLES) != 0) {
      WriteTo(child.startup.hStdOutput, behaviour.output);
      WriteTo(child.startup.hStdError, behaviour.errorOutput);
    }
    child.ran = true;
    result = WAIT_OBJECT_0;
  } else {
    S().lastError = ERROR_INVALID_HANDLE;
  }
  Log("WaitForSingleObject(" + handleName(handle) + ", " + Hex(milliseconds) + ") -> " +
      Hex(result));
  return result;
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  BOOL ok = FALSE;
  auto found = S().openProcesses.find(process);
  if (found == S().openProcesses.end() || exitCode == nullptr) {
    S().lastError = ERROR_INVALID_HANDLE;
  } else if (InjectedFault("GetExitCodeProcess")) {
    // last error set by the fault
  } else {
    const ChildBehaviour &behaviour = BehaviourOf(S().started[found->second].commandLine);
    if (behaviour.exitCodeUnreadable) {
      S().lastError = ERROR_ACCESS_DENIED;
    } else {
      *exitCode = behaviour.exitCode;
      ok = TRUE;
    }
  }
  Log("GetExitCodeProcess(" + handleName(process) + ") -> " + std::to_string(ok) +
      (ok ? " " + std::to_string(*exitCode) : std::string()));
  return ok;
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
  const std::string name = fileName ? fileName : "";
  const auto planted = S().plantedFiles.find(name);
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (planted != S().plantedFiles.end()) {
    attributes = planted->second;
  } else if (FileThere(name)) {
    attributes = FILE_ATTRIBUTE_ARCHIVE;
  } else {
    S().lastError = ERROR_FILE_NOT_FOUND;
  }
  Log("GetFileAttributesA(" + Quote(fileName) + ") -> " + Hex(attributes));
  return attributes;
}

int WINAPI CompareStringOrdinal(LPCWSTR string1, int count1, LPCWSTR string2, int count2,
                                BOOL ignoreCase) {
  const auto fold = [ignoreCase](wchar_t c) {
    return ignoreCase && c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
  };
  const std::wstring a(string1, count1 < 0 ? std::wcslen(string1) : std::size_t(count1));
  const std::wstring b(string2, count2 < 0 ? std::wcslen(string2) : std::size_t(count2));
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (fold(a[i]) != fold(b[i]))
      return fold(a[i]) < fold(b[i]) ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
  }
  if (a.size() == b.size()) return CSTR_EQUAL;
  return a.size() < b.size() ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE) {
  HANDLE result = INVALID_HANDLE_VALUE;
  const std::string name = fileName ? fileName : "";
  const std::string &temp = S().tempPath;
  const bool inTemp = !temp.empty() && name.size() > temp.size() &&
                      name.compare(0, temp.size(), temp) == 0 &&
                      name.find('\\', temp.size()) == std::string::npos;
  if (InjectedFault("CreateFileA")) {
    // last error set by the fault
  } else if (name == "NUL" ? creationDisposition != OPEN_EXISTING
                           : !inTemp || creationDisposition != CREATE_NEW) {
    S().lastError = ERROR_FILE_NOT_FOUND;
  } else if (name != "NUL" && FileThere(name)) {
    S().lastError = ERROR_FILE_EXISTS;
  } else {
    result = NewHandle();
    OpenedFile file;
    file.name = name;
    file.access = access;
    file.inheritable = security != nullptr && security->bInheritHandle != FALSE;
    file.shareMode = shareMode;
    file.creationDisposition = creationDisposition;
    file.flagsAndAttributes = flagsAndAttributes;
    S().files[result] = file;
  }
  Log("CreateFileA(" + Quote(fileName) + ", " + Hex(access) + ", " +
      (security != nullptr && security->bInheritHandle ? "inheritable" : "not inheritable") +
      ") -> " + (result == INVALID_HANDLE_VALUE ? "invalid" : handleName(result)));
  return result;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  OpenedFile *file = OpenFile(handle);
  if (file != nullptr) file->closed = true;
  const bool known = S().openProcesses.erase(handle) + S().openThreads.erase(handle) +
                             S().openTokens.erase(handle) !=
                         0 ||
                     file != nullptr;
  if (!known) S().lastError = ERROR_INVALID_HANDLE;
  Log("CloseHandle(" + handleName(handle) + ") -> " + std::to_string(known ? 1 : 0));
  return known ? TRUE : FALSE;
}

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
  DWORD result = 0;
  const std::string &path = S().tempPath;
  if (path.empty()) {
    S().lastError = ERROR_ACCESS_DENIED;
  } else if (buffer == nullptr || size <= path.size()) {
    result = static_cast<DWORD>(path.size() + 1);  // room needed, terminator included
  } else {
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    result = static_cast<DWORD>(path.size());
  }
  Log("GetTempPathA(" + std::to_string(size) + ") -> " + std::to_string(result));
  return result;
}

BOOL WINAPI GetFileSizeEx(HANDLE handle, LARGE_INTEGER *size) {
  const OpenedFile *file = OpenFile(handle);
  BOOL ok = FALSE;
  if (InjectedFault("GetFileSizeEx")) {
    // last error set by the fault
  } else if (file == nullptr || size == nullptr) {
    S().lastError = ERROR_INVALID_HANDLE;
  } else {
    size->QuadPart = static_cast<long long>(file->contents.size());
    ok = TRUE;
  }
  Log("GetFileSizeEx(" + handleName(handle) + ") -> " + std::to_string(ok) +
      (ok ? " " + std::to_string(size->QuadPart) : std::string()));
  return ok;
}

// A synchronous read, at the offset that `overlapped` gives when there is one.
BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD read,
                     LPOVERLAPPED overlapped) {
  const OpenedFile *file = OpenFile(handle);
  BOOL ok = FALSE;
  std::size_t count = 0;
  if (InjectedFault("ReadFile")) {
    // last error set by the fault
  } else if (file == nullptr || buffer == nullptr || read == nullptr ||
             (file->access & GENERIC_READ) == 0) {
    S().lastError = file == nullptr ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED;
  } else {
    const std::uint64_t offset =
        overlapped == nullptr ? 0
                              : std::uint64_t{overlapped->OffsetHigh} << 32 | overlapped->Offset;
    const std::string &contents = file->contents;
    if (offset < contents.size()) count = std::min<std::size_t>(size, contents.size() - offset);
    std::memcpy(buffer, contents.data() + (count == 0 ? 0 : offset), count);
    *read = static_cast<DWORD>(count);
    ok = TRUE;
  }
  Log("ReadFile(" + handleName(handle) + ", " + std::to_string(size) + ", at " +
      (overlapped == nullptr
           ? std::string("the position")
           : std::to_string(std::uint64_t{overlapped->OffsetHigh} << 32 | overlapped->Offset)) +
      ") -> " + std::to_string(ok) + (ok ? " " + std::to_string(count) : std::string()));
  return ok;
}

void WINAPI Sleep(DWORD milliseconds) {
  S().sleeps.push_back(milliseconds);
  Log("Sleep(" + std::to_string(milliseconds) + ")");
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  UINT result = 0;
  const std::string &directory = S().systemDirectory;
  if (InjectedFault("GetSystemDirectoryA")) {
    result = 0;
  } else if (buffer == nullptr || size <= directory.size()) {
    result = static_cast<UINT>(directory.size() + 1);  // room needed, terminator included
  } else {
    std::memcpy(buffer, directory.c_str(), directory.size() + 1);
    result = static_cast<UINT>(directory.size());
  }
  Log("GetSystemDirectoryA(" + std::to_string(size) + ") -> " + std::to_string(result));
  return result;
}

DWORD WINAPI GetCurrentProcessId() { return kOwnProcessId; }

// Windows' pseudo-handle of the calling process.
HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

// Knows only our own process.
BOOL WINAPI ProcessIdToSessionId(DWORD processId, DWORD *sessionId) {
  BOOL ok = FALSE;
  if (InjectedFault("ProcessIdToSessionId")) {
    ok = FALSE;
  } else if (processId != kOwnProcessId || sessionId == nullptr) {
    S().lastError = ERROR_INVALID_PARAMETER;
  } else {
    *sessionId = S().sessionId;
    ok = TRUE;
  }
  Log("ProcessIdToSessionId(" + std::to_string(processId) + ") -> " + std::to_string(ok));
  return ok;
}

DWORD WINAPI GetVersion() {
  Log("GetVersion() -> " + Hex(S().windowsVersion));
  return S().windowsVersion;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR) {
  return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x400000));
}
