# What `cmake --install` puts where: the three tools, their manual pages and the README.
#
# Linux, in the usual places below the prefix (GNUInstallDirs; /usr/local by default, /usr in the
# Debian package):
#   bin/vorlank  bin/vorlank-analyze  bin/vorlank-synth
#   share/man/man1/vorlank.1.gz  vorlank-analyze.1.gz  vorlank-synth.1.gz
#   share/doc/vorlank/README.md
# Windows, all in one folder, as a zip is unpacked and used:
#   vorlank.exe  vorlank-analyze.exe  vorlank-synth.exe  README.txt (CRLF line ends, for Notepad)

# The documentation folder is named after the package, as Debian and most distributions keep it,
# rather than after the project's display name.
set(CMAKE_INSTALL_DOCDIR "share/doc/vorlank" CACHE PATH "Documentation folder (DOCDIR)")
include(GNUInstallDirs)

set(vorlank_tools vorlank vorlank-analyze vorlank-synth)

if(WIN32)
  install(TARGETS ${vorlank_tools} RUNTIME DESTINATION .)
  # Windows tools show a file without CR as one long line.
  file(READ ${PROJECT_SOURCE_DIR}/README.md readme)
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${PROJECT_BINARY_DIR}/README.txt "${readme}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
  return()
endif()

install(TARGETS ${vorlank_tools} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages are installed compressed (gzip -9n: no name or time stamp inside, so the same page
# always gives the same bytes), as Debian requires and every man reader understands.
set(vorlank_man_pages vorlank.1 vorlank-analyze.1 vorlank-synth.1)
find_program(VORLANK_GZIP gzip)
if(VORLANK_GZIP)
  set(compressed_pages "")
  foreach(page ${vorlank_man_pages})
    set(compressed ${PROJECT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/man/${page} ${PROJECT_BINARY_DIR}/man/${page}
      COMMAND ${VORLANK_GZIP} -9nf ${PROJECT_BINARY_DIR}/man/${page}
      DEPENDS ${PROJECT_SOURCE_DIR}/man/${page}
      VERBATIM)
    list(APPEND compressed_pages ${compressed})
  endforeach()
  add_custom_target(vorlank_man_pages ALL DEPENDS ${compressed_pages})
  install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  list(TRANSFORM vorlank_man_pages PREPEND ${PROJECT_SOURCE_DIR}/man/)
  install(FILES ${vorlank_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
