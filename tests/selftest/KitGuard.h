// What the self-test kit decides before it changes anything on a machine:
// whether it may run there at all, and what an earlier run that was stopped
// left behind. It only looks; the runner acts on what it says.
#pragma once

#include <string>
#include <vector>

namespace kitguard {

// The services the checks register under names of their own, beside FQ.
extern const char *const kOwnServices[3];
// The key of the registry reader's checks, under HKEY_LOCAL_MACHINE.
extern const char kOwnKey[];

// Whether a service's image is the kit's: our fixture service (by its file
// name, wherever the kit lies), or the path the checks give an FQ that only
// the registry knows. A real FQ has neither.
bool IsOwnImage(const std::string &imagePath);

struct Survey {
  // Why the kit must not run here, in one line; empty when it may.
  std::string refusal;
  // What an earlier run left: services of ours (FQ among them only when its
  // image is ours) and keys of ours, for the runner to remove.
  std::vector<std::string> services;
  std::vector<std::string> keys;
};

// Refuses where the machine has an FQ that is not ours (the checks would
// remove it) and where the process is not elevated (it could not register a
// service); else lists what an earlier run left. Changes nothing.
Survey Look();

}  // namespace kitguard
