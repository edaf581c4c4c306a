set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-${MINGW_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-${MINGW_THREAD_MODEL})
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Static C and C++ run-times: the program needs no DLL beyond those that ship with Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Reproducible builds: the same commit gives the same bytes in any folder and at any time, so that a
# vendor can check a shipped setup.exe by building it again. The linker leaves the PE time stamp at
# zero; compiler strings such as __FILE__ name sources relative to the checkout and objects relative to
# the build folder (the later map wins, and a build folder usually lies inside the checkout);
# archives carry no dates, owners or modes.
get_filename_component(LAUNCHER_CHECKOUT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(LAUNCHER_PREFIX_MAPS "-ffile-prefix-map=${LAUNCHER_CHECKOUT}/=")
if(CMAKE_BINARY_DIR)
  string(APPEND LAUNCHER_PREFIX_MAPS " -ffile-prefix-map=${CMAKE_BINARY_DIR}/=")
endif()
set(CMAKE_C_FLAGS_INIT "${LAUNCHER_PREFIX_MAPS}")
set(CMAKE_CXX_FLAGS_INIT "${LAUNCHER_PREFIX_MAPS}")
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,--no-insert-timestamp")
string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -Wl,--no-insert-timestamp")
# The platform module sets the archive rules after this file; the override runs after it.
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/mingw-deterministic-archives.cmake)
