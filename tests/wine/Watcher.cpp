#include "Watcher.h"

#include <algorithm>

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

BOOL CALLBACK AddChild(HWND child, LPARAM list) {
  reinterpret_cast<std::vector<HWND> *>(list)->push_back(child);
  return TRUE;
}

std::vector<HWND> ChildrenOf(HWND window) {
  std::vector<HWND> children;
  EnumChildWindows(window, AddChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

struct TopLevel {
  DWORD processId;
  std::vector<HWND> windows;
};

BOOL CALLBACK AddIfOwned(HWND window, LPARAM data) {
  auto *found = reinterpret_cast<TopLevel *>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (found->processId == 0 || owner == found->processId) found->windows.push_back(window);
  return TRUE;
}

std::vector<HWND> TopLevelWindowsOf(DWORD processId) {
  TopLevel found{processId, {}};
  EnumWindows(AddIfOwned, reinterpret_cast<LPARAM>(&found));
  return found.windows;
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

Watcher::Watcher(DWORD processId) : processId_(processId) {
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

void Watcher::Look() {
  for (HWND window : TopLevelWindowsOf(processId_)) {
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
