// Watches a process's windows the way a user sees them, from a thread of
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

// Whose windows a watcher looks at and answers: only these processes',
// never another program's (a box of the user's own stays untouched).
struct Watched {
  DWORD processId = 0;   // the process started,
  HANDLE job = nullptr;  // every process in this job (an installer and all it starts),
  std::string image;     // and any process whose image is this file, by its full path: the
                         // program as an installer's service starts it, outside the job
};

class Watcher {
 public:
  explicit Watcher(Watched watched);
  ~Watcher();
  Watcher(const Watcher &) = delete;
  Watcher &operator=(const Watcher &) = delete;

  // Ends the watch and returns what was seen.
  Sightings Stop();

 private:
  static DWORD WINAPI Run(void *self);
  void Look();
  bool IsWatched(HWND window, const std::vector<DWORD> &inJob) const;

  Watched watched_;
  std::wstring image_;  // watched_.image in its long form, for comparing
  HANDLE stop_ = nullptr;
  HANDLE thread_ = nullptr;
  Sightings seen_;
  std::vector<HWND> answered_;
};

}  // namespace winetest
