# Tests of quenta-monitor: its parts in-process, and the built program
# against the built simulator and misbehaving chambers on 127.0.30.10 to
# 127.0.30.79 (port 1080; metrics on 9464).
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(monitor_test TIMEOUT 60 LABELS monitor
  SOURCES monitor_test.cpp monitor_support.cpp
  LIBS quenta_monitor_core Qt6::Test)
quenta_test(monitor_e2e_test QT TIMEOUT 300 LABELS monitor
  SOURCES monitor_e2e_test.cpp monitor_support.cpp
  LIBS quenta_monitor_core Qt6::Test)
foreach(t monitor_test monitor_e2e_test)
  target_compile_definitions(${t} PRIVATE QUENTA_MONITOR_PATH="$<TARGET_FILE:quenta-monitor>"
                             QUENTA_SIM_PATH="$<TARGET_FILE:quenta-sim>")
  add_dependencies(${t} quenta-monitor quenta-sim)
endforeach()
