# The fault suite and the soak test: the module ASCII in-process on the
# real panel, against misbehaving loopback chambers on 127.0.0.80 to
# 127.0.0.118, and against the simulator on 127.0.0.119 for 10,000 command
# and answer cycles. Start-up connects to the panel's default address
# 127.0.0.1, which others use too: hence the lock.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(fault_test QT LOCK chamber-127.0.0.1 TIMEOUT 300 LABELS fault
  SOURCES fault_test.cpp fault_peer.cpp fault_support.cpp loopback_peer.cpp
  LIBS ascii_module Qt6::Test)

quenta_test(soak_test QT LOCK chamber-127.0.0.1 TIMEOUT 300 LABELS soak
  SOURCES soak_test.cpp fault_support.cpp
  LIBS ascii_module quenta_sim_core Qt6::Test)
