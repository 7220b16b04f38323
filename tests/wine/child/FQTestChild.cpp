// A child program for the command runner tests. Its options, in order:
//   FQTestChild.exe --sleep <ms> --exit <code>   sleeps, then exits with <code>
//   --write <bytes>     writes that many bytes of lines to standard output
//   --say <word>        writes the word and a line break to standard output
//   --complain <word>   the same to standard error
//   --hold <ms>         starts a copy of itself that inherits its standard
//                       handles and sleeps that long, and says "holder <pid>"
// Under any other name (the tests plant copies as CMD.EXE or NET.EXE where a
// careless search would find them) it is a decoy: it leaves a marker file
// "<its own path>.ran" and exits 77.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kDecoyExitCode = 77;

std::string OwnPath() {
  char path[MAX_PATH] = {0};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

bool NamedAsItself(const std::string &path) {
  const std::size_t slash = path.find_last_of('\\');
  const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  return lstrcmpiA(name.c_str(), "FQTestChild.exe") == 0;
}

void Write(DWORD which, const std::string &text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(which), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Lines of 64 bytes, the last one cut to make up the count.
void WriteLines(unsigned long count) {
  const std::string line = std::string(62, 'w') + "\r\n";
  for (unsigned long done = 0; done < count; done += line.size()) {
    Write(STD_OUTPUT_HANDLE, line.substr(0, std::min<unsigned long>(line.size(), count - done)));
  }
}

// A grandchild that keeps our standard handles open after we have ended.
void StartHolder(const std::string &self, const char *ms) {
  std::string line = "\"" + self + "\" --sleep " + ms;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION holder{};
  if (!CreateProcessA(self.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &holder)) {
    Write(STD_OUTPUT_HANDLE, "no holder\r\n");
    return;
  }
  Write(STD_OUTPUT_HANDLE, "holder " + std::to_string(holder.dwProcessId) + "\r\n");
  CloseHandle(holder.hThread);
  CloseHandle(holder.hProcess);
}

}  // namespace

int main(int argc, char **argv) {
  const std::string self = OwnPath();
  if (!NamedAsItself(self)) {
    HANDLE marker = CreateFileA((self + ".ran").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    return kDecoyExitCode;
  }
  int exitCode = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--sleep") == 0) Sleep(std::strtoul(argv[i + 1], nullptr, 10));
    if (std::strcmp(argv[i], "--exit") == 0) exitCode = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--write") == 0) WriteLines(std::strtoul(argv[i + 1], nullptr, 10));
    if (std::strcmp(argv[i], "--say") == 0)
      Write(STD_OUTPUT_HANDLE, std::string(argv[i + 1]) + "\r\n");
    if (std::strcmp(argv[i], "--complain") == 0) {
      Write(STD_ERROR_HANDLE, std::string(argv[i + 1]) + "\r\n");
    }
    if (std::strcmp(argv[i], "--hold") == 0) StartHolder(self, argv[i + 1]);
  }
  return exitCode;
}
