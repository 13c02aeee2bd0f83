#!/usr/bin/env bash
# A throw-away MariaDB server for the tests: `fixture.sh start DIR [SQL-FILE...]` makes a new data folder in DIR,
# starts mariadbd as the current user on a free loopback port (written to DIR/port), and runs the SQL files as
# root over the socket; `fixture.sh stop DIR` stops the server and removes DIR. ZEPJOB_MARIADB_BIND (addresses,
# 127.0.0.1 unless set) and ZEPJOB_MARIADB_OPTIONS (more server options, TLS for one) shape the server.
set -euo pipefail

action=${1:?start or stop}
dir=${2:?fixture folder}
shift 2
user=$(id -un)

stop() {
  if [[ -f "$dir/mysqld.pid" ]]; then
    pid=$(cat "$dir/mysqld.pid")
    kill "$pid" 2>/dev/null || true
    # Gone, or dead and waiting to be reaped by an init that may take its time.
    for _ in $(seq 200); do
      kill -0 "$pid" 2>/dev/null || break
      [[ "$(ps -o stat= -p "$pid" 2>/dev/null)" == Z* ]] && break
      sleep 0.05
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

case "$action" in
stop)
  stop
  ;;
start)
  stop
  mkdir -p "$dir"
  # Each server keeps its temporary files in its own folder: one that starts clears the "#sql" files of its
  # temporary directory, and would take those of another server bootstrapping beside it.
  mariadb-install-db --no-defaults --datadir="$dir/data" --tmpdir="$dir" --user="$user" \
    --auth-root-authentication-method=normal --skip-test-db > "$dir/install.log" 2>&1 ||
    { cat "$dir/install.log" >&2; exit 1; }
  for attempt in 1 2 3; do
    port=$(free_port)
    # shellcheck disable=SC2086 # the extra options are words
    mariadbd --no-defaults --datadir="$dir/data" --user="$user" --bind-address="${ZEPJOB_MARIADB_BIND:-127.0.0.1}" \
      --port="$port" ${ZEPJOB_MARIADB_OPTIONS:-} \
      --tmpdir="$dir" --socket="$dir/mysqld.sock" --pid-file="$dir/mysqld.pid" --log-error="$dir/error.log" \
      --skip-log-bin --innodb-buffer-pool-size=32M --max-connections=200 < /dev/null > "$dir/mysqld.out" 2>&1 &
    for _ in $(seq 300); do
      if mariadb-admin --no-defaults --socket="$dir/mysqld.sock" -uroot ping > /dev/null 2>&1; then
        echo "$port" > "$dir/port"
        break 2
      fi
      kill -0 $! 2>/dev/null || break
      sleep 0.1
    done
    echo "fixture: mariadbd did not start on port $port (attempt $attempt)" >&2
    kill $! 2>/dev/null || true
    wait $! 2>/dev/null || true
  done
  [[ -f "$dir/port" ]] || { cat "$dir/error.log" >&2; exit 1; }
  for sql in "$@"; do
    mariadb --no-defaults --socket="$dir/mysqld.sock" -uroot < "$sql"
  done
  echo "fixture: MariaDB on 127.0.0.1:$(cat "$dir/port") in $dir"
  ;;
*)
  echo "usage: fixture.sh start|stop DIR [SQL-FILE...]" >&2
  exit 2
  ;;
esac
