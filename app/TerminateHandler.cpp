// The C++ runtime's default terminate handler writes the name of the uncaught
// exception to stderr, demangled; the demangler and the printf behind it are a
// quarter of the linked .exe. A GUI program has no stderr that anyone reads.
// Nor does ours call abort(): Windows' msvcrt.dll first shows its runtime
// error box in a GUI program, which would wait for ever where nobody sees it
// (a deployment agent, an installer's action as LocalSystem). It ends the
// process at once, with abort()'s exit code, 3. Only the Windows .exe links
// this: our definition comes first, and the runtime's is left out.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::_Exit(3); }

}  // namespace __gnu_cxx
