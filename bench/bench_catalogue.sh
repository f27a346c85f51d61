#!/usr/bin/env bash
# The national crawl and the cascade on its catalogue, on loopback:
#   bench/bench_catalogue.sh [BUILD_DIR]      (a Release build: -DCMAKE_BUILD_TYPE=Release)
# Starts quilora-portal --scale national on free ports, runs
# `quilora-admin crawl all` into a fresh SQLite catalogue, then the cascade
# timings on it. Everything is bounded by time-outs and cleaned up.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
portal_pid=""
cleanup() {
  [ -n "$portal_pid" ] && kill "$portal_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$build/quilora-portal" --port 0 --script-port 0 --scale national >"$work/portal.out" 2>&1 &
portal_pid=$!
for _ in $(seq 100); do
  grep -q 'script host' "$work/portal.out" 2>/dev/null && break
  sleep 0.1
done
main=$(grep -o 'main host http://[0-9.:]*' "$work/portal.out" | cut -d' ' -f3)
script=$(grep -o 'script host http://[0-9.:]*' "$work/portal.out" | cut -d' ' -f3)
[ -n "$main" ] && [ -n "$script" ] || { cat "$work/portal.out" >&2; exit 1; }

cat >"$work/Config.ini" <<INI
[Data]
Connect=Provider=SQLite;Data Source=catalogue.db
PortalUrl=$main
ScriptUrl=$script
INI

echo "== national crawl: quilora-admin crawl all"
timeout 600 /usr/bin/time -f 'wall %e s, user %U s, sys %S s, peak memory %M KB' \
  "$build/quilora-admin" --quiet --config "$work/Config.ini" crawl all 2>&1 | tee "$work/crawl.out"

doctors=$(grep '^doctors:' "$work/crawl.out" | sed -E 's/.* ([0-9]+) rows in ([0-9.]+) s.*/\1 \2/')
if [ -n "$doctors" ]; then
  set -- $doctors
  awk -v r="$1" -v s="$2" 'BEGIN { printf "doctor crawl: %d rows in %.2f s = %.0f doctor rows/s (pages included)\n", r, s, r / s }'
fi
echo "== cascade on the national catalogue"
timeout 300 "$build/quilora_bench_cascade" "$work"

# The window reads the catalogue while quilora-admin rebuilds the doctors: the
# cascade must neither wait for the crawl's transaction nor fail.
echo "== cascade during a national doctor crawl"
"$build/quilora-admin" --quiet --config "$work/Config.ini" crawl doctors >"$work/doctors.out" 2>&1 &
crawl_pid=$!
sleep 2
timeout 300 "$build/quilora_bench_cascade" "$work"
if kill -0 "$crawl_pid" 2>/dev/null; then
  echo "(the doctor crawl was still running when the cascade timings ended)"
else
  echo "(the doctor crawl ended before the cascade timings did)"
fi
wait "$crawl_pid" || { cat "$work/doctors.out" >&2; exit 1; }
cat "$work/doctors.out"
kill "$portal_pid" 2>/dev/null || true
portal_pid=""
