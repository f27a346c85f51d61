#!/usr/bin/env bash
# Builds the program and starts it with the embedded SQLite catalogue.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 --target quilora

config="$build/Config.ini"
if [ ! -f "$config" ]; then
  umask 077
  cat > "$config" <<INI
[Data]
Connect=Provider=SQLite;Data Source=catalogue.db
INI
fi
exec "$build/quilora"
