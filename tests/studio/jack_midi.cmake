# Tests of jack_midi.
