#!/usr/bin/env bash
# Builds everything and runs every test with ctest. A throw-away PostgreSQL
# server on loopback serves the ODBC tests; outside CI they are skipped (with a
# message) where it cannot be started.
#   BUILD_DIR   build folder (build)
#   CMAKE_ARGS  extra configure arguments
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
build=${BUILD_DIR:-build}
# shellcheck disable=SC2086
cmake -S . -B "$build" -G Ninja ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j2

# One server per checkout, so that two checkouts never share a test database.
export QUILORA_PG_DIR=${QUILORA_PG_DIR:-/tmp/quilora-pg-$(id -u)-$(pwd | md5sum | cut -c1-8)}
if odbc=$(bash scripts/pg-test-server.sh start); then
  export QUILORA_TEST_ODBC="$odbc"
  trap 'bash scripts/pg-test-server.sh stop' EXIT
elif [ -n "${CI:-}" ]; then
  echo "test: PostgreSQL could not be started; CI needs it for the ODBC tests" >&2
  exit 1
else
  echo "test: PostgreSQL could not be started; the ODBC tests are skipped" >&2
fi

export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
ctest --test-dir "$build" --output-on-failure -j2 --timeout 600
