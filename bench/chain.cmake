# The benchmarks of the update chain run it on the headless application of
# the test tree (which needs no GoogleTest), with a host of their own that
# is never reached: each is given its base address. The start-up benchmark
# needs GTK 3 for its peer window and Xlib to watch windows being mapped.
add_library(bench_chain STATIC ../tests/support/HeadlessApplication.cpp
                               ../tests/support/TempFolder.cpp)
target_link_libraries(bench_chain PUBLIC bench_support)
# An object library: its object is linked into each program directly, ahead
# of the core that needs it.
add_library(bench_server_host OBJECT ../src/UpdateServerHost.cpp)
target_compile_definitions(bench_server_host PRIVATE UPDATE_SERVER_HOST="update.invalid")
target_include_directories(bench_server_host PRIVATE ../src)
foreach(name ChainDownload AntiFreezeGap)
  target_link_libraries(${name} PRIVATE bench_chain bench_server_host)
endforeach()

pkg_check_modules(BENCH_GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
pkg_check_modules(BENCH_X11 REQUIRED IMPORTED_TARGET x11)
target_link_libraries(GtkPeer PRIVATE PkgConfig::BENCH_GTK3)
target_link_libraries(WindowStart PRIVATE PkgConfig::BENCH_X11)
