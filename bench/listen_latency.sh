#!/usr/bin/env bash
# bench/listen_latency.sh PROBE [--clicks N]: the live capture's lag, against a private PulseAudio
# server started for the run (a null sink as the default output, in a runtime folder of its own):
# PROBE (build/.../tools/listen_probe) plays clicks into the default output and prints one JSON
# object, listen_latency_ms the median time from a click's write to the first 60 Hz tick whose
# rows show it. The server and its folder go however the run ends.
set -euo pipefail
[ $# -ge 1 ] && [ -x "$1" ] || { echo "usage: bench/listen_latency.sh LISTEN_PROBE [--clicks N]" >&2; exit 2; }
probe=$1
shift
command -v pulseaudio >/dev/null && command -v pactl >/dev/null ||
  { echo "listen latency: pulseaudio and pactl are needed (Debian: pulseaudio pulseaudio-utils)" >&2; exit 1; }
folder=$(mktemp -d "${TMPDIR:-/tmp}/halcyon-listen-bench-XXXXXX")
server=""
finish() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$folder"
}
trap finish EXIT
trap 'exit 130' INT TERM HUP
# Only this server: libpulse looks in these folders, and an X display could name another.
export XDG_RUNTIME_DIR=$folder PULSE_RUNTIME_PATH=$folder/pulse HOME=$folder
unset PULSE_SERVER DISPLAY
pulseaudio -n --daemonize=no --use-pid-file=no --exit-idle-time=-1 --disallow-exit \
  -L module-native-protocol-unix -L "module-null-sink sink_name=out" >"$folder/server.log" 2>&1 &
server=$!
for _ in $(seq 200); do
  pactl set-default-sink out >/dev/null 2>&1 && break
  kill -0 "$server" 2>/dev/null || { echo "listen latency: pulseaudio did not start:" >&2; cat "$folder/server.log" >&2; exit 1; }
  sleep 0.1
done
"$probe" --latency "$@"
