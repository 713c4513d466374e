// The end-of-session guard.
#include "app/bvx_main.h"

namespace bvx {

// TODO: shutdown guard with the eject notice; for now the session may end.
std::intptr_t TAboutForm::ShutdownGuard() {
  toolkit.Terminate();
  return 1;
}

}  // namespace bvx
