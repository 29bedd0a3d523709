# The real executable on an X server of its own (scripts/with-xvfb.sh)
# against the real simulator, or a loopback chamber whose connects hang, on
# 127.0.0.1:1080.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(e2e_test XVFB LOCK chamber-127.0.0.1 TIMEOUT 300 LABELS e2e
  SOURCES e2e_test.cpp loopback_peer.cpp
  LIBS Qt6::Core Qt6::Gui Qt6::Test)
add_dependencies(e2e_test quenta-ascii quenta-sim)
target_compile_definitions(e2e_test PRIVATE
  QUENTA_APP_PATH="$<TARGET_FILE:quenta-ascii>"
  QUENTA_SIM_PATH="$<TARGET_FILE:quenta-sim>")
