#include "WineTest.h"

#include <tlhelp32.h>

#include <map>
#include <vector>

namespace winetest {
namespace {

std::map<std::string, std::string> &Args() {
  static std::map<std::string, std::string> args;
  return args;
}

}  // namespace

void ParseArguments(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::size_t equals = arg.find('=');
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      Args()[arg.substr(2, equals - 2)] = arg.substr(equals + 1);
    }
  }
}

std::string Arg(const std::string &name) {
  const auto found = Args().find(name);
  return found == Args().end() ? std::string() : found->second;
}

std::string WindowsPath(const std::string &path) {
  if (path.empty() || path[0] != '/') return path;
  std::string windows = "Z:" + path;
  for (char &c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

std::string MakeTempDirectory() {
  char base[MAX_PATH] = {0};
  GetTempPathA(MAX_PATH, base);
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    const std::string candidate = std::string(base) + "fqtest" +
                                  std::to_string(GetCurrentProcessId()) + "_" +
                                  std::to_string(attempt);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) return candidate;
  }
  return std::string();
}

void RemoveDirectoryTree(const std::string &directory) {
  if (directory.empty()) return;
  // A junction or symbolic link goes itself; what it points to stays.
  const DWORD attributes = GetFileAttributesA(directory.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    RemoveDirectoryA(directory.c_str());
    return;
  }
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = directory + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveDirectoryA(path.c_str());
        } else {
          DeleteFileA(path.c_str());
        }
      } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryTree(path);
      } else {
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(directory.c_str());
}

bool FileExists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadWholeFile(const std::string &path) {
  // Shared for deletion too: a file just moved into place may still be open
  // by its mover, for deletion.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) text.append(chunk, read);
  CloseHandle(file);
  return text;
}

bool WriteWholeFile(const std::string &path, const std::string &text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size();
  CloseHandle(file);
  return ok;
}

std::string DirectoryOf(const std::string &path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

void EndDescendantsOf(DWORD processId) {
  std::vector<DWORD> children;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ParentProcessID == processId && entry.th32ProcessID != processId) {
      children.push_back(entry.th32ProcessID);
    }
  }
  CloseHandle(snapshot);
  for (DWORD child : children) {
    EndDescendantsOf(child);
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, child);
    if (process == nullptr) continue;
    TerminateProcess(process, 1);
    CloseHandle(process);
  }
}

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::uint64_t NowMs() { return GetTickCount64(); }

bool WaitUntil(const std::function<bool()> &done, DWORD timeoutMs, DWORD stepMs) {
  const std::uint64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    if (done()) return true;
    if (NowMs() >= deadline) return false;
    Sleep(stepMs);
  }
}

namespace {
WaitObserver observer = nullptr;
}  // namespace

void SetWaitObserver(WaitObserver observe) { observer = observe; }

void NoteWait(DWORD boundMs, std::uint64_t tookMs) {
  if (observer != nullptr) observer(boundMs, tookMs);
}

}  // namespace winetest
