# The stand-in main program Tolvier.exe, one build per version.
#
#   add_tolvier_standin(<target> <version>)
#
# builds demo/Tolvier.cpp with the version compiled in, as the file
# <build folder>/tolvier-<version>/Tolvier.exe: the name the updater stops and
# starts, each version in a folder of its own.
find_package(PkgConfig REQUIRED)
pkg_check_modules(TOLVIER_GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)

set(TOLVIER_STANDIN_SOURCE ${CMAKE_CURRENT_LIST_DIR}/Tolvier.cpp)

function(add_tolvier_standin target version)
  add_executable(${target} ${TOLVIER_STANDIN_SOURCE})
  target_compile_definitions(${target} PRIVATE TOLVIER_VERSION="${version}")
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  target_link_libraries(${target} PRIVATE PkgConfig::TOLVIER_GTK3)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME Tolvier SUFFIX ".exe"
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/tolvier-${version})
endfunction()
