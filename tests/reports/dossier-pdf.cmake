# The dossier pages, their PDF file, the dossier service and the dossier screen.
pv_add_test(pv_test_dossier_page_rules
  SOURCES DossierPageRulesTest.cpp
  ENV TZ=Europe/Budapest)
# Needs fonts and a paint device: offscreen platform, no window.
pv_add_test(pv_test_dossier_pdf
  SOURCES DossierPdfTest.cpp DossierSamples.h DossierSamples.cpp
  GUI
  ENV TZ=Europe/Budapest QT_QPA_PLATFORM=offscreen)
# The dossier screen offscreen, with screenshots under screens/.
pv_add_test(pv_test_dossier_screen
  SOURCES DossierScreenTest.cpp
  GUI LABELS ui)
target_compile_definitions(pv_test_dossier_screen PRIVATE PV_SCREENS_DIR="${CMAKE_CURRENT_BINARY_DIR}/screens")
