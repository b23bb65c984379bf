# Command lines through CLI11 (Debian: libcli11-dev), header only, as the target vorlank_cli11. Its
# package points at the host's /usr/include; a cross build must not search there, where the host's
# C library would come before the target's, so it gets a copy of CLI11's own headers instead.
find_package(CLI11 2.1 CONFIG REQUIRED)
add_library(vorlank_cli11 INTERFACE)
if(CMAKE_CROSSCOMPILING)
  get_target_property(cli11_includes CLI11::CLI11 INTERFACE_INCLUDE_DIRECTORIES)
  list(GET cli11_includes 0 cli11_include)
  file(COPY ${cli11_include}/CLI DESTINATION ${CMAKE_BINARY_DIR}/cli11/include)
  target_include_directories(vorlank_cli11 SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/cli11/include)
else()
  target_link_libraries(vorlank_cli11 INTERFACE CLI11::CLI11)
endif()
