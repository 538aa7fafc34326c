# The whole load test on the lab's shaped link (throughput share, CPU per phase, RTT against ping).
# Needs the network lab (root): `cmake --build build --target run_pv_bench_loadtest`.
pv_add_bench(pv_bench_loadtest SOURCES ${CMAKE_CURRENT_LIST_DIR}/LoadTestBench.cpp LIBS pv_labenv)
target_compile_definitions(pv_bench_loadtest PRIVATE PV_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_custom_target(run_pv_bench_loadtest
  COMMAND ${PROJECT_SOURCE_DIR}/tests/lab/run-in-lab.sh $<TARGET_FILE:pv_bench_loadtest>
  DEPENDS pv_bench_loadtest USES_TERMINAL)
