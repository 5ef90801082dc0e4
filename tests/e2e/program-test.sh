#!/usr/bin/env bash
# The shipped program as a user meets it, on the demo's kit: under Xvfb with
# openbox, the stand-in server (configuration text, .torrent), opentracker and
# a slowed aria2c seeder. The folder is typed into the picker; a second copy,
# under another file name, says another program is running (in a box with
# that name as its caption) and ends; the first is killed (-9)
# mid-download; a new start over the same folder completes with every file
# right (non-ASCII names included), shows it, and Close ends it without a
# question.
#
#   program-test.sh SOURCE_DIR PROGRAM CONFIG_HOST
#
# Every wait has its own bound. On failure a screenshot goes to artifacts/.
set -euo pipefail
if [[ -z ${PROGRAM_TEST_NS:-} ]]; then  # a private network, and a pid namespace that ends with us
  PROGRAM_TEST_NS=1 exec unshare -rn --pid --fork --kill-child "$0" "$@"
fi
src=$1 prog=$2 host=$3
[[ $host =~ ^(localhost|127\.0\.0\.1)(:[0-9]+)?$ ]] || { echo "built for $host, not this machine"; exit 77; }
port=80
[[ $host == *:* ]] && port=${host##*:}
work=$(mktemp -d) artifacts=$PWD/artifacts
run=$work/run dl=$work/download data="$work/data/Corvane Pack"
mkdir -p -m 700 "$run" "$dl"
cleanup() {
  set +e
  kill -KILL $(cat "$work"/*.pid 2>/dev/null) 2>/dev/null
  swarm_stop
  kill "${xvfb:-0}" "${wm:-0}" 2>/dev/null
  wait
  rm -rf "$work"
}
trap cleanup EXIT
export SWARM_WORK=$work SWARM_SEEDER_LIMIT=$((3 << 20))
source "$src/demo/swarm.sh"
swarm_private_network

fail() {
  echo "program-test: $*" >&2
  mkdir -p "$artifacts" && import -window root "$artifacts/program-test.png" || true
  tail -n 5 "$work"/*.log >&2 || true
  exit 1
}
# wait_for SECONDS WHAT COMMAND...: polls until COMMAND succeeds, else fails.
wait_for() {
  local end=$((SECONDS + $1)) what=$2
  shift 2
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < end)) || fail "timed out waiting for $what"
    sleep 0.2
  done
}
window() { xdotool search --onlyvisible --name "^$1\$" | head -n 1; }
shown() { [[ -n $(window "$1") ]]; }
ended() { [[ -s $work/$1.status ]]; }
on_disk() { (($(du -s -B1 "$dl" | cut -f1) >= $1)); }
complete() { diff -rq "$data" "$dl/Corvane Pack" >/dev/null; }
# start NAME PROGRAM: a copy in the run folder; NAME.pid now, NAME.status once it ends.
start() {
  (
    set +e
    cd "$run" || exit
    XDG_RUNTIME_DIR=$run QT_QPA_PLATFORM=xcb "$2" >"$work/$1.log" 2>&1 &
    echo $! >"$work/$1.pid"
    wait $!
    echo $? >"$work/$1.status"
  ) 2>/dev/null &
}
choose_folder() {
  local picker="Select the directory you would like to save the file to"
  wait_for 30 "the folder picker" shown "$picker"
  xdotool windowactivate --sync "$(window "$picker")" windowfocus --sync "$(window "$picker")"
  xdotool type --delay 10 "$dl"
  xdotool key Return
  wait_for 10 "the picker to close" eval "! shown '$picker'"
}
# The Pause/Resume button in its disabled look: the window shows the download complete.
shows_complete() {
  local diff
  diff=$(import -window "$(window "Morlaine Corvane")" -crop 92x31+109+292 +repage png:- |
    compare -metric AE -fuzz 3% - "$src/res/bitmaps/164.bmp" null: 2>&1) || true
  ((diff < 30))
}

"$src/demo/make-payload" "$work" pack.torrent "Corvane Pack" http://127.0.0.1:6969/announce \
  Data/base.pak:10 "Movies/인트로 é.bin:5" readme.txt:1 2>/dev/null
printf '7|http://%s/|||http://%s/pack.torrent' "$host" "$host" >"$work/dncgi.txt"
swarm_server "$port" "$work/dncgi.txt" "$work/pack.torrent" "$work/data"
swarm_tracker 6969 "$(cat "$work/infohash")"
swarm_seeder 6991 "$work/pack.torrent" "$work/data"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
wait_for 15 "Xvfb" test -s "$work/display"
export DISPLAY=:$(cat "$work/display")
openbox >"$work/openbox.log" 2>&1 &
wm=$!
wait_for 15 "openbox" eval 'xdotool get_num_desktops | grep -q "^[0-9]"'

start first "$prog"
choose_folder
wait_for 60 "a quarter on disk" on_disk $((4 << 20))

cp "$prog" "$work/Corvane Copy"
start copy "$work/Corvane Copy"
wait_for 15 "the second copy's box" shown "Corvane Copy"
xdotool windowactivate --sync "$(window "Corvane Copy")" key Return
wait_for 10 "the second copy to end" ended copy

! complete || fail "complete before it could be killed"
kill -KILL "$(cat "$work/first.pid")"
wait_for 10 "the killed program to end" ended first

start second "$prog"
choose_folder
wait_for 60 "the files to be complete" complete
wait_for 30 "the window to show the download complete" shows_complete
eval "$(xdotool getwindowgeometry --shell "$(window "Morlaine Corvane")")"
xdotool mousemove --sync $((X + 594)) $((Y + 14)) click 1
wait_for 30 "Close to end the program" ended second
[[ $(cat "$work/second.status") == 0 ]] || fail "exit status $(cat "$work/second.status")"
complete || fail "files changed at the end"
! compgen -G "$run/*.DMP" >/dev/null || fail "a crash dump was written"
echo "program-test: passed"
