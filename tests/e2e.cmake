# End-to-end tests: the built updater against Debian's nginx on the loopback
# port ${UPDATE_TEST_PORT}, in the real window under $DISPLAY (scripts/test
# gives it an Xvfb one). Each scenario (see e2e/e2e_test.py) lays out a program
# folder with the stand-in main program, starts nginx with the demo's
# configuration template and drives the window; it skips, with the reason
# printed, when there is no display or no nginx.
#
# The program under test is the loopback build of the real-window tests, the
# window is driven with their helpers (window/window_test.py), and the main
# program is the test stand-in of programs.cmake. The targets come from
# fragments that may be read after this one, so the tests are declared once
# the whole test folder has been read.
function(update_add_e2e_tests)
  if(NOT UPDATE_GUI)
    return()
  endif()

  foreach(scenario FullUpdate NoNewerVersion ServerDown MissingFile CloseDuringDownload)
    add_test(NAME E2E.${scenario}
             COMMAND dbus-run-session -- /usr/bin/python3
                     ${CMAKE_CURRENT_SOURCE_DIR}/e2e/e2e_test.py
                     --program $<TARGET_FILE:update_loopback>
                     --stub $<TARGET_FILE:TolvierStub>
                     --port ${UPDATE_TEST_PORT}
                     --template ${PROJECT_SOURCE_DIR}/demo/nginx.conf.in
                     --artifacts ${CMAKE_BINARY_DIR}/tests/artifacts
                     --scenario ${scenario})
    set_tests_properties(E2E.${scenario} PROPERTIES
      RESOURCE_LOCK loopback_port
      TIMEOUT 120
      SKIP_RETURN_CODE 77
      ENVIRONMENT "GDK_GL=disable;NO_AT_BRIDGE=0")
  endforeach()
  # The installation stops every process named Tolvier.exe on the machine, and
  # a stand-in that must stay running would fall to any other test that does:
  # these never run beside another test that stops or keeps one (lock
  # main_program).
  set_tests_properties(E2E.FullUpdate E2E.CloseDuringDownload E2E.MissingFile
                       PROPERTIES RESOURCE_LOCK "loopback_port;main_program")
endfunction()
cmake_language(DEFER CALL update_add_e2e_tests)
