# Tests of global_shortcut: the key pressed with xdotool on a private Xvfb.
add_executable(global_shortcut_test studio/global_shortcut_test.cpp)
target_link_libraries(global_shortcut_test PRIVATE pulsaro_platform PkgConfig::XCB Qt6::Gui
  Qt6::Test GTest::gtest)
add_test(NAME global_shortcut_xvfb COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/studio/run_global_shortcut_test.sh
  $<TARGET_FILE:global_shortcut_test>)
set_tests_properties(global_shortcut_xvfb PROPERTIES TIMEOUT 60 SKIP_RETURN_CODE 77)
