# The operator's view of the main panel: the toggle's look, the Tab order
# and Esc in popups, in-process on Qt's offscreen platform; and what the
# screen shows while the first connect waits.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(operator_test QT TIMEOUT 120 LABELS platform
  SOURCES operator_test.cpp
  LIBS quenta_platform quenta_ui Qt6::Test)

# The real executable under Xvfb while its first connect to 127.0.0.1
# hangs (the program's default address: hence the lock).
quenta_test(operator_screen_test XVFB LOCK chamber-127.0.0.1 TIMEOUT 120 LABELS e2e
  SOURCES operator_screen_test.cpp fault_peer.cpp loopback_peer.cpp
  LIBS Qt6::Core Qt6::Gui Qt6::Test)
add_dependencies(operator_screen_test quenta-ascii)
target_compile_definitions(operator_screen_test PRIVATE QUENTA_APP_PATH="$<TARGET_FILE:quenta-ascii>")
