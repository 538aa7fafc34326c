# The history model and the history screen's derived values, without a display.
pv_add_test(pv_test_history SOURCES HistoryModelTest.cpp HistoryLogicTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/store/StoreTestSupport.h ${PROJECT_SOURCE_DIR}/tests/store/StoreTestSupport.cpp
  LIBS PkgConfig::SQLITE3)
