# The sources configured without the window, the test suite too: Qt Gui and
# Widgets are not even looked for, nothing is compiled with their headers, and
# the tree builds tessaly-check and the tests of the engine and the command
# line, none of the window's. Configuring alone is enough: the engine and the
# command line compile with the same flags in the whole tree.
#   cmake -DSOURCE=<sources> -DTREE=<scratch> -DGENERATOR=<generator> -DCOMPILER=<c++> -P without-window.cmake
file(REMOVE_RECURSE "${TREE}")
execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE}" -B "${TREE}" -G "${GENERATOR}" -DCMAKE_CXX_COMPILER=${COMPILER}
                        -DTESSALY_WINDOW=OFF
                RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(failed)
  message(FATAL_ERROR "configuring without the window failed:\n${output}")
endif()

file(STRINGS "${TREE}/CMakeCache.txt" looked_for REGEX "^Qt6(Gui|Widgets|OpenGL)[A-Za-z]*_DIR:")
if(looked_for)
  message(FATAL_ERROR "Qt Gui or Widgets was looked for: ${looked_for}")
endif()
file(READ "${TREE}/compile_commands.json" commands)
if(commands MATCHES "[^\n]*/Qt(Gui|Widgets)[^\n]*")
  message(FATAL_ERROR "compiled with the window's Qt headers: ${CMAKE_MATCH_0}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} --build "${TREE}" --target help OUTPUT_VARIABLE targets RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "the tree without the window lists no targets")
endif()
foreach(target tessaly-check tst_check_command tst_transfer)
  if(NOT targets MATCHES "(^|\n)(\\.\\.\\. )?${target}[:\n]")
    message(FATAL_ERROR "the tree without the window has no ${target}")
  endif()
endforeach()
foreach(target tessaly tessaly_window tessaly_test_support tst_save tst_form1)
  if(targets MATCHES "(^|\n)(\\.\\.\\. )?${target}[:\n]")
    message(FATAL_ERROR "the tree without the window has ${target}")
  endif()
endforeach()
file(REMOVE_RECURSE "${TREE}")
message(STATUS "without the window: no Qt Gui or Widgets, tessaly-check and its tests configured")
