# The Link session (src/platform/link_session.cpp): Debian's header-only
# ableton-link-dev, which needs the standalone asio headers (libasio-dev).
find_package(AbletonLink CONFIG REQUIRED)
target_sources(pulsaro_platform PRIVATE src/platform/link_session.cpp)
# Link's headers are not ours to keep free of warnings.
get_target_property(pulsaro_link_includes Ableton::Link INTERFACE_INCLUDE_DIRECTORIES)
set_target_properties(Ableton::Link PROPERTIES
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${pulsaro_link_includes}")
target_link_libraries(pulsaro_platform PRIVATE Ableton::Link)

# A second member of a session, for the tests and bench/link_phase.sh; it runs
# only inside a private network namespace (tests/studio/run_link_tests.sh).
add_executable(link_peer EXCLUDE_FROM_ALL tests/studio/link_peer.cpp)
target_link_libraries(link_peer PRIVATE Ableton::Link)
# The phase and tempo a peer sees after each of a series of published grids.
add_executable(link_phase EXCLUDE_FROM_ALL bench/link/link_phase.cpp)
target_link_libraries(link_phase PRIVATE pulsaro_platform)
add_dependencies(link_phase link_peer)
