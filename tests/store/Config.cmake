tallyport_add_gtest(tallyport-tests-config
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/IniProfileTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AppSettingsTest.cpp
  LIBS tallyport_store tallyport_testfolder
  LABELS store core)
