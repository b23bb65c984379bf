# The audio file libraries of the Windows build: libsndfile (with FLAC, Ogg Vorbis, Opus and MP3
# through libogg, libvorbis, libFLAC, libopus, libmpg123 and LAME) and libsoxr, as static
# libraries for MinGW-w64, so the programs still import nothing but Windows' own DLLs. Debian
# ships no MinGW build of them; scripts/build-mingw-audio-libs builds them from Debian's source
# packages into VORLANK_MINGW_AUDIO_ROOT (scripts/install-deps runs it), and this file takes them
# from there as the interface target vorlank_audio_file_libs.
#
# VORLANK_MINGW_AUDIO_ROOT is also where the Windows install rules find the libraries' licence
# texts (licenses/) and versions (versions), for the zip.
include_guard(GLOBAL)

if(DEFINED ENV{VORLANK_MINGW_AUDIO_ROOT})
  set(vorlank_mingw_audio_default $ENV{VORLANK_MINGW_AUDIO_ROOT})
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(vorlank_mingw_audio_default $ENV{XDG_CACHE_HOME}/vorlank/mingw-audio)
else()
  set(vorlank_mingw_audio_default $ENV{HOME}/.cache/vorlank/mingw-audio)
endif()
set(VORLANK_MINGW_AUDIO_ROOT ${vorlank_mingw_audio_default} CACHE PATH
  "Where scripts/build-mingw-audio-libs put the MinGW builds of the audio file libraries")

# The build must be complete and made by the recipe of this tree: the script stamps it with a
# hash of itself and of the toolchain file, the last thing it writes.
function(vorlank_check_mingw_audio_build)
  set(script ${PROJECT_SOURCE_DIR}/scripts/build-mingw-audio-libs)
  set(toolchain ${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake)
  file(READ ${script} script_text)
  file(READ ${toolchain} toolchain_text)
  string(SHA256 recipe "${script_text}${toolchain_text}")
  set(stamp_file ${VORLANK_MINGW_AUDIO_ROOT}/stamp)
  set(stamp "")
  if(EXISTS ${stamp_file})
    file(STRINGS ${stamp_file} stamp LIMIT_COUNT 1)
  endif()
  if(NOT stamp STREQUAL "recipe ${recipe}")
    message(FATAL_ERROR "The MinGW builds of libsndfile and libsoxr in ${VORLANK_MINGW_AUDIO_ROOT} "
      "are missing or were made by another recipe; build them (minutes, once) with\n"
      "  ${script}\n"
      "(scripts/install-deps does), or point VORLANK_MINGW_AUDIO_ROOT at such a build.")
  endif()
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${stamp_file} ${script} ${toolchain})
endfunction()
vorlank_check_mingw_audio_build()

# Each library before those it uses, as a static link needs them.
set(vorlank_mingw_audio_libs sndfile FLAC vorbisenc vorbis opus ogg mpg123 mp3lame soxr)
list(TRANSFORM vorlank_mingw_audio_libs REPLACE "(.+)"
  "${VORLANK_MINGW_AUDIO_ROOT}/prefix/lib/lib\\1.a")
add_library(vorlank_audio_file_libs INTERFACE)
target_include_directories(vorlank_audio_file_libs SYSTEM INTERFACE
  ${VORLANK_MINGW_AUDIO_ROOT}/prefix/include)
# shlwapi: mpg123 joins and tests file paths with its functions (a DLL of every Windows).
target_link_libraries(vorlank_audio_file_libs INTERFACE ${vorlank_mingw_audio_libs} shlwapi)
