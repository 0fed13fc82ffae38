# Audio files to analyse: decoding (FFmpeg), tags (TagLib), walking the
# dropped files and folders. Pure C++, no Qt.
pkg_check_modules(MEDIA_FFMPEG REQUIRED IMPORTED_TARGET
  libavformat libavcodec libswresample libavutil)
pkg_check_modules(MEDIA_TAGLIB REQUIRED IMPORTED_TARGET taglib)
add_library(pulsaro_media STATIC
  src/media/media_error.cpp
  src/media/file_check.cpp
  src/media/ffmpeg_support.cpp
  src/media/audio_decoder.cpp
  src/media/tags.cpp
  src/media/audio_files.cpp
)
target_include_directories(pulsaro_media PUBLIC src)
target_link_libraries(pulsaro_media PRIVATE PkgConfig::MEDIA_FFMPEG PkgConfig::MEDIA_TAGLIB)
# Decoding speed and memory (bench/decode_bench.sh); built on request.
add_executable(decode_bench EXCLUDE_FROM_ALL bench/decode_bench.cpp)
target_link_libraries(decode_bench PRIVATE pulsaro_media)
