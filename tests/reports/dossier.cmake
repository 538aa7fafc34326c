# The dossier's document: page list, wording, value texts and its assembly from a seeded store.
pv_add_test(pv_test_dossier
  SOURCES DossierTextTest.cpp DossierBuilderTest.cpp DossierMonthTest.cpp DossierMonth.h DossierMonth.cpp
          ${PROJECT_SOURCE_DIR}/tests/store/StoreTestSupport.h ${PROJECT_SOURCE_DIR}/tests/store/StoreTestSupport.cpp
  LIBS PkgConfig::SQLITE3 polvarine_shell
  ENV TZ=Europe/Budapest)
