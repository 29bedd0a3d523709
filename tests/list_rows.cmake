# How list boxes paint their rows, and long answers in the module's received
# list. The peer listens on 127.0.0.150.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(list_rows_test QT TIMEOUT 120 LABELS platform
  SOURCES list_rows_test.cpp loopback_peer.cpp
  LIBS ascii_module Qt6::Test)
