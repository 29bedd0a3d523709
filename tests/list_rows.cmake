# How list boxes paint their rows, and long answers in the module's received
# list. The peer listens on 127.0.0.150.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(list_rows_test QT TIMEOUT 120 LABELS platform
  SOURCES list_rows_test.cpp loopback_peer.cpp
  LIBS ascii_module Qt6::Test)

# The same on an X server, where the program paints: fonts and pictures as
# the xcb platform makes them. Both runs use 127.0.0.150, one at a time.
add_test(NAME list_rows_xcb_test COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-xvfb.sh $<TARGET_FILE:list_rows_test>)
set_tests_properties(list_rows_test list_rows_xcb_test PROPERTIES RESOURCE_LOCK peer-127.0.0.150 TIMEOUT 120)
set_tests_properties(list_rows_xcb_test PROPERTIES LABELS platform)
