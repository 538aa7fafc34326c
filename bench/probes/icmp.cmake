# Round-trip accuracy of ICMPProbe against iputils ping on the same lab path. It needs the network
# lab (root): `cmake --build build --target run_pv_bench_icmp`, or
# `tests/lab/run-in-lab.sh build/bench/probes/pv_bench_icmp`.
pv_add_bench(pv_bench_icmp SOURCES ${CMAKE_CURRENT_LIST_DIR}/IcmpAccuracyBench.cpp)
add_custom_target(run_pv_bench_icmp
  COMMAND ${PROJECT_SOURCE_DIR}/tests/lab/run-in-lab.sh $<TARGET_FILE:pv_bench_icmp>
  DEPENDS pv_bench_icmp USES_TERMINAL)
