#!/usr/bin/env bash
# Starts (or stops) a throw-away PostgreSQL server on loopback for the ODBC
# tests, with the catalogue created from db/postgresql.sql.
#   scripts/pg-test-server.sh start   prints the ODBC connection string
#   scripts/pg-test-server.sh stop
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${QUILORA_PG_DIR:-/tmp/quilora-pg}
port=${QUILORA_PG_PORT:-55432}
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "$bin" ] || { echo "pg-test-server: PostgreSQL is not installed" >&2; exit 1; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case "${1:-start}" in
start)
  if [ ! -f "$dir/PG_VERSION" ]; then
    rm -rf "$dir"; mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$dir"
    as_owner "$bin/initdb" -D "$dir" -A trust -U postgres -E UTF8 --locale=C.UTF-8 >/dev/null
  fi
  if as_owner "$bin/pg_ctl" -D "$dir" status >/dev/null 2>&1; then
    port=$(cat "$dir/quilora.port")
  else
    # Another server may hold the port: take the next free one.
    for _ in $(seq 20); do
      (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
      port=$((port + 1))
    done
    as_owner "$bin/pg_ctl" -D "$dir" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off -c synchronous_commit=off" start >/dev/null
    echo "$port" > "$dir/quilora.port"
  fi
  psql=("$bin/psql" -h 127.0.0.1 -p "$port" -U postgres -v ON_ERROR_STOP=1 -q)
  if ! "${psql[@]}" -d postgres -tAc "select 1 from pg_database where datname='quilora'" | grep -q 1; then
    "${psql[@]}" -d postgres -c "create role quilora login password 'quilora'" 2>/dev/null || true
    "${psql[@]}" -d postgres -c "create database quilora owner quilora encoding 'UTF8' template template0"
    PGPASSWORD=quilora "$bin/psql" -h 127.0.0.1 -p "$port" -U quilora -d quilora -v ON_ERROR_STOP=1 -q \
      -f "$here/db/postgresql.sql"
  fi
  echo "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=quilora;Uid=quilora;Pwd=quilora;"
  ;;
stop)
  as_owner "$bin/pg_ctl" -D "$dir" -m fast stop >/dev/null 2>&1 || true
  ;;
*)
  echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
