# The header-only libraries of a cross build come from the build machine's /usr/include, which the
# cross compiler must not search as a whole (its C library headers are the build machine's). Each
# is reached through a folder of its own in the build tree and given the target name it has in a
# native build.
set(zel_host_include ${CMAKE_BINARY_DIR}/host-include)

function(zel_host_header_library target header)
  if(NOT EXISTS /usr/include/${header})
    message(FATAL_ERROR "/usr/include/${header} is missing: run scripts/setup.sh windows")
  endif()
  set(folder ${zel_host_include}/${target})
  string(REPLACE "::" "_" folder ${folder})
  file(MAKE_DIRECTORY ${folder})
  string(REGEX REPLACE "/.*" "" first ${header})
  file(CREATE_LINK /usr/include/${first} ${folder}/${first} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  # System headers: their own warnings are not this project's.
  set_target_properties(${target} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${folder}
    INTERFACE_INCLUDE_DIRECTORIES ${folder})
endfunction()

zel_host_header_library(nlohmann_json::nlohmann_json nlohmann/json.hpp)
zel_host_header_library(CLI11::CLI11 CLI/CLI.hpp)
zel_host_header_library(PkgConfig::SIMPLEINI SimpleIni.h)
# Without the Linux package's compiled part: the header's own implementation.
set_property(TARGET PkgConfig::SIMPLEINI PROPERTY INTERFACE_COMPILE_DEFINITIONS SI_IMPLEMENTATION)
