# The dossier pages, their PDF file, the dossier service and the dossier screen.
pv_add_test(pv_test_dossier_page_rules
  SOURCES DossierPageRulesTest.cpp
  ENV TZ=Europe/Budapest)
# Needs fonts and a paint device: offscreen platform, no window.
pv_add_test(pv_test_dossier_pdf
  SOURCES DossierPdfTest.cpp DossierSamples.h DossierSamples.cpp
  GUI
  ENV TZ=Europe/Budapest QT_QPA_PLATFORM=offscreen)
