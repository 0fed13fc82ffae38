target_sources(pulsaro_audio PRIVATE src/audio/jack_midi.cpp)
