# ICMP codec, socket and probe: the codec and the parts that need no network here; the probe on the
# wire inside the network lab.
pv_add_test(pv_test_icmp SOURCES ${CMAKE_CURRENT_LIST_DIR}/IcmpPacketTest.cpp)
pv_add_lab_test(pv_lab_icmp SOURCES ${CMAKE_CURRENT_LIST_DIR}/IcmpLabTest.cpp TIMEOUT 180)
