# What `cmake --install` puts where: the three tools, their manual pages, the README and the
# licence texts.
#
# Linux, in the usual places below the prefix (GNUInstallDirs; /usr/local by default, /usr in the
# Debian package):
#   bin/vorlank  bin/vorlank-analyze  bin/vorlank-synth
#   share/man/man1/vorlank.1.gz  vorlank-analyze.1.gz  vorlank-synth.1.gz
#   share/doc/vorlank/README.md
#   share/doc/vorlank/copyright     the licence, in Debian's machine-readable format
#   share/doc/vorlank/changelog.gz  packaging/changelog, in Debian's format
# Windows, all in one folder, as a zip is unpacked and used, the text files with CRLF line ends
# (for Notepad):
#   vorlank.exe  vorlank-analyze.exe  vorlank-synth.exe  README.txt  LICENSE.txt
#   NOTICE.txt   what else the programs hold (the audio file libraries and the MinGW-w64 and GCC
#                runtimes, all linked statically), their licences and where their sources are
#   licenses/NAME/*.txt   the licence and copyright texts of each of them

# The documentation folder is named after the package, as Debian and most distributions keep it,
# rather than after the project's display name.
set(CMAKE_INSTALL_DOCDIR "share/doc/vorlank" CACHE PATH "Documentation folder (DOCDIR)")
include(GNUInstallDirs)

set(vorlank_tools vorlank vorlank-analyze vorlank-synth)

# Installs FILE as DESTINATION/NAME with CRLF line ends: Windows tools show a file without CR as
# one long line.
function(vorlank_install_crlf file destination name)
  file(READ ${file} text)
  string(REPLACE "\n" "\r\n" text "${text}")
  set(crlf ${PROJECT_BINARY_DIR}/crlf/${destination}/${name})
  file(WRITE ${crlf} "${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  install(FILES ${crlf} DESTINATION ${destination})
endfunction()

if(WIN32)
  install(TARGETS ${vorlank_tools} RUNTIME DESTINATION .)
  vorlank_install_crlf(${PROJECT_SOURCE_DIR}/README.md . README.txt)
  vorlank_install_crlf(${PROJECT_SOURCE_DIR}/LICENSE . LICENSE.txt)

  # The audio file libraries: their licence texts as their build collected them, and the notice,
  # which names each with its Debian version and licence.
  include(${CMAKE_CURRENT_LIST_DIR}/mingw_audio_libs.cmake)
  file(STRINGS ${VORLANK_MINGW_AUDIO_ROOT}/versions audio_lib_versions)
  set(vorlank_audio_libs "")
  foreach(line ${audio_lib_versions})
    string(REPLACE " " ";" fields "${line}")
    list(GET fields 0 name)
    list(GET fields 1 version)
    list(GET fields 2 licence)
    string(APPEND vorlank_audio_libs "  ${name} ${version} (${licence})\n")
    file(GLOB licence_files ${VORLANK_MINGW_AUDIO_ROOT}/licenses/${name}/*)
    foreach(licence_file ${licence_files})
      get_filename_component(licence_name ${licence_file} NAME)
      vorlank_install_crlf(${licence_file} licenses/${name} ${licence_name}.txt)
    endforeach()
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VORLANK_MINGW_AUDIO_ROOT}/versions)
  # The runtimes of the cross compiler, as Debian records their copyright holders and licences.
  vorlank_install_crlf(/usr/share/doc/mingw-w64-x86-64-dev/copyright licenses/mingw-w64
    copyright.txt)
  vorlank_install_crlf(/usr/share/doc/gcc-mingw-w64-x86-64-posix-runtime/copyright licenses/gcc
    copyright.txt)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows-notice.txt.in
    ${PROJECT_BINARY_DIR}/windows-notice.txt @ONLY)
  vorlank_install_crlf(${PROJECT_BINARY_DIR}/windows-notice.txt . NOTICE.txt)
  return()
endif()

install(TARGETS ${vorlank_tools} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The copyright file: the licence of LICENSE in Debian's machine-readable format (DEP-5), its
# text indented by one space and its empty lines written " .", as the format asks.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines REGEX "^Copyright ")
string(REGEX REPLACE "^Copyright \\(c\\) " "" vorlank_copyright "${license_lines}")
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
string(REGEX REPLACE "^.*\nPermission" "Permission" license_text "${license_text}")
string(REGEX REPLACE "\n+$" "" license_text "${license_text}")
string(REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REPLACE "\n" "\n " vorlank_license_text " ${license_text}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages and the changelog are installed compressed (gzip -9n: no name or time stamp inside,
# so the same file always gives the same bytes), as Debian requires and every reader understands.
# The changelog's latest entry must be the version being built: a package whose changelog stops
# at an older version would tell its users nothing of what they got.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^vorlank \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog begins with '${changelog_head}'; "
    "add an entry for version ${PROJECT_VERSION} on top")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
find_program(VORLANK_GZIP gzip)

# Installs FILE as DESTINATION/NAME.gz, compressed when built; as DESTINATION/NAME without gzip.
function(vorlank_install_gzipped file destination name)
  if(NOT VORLANK_GZIP)
    install(FILES ${file} DESTINATION ${destination} RENAME ${name})
    return()
  endif()
  set(copy ${PROJECT_BINARY_DIR}/gzipped/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${file} ${copy}
    COMMAND ${VORLANK_GZIP} -9nf ${copy}
    DEPENDS ${file}
    VERBATIM)
  set_property(DIRECTORY APPEND PROPERTY vorlank_gzipped ${copy}.gz)
  install(FILES ${copy}.gz DESTINATION ${destination})
endfunction()

foreach(page vorlank.1 vorlank-analyze.1 vorlank-synth.1)
  vorlank_install_gzipped(${PROJECT_SOURCE_DIR}/man/${page} ${CMAKE_INSTALL_MANDIR}/man1 ${page})
endforeach()
vorlank_install_gzipped(${PROJECT_SOURCE_DIR}/packaging/changelog ${CMAKE_INSTALL_DOCDIR} changelog)
get_property(gzipped DIRECTORY PROPERTY vorlank_gzipped)
if(gzipped)
  add_custom_target(vorlank_gzipped_docs ALL DEPENDS ${gzipped})
endif()
