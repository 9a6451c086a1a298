# What the code's layout promises, checked on the build: the command line
# needs no Qt Gui or Widgets, and the engine includes no header of the window
# or the command line.
#   cmake -DCHECK_PROGRAM=<tessaly-check> -DSOURCES=<src> -P layout.cmake
execute_process(COMMAND readelf --dynamic ${CHECK_PROGRAM} OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "readelf could not read ${CHECK_PROGRAM}")
endif()
string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" needed "${dynamic}")
foreach(library IN LISTS needed)
  if(library MATCHES "Qt6" AND NOT library MATCHES "Qt6Core")
    message(FATAL_ERROR "tessaly-check links ${library}: of Qt, only Qt Core")
  endif()
endforeach()
if(NOT needed MATCHES "Qt6Core")
  message(FATAL_ERROR "tessaly-check's libraries were not found: ${needed}")
endif()

file(GLOB_RECURSE engine_files ${SOURCES}/engine/*.h ${SOURCES}/engine/*.cpp)
foreach(file IN LISTS engine_files)
  file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]*/)?(window|cli)/")
  if(includes)
    message(FATAL_ERROR "${file} includes ${includes}")
  endif()
endforeach()
message(STATUS "layout: tessaly-check needs ${needed}; the engine's files include neither window nor cli")
