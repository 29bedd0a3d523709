# Tests of the chamber simulator: the model and its answers in-process, the
# server and the catalogue through the built quenta-sim on 127.0.0.60 to
# 127.0.0.79, the fleet on 127.0.20.1 to 127.0.21.254 and 127.0.52.1 to
# 127.0.52.254, port 1080; the event
# loop in-process without addresses.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(sim_chamber_test SOURCES sim_chamber_test.cpp LIBS quenta_sim_core TIMEOUT 60)
quenta_test(sim_responder_test SOURCES sim_responder_test.cpp LIBS quenta_sim_core TIMEOUT 60)
quenta_test(sim_server_test SOURCES sim_server_test.cpp LIBS quenta_sim_core QT TIMEOUT 120)
quenta_test(sim_catalogue_test SOURCES sim_catalogue_test.cpp LIBS quenta_sim_core quenta_protocol
            QT TIMEOUT 120)
quenta_test(sim_fleet_test SOURCES sim_fleet_test.cpp LIBS quenta_sim_core Qt6::Test QT TIMEOUT 180)
quenta_test(sim_loop_test SOURCES sim_loop_test.cpp LIBS quenta_sim_core TIMEOUT 60)
foreach(t sim_server_test sim_catalogue_test sim_fleet_test)
  target_compile_definitions(${t} PRIVATE QUENTA_SIM_PATH="$<TARGET_FILE:quenta-sim>")
  add_dependencies(${t} quenta-sim)
endforeach()

# A short run of the fleet benchmark: every answer must come and be right.
add_test(NAME sim_fleet_bench_short
  COMMAND sim_fleet_bench --sim $<TARGET_FILE:quenta-sim> --chambers 20 --listen 127.0.20.230
          --seconds 2)
set_tests_properties(sim_fleet_bench_short PROPERTIES TIMEOUT 60
  PASS_REGULAR_EXPRESSION "40 answers right, 0 wrong or missing")
