# Tests of link_session: the session and a peer process (link_peer, defined in
# cmake/link_session.cmake) in a private network namespace of their own, so
# that nothing reaches the real network. Skipped where none can be made.
add_executable(link_session_tests studio/link_session_test.cpp)
target_link_libraries(link_session_tests PRIVATE pulsaro_platform GTest::gtest_main)
target_compile_definitions(link_session_tests PRIVATE PULSARO_LINK_PEER="$<TARGET_FILE:link_peer>")
add_dependencies(link_session_tests link_peer)
add_test(NAME link_session
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/studio/run_link_tests.sh $<TARGET_FILE:link_session_tests>)
set_tests_properties(link_session PROPERTIES TIMEOUT 60 SKIP_RETURN_CODE 77)
