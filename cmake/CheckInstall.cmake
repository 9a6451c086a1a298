# Installs the build into a scratch prefix and checks that a desktop finds
# everything:
#   cmake -DBUILD=<build> -DPREFIX=<scratch> -DWINDOW=<ON|OFF> -P CheckInstall.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(command_files bin/tessaly-check share/man/man1/tessaly-check.1 share/bash-completion/completions/tessaly-check)
set(window_files bin/tessaly share/tessaly/HAND-M.CUR share/tessaly/skins/harbour.qss
    share/metainfo/example.velmora.tessaly.metainfo.xml share/applications/tessaly.desktop share/man/man1/tessaly.1)
foreach(size 32 48 128 256)
  list(APPEND window_files share/icons/hicolor/${size}x${size}/apps/tessaly.png)
endforeach()
# The skin is there to be chosen, not on: the default look is the desktop's.
set(unexpected bin/x share/tessaly/x bin/HAND-M.CUR)
if(WINDOW)
  set(expected ${command_files} ${window_files})
else()
  # A tree without the window installs the command alone, nothing of the window's.
  set(expected ${command_files})
  list(APPEND unexpected ${window_files} share/tessaly)
endif()
foreach(path ${expected})
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
foreach(path ${unexpected})
  if(EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "installed where it should not be: ${path}")
  endif()
endforeach()
if(NOT WINDOW)
  file(REMOVE_RECURSE "${PREFIX}")
  return()
endif()

file(STRINGS "${PREFIX}/share/applications/tessaly.desktop" entry)
if(NOT "Exec=\"${PREFIX}/bin/tessaly\"" IN_LIST entry)
  message(FATAL_ERROR "the desktop entry does not start the installed program: ${entry}")
endif()
if(NOT "Icon=tessaly" IN_LIST entry)
  message(FATAL_ERROR "the desktop entry names no icon: ${entry}")
endif()

find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
  execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} "${PREFIX}/share/applications/tessaly.desktop"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0 OR NOT output STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate: ${output}")
  endif()
endif()
file(REMOVE_RECURSE "${PREFIX}")
