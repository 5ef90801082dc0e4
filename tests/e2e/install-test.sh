#!/usr/bin/env bash
# install-test.sh BUILD_DIR CONFIG_HOST: `cmake --install` into a temporary
# prefix, then the installed program started from its bin/ (offscreen, inside
# a private network namespace). It must load its dump writer from the
# installed lib/corvane and ask its configuration host for the text (a
# stand-in listens there when the host is this machine).
set -euo pipefail
if [[ "${1:-}" != --isolated ]]; then exec unshare -rn "$0" --isolated "$@"; fi
build=$(realpath "$2") host=${3:-localhost}
ip link set lo up
tmp=$(mktemp -d)
trap 'kill -9 ${server:-} ${program:-} 2>/dev/null; rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
for f in bin/Corvane lib/corvane/libdbghelp.so share/applications/corvane.desktop \
         share/icons/hicolor/{16x16,32x32,48x48}/apps/corvane.png; do
  [[ -e $tmp/prefix/$f ]] || { echo "not installed: $f"; exit 1; }
done
asked=true
if [[ ${host%:*} == localhost || ${host%:*} == 127.0.0.1 ]]; then
  port=80; [[ $host == *:* ]] && port=${host##*:}
  mkdir "$tmp/www"
  python3 -u -m http.server "$port" --bind 127.0.0.1 --directory "$tmp/www" >"$tmp/server.log" 2>&1 &
  server=$!
  for _ in $(seq 100); do grep -q Serving "$tmp/server.log" && break; sleep 0.1; done  # listening
  asked='grep -q "GET /notarget/varcgi/dncgi.txt" "$tmp/server.log"'
fi
(cd "$tmp" && PATH="$tmp/prefix/bin:$PATH" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$tmp" exec Corvane) \
  >"$tmp/program.log" 2>&1 &
program=$!
for _ in $(seq 150); do  # up to 15 s
  if grep -q "$tmp/prefix/lib/corvane/libdbghelp.so" "/proc/$program/maps" 2>/dev/null && eval "$asked"; then
    echo "the installed program runs"; exit 0
  fi
  sleep 0.1
done
echo "the installed program did not come up:"; cat "$tmp/program.log" "$tmp/server.log" 2>/dev/null; exit 1
