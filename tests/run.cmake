# Test runs: profiles, and the built quenta-monitor running them against
# the built simulator at speed on 127.0.60.1 to 127.0.60.39, port 1080.
# In the English builds only: the German build has nothing to add here.
if(QUENTA_PROTOCOL_ONLY OR NOT englishUI)
  return()
endif()

quenta_test(run_test QT TIMEOUT 300 LABELS monitor
  SOURCES run_test.cpp monitor_support.cpp
  LIBS quenta_monitor_core Qt6::Test)
target_compile_definitions(run_test PRIVATE QUENTA_MONITOR_PATH="$<TARGET_FILE:quenta-monitor>"
                           QUENTA_SIM_PATH="$<TARGET_FILE:quenta-sim>" QUENTA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(run_test quenta-monitor quenta-sim)
