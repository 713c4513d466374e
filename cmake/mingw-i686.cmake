# Cross-build for 32-bit Windows: the shipped BVX.exe.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(BVX_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
