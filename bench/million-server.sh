#!/usr/bin/env bash
# The PostgreSQL server that holds the million-run record of a line for bench_million: made once in
# FOLDER (kept, like the record's file), started on 127.0.0.1:PORT with the package's stock settings,
# or stopped. Usage: bench/million-server.sh start|stop FOLDER [PORT, default 55432]
set -euo pipefail
bin=/usr/lib/postgresql/15/bin
action=$1
folder=$2
port=${3:-55432}
# The server's programs refuse to run as root.
as_server() {
  if [ "$(id -u)" -eq 0 ]; then setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; else "$@"; fi
}
case $action in
start)
  if [ ! -f "$folder/data/PG_VERSION" ]; then
    rm -rf "$folder"
    mkdir -p "$folder"
    if [ "$(id -u)" -eq 0 ]; then chown nobody:nogroup "$folder"; fi
    as_server "$bin/initdb" -D "$folder/data" -U postgres --auth=trust -E UTF8 --locale=C > "$folder/initdb.log"
  fi
  as_server "$bin/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 120 \
    -o "-p $port -k $folder -c listen_addresses=127.0.0.1" start > /dev/null
  "$bin/psql" -h 127.0.0.1 -p "$port" -U postgres -d postgres -Atqc "SELECT 1 FROM pg_database WHERE datname = 'korvex'" |
    grep -q 1 || "$bin/createdb" -h 127.0.0.1 -p "$port" -U postgres korvex
  echo "$port"
  ;;
stop)
  as_server "$bin/pg_ctl" -D "$folder/data" -m fast -w stop > /dev/null
  ;;
*)
  echo "usage: $0 start|stop FOLDER [PORT]" >&2
  exit 2
  ;;
esac
