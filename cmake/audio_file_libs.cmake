# The libraries vorlank-analyze reads recordings with, as one interface target,
# vorlank_audio_file_libs: libsndfile (containers and codecs: WAV, RF64, W64, AIFF, CAF, FLAC, Ogg,
# MP3 and more) and libsoxr (resampling to the decoder's 44 100 Hz).
#
# Linux: Debian's packages (libsndfile1-dev, libsoxr-dev), found through pkg-config. Windows: the
# MinGW build of the same libraries, which mingw_audio_libs.cmake provides and defines the target
# for.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/mingw_audio_libs.cmake)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(vorlank_sndfile REQUIRED IMPORTED_TARGET sndfile)
  pkg_check_modules(vorlank_soxr REQUIRED IMPORTED_TARGET soxr)
  add_library(vorlank_audio_file_libs INTERFACE)
  target_link_libraries(vorlank_audio_file_libs INTERFACE
    PkgConfig::vorlank_sndfile PkgConfig::vorlank_soxr)
endif()
