target_sources(pulsaro_platform PRIVATE src/platform/global_shortcut.h
  src/platform/global_shortcut.cpp)
set_target_properties(pulsaro_platform PROPERTIES AUTOMOC ON)
