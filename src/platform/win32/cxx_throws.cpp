// The C++ run time's throw helpers (std::string, std::vector::at,
// std::function, operator new[]), defined here so that they raise the
// program's own Error. Linked statically, the run time's versions would bring
// std::length_error and its relatives, and with them two whole copies of
// std::string's code (about 90 KB of BVX.exe).
#include "platform/errors.h"

namespace std {
void __throw_bad_alloc() { throw bvx::Error("Out of memory"); }
void __throw_bad_array_new_length() { throw bvx::Error("Out of memory"); }
void __throw_bad_function_call() { throw bvx::Error("Bad function call"); }
void __throw_length_error(const char* what) { throw bvx::Error(what); }
void __throw_logic_error(const char* what) { throw bvx::Error(what); }
void __throw_invalid_argument(const char* what) { throw bvx::Error(what); }
void __throw_out_of_range(const char* what) { throw bvx::Error(what); }
// The format's numbers stay unfilled: printf would bring MinGW's own.
void __throw_out_of_range_fmt(const char* format, ...) { throw bvx::Error(format); }
}  // namespace std
