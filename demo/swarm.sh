# Shell functions that stage a small BitTorrent swarm on loopback: the web
# server stand-in, opentracker and an aria2c seeder. Sourced by scripts/demo
# and the program test (tests/e2e/program-test.sh), and used only inside a
# private network namespace in which only loopback is up. Every process started here is recorded and stopped by
# swarm_stop (install it as an EXIT trap).
#
#   SWARM_WORK=<scratch folder>   logs and tracker files go here
#   SWARM_TRACKER_IP, SWARM_SEEDER_IP  addresses of the tracker and the seeder
#                                  (default 127.0.0.1; others must be on lo)
#   SWARM_SEEDER_LIMIT, SWARM_WEBSEED_LIMIT  bytes per second the seeder and
#                                  the web seed send at most (default: no limit)

SWARM_PIDS=()
SWARM_DEMO_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Brings loopback up; refuses to go on if any other interface is up, so that
# nothing started here can reach a network.
swarm_private_network() {
  ip link set lo up
  local others
  others=$(ip -o link show up | awk -F': ' '$2 != "lo" {print $2}')
  if [[ -n "$others" ]]; then
    echo "swarm: not in a private network namespace (up: $others)" >&2
    return 1
  fi
}

# swarm_wait_port PORT [SECONDS [ADDRESS]]: waits until ADDRESS:PORT accepts.
swarm_wait_port() {
  local port=$1 deadline=$((SECONDS + ${2:-30})) ip=${3:-127.0.0.1}
  while ! (exec 3<>"/dev/tcp/$ip/$port") 2>/dev/null; do
    if ((SECONDS >= deadline)); then
      echo "swarm: nothing listens on port $port" >&2
      return 1
    fi
    sleep 0.1
  done
}

# swarm_tracker PORT INFOHASH...: opentracker on SWARM_TRACKER_IP:PORT
# (HTTP and UDP) tracking only the info-hashes given.
swarm_tracker() {
  local port=$1 ip=${SWARM_TRACKER_IP:-127.0.0.1}; shift
  local dir="$SWARM_WORK/tracker"
  mkdir -p "$dir"
  printf '%s\n' "$@" >"$dir/whitelist"
  # opentracker refuses to run as root, which the namespace makes us: a user
  # namespace of its own makes it nobody. It reads the whitelist from -d.
  unshare --user opentracker -i "$ip" -p "$port" -P "$port" -d "$dir" -w whitelist \
    >"$SWARM_WORK/opentracker.log" 2>&1 &
  SWARM_PIDS+=($!)
  swarm_wait_port "$port" 10 "$ip"
}

# swarm_server PORT CONFIG_FILE TORRENT SEED_DIR: the web server stand-in.
swarm_server() {
  python3 "$SWARM_DEMO_DIR/server.py" --port "$1" --config-file "$2" --torrent "$3" \
    --seed-dir "$4" --rate "${SWARM_WEBSEED_LIMIT:-0}" --log "$SWARM_WORK/server.log" 2>>"$SWARM_WORK/server.log" &
  SWARM_PIDS+=($!)
  swarm_wait_port "$1" 10
}

# swarm_seeder PORT TORRENT DATA_DIR: aria2c seeding the payload under
# DATA_DIR (checked first; ready once it listens), announcing to the tracker
# from SWARM_SEEDER_IP when set.
swarm_seeder() {
  local port=$1 torrent=$2 data=$3 ip=${SWARM_SEEDER_IP:-}
  aria2c ${ip:+--interface="$ip"} --enable-dht=false --enable-dht6=false --bt-enable-lpd=false \
    --enable-peer-exchange=false --seed-ratio=0.0 --check-integrity=true \
    --listen-port="$port" --file-allocation=none --disable-ipv6=true \
    --summary-interval=0 --console-log-level=warn --dir="$data" \
    --dht-file-path="$SWARM_WORK/dht.dat" --bt-max-peers=0 \
    --max-overall-upload-limit="${SWARM_SEEDER_LIMIT:-0}" \
    "$torrent" >"$SWARM_WORK/aria2c-seeder.log" 2>&1 &
  SWARM_PIDS+=($!)
  swarm_wait_port "$port" 120 "${ip:-127.0.0.1}"
}

# Stops everything started above (SIGTERM, then SIGKILL after 5 s).
swarm_stop() {
  local pid deadline
  for pid in "${SWARM_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  deadline=$((SECONDS + 5))
  for pid in "${SWARM_PIDS[@]}"; do
    while kill -0 "$pid" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  done
  SWARM_PIDS=()
}
