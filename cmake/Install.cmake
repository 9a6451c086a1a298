# cmake --install puts the programs in bin/, their data in share/tessaly/ (the
# window looks there for its hand pointer and skin when none is beside it),
# the desktop entry, the icon and the AppStream metainfo where a Linux desktop
# and software centres find them, the manual pages where man finds them and
# the command's completion where bash-completion loads it, all under the
# chosen prefix; a tree without the window installs the command's three
# files alone. The Debian packages are this install, split by debian/*.install.
include(GNUInstallDirs)

install(TARGETS tessaly-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/docs/man/tessaly-check.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/resources/completion/tessaly-check
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

if(TESSALY_WINDOW)
  install(TARGETS tessaly RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${TESSALY_CURSOR_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/tessaly)
  # The shipped skin is there to be chosen (x/o.cjs in the data folder or beside
  # the program), not on: the default look is the desktop's.
  install(FILES ${CMAKE_SOURCE_DIR}/skins/harbour.qss DESTINATION ${CMAKE_INSTALL_DATADIR}/tessaly/skins)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/example.velmora.tessaly.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/man/tessaly.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  foreach(size 32 48 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/tessaly-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tessaly.png)
  endforeach()

  # The entry names the program by its full path, so it is written when the
  # prefix is known: at install time, which "cmake --install --prefix" decides.
  set(TESSALY_DESKTOP_ENTRY ${CMAKE_BINARY_DIR}/tessaly.desktop)
  install(CODE "
    set(TESSALY_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tessaly\")
    configure_file(\"${CMAKE_SOURCE_DIR}/resources/tessaly.desktop.in\" \"${TESSALY_DESKTOP_ENTRY}\" @ONLY)
  ")
  install(FILES ${TESSALY_DESKTOP_ENTRY} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

if(TESSALY_BUILD_TESTS)
  add_test(NAME install_layout
           COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR} -DPREFIX=${CMAKE_BINARY_DIR}/install-check
                   -DWINDOW=${TESSALY_WINDOW} -P ${CMAKE_SOURCE_DIR}/cmake/CheckInstall.cmake)
endif()
