#!/usr/bin/env bash
# Builds the window, the demo portal and the maintenance tool, starts the demo
# portal in the background, prepares Config.ini and the SQLite catalogue on the
# first run, starts the window, and stops the portal when the window closes.
#   QUILORA_PORTAL_PORT / QUILORA_SCRIPT_PORT  the portal's ports (18080 / 8010)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 --target quilora quilora-portal quilora-admin quilora-book

port=${QUILORA_PORTAL_PORT:-18080}
script_port=${QUILORA_SCRIPT_PORT:-8010}
card=6201000000000001 # the demo portal's built-in account
password=demo1234

"$build/quilora-portal" --port "$port" --script-port "$script_port" --log "$build/portal-requests.jsonl" &
portal=$!
stop_portal() { kill "$portal" 2>/dev/null || true; wait "$portal" 2>/dev/null || true; }
trap stop_portal EXIT
trap 'exit 130' INT TERM
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  kill -0 "$portal" 2>/dev/null || { echo "run: the demo portal did not start" >&2; exit 1; }
  sleep 0.1
done

config="$build/Config.ini"
if [ ! -f "$config" ]; then
  (
    umask 077
    cat >"$config" <<INI
[Data]
Connect=Provider=SQLite;Data Source=catalogue.db
CardNo=$card
Passwd=$password
PortalUrl=http://127.0.0.1:$port
ScriptUrl=http://127.0.0.1:$script_port
INI
  )
fi
if [ ! -s "$build/catalogue.db" ]; then
  echo "run: filling the catalogue from the demo portal"
  "$build/quilora-admin" --config "$config" crawl all
fi
"$build/quilora"
