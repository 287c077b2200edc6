// An uncaught exception ends the stub at once. The C++ runtime's own
// handler would print the exception's demangled type name first, which
// links in the whole demangler; a GUI program has nowhere to print it.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
