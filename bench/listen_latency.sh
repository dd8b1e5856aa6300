#!/usr/bin/env bash
# bench/listen_latency.sh PROBE [--clicks N]: the live capture's lag, against a private PulseAudio
# server started for the run (a null sink as the default output, in a runtime folder of its own):
# PROBE (build/.../tools/listen_probe) plays clicks into the default output and prints one JSON
# object, listen_latency_ms the median time from a click's write to the first 60 Hz tick whose
# rows show it.
# bench/listen_latency.sh --listen PROGRAM PROBE [--clicks N]: the same through the real path,
# PROGRAM listen (the halcyonsphere executable) in its window on a private Xvfb display, each
# click timed to the first frame that showed it (bench/listen_latency.py).
# The server, the display and the folder go however the run ends.
set -euo pipefail
usage="usage: bench/listen_latency.sh [--listen HALCYONSPHERE] LISTEN_PROBE [--clicks N]"
program=""
if [ "${1:-}" = --listen ]; then
  [ $# -ge 2 ] && [ -x "$2" ] || { echo "$usage" >&2; exit 2; }
  program=$2
  shift 2
fi
[ $# -ge 1 ] && [ -x "$1" ] || { echo "$usage" >&2; exit 2; }
probe=$1
shift
clicks=20
[ "${1:-}" != --clicks ] || { [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }; clicks=$2; }
command -v pulseaudio >/dev/null && command -v pactl >/dev/null ||
  { echo "listen latency: pulseaudio and pactl are needed (Debian: pulseaudio pulseaudio-utils)" >&2; exit 1; }
folder=$(mktemp -d "${TMPDIR:-/tmp}/halcyon-listen-bench-XXXXXX")
server="" display=""
finish() {
  for process in $server $display; do kill "$process" 2>/dev/null || true; wait "$process" 2>/dev/null || true; done
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
if [ -z "$program" ]; then
  "$probe" --latency --clicks "$clicks"
  exit
fi
command -v Xvfb >/dev/null || { echo "listen latency: Xvfb is needed (Debian: xvfb)" >&2; exit 1; }
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$folder/display" >"$folder/xvfb.log" 2>&1 &
display=$!
for _ in $(seq 200); do [ -s "$folder/display" ] && break; sleep 0.1; done
[ -s "$folder/display" ] || { echo "listen latency: Xvfb did not start:" >&2; cat "$folder/xvfb.log" >&2; exit 1; }
export DISPLAY=:$(head -n 1 "$folder/display")
python3 "$(dirname "${BASH_SOURCE[0]}")/listen_latency.py" "$program" "$probe" "$clicks"
