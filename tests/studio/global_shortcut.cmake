# Tests of global_shortcut.
