# TCP client conversations against real peers on loopback addresses
# 127.0.0.10 to 127.0.0.29 (and 127.0.0.1 for the host name "localhost");
# the way from a connect's server text to a conversation, and the end of
# one: blanks around an address, name lookups under a resolver that does
# not answer, the socket notifier, on 127.0.0.130 to 127.0.0.139.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(tcp_test QT
  SOURCES tcp_test.cpp loopback_peer.cpp
  LIBS quenta_tcp Qt6::Test
  TIMEOUT 120
  LOCK chamber-127.0.0.1
  LABELS platform)

quenta_test(tcp_lookup_test QT TIMEOUT 120 LABELS platform
  SOURCES tcp_lookup_test.cpp loopback_peer.cpp
  LIBS quenta_tcp Qt6::Test)
