# The shared date texts, the export service, its CSV files and the daily summary page.
pv_add_test(pv_test_locale_dates SOURCES LocaleDatesTest.cpp ENV "TZ=Europe/Budapest")
add_test(NAME pv_test_locale_dates_hu COMMAND pv_test_locale_dates)
set_tests_properties(pv_test_locale_dates_hu PROPERTIES ENVIRONMENT "LC_ALL=hu_HU.UTF-8;LANG=hu_HU.UTF-8;TZ=Europe/Budapest" TIMEOUT 60)

# The export files byte for byte, identical under the C and the Hungarian locale.
pv_add_test(pv_test_export_golden
  SOURCES ExportGoldenTest.cpp ${PROJECT_SOURCE_DIR}/tests/store/StoreTestSupport.cpp
  LIBS PkgConfig::SQLITE3
  ENV "TZ=Europe/Budapest")
target_compile_definitions(pv_test_export_golden PRIVATE PV_GOLDEN_DIR="${CMAKE_CURRENT_SOURCE_DIR}/golden/export")
add_test(NAME pv_test_export_golden_hu COMMAND pv_test_export_golden)
set_tests_properties(pv_test_export_golden_hu PROPERTIES
  ENVIRONMENT "LC_ALL=hu_HU.UTF-8;LANG=hu_HU.UTF-8;TZ=Europe/Budapest" TIMEOUT 60)

# CSV texts, windows, empty and failing exports, and the registration.
pv_add_test(pv_test_export
  SOURCES ExportServiceTest.cpp DailySummaryTest.cpp ${PROJECT_SOURCE_DIR}/tests/store/StoreTestSupport.cpp
  LIBS PkgConfig::SQLITE3
  ENV "TZ=Europe/Budapest")
