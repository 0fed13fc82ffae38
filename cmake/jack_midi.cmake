# JACK MIDI ports (clock_out, tap_in), opened only when the user turns them on.
pkg_check_modules(JACK REQUIRED IMPORTED_TARGET jack)
target_sources(pulsaro_audio PRIVATE src/audio/jack_midi.cpp)
target_link_libraries(pulsaro_audio PRIVATE PkgConfig::JACK)
# Timing probe of the MIDI clock (bench/midi_clock_bench.sh); built on request.
add_executable(midi_clock_probe EXCLUDE_FROM_ALL bench/midi_clock/probe.cpp)
target_link_libraries(midi_clock_probe PRIVATE pulsaro_audio PkgConfig::JACK)
