# Tests of jack_midi: the ports against a private dummy JACK server, which
# run_jack_tests.sh starts and stops (skipped, 77, without jackd).
add_executable(jack_midi_tests studio/jack_midi_test.cpp)
target_link_libraries(jack_midi_tests PRIVATE pulsaro_audio PkgConfig::JACK GTest::gtest_main)
add_test(NAME jack_midi
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/studio/run_jack_tests.sh $<TARGET_FILE:jack_midi_tests>)
set_tests_properties(jack_midi PROPERTIES TIMEOUT 240 SKIP_RETURN_CODE 77 LABELS studio RUN_SERIAL TRUE)
