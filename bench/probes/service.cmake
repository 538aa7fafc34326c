# Process CPU time of one probe batch, measured in the network lab:
#   tests/lab/run-in-lab.sh build/bench/probes/pv_bench_probe_service
if(TARGET pv_labenv AND EXISTS ${PROJECT_SOURCE_DIR}/tests/lab/LabEnv.cpp)
  pv_add_bench(pv_bench_probe_service SOURCES ProbeServiceBench.cpp LIBS pv_labenv Qt6::Core)
  target_compile_definitions(pv_bench_probe_service PRIVATE PV_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endif()
