# Tempo and beat analysis of audio (pure C++ on qm-dsp), for files and capture.
find_path(QM_DSP_INCLUDE_DIR qm-dsp/dsp/tempotracking/TempoTrackV2.h REQUIRED)
find_library(QM_DSP_LIBRARY qm-dsp REQUIRED)
add_library(pulsaro_analysis STATIC
  src/analysis/onset_function.cpp
  src/analysis/beat_tracker.cpp
  src/analysis/beat_fit.cpp
  src/analysis/meter.cpp
  src/analysis/tempo_analyser.cpp
  src/analysis/live_tempo.cpp
)
# qm-dsp's headers include each other from their own root.
target_include_directories(pulsaro_analysis SYSTEM PRIVATE ${QM_DSP_INCLUDE_DIR}/qm-dsp
  ${QM_DSP_INCLUDE_DIR})
target_link_libraries(pulsaro_analysis PUBLIC pulsaro_core PRIVATE ${QM_DSP_LIBRARY})

# Scores the engine on the tempo corpus (bench/tempo_corpus_bench.sh); built on request.
add_executable(tempo_corpus_runner EXCLUDE_FROM_ALL bench/tempo_corpus_runner.cpp)
# The runner decodes as the program does, so its CPU figure includes decoding;
# the engine itself stays free of media.
target_link_libraries(tempo_corpus_runner PRIVATE pulsaro_analysis pulsaro_media)

# Listens to what the computer plays, as the program does, and prints each
# estimate; taps and clicks on request (bench/listen_bench.sh); built on request.
add_executable(listen_runner EXCLUDE_FROM_ALL bench/listen_runner.cpp)
# The click sounds are the program's own, read from its resources.
target_link_libraries(listen_runner PRIVATE pulsaro_analysis pulsaro_audio pulsaro_media
  pulsaro_sounds Threads::Threads)
