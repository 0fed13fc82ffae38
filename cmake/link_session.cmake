target_sources(pulsaro_platform PRIVATE src/platform/link_session.cpp)
