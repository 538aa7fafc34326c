# Topology, path, Wi-Fi and location readers.
pv_add_test(pv_test_readers
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/TopologyTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PathMonitorTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WifiNl80211Test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WifiSnapshotTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LocationPermissionTest.cpp
  LIBS PkgConfig::LIBNL
  TIMEOUT 60)

# The topology reader and the path monitor against the lab's client namespace.
pv_add_lab_test(pv_lab_readers
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/TopologyLabTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PathMonitorLabTest.cpp
  TIMEOUT 120)
