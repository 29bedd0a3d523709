# How list boxes paint their rows, on Qt's offscreen platform and on an X
# server, where the program paints: fonts and pictures as the xcb platform
# makes them.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(list_rows_test QT TIMEOUT 120 LABELS platform
  SOURCES list_rows_test.cpp
  LIBS ascii_module Qt6::Test)
add_test(NAME list_rows_xcb_test COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-xvfb.sh $<TARGET_FILE:list_rows_test>)
set_tests_properties(list_rows_xcb_test PROPERTIES TIMEOUT 120 LABELS platform)
