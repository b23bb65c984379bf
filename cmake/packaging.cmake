# The packages, made by CPack from the install rules (cmake/install.cmake); scripts/package builds
# both with their own presets (package, package-windows) and leaves them in dist/:
#   Linux    vorlank_<version>_amd64.deb          a Debian package; its run-time dependencies are
#                                                 read off the binaries by dpkg-shlibdeps
#   Windows  vorlank-<version>-windows-x86_64.zip  the three .exe files, linked statically, the
#                                                 README and the licence texts; nothing to
#                                                 install, unpack and run

set(CPACK_PACKAGE_NAME vorlank)
set(CPACK_PACKAGE_VENDOR "Vorlank")
set(CPACK_PACKAGE_CONTACT "Vorlank maintainers <maintainers@users.noreply.c-seed-e968865b.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "decodes a PCM serial signal from the sound input, or logs its run lengths")
set(CPACK_PACKAGE_DESCRIPTION
  "Vorlank listens to a sound input for the pulse-code-modulated serial signal
that a transmitter's trainer or data port puts out. vorlank T decodes it live
and shows frames, errors and the position value Pos1 twice a second; vorlank L
records the signal's run lengths to a file. vorlank-analyze studies such a log
or a recording (WAV, FLAC, Ogg, MP3 and more, at any rate) offline, and
vorlank-synth synthesizes test signals.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "vorlank-${PROJECT_VERSION}-windows-x86_64")
  # The files sit in a folder of the same name inside the zip, so unpacking never scatters them.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # vorlank_<version>_<architecture>.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends: from the libraries the binaries link (libasound2, libsndfile1, libsoxr0, libc6,
  # libstdc++6, libgcc-s1).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # ALSA's default device reaches a sound server only through one of these plugins; without one
  # the tool records from the first sound card directly.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libasound2-plugins | pipewire-alsa")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pulseaudio-utils")
endif()

include(CPack)
