// The start-up unit: the whole uninstall sequence.
#pragma once

namespace Uninstall {

// Process exit status: the service is gone as far as we know (it was not
// registered, its deletion was accepted, now or earlier, or it went on its
// own before the deletion) ...
constexpr int kExitRemoved = 0;
// ... or its deletion failed.
constexpr int kExitRemovalFailed = 1;

// Removes the service "FQ": query, presence test, progress window, stop when
// needed, pauses, deletion, error box (where someone can see it). Returns the
// exit status above.
int Main();

}  // namespace Uninstall
