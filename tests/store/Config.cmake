# The configuration file: its profile reads and writes (the writes' platform part in a file of
# its own), and the settings' key table.
if(WIN32)
  set(TALLYPORT_CONFIG_PLATFORM_TESTS ${CMAKE_CURRENT_LIST_DIR}/IniProfileTest_win32.cpp)
else()
  set(TALLYPORT_CONFIG_PLATFORM_TESTS ${CMAKE_CURRENT_LIST_DIR}/IniProfileTest_posix.cpp)
endif()
tallyport_add_gtest(tallyport-tests-config
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/IniProfileTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AppSettingsTest.cpp
    ${TALLYPORT_CONFIG_PLATFORM_TESTS}
  LIBS tallyport_store tallyport_testfolder
  LABELS store core)
