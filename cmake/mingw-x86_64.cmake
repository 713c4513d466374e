# Cross-build for 64-bit Windows: the same sources, for running the
# end-to-end tests under wine64 on machines that cannot run 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BVX_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
