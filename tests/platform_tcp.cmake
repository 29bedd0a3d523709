# TCP client conversations against real peers on loopback addresses
# 127.0.0.10 to 127.0.0.29 (and 127.0.0.1 for the host name "localhost").
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(tcp_test QT
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tcp_test.cpp
  LIBS quenta_tcp
  TIMEOUT 60
  LOCK chamber-127.0.0.1
  LABELS platform)
