# The key that taps from any window: a passive key grab on X11 (plain xcb, the
# connection Qt opened); elsewhere it says it is not available.
target_sources(pulsaro_platform PRIVATE src/platform/global_shortcut.h
  src/platform/global_shortcut.cpp)
set_target_properties(pulsaro_platform PROPERTIES AUTOMOC ON)
if(UNIX AND NOT APPLE)
  pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
  target_link_libraries(pulsaro_platform PRIVATE PkgConfig::XCB)
  target_compile_definitions(pulsaro_platform PRIVATE PULSARO_HAVE_XCB)
endif()
