# Cross-compiles for 64-bit Windows with MinGW-w64. This build runs every run-time test under Wine, so
# it uses the posix thread model, whose std::mutex the Windows-side GoogleTest programs need.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
set(MINGW_THREAD_MODEL posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
