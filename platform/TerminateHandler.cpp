// The programs catch what they throw, so std::terminate ends them only on a fault of their own.
// libstdc++'s default handler would first write the exception's demangled type to standard
// error, which a GUI program does not have; linking it in takes the demangler and, through it,
// MinGW-w64's printf family and David Gay's number conversion (code under licences that ask for
// notices) into both programs. This definition is found before the library's, so neither is
// linked; std::terminate still ends the program through std::abort as before.
#include <cstdlib>
#include <exception>

#if defined(__GLIBCXX__)
void __gnu_cxx::__verbose_terminate_handler() {
    std::abort();
}
#endif
