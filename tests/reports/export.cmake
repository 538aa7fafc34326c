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

# The program's composition in the network lab under Xvfb: a minute of monitoring, then the
# window's export action.
add_executable(pv_lab_export ExportLabTest.cpp)
target_link_libraries(pv_lab_export PRIVATE pv_options PolvarineCore polvarine_shell pv_testmain_gui pv_labenv
  GTest::gtest)
target_compile_definitions(pv_lab_export PRIVATE PV_SOURCE_ROOT="${PROJECT_SOURCE_DIR}"
  PV_SCREENS_DIR="${CMAKE_CURRENT_BINARY_DIR}/screens")
add_test(NAME pv_lab_export COMMAND ${PROJECT_SOURCE_DIR}/tests/lab/run-in-lab.sh
  xvfb-run -a -s "-screen 0 1440x900x24 -nolisten tcp" $<TARGET_FILE:pv_lab_export>)
set_tests_properties(pv_lab_export PROPERTIES TIMEOUT 240 LABELS "lab" SKIP_RETURN_CODE 77
  ENVIRONMENT "LC_ALL=C.UTF-8;QT_QPA_PLATFORM=xcb;TZ=Europe/Budapest")

# A full disk for real: a small tmpfs in the test's own mount namespace (root only; skipped otherwise).
add_executable(pv_lab_full_disk FullDiskLabTest.cpp DossierSamples.h DossierSamples.cpp
  ${PROJECT_SOURCE_DIR}/tests/store/StoreTestSupport.cpp)
target_link_libraries(pv_lab_full_disk PRIVATE pv_options PolvarineCore pv_testmain_gui GTest::gtest PkgConfig::SQLITE3)
add_test(NAME pv_lab_full_disk
  COMMAND sh -c "unshare -m true 2>/dev/null || exit 77; exec unshare -m --propagation private \"$0\"" $<TARGET_FILE:pv_lab_full_disk>)
set_tests_properties(pv_lab_full_disk PROPERTIES LABELS "lab" SKIP_RETURN_CODE 77 TIMEOUT 120
  ENVIRONMENT "LC_ALL=C.UTF-8;TZ=Europe/Budapest;QT_QPA_PLATFORM=offscreen")
