# The module ASCII driven in-process on the real panel, against real TCP
# peers on loopback. Start-up connects to the panel's default address
# 127.0.0.1, which the end-to-end tests use too: hence the lock.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(app_test QT LOCK chamber-127.0.0.1 TIMEOUT 240
  SOURCES app_test.cpp loopback_peer.cpp
  LIBS ascii_module Qt6::Test)
# Its cases that need X11, on an X server of its own.
add_test(NAME app_x11_test COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-xvfb.sh $<TARGET_FILE:app_test> --gtest_filter=OffTheScreen.*)
set_tests_properties(app_x11_test PROPERTIES TIMEOUT 120 LABELS platform ENVIRONMENT QT_QPA_PLATFORM=xcb)
