# The DNS and HTTP probes and the probe service: loopback unit tests against the python test
# servers of tests/lab/servers, and lab tests that run the real probes through the lab's router.
pv_add_test(pv_test_probes_dnshttp
  SOURCES DnsProbeTest.cpp HttpProbeTest.cpp ProbeServiceTest.cpp ProbeServiceCutTest.cpp DnsHttpTestSupport.h
  TIMEOUT 120)
target_compile_definitions(pv_test_probes_dnshttp PRIVATE PV_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

if(EXISTS ${PROJECT_SOURCE_DIR}/tests/lab/LabEnv.cpp)
  pv_add_lab_test(pv_lab_probes_dnshttp
    SOURCES DnsLabTest.cpp HttpLabTest.cpp DnsHttpLabSupport.h DnsHttpTestSupport.h
    TIMEOUT 180)
  pv_add_lab_test(pv_lab_probe_service
    SOURCES ProbeServiceLabTest.cpp DnsHttpLabSupport.h DnsHttpTestSupport.h
    TIMEOUT 180)
  # A silent IPv6 path once more, its address and its router (not fe80::1) learnt from router
  # advertisements.
  add_test(NAME pv_lab_probe_service_ra COMMAND ${PROJECT_SOURCE_DIR}/tests/lab/run-in-lab.sh
    $<TARGET_FILE:pv_lab_probe_service> --gtest_filter=*ASilentIPv6PathDoesNotStretchTheBatch*)
  set_tests_properties(pv_lab_probe_service_ra PROPERTIES TIMEOUT 180 LABELS "lab" SKIP_RETURN_CODE 77
    ENVIRONMENT "LC_ALL=C.UTF-8;PV_SOURCE_DIR=${PROJECT_SOURCE_DIR};PV_LAB_IPV6_RA=1")
  target_compile_definitions(pv_lab_probes_dnshttp PRIVATE PV_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  target_compile_definitions(pv_lab_probe_service PRIVATE PV_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endif()
