// What the self-test kit decides before it changes anything on a machine:
// whether it may run there at all, and what an earlier run that was stopped
// left behind. It only looks; the runner acts on what it says.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kitguard {

// The services the checks register under names of their own, beside FQ.
extern const char *const kOwnServices[3];
// The key of the registry reader's checks, under HKEY_LOCAL_MACHINE.
extern const char kOwnKey[];

// Whether a service's image is the kit's: its own fixture service (by the
// full path `fixture` in the kit's folder, quoted or not, options after it),
// or the path the checks give a service that only the registry knows.
bool IsOwnImage(const std::string &imagePath, const std::string &fixture);

// Where the kit's programs lie: `bin` holds those it ships; the checks copy
// some into `temp`, its temporary folder (empty when that is not the kit's);
// `installed` is the program its Windows Installer package installed (empty
// when none is).
struct Places {
  std::string bin;
  std::string temp;
  std::string installed;
};
// Whether a process's image is one of the kit's own programs, by its full
// path, without regard to case as Windows compares paths.
bool IsOwnProgram(const std::string &image, const Places &places);

// The file the kit writes into a folder when it makes it: only a folder that
// holds it is the kit's to remove.
extern const char kMarkerFile[];
enum class Whose : std::uint8_t { kNobodys, kOwn, kOther };
// Whether `folder` is missing, the kit's (a real folder, not a junction or
// link, holding the marker), or someone else's.
Whose WhoseFolder(const std::string &folder);

struct Survey {
  // Why the kit must not run here, in one line; empty when it may.
  std::string refusal;
  // What an earlier run left: services of ours (FQ among them only when its
  // image is ours) and keys of ours, for the runner to remove.
  std::vector<std::string> services;
  std::vector<std::string> keys;
};

// Refuses where the machine has a service of one of the kit's names (FQ or
// another) that is not ours (the checks would remove it) and where the
// process is not elevated (it could not register a service); else lists what
// an earlier run left. `fixture`: the kit's fixture service by its full path.
// Changes nothing.
Survey Look(const std::string &fixture);

}  // namespace kitguard
