# launcher_run_from_swap(TARGET): after every link of TARGET, set the COFF flags that make Windows
# copy the program to the swap file when it starts from removable or network media, so that ejecting
# the disc or losing the share cannot page-fault the running window. GNU ld has no option for them.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(LAUNCHER_RUN_FROM_SWAP_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/run_from_swap.py)

function(launcher_run_from_swap target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${LAUNCHER_RUN_FROM_SWAP_SCRIPT} $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
