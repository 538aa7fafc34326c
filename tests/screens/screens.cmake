# The history, settings and welcome screens offscreen, with screenshots under screens/ for review.
find_package(Qt6 REQUIRED COMPONENTS Test)
pv_add_test(pv_test_screens_widgets
  SOURCES ScreensWidgetTest.cpp
  LIBS Qt6::Test polvarine_shell
  GUI LABELS ui TIMEOUT 120)
target_compile_definitions(pv_test_screens_widgets PRIVATE PV_SCREENS_DIR="${CMAKE_CURRENT_BINARY_DIR}/screens")
