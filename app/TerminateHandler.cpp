// The C++ runtime's default terminate handler writes the name of the uncaught
// exception to stderr, demangled; the demangler and the printf behind it are a
// quarter of the linked .exe. A GUI program has no stderr that anyone reads,
// so ours only aborts, as the default one does once it has written. Only the
// Windows .exe links this: our definition comes first, and the runtime's is
// left out.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
