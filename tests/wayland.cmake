# The real executable on a Wayland desktop: weston's headless compositor
# with a seat for tests (wayland_seat, a weston module), the program on
# Qt's Wayland plugin, a loopback chamber on 127.0.0.1:1080 (the program's
# default address, which others use too: hence the lock).
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(WESTON REQUIRED IMPORTED_TARGET libweston-10 weston)

# The module runs inside weston, which is not built with the sanitizers:
# it takes the warning options only.
add_library(wayland_seat MODULE wayland_seat.cpp)
target_link_libraries(wayland_seat PRIVATE PkgConfig::WESTON)
set(wayland_seat_options -Wall -Wextra)
if(QUENTA_WERROR)
  list(APPEND wayland_seat_options -Werror)
endif()
set_target_properties(wayland_seat PROPERTIES PREFIX "" COMPILE_OPTIONS "${wayland_seat_options}" LINK_OPTIONS "")

quenta_test(wayland_test LOCK chamber-127.0.0.1 TIMEOUT 180 LABELS e2e
  SOURCES wayland_test.cpp fault_peer.cpp loopback_peer.cpp
  LIBS Qt6::Core Qt6::Test)
add_dependencies(wayland_test quenta-ascii wayland_seat)
target_compile_definitions(wayland_test PRIVATE
  QUENTA_APP_PATH="$<TARGET_FILE:quenta-ascii>"
  QUENTA_WAYLAND_SEAT="$<TARGET_FILE:wayland_seat>"
  QUENTA_ENGLISH_UI=${QUENTA_ENGLISH_UI})
