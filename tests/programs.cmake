# Helper programs run by the tests as real child processes.
#
# Tolvier.exe: a stand-in for the main program (see
# support/programs/TolvierStub.cpp for what it does when started). It is
# built in ${TOLVIER_STUB_FOLDER} together with two copies, OldTolvier.exe
# and Tolvier.exe.bak, whose names must not count as the main program.
# Every test program depends on it and knows, as compile definitions,
#   TOLVIER_STUB_PATH   the full path of Tolvier.exe
#   TOLVIER_STUB_FOLDER the folder of the three files, without a final "/"
# Other scripts (the demo) build the target TolvierStub and find the files
# in tests/programs/ of the build folder.
set(TOLVIER_STUB_FOLDER ${CMAKE_BINARY_DIR}/tests/programs)
add_executable(TolvierStub ${CMAKE_CURRENT_LIST_DIR}/support/programs/TolvierStub.cpp)
set_target_properties(TolvierStub PROPERTIES
  OUTPUT_NAME Tolvier
  SUFFIX ".exe"
  RUNTIME_OUTPUT_DIRECTORY ${TOLVIER_STUB_FOLDER})
add_custom_command(TARGET TolvierStub POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:TolvierStub> ${TOLVIER_STUB_FOLDER}/OldTolvier.exe
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:TolvierStub> ${TOLVIER_STUB_FOLDER}/Tolvier.exe.bak
  BYPRODUCTS ${TOLVIER_STUB_FOLDER}/OldTolvier.exe ${TOLVIER_STUB_FOLDER}/Tolvier.exe.bak
  VERBATIM)

# Every test program may start the stand-in; building it costs a second.
foreach(source ${TEST_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  if(TARGET ${name})
    add_dependencies(${name} TolvierStub)
    target_compile_definitions(${name} PRIVATE
      TOLVIER_STUB_PATH="${TOLVIER_STUB_FOLDER}/Tolvier.exe"
      TOLVIER_STUB_FOLDER="${TOLVIER_STUB_FOLDER}")
  endif()
endforeach()
