# sim-up.sh -- sourced by run.sh and screenshot.sh: starts the simulator on
# 127.0.0.1:1080 unless something listens there already, and stops it when
# the calling script exits. Expects $build (the build directory).

sim_pid=""
listening_on_chamber_port() {
  (exec 3<>/dev/tcp/127.0.0.1/1080) 2>/dev/null
}
if listening_on_chamber_port; then
  echo "Something listens on 127.0.0.1:1080 already; using it as the chamber."
else
  "$build/bin/quenta-sim" --listen 127.0.0.1 --port 1080 &
  sim_pid=$!
  for _ in $(seq 50); do
    listening_on_chamber_port && break
    sleep 0.1
  done
fi
stop_sim() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true; }
