# Options every target of ours carries.
add_library(pv_options INTERFACE)
target_compile_features(pv_options INTERFACE cxx_std_20)
target_compile_options(pv_options INTERFACE -Wall -Wextra)
target_include_directories(pv_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_definitions(pv_options INTERFACE QT_NO_KEYWORDS)

set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTORCC ON)

set(POLVARINE_CORE_PARTS "" CACHE INTERNAL "")

# pv_add_part(<target> SOURCES ... LIBS ...): one folder, one object library; it goes into PolvarineCore.
function(pv_add_part target)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT P_SOURCES)
    # Nothing built here yet: the target only carries its usage requirements.
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE pv_options ${P_LIBS})
  else()
    add_library(${target} OBJECT ${P_SOURCES})
    target_link_libraries(${target} PUBLIC pv_options ${P_LIBS})
  endif()
  set(POLVARINE_CORE_PARTS ${POLVARINE_CORE_PARTS} ${target} CACHE INTERNAL "")
endfunction()

# pv_add_test(<name> SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [ENV ...]): one GoogleTest program, one CTest test.
function(pv_add_test name)
  cmake_parse_arguments(T "GUI" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_GUI)
    set(main pv_testmain_gui)
  else()
    set(main pv_testmain)
  endif()
  target_link_libraries(${name} PRIVATE pv_options PolvarineCore ${main} GTest::gtest GTest::gmock ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
  set(env "LC_ALL=C.UTF-8")
  if("ui" IN_LIST T_LABELS)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  list(APPEND env ${T_ENV})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}")
endfunction()

# pv_add_lab_test(<name> SOURCES ... [LIBS ...] [TIMEOUT s]): a GoogleTest program that runs inside a
# network lab built for it by tests/lab/run-in-lab.sh (needs root; skipped otherwise).
function(pv_add_lab_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE pv_options PolvarineCore pv_testmain pv_labenv GTest::gtest GTest::gmock ${T_LIBS})
  add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/lab/run-in-lab.sh $<TARGET_FILE:${name}>)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "lab" SKIP_RETURN_CODE 77
    ENVIRONMENT "LC_ALL=C.UTF-8;PV_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# Folders shared by several parts include every *.cmake file they hold, one per part.
macro(pv_include_parts)
  file(GLOB _pv_parts CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cmake)
  foreach(_pv_part ${_pv_parts})
    include(${_pv_part})
  endforeach()
endmacro()
