# Tests of quenta-monitor: its parts in-process, and the built program
# against the built simulator and misbehaving chambers on 127.0.30.10 to
# 127.0.30.79, 127.0.40.10 to 127.0.40.39 and 127.0.50.1 to 127.0.50.109
# (port 1080; metrics on 9464).
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(monitor_test TIMEOUT 60 LABELS monitor
  SOURCES monitor_test.cpp monitor_support.cpp
  LIBS quenta_monitor_core Qt6::Test)
quenta_test(monitor_e2e_test QT TIMEOUT 300 LABELS monitor
  SOURCES monitor_e2e_test.cpp monitor_support.cpp
  LIBS quenta_monitor_core Qt6::Test)
# The pages' trends against the simulator (127.0.80.2 and 127.0.80.30).
quenta_test(pages_test QT TIMEOUT 120 LABELS monitor
  SOURCES pages_test.cpp monitor_support.cpp
  LIBS quenta_monitor_core Qt6::Test)
foreach(t monitor_test monitor_e2e_test pages_test)
  target_compile_definitions(${t} PRIVATE QUENTA_MONITOR_PATH="$<TARGET_FILE:quenta-monitor>"
                             QUENTA_SIM_PATH="$<TARGET_FILE:quenta-sim>")
  add_dependencies(${t} quenta-monitor quenta-sim)
endforeach()

# The monitor with a real Prometheus server, promtool and the dashboard of
# docs/monitoring (127.0.40.40 to 127.0.40.59; Prometheus on port 19090).
# In the English build only: the German build has nothing to add here.
if(englishUI)
  quenta_test(prometheus_test QT TIMEOUT 300 LABELS monitor
    SOURCES prometheus_test.cpp monitor_support.cpp
    LIBS quenta_monitor_core Qt6::Test)
  target_compile_definitions(prometheus_test PRIVATE QUENTA_MONITOR_PATH="$<TARGET_FILE:quenta-monitor>"
                             QUENTA_SIM_PATH="$<TARGET_FILE:quenta-sim>" QUENTA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(prometheus_test quenta-monitor quenta-sim)

  # A short run of the monitor's benchmark (bench/monitor_bench.py) on a
  # fleet of 20 chambers from 127.0.40.101: it checks only that every poll
  # of the monitor and of the asyncio poller is answered and every CSV is
  # whole, never a figure.
  add_test(NAME monitor_bench_smoke
    COMMAND python3 ${PROJECT_SOURCE_DIR}/bench/monitor_bench.py --bin $<TARGET_FILE_DIR:quenta-monitor>
            --chambers 20 --listen 127.0.40.101 --seconds 4 --warmup 2 --scrape-every 1 --sync-intervals 0 --smoke)
  set_tests_properties(monitor_bench_smoke PROPERTIES TIMEOUT 120 LABELS monitor)
endif()
