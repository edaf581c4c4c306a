# Cross-compiles for 32-bit Windows with MinGW-w64. This is the release build: it uses the win32 thread
# model, because the posix one links winpthread, which imports GetTickCount64 (absent on Windows XP).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLET i686-w64-mingw32)
set(MINGW_THREAD_MODEL win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
