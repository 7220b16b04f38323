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
const char kFqKey[] = "System\\CurrentControlSet\\Services\\FQ";
const char kFixtureFile[] = "fqfixtureservice.exe";
const char kRegistryOnlyImage[] = "c:\\nowhere\\fq.exe";

std::string Lower(std::string text) {
  for (char &c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool KeyExists(const std::string &path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

enum class Found { Nothing, Service, KeyOnly };

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

bool IsOwnImage(const std::string &imagePath) {
  const std::string image = Lower(imagePath);
  if (image == kRegistryOnlyImage) return true;
  // The program's file name, quoted or not, followed by its options.
  const std::size_t found = image.find(kFixtureFile);
  if (found == std::string::npos) return false;
  const std::size_t end = found + sizeof kFixtureFile - 1;
  const bool ownName = found == 0 || image[found - 1] == '\\' || image[found - 1] == '"';
  const bool ends = end == image.size() || image[end] == '"' || image[end] == ' ';
  return ownName && ends;
}

Survey Look() {
  Survey survey;
  std::string image;
  const Found fq = FindService(kFq, image);
  if (fq != Found::Nothing && !IsOwnImage(image)) {
    const std::string what =
        fq == Found::Service ? "the service FQ (" + image + ")"
                             : std::string("the key HKEY_LOCAL_MACHINE\\") + kFqKey + " (" +
                                   (image.empty() ? "no ImagePath" : "ImagePath " + image) + ")";
    survey.refusal =
        "this machine has " + what +
        ": the checks would remove it. Run the self-test on a test machine without FQ.";
    return survey;
  }
  if (fq != Found::Nothing) survey.services.emplace_back(kFq);
  survey.refusal = WhyNotElevated();
  if (!survey.refusal.empty()) {
    survey.services.clear();
    return survey;
  }
  for (const char *name : kOwnServices) {
    if (FindService(name, image) != Found::Nothing) survey.services.emplace_back(name);
  }
  if (KeyExists(kOwnKey)) survey.keys.emplace_back(kOwnKey);
  return survey;
}

}  // namespace kitguard
