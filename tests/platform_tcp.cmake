# TCP client conversations against real peers on loopback addresses
# 127.0.0.10 to 127.0.0.29 (and 127.0.0.1 for the host name "localhost").
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(tcp_test QT
  SOURCES tcp_test.cpp loopback_peer.cpp
  LIBS quenta_tcp Qt6::Test
  TIMEOUT 120
  LOCK chamber-127.0.0.1
  LABELS platform)
