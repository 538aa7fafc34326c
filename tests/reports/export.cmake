# The shared date texts, the export service, its CSV files and the daily summary page.
pv_add_test(pv_test_locale_dates SOURCES LocaleDatesTest.cpp ENV "TZ=Europe/Budapest")
add_test(NAME pv_test_locale_dates_hu COMMAND pv_test_locale_dates)
set_tests_properties(pv_test_locale_dates_hu PROPERTIES ENVIRONMENT "LC_ALL=hu_HU.UTF-8;LANG=hu_HU.UTF-8;TZ=Europe/Budapest" TIMEOUT 60)
