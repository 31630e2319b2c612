# The comma-separated tables, the register list and the article table holder. The article
# holder's suite watches a reloading thread through /proc and sets file times to the
# nanosecond: Linux only.
set(TALLYPORT_TABLES_PLATFORM_TESTS CsvFileTest RegisterListTest)
if(WIN32)
  list(TRANSFORM TALLYPORT_TABLES_PLATFORM_TESTS APPEND _win32.cpp)
else()
  list(TRANSFORM TALLYPORT_TABLES_PLATFORM_TESTS APPEND _posix.cpp)
  list(APPEND TALLYPORT_TABLES_PLATFORM_TESTS PluHolderTest.cpp)
endif()
list(TRANSFORM TALLYPORT_TABLES_PLATFORM_TESTS PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
tallyport_add_gtest(tallyport-tests-tables
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/CsvFileTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CsvTableTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RegisterListTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TableNumbersTest.cpp
    ${TALLYPORT_TABLES_PLATFORM_TESTS}
  LIBS tallyport_store tallyport_testfolder
  LABELS store core)
