# The load test's engine: the generator against the loopback speed-test server, the service with fake
# echo and load sources, and (in the network lab) the whole test through a shaped router.
pv_add_test(pv_test_loadgenerator
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LoadGeneratorTest.cpp
  TIMEOUT 120)
target_compile_definitions(pv_test_loadgenerator PRIVATE PV_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
# The test's own connect() counts curl's connection attempts: it must be visible to libcurl.
set_target_properties(pv_test_loadgenerator PROPERTIES ENABLE_EXPORTS ON)
target_link_libraries(pv_test_loadgenerator PRIVATE ${CMAKE_DL_LIBS})
pv_add_test(pv_test_loadtestservice
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LoadTestServiceTest.cpp
  TIMEOUT 120)
target_compile_definitions(pv_test_loadtestservice PRIVATE PV_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

# The lab program runs as several CTest entries, each in a lab of its own and each about two minutes
# at most, so that they run side by side: <entry>|<gtest filter>.
if(EXISTS ${PROJECT_SOURCE_DIR}/tests/lab/LabEnv.cpp)
  pv_add_lab_test(pv_lab_loadtest
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/LoadTestLabTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ShapedLab.h
    TIMEOUT 300)
  target_compile_definitions(pv_lab_loadtest PRIVATE PV_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  # The whole program's own entry is disabled: the entries below run all of it.
  set_tests_properties(pv_lab_loadtest PROPERTIES DISABLED ON)
  foreach(_pv_entry
      "queues|*ShortQueue*:*BloatedQueue*"
      "endpoints|*Stalls*:*BlackHole*"
      "stops|*DirectionThatStops*"
      "stops_100_10|*StopsBehindADeepQueueOn100To10*"
      "stops_50_50|*StopsBehindADeepQueueOn50To50*"
      "stops_early|*StopsInItsFirstSeconds*"
      "pauses|*PauseIsSaidAsAPause*"
      "pauses_short|*ShortUploadPause*")
    string(REPLACE "|" ";" _pv_fields "${_pv_entry}")
    list(GET _pv_fields 0 _pv_name)
    list(GET _pv_fields 1 _pv_filter)
    add_test(NAME pv_lab_loadtest_${_pv_name}
      COMMAND ${PROJECT_SOURCE_DIR}/tests/lab/run-in-lab.sh $<TARGET_FILE:pv_lab_loadtest> --gtest_filter=${_pv_filter})
    set_tests_properties(pv_lab_loadtest_${_pv_name} PROPERTIES TIMEOUT 300 LABELS "lab" SKIP_RETURN_CODE 77
      ENVIRONMENT "LC_ALL=C.UTF-8;PV_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  endforeach()
  # A stop in the first 2 s is rated over 2 s: it runs alone, on a line no other test holds up.
  set_tests_properties(pv_lab_loadtest_stops_early PROPERTIES RUN_SERIAL ON)
endif()

pv_add_test(pv_test_loadtestviewmodel
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LoadTestViewModelTest.cpp
  TIMEOUT 120)

find_package(Qt6 REQUIRED COMPONENTS Test)
pv_add_test(pv_test_loadtestview GUI
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LoadTestViewTest.cpp
  LIBS Qt6::Test
  LABELS ui
  TIMEOUT 120)
target_compile_definitions(pv_test_loadtestview PRIVATE PV_SCREENS_DIR="${CMAKE_CURRENT_BINARY_DIR}/screens")

pv_add_test(pv_test_loadtest_dashboard GUI
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LoadTestDashboardTest.cpp
  LABELS ui
  TIMEOUT 120)
target_compile_definitions(pv_test_loadtest_dashboard PRIVATE PV_SCREENS_DIR="${CMAKE_CURRENT_BINARY_DIR}/screens")

# The real program under Xvfb in the lab: a load test started from the dashboard with xdotool.
if(EXISTS ${PROJECT_SOURCE_DIR}/tests/lab/LabEnv.cpp AND TARGET polvarine AND TARGET pv_shell_grab)
  pv_add_lab_test(pv_lab_loadtest_program
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/LoadTestProgramLabTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ShapedLab.h
    TIMEOUT 400)
  add_dependencies(pv_lab_loadtest_program polvarine pv_shell_grab)
  target_compile_definitions(pv_lab_loadtest_program PRIVATE
    PV_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    PV_POLVARINE_BIN="$<TARGET_FILE:polvarine>"
    PV_GRAB_BIN="$<TARGET_FILE:pv_shell_grab>"
    PV_SCREENS_DIR="${CMAKE_CURRENT_BINARY_DIR}/screens")
endif()
