# The comma-separated tables, the register list and the article table holder.
tallyport_add_gtest(tallyport-tests-tables
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/CsvFileTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CsvTableTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RegisterListTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PluHolderTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TableNumbersTest.cpp
  LIBS tallyport_store tallyport_testfolder
  LABELS store core)
