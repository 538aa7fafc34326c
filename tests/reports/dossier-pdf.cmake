# The dossier pages, their PDF file, the dossier service and the dossier screen.
pv_add_test(pv_test_dossier_page_rules
  SOURCES DossierPageRulesTest.cpp
  ENV TZ=Europe/Budapest)
# Needs fonts and a paint device: offscreen platform, no window.
pv_add_test(pv_test_dossier_pdf
  SOURCES DossierPdfTest.cpp DossierSamples.h DossierSamples.cpp DossierMonth.h DossierMonth.cpp
          ${PROJECT_SOURCE_DIR}/tests/store/StoreTestSupport.cpp
  LIBS PkgConfig::SQLITE3
  GUI
  ENV TZ=Europe/Budapest QT_QPA_PLATFORM=offscreen)
# The dossier screen offscreen, with screenshots under screens/.
find_package(Qt6 REQUIRED COMPONENTS Test)
pv_add_test(pv_test_dossier_screen
  SOURCES DossierScreenTest.cpp
  LIBS Qt6::Test
  GUI LABELS ui)
target_compile_definitions(pv_test_dossier_screen PRIVATE PV_SCREENS_DIR="${CMAKE_CURRENT_BINARY_DIR}/screens")
# The real program under Xvfb in the network lab makes a dossier through its screen.
pv_add_lab_test(pv_lab_dossier SOURCES DossierLabTest.cpp TIMEOUT 240)
add_dependencies(pv_lab_dossier polvarine pv_shell_grab)
target_compile_definitions(pv_lab_dossier PRIVATE
  PV_SOURCE_ROOT="${PROJECT_SOURCE_DIR}"
  PV_POLVARINE_BIN="$<TARGET_FILE:polvarine>"
  PV_GRAB_BIN="$<TARGET_FILE:pv_shell_grab>"
  PV_SCREENS_DIR="${CMAKE_CURRENT_BINARY_DIR}/screens"
  # Where the create button sits in the 1240 × 800 window on the dossier section.
  PV_CREATE_BUTTON_X=330 PV_CREATE_BUTTON_Y=281)
