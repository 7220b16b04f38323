#include "Watcher.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

namespace winetest {
namespace {

const char kProgressCaption[] = "Uninstall";
const char kFirstLine[] = "Uninstalling the FernQuay service.";
const char kSecondLine[] = "Please, wait...";
const char kDialogClass[] = "#32770";
constexpr DWORD kLookEveryMs = 10;

std::string TextOf(HWND window) {
  char text[512] = {0};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ClassOf(HWND window) {
  char name[64] = {0};
  GetClassNameA(window, name, sizeof name);
  return name;
}

BOOL CALLBACK AddWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND> *>(list)->push_back(window);
  return TRUE;
}

std::vector<HWND> ChildrenOf(HWND window) {
  std::vector<HWND> children;
  EnumChildWindows(window, AddWindow, reinterpret_cast<LPARAM>(&children));
  return children;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(AddWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// A path in its long form (no 8.3 names), for comparing.
std::wstring LongPath(std::wstring path) {
  std::wstring full(MAX_PATH, L'\0');
  const DWORD length = GetLongPathNameW(path.c_str(), &full[0], MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return path;
  full.resize(length);
  return full;
}

std::wstring Wide(const std::string &text) {
  std::wstring wide(text.size() + 1, L'\0');
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  wide.resize(length > 0 ? static_cast<std::size_t>(length) - 1 : 0);  // without the terminator
  return wide;
}

bool SamePath(const std::wstring &a, const std::wstring &b) {
  return !a.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                            static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The message of a box: its static control that holds text (the other
// static shows the icon).
std::string BoxMessage(HWND box) {
  for (HWND child : ChildrenOf(box)) {
    if (lstrcmpiA(ClassOf(child).c_str(), "Static") == 0 && !TextOf(child).empty()) {
      return TextOf(child);
    }
  }
  return std::string();
}

void PressOk(HWND box) {
  HWND ok = GetDlgItem(box, IDOK);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
}

}  // namespace

Watcher::Watcher(Watched watched) : watched_(std::move(watched)) {
  if (!watched_.image.empty()) image_ = LongPath(Wide(watched_.image));
  stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

Watcher::~Watcher() { Stop(); }

Sightings Watcher::Stop() {
  if (thread_) {
    SetEvent(stop_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(stop_);
    thread_ = stop_ = nullptr;
  }
  return seen_;
}

DWORD WINAPI Watcher::Run(void *self) {
  auto *watcher = static_cast<Watcher *>(self);
  do {
    watcher->Look();
  } while (WaitForSingleObject(watcher->stop_, kLookEveryMs) == WAIT_TIMEOUT);
  return 0;
}

// The processes in `job` now. Their ids, not handles: Wine's IsProcessInJob
// refuses a handle with PROCESS_QUERY_LIMITED_INFORMATION, which Windows
// documents as enough.
std::vector<DWORD> ProcessesIn(HANDLE job) {
  std::vector<DWORD> ids;
  if (job == nullptr) return ids;
  // The list's two counts, then its ids, as many as fit.
  ULONG_PTR buffer[256] = {};
  if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, buffer, sizeof buffer,
                                 nullptr)) {
    return ids;
  }
  constexpr std::size_t kIds = offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList);
  JOBOBJECT_BASIC_PROCESS_ID_LIST counts{};
  std::memcpy(&counts, buffer, kIds);
  for (std::size_t i = kIds / sizeof(ULONG_PTR);
       i < kIds / sizeof(ULONG_PTR) + counts.NumberOfProcessIdsInList && i < 256; ++i) {
    ids.push_back(static_cast<DWORD>(buffer[i]));
  }
  return ids;
}

bool Watcher::IsWatched(HWND window, const std::vector<DWORD> &inJob) const {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == 0) return false;
  if (owner == watched_.processId) return true;
  if (std::find(inJob.begin(), inJob.end(), owner) != inJob.end()) return true;
  if (image_.empty()) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner);
  if (process == nullptr) return false;  // not ours to look into
  wchar_t image[MAX_PATH] = {0};
  DWORD size = MAX_PATH;
  const bool watched = QueryFullProcessImageNameW(process, 0, image, &size) &&
                       SamePath(LongPath(std::wstring(image, size)), image_);
  CloseHandle(process);
  return watched;
}

void Watcher::Look() {
  const std::vector<DWORD> inJob = ProcessesIn(watched_.job);
  for (HWND window : TopLevelWindows()) {
    if (!IsWatched(window, inJob)) continue;
    const std::string className = ClassOf(window);
    if (className != kDialogClass && TextOf(window) == kProgressCaption) {
      seen_.progress = window;
      if (!IsWindowVisible(window)) continue;
      seen_.progressVisible = true;
      for (HWND child : ChildrenOf(window)) {
        const std::string text = TextOf(child);
        if (IsWindowVisible(child) && text.find(kFirstLine) != std::string::npos &&
            text.find(kSecondLine) != std::string::npos) {
          seen_.bothLines = true;
        }
      }
    } else if (className == kDialogClass && IsWindowVisible(window)) {
      // A box we answered may still be up for a moment; count it once.
      if (std::find(answered_.begin(), answered_.end(), window) != answered_.end()) continue;
      SeenBox box;
      box.title = TextOf(window);
      box.text = BoxMessage(window);
      box.progressVisible = seen_.progress && IsWindowVisible(seen_.progress);
      box.ownedByProgress = seen_.progress && GetWindow(window, GW_OWNER) == seen_.progress;
      seen_.boxes.push_back(box);
      answered_.push_back(window);
      PressOk(window);
    }
  }
}

}  // namespace winetest
