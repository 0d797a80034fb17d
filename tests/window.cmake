# The real window under a real X server: a build of the updater whose
# built-in server is a loopback port, driven from outside by a script that
# presses keys (xdotool), reads the window through the accessibility bus
# (AT-SPI) and keeps screenshots in tests/artifacts of the build folder. The
# script uses $DISPLAY (scripts/test gives it an Xvfb one) and skips when
# there is none.
if(UPDATE_GUI)
  set(UPDATE_TEST_PORT 47813 CACHE STRING
      "Loopback port of the update server that the real-window tests play")

  add_executable(update_loopback ${PROJECT_SOURCE_DIR}/src/update.cpp
                                 ${PROJECT_SOURCE_DIR}/src/UpdateServerHost.cpp)
  target_compile_definitions(update_loopback PRIVATE
                             UPDATE_SERVER_HOST="127.0.0.1:${UPDATE_TEST_PORT}")
  target_link_libraries(update_loopback PRIVATE update_ui update_core)
  # Named as the real program is, since its title comes from its file name.
  set_target_properties(update_loopback PROPERTIES
    OUTPUT_NAME update SUFFIX ".exe"
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/loopback)
  add_dependencies(update_loopback TolvierStub)

  set(WINDOW_SCENARIOS Start NoUpdate NetworkError ErrorBox CloseWhileWaiting Update)
  foreach(scenario ${WINDOW_SCENARIOS})
    add_test(NAME Window.${scenario}
             COMMAND dbus-run-session -- /usr/bin/python3
                     ${CMAKE_CURRENT_SOURCE_DIR}/window/window_test.py
                     --program $<TARGET_FILE:update_loopback>
                     --main-program $<TARGET_FILE:TolvierStub>
                     --port ${UPDATE_TEST_PORT}
                     --artifacts ${CMAKE_BINARY_DIR}/tests/artifacts
                     --scenario ${scenario})
    # Tests that play a server on the fixed port must never run at once.
    set_tests_properties(Window.${scenario} PROPERTIES
      RESOURCE_LOCK loopback_port
      TIMEOUT 180
      SKIP_RETURN_CODE 77
      ENVIRONMENT "GDK_GL=disable;NO_AT_BRIDGE=0")
  endforeach()
  # The installation stops every process named Tolvier.exe on the machine:
  # never beside another test that keeps one running.
  set_tests_properties(Window.Update PROPERTIES RESOURCE_LOCK "loopback_port;main_program")
endif()
