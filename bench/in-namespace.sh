# The part of bench/run that runs inside the private network namespace.
#   in-namespace.sh ROOT BUILD CACHE WORK RUNS HTTP_PORT
set -euo pipefail
root=$1 build=$2 cache=$3 work=$4 runs=$5 http_port=$6
source "$root/demo/swarm.sh"
SWARM_WORK=$work
SWARM_TRACKER_IP=10.77.0.1
SWARM_SEEDER_IP=10.77.0.2
trap swarm_stop EXIT
trap "exit 130" INT TERM

swarm_private_network
ip addr add "$SWARM_TRACKER_IP/32" dev lo
ip addr add "$SWARM_SEEDER_IP/32" dev lo
# Corvane's window and engine alone, for scale: with no server to answer,
# the start routine shows its connection message and the window closes.
/usr/bin/time -f '%e %U %S %M' -o "$work/idle-time.txt" env QT_QPA_PLATFORM=offscreen \
  "$build/bench/corvane_bench_download" "$work" 60 >"$work/corvane-idle.log" 2>&1 || true
read -r _ idle_user idle_sys idle_rss < <(tail -n 1 "$work/idle-time.txt")

swarm_server "$http_port" "$cache/dncgi.txt" "$cache/bench.torrent" "$cache/data"
swarm_tracker 6969 "$(cat "$cache/infohash")"
echo "bench: the seeder checks its files ..." >&2
swarm_seeder 6991 "$cache/bench.torrent" "$cache/data"

payload="$cache/data/Corvane Bench"
bytes=$(du -sb --apparent-size "$payload" | cut -f1)
files=$(find "$payload" -type f | wc -l)
results="$work/runs.tsv"
: >"$results"

# prepare_<tool> DEST: sets CMD to the command that downloads into DEST.
prepare_corvane() {
  CMD=(env QT_QPA_PLATFORM=offscreen "$build/bench/corvane_bench_download" "$1" 600)
}
prepare_aria2c() {
  CMD=(aria2c --enable-dht=false --enable-dht6=false --bt-enable-lpd=false
    --enable-peer-exchange=false --seed-time=0 --summary-interval=0
    --console-log-level=warn --file-allocation=none --disable-ipv6=true
    --listen-port=7000 --dht-file-path="$work/aria2c-dht.dat" --dir="$1"
    "$cache/bench.torrent")
}
prepare_transmission() {
  local cfg="$1.config"
  mkdir -p "$cfg"
  cat >"$cfg/settings.json" <<'JSON'
{"dht-enabled": false, "lpd-enabled": false, "pex-enabled": false, "utp-enabled": false,
 "port-forwarding-enabled": false, "blocklist-enabled": false,
 "speed-limit-down-enabled": false, "speed-limit-up-enabled": false}
JSON
  # transmission-cli seeds forever: the finish script ends it (SIGINT, a clean stop).
  printf '#!/bin/sh\nkill -INT "$PPID"\n' >"$cfg/finish"
  chmod +x "$cfg/finish"
  CMD=(transmission-cli -g "$cfg" -w "$1" -p 7001 -M -B -f "$cfg/finish" "$cache/bench.torrent")
}

read -ra tools <<<"${CORVANE_BENCH_TOOLS:-corvane aria2c transmission}"
for ((r = 1; r <= runs; r++)); do
  for ((i = 0; i < ${#tools[@]}; i++)); do
    tool=${tools[(i + r - 1) % ${#tools[@]}]}   # a different order each round
    dest="$work/$tool-$r"
    mkdir -p "$dest"
    status=0
    "prepare_$tool" "$dest"
    /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" timeout 900 "${CMD[@]}" \
      >"$work/$tool-$r.log" 2>&1 || status=$?
    if [[ $status -eq 0 ]] && (cd "$cache/data" && find "Corvane Bench" -type f -print0 |
          xargs -0 -I{} cmp -s "{}" "$dest/{}"); then
      read -r wall user sys rss <"$work/time.txt"
      printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$tool" "$r" "$wall" "$user" "$sys" "$rss" >>"$results"
      echo "bench: round $r $tool: ${wall}s" >&2
    else
      printf '%s\t%s\tfail\n' "$tool" "$r" >>"$results"
      echo "bench: round $r $tool FAILED (status $status, log $work/$tool-$r.log)" >&2
    fi
    rm -rf "$dest" "$dest.config"
  done
done

python3 "$root/bench/summarize.py" "$results" "$bytes" "$files" \
  "$idle_rss" "$idle_user" "$idle_sys" | tee "$(dirname "$work")/bench-results.md"
