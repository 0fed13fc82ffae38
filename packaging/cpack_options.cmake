# Read by cpack before it builds a package (CPACK_PROJECT_CONFIG_FILE).
# CPack's DEB generator stamps every file, folder and archive member with
# SOURCE_DATE_EPOCH when it is set; without it, the times would be those of
# the build tree. So an unset SOURCE_DATE_EPOCH becomes the build date that
# CMake settled on (CMakeLists.txt), and two builds of one commit give the
# same package.
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "" AND CPACK_PULSARO_SOURCE_DATE_EPOCH)
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_PULSARO_SOURCE_DATE_EPOCH}")
endif()
