// Watches one process's windows the way a user sees them, from a thread of
// its own: the progress window "Uninstall" and any message box, which it
// answers with OK.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace winetest {

struct SeenBox {
  std::string title;
  std::string text;
  bool progressVisible = false;  // the "Uninstall" window was on screen with it
  bool ownedByProgress = false;
};

struct Sightings {
  HWND progress = nullptr;       // the "Uninstall" window, once seen
  bool progressVisible = false;  // ever visible
  bool bothLines = false;        // visible with both lines of the message on it
  std::vector<SeenBox> boxes;    // every message box, once each
};

class Watcher {
 public:
  // Process id 0 watches the windows of every process: the program's own,
  // when another program (an installer) starts it.
  explicit Watcher(DWORD processId);
  ~Watcher();
  Watcher(const Watcher &) = delete;
  Watcher &operator=(const Watcher &) = delete;

  // Ends the watch and returns what was seen.
  Sightings Stop();

 private:
  static DWORD WINAPI Run(void *self);
  void Look();

  DWORD processId_;
  HANDLE stop_ = nullptr;
  HANDLE thread_ = nullptr;
  Sightings seen_;
  std::vector<HWND> answered_;
};

}  // namespace winetest
