# about: build optimised and run the benchmarks (arguments go to Google Benchmark), then the analysis of a 3-minute and a 6-hour song, a command's fixed cost, the frame's own CPU time, the export (native and under Wine), the frame against its floor and listen's click-to-frame time; --json FILE also writes these figures
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
source "$top/scripts/_video.sh"
json=""
benchmark_arguments=()
while [ $# -gt 0 ]; do
  case "$1" in
    --json) [ $# -ge 2 ] || { say "--json needs a file name"; exit 2; }; json=$2; shift 2 ;;
    *) benchmark_arguments+=("$1"); shift ;;
  esac
done
if [ -n "$json" ] && [ ! -w "$(dirname -- "$json")" ]; then
  say "cannot write $json: its folder is missing or not writable"
  exit 2
fi
ensure_setup all >&2
build_release model_bench frame_cpu_bench analyse_audio analysis_length_bench >&2
"$release_dir/bench/model_bench" "${benchmark_arguments[@]}"
echo
"$release_dir/bench/analysis_length_bench" "$release_dir/tools/analyse_audio"

# What every command costs before it does anything on a prepared machine (the set-up check, the
# builds that find nothing to do): ./halcyon model-info of a tiny model against the tool alone,
# the better of five runs each, in ms.
tiny_model="$top/fuzz/corpus/model_parse_fuzz/minimal"
"$top/halcyon" model-info "$tiny_model" >/dev/null 2>&1 || "$top/halcyon" model-info "$tiny_model" >&2
whole=-1 alone=-1
for _ in 1 2 3 4 5; do
  microseconds; start=$now_us
  "$top/halcyon" model-info "$tiny_model" >/dev/null 2>&1
  microseconds; middle=$now_us
  "$release_dir/tools/model_info" "$tiny_model" >/dev/null
  microseconds; end=$now_us
  (( whole < 0 || middle - start < whole )) && whole=$((middle - start))
  (( alone < 0 || end - middle < alone )) && alone=$((end - middle))
done
command_ms=$(( (whole - alone + 500) / 1000 ))
echo
say "A command's fixed cost: $command_ms ms (./halcyon model-info of a tiny model $(( (whole + 500) / 1000 )) ms," \
  "the tool alone $(( (alone + 500) / 1000 )) ms; aim: at most 300)"
build_for_video both >&2
echo
cpu_figures=$(mktemp)
export_figures=$(mktemp)
trap 'rm -f "$cpu_figures" "$export_figures"' EXIT
"$release_dir/bench/frame_cpu_bench" "$win32_dir/bin/vis_halcyonsphere_assets" --json "$cpu_figures"
echo
python3 "$top/scripts/_video.py" bench --json "$export_figures"
echo
python3 "$top/scripts/_frame_bench.py" --export-json "$export_figures" \
  ${json:+--json "$json" --cpu-json "$cpu_figures" --command-ms "$command_ms"}

# listen: from a click played into the default output of a sound server started for the run to
# the first frame that shows it, through the real program in a window on a private display.
echo
build_release halcyonsphere listen_probe >&2
listen_figures=$(bash "$top/bench/listen_latency.sh" --listen "$release_dir/native/halcyonsphere" \
  "$release_dir/tools/listen_probe" --clicks 20) || { say "listen latency: the run failed"; exit 1; }
listen_ms=$(python3 -c 'import json, sys; print(json.loads(sys.argv[1])["listen_latency_ms"])' "$listen_figures")
say "listen, a click to the first frame showing it: $listen_ms ms (median of 20; aim: at most 50 at 60 Hz)"
say "  $listen_figures"
if [ -n "$json" ]; then
  python3 -c 'import json, sys
with open(sys.argv[1]) as f:
    figures = json.load(f)
figures["listen_latency_ms"] = json.loads(sys.argv[2])["listen_latency_ms"]
with open(sys.argv[1] + ".tmp", "w") as f:
    json.dump(figures, f, indent=2, sort_keys=True)
    f.write("\n")' "$json" "$listen_figures" && mv "$json.tmp" "$json"
fi
