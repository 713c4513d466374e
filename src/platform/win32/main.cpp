// The program entry: the real operating system and window toolkit, handed to
// the program proper.
#include <cstdlib>
#include <exception>

#include "app/bvx_main.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_os.h"
#include "platform/win32/win32_toolkit.h"

// An exception that nothing catches ends the program at once. The run time's
// own handler would print the exception's demangled type to a console the
// program does not have, and would bring the demangler and printf with it.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    bvx::win32::Win32Os os(instance);
    bvx::win32::Win32Toolkit toolkit(instance);
    return bvx::BVX(os, toolkit);
  } catch (const std::exception&) {
    return 1;
  }
}
