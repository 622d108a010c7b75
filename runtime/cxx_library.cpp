// std::string for a build without the C++ library's archive.  The library's
// headers declare the char instantiation of basic_string as compiled into
// that archive; it is compiled here instead, without exceptions, and the
// linker keeps only the members the product uses.  The library's error
// hooks, which throw in a normal build, end the process.
#include <string>

#include "runtime.h"

template class std::basic_string<char>;

namespace std {

void __throw_bad_alloc() { RuntimeAbort(); }
void __throw_bad_array_new_length() { RuntimeAbort(); }
void __throw_length_error(const char *) { RuntimeAbort(); }
void __throw_logic_error(const char *) { RuntimeAbort(); }
void __throw_out_of_range(const char *) { RuntimeAbort(); }
void __throw_out_of_range_fmt(const char *, ...) { RuntimeAbort(); }
void __throw_invalid_argument(const char *) { RuntimeAbort(); }

}  // namespace std
