#include "KitGuard.h"

#include <cstdint>
#include <variant>

#include "platform/ansi.h"
#include "platform/winapi.h"
#include "registry/modRegistryAccess.h"
#include "service/modNTSrvExt.h"

namespace kitguard {

const char *const kOwnServices[3] = {"FQLauncher", "FQDependent", "FQWineTest"};
const char kOwnKey[] = "Software\\FQSrvUninstallTests";

namespace {

const char kFq[] = "FQ";
const char kRegistryOnlyImage[] = "C:\\nowhere\\fq.exe";
// What the kit ships in bin\ and runs (tools/selftest-kit.sh).
const char *const kShippedPrograms[] = {
    "FQSrvUninstall.exe",   "FQSelfTest.exe",     "FQSelfTestChecks.exe",
    "FQFixtureService.exe", "FQTestChild.exe",    "FQUncaught.exe",
    "FQUnguarded.exe",      "FQRemovalSetup.exe", "FQRemovalInnoSetup.exe"};

// Windows compares file names without regard to case, by its own upper-case
// table: CompareStringOrdinal, not the locale's rules.
bool SamePath(const std::string &a, const std::string &b) {
  const std::wstring wideA = ansi::ToText(a.data(), a.size());
  const std::wstring wideB = ansi::ToText(b.data(), b.size());
  return CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                              static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

bool StartsWithPath(const std::string &path, const std::string &folder) {
  const std::string prefix = folder + "\\";
  return !folder.empty() && path.size() > prefix.size() &&
         SamePath(path.substr(0, prefix.size()), prefix);
}

bool KeyExists(const std::string &path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

enum class Found : std::uint8_t { Nothing, Service, KeyOnly };

// Whether the service manager knows the service, or only the registry has
// its key; its image as the one or the other has it.
Found FindService(const std::string &name, std::string &image) {
  std::int32_t state = 0;
  std::int32_t startType = 0;
  std::wstring binaryPath;
  const std::wstring wideName = ansi::ToText(name.data(), name.size());
  if (modNTSrvExt::QueryServiceInfo(wideName, state, startType, binaryPath)) {
    image = ansi::FromText(binaryPath);
    return Found::Service;
  }
  const std::string key = "System\\CurrentControlSet\\Services\\" + name;
  if (!KeyExists(key)) return Found::Nothing;
  const modRegistryAccess::RegistryValue value = modRegistryAccess::ReadRegValue(
      HKEY_LOCAL_MACHINE, ansi::ToText(key.data(), key.size()), L"ImagePath");
  const auto *text = std::get_if<std::wstring>(&value);
  image = text != nullptr ? ansi::FromText(*text) : std::string();
  return Found::KeyOnly;
}

// Empty when elevated, else why it cannot go on.
std::string WhyNotElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return "cannot tell whether it runs elevated: OpenProcessToken failed with error " +
           std::to_string(GetLastError());
  }
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool read =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != FALSE;
  const DWORD error = GetLastError();
  CloseHandle(token);
  if (!read) {
    return "cannot tell whether it runs elevated: GetTokenInformation failed with error " +
           std::to_string(error);
  }
  if (elevation.TokenIsElevated != 0) return std::string();
  return "not elevated: it registers services and writes to HKEY_LOCAL_MACHINE. Open the "
         "command prompt with \"Run as administrator\" and run selftest.cmd there again.";
}

}  // namespace

const char kMarkerFile[] = "made-by-FQSelfTest.txt";

bool IsOwnImage(const std::string &imagePath, const std::string &fixture) {
  if (SamePath(imagePath, kRegistryOnlyImage)) return true;
  if (fixture.empty()) return false;
  const std::string quoted = "\"" + fixture + "\"";
  for (const std::string &program : {quoted, fixture}) {
    const std::size_t end = program.size();
    if (imagePath.size() >= end && SamePath(imagePath.substr(0, end), program) &&
        (imagePath.size() == end || imagePath[end] == ' ')) {
      return true;
    }
  }
  return false;
}

bool IsOwnProgram(const std::string &image, const Places &places) {
  if (!places.installed.empty() && SamePath(image, places.installed)) return true;
  if (StartsWithPath(image, places.temp)) return true;
  for (const char *program : kShippedPrograms) {
    if (!places.bin.empty() && SamePath(image, places.bin + "\\" + program)) return true;
  }
  return false;
}

Whose WhoseFolder(const std::string &folder) {
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Whose::kNobodys;
  // A junction or link is never one the kit made, whatever it points to.
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return Whose::kOther;
  }
  const DWORD marker = GetFileAttributesA((folder + "\\" + kMarkerFile).c_str());
  const bool marked = marker != INVALID_FILE_ATTRIBUTES &&
                      (marker & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
  return marked ? Whose::kOwn : Whose::kOther;
}

Survey Look(const std::string &fixture) {
  Survey survey;
  std::string image;
  std::vector<std::string> found;
  for (const char *name : {kFq, kOwnServices[0], kOwnServices[1], kOwnServices[2]}) {
    const Found what = FindService(name, image);
    if (what == Found::Nothing) continue;
    if (!IsOwnImage(image, fixture)) {
      const std::string key = std::string("System\\CurrentControlSet\\Services\\") + name;
      const std::string there = what == Found::Service
                                    ? "the service " + std::string(name) + " (" + image + ")"
                                    : "the key HKEY_LOCAL_MACHINE\\" + key + " (" +
                                          (image.empty() ? "no ImagePath" : "ImagePath " + image) +
                                          ")";
      survey.refusal = "this machine has " + there +
                       ": the checks would remove it. Run the self-test on a test machine "
                       "without " +
                       name + ".";
      return survey;
    }
    found.emplace_back(name);
  }
  survey.refusal = WhyNotElevated();
  if (!survey.refusal.empty()) return survey;
  survey.services = found;
  if (KeyExists(kOwnKey)) survey.keys.emplace_back(kOwnKey);
  return survey;
}

}  // namespace kitguard
