# Cross-compiles for 32-bit Windows with the posix thread model: the Windows-side test programs of the
# 32-bit road, among them the GoogleTest program, whose std::mutex the release build's win32 model lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLET i686-w64-mingw32)
set(MINGW_THREAD_MODEL posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
