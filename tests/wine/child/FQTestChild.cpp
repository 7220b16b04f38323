// A child program for the command runner tests.
//   FQTestChild.exe --sleep <ms> --exit <code>   sleeps, then exits with <code>
// Under any other name (the tests plant copies as CMD.EXE or NET.EXE where a
// careless search would find them) it is a decoy: it leaves a marker file
// "<its own path>.ran" and exits 77.
#include <windows.h>

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
  }
  return exitCode;
}
