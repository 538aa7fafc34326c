find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets DBus Svg PrintSupport Network)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3>=3.27)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(CARES REQUIRED IMPORTED_TARGET libcares)
pkg_check_modules(LIBNL REQUIRED IMPORTED_TARGET libnl-3.0 libnl-genl-3.0 libnl-route-3.0)

find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
add_library(pv_asio INTERFACE)
target_include_directories(pv_asio SYSTEM INTERFACE ${ASIO_INCLUDE_DIR})
# Asio picks its aligned allocation (aligned_alloc/free, else operator new/delete) by whether the
# C++ library's configuration was seen before its own: a file including <asio.hpp> first would
# allocate one way and free the other way. Deciding it here makes every file agree.
target_compile_definitions(pv_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED ASIO_HAS_STD_ALIGNED_ALLOC=1)
target_link_libraries(pv_asio INTERFACE Threads::Threads)
