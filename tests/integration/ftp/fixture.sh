#!/usr/bin/env bash
# A throw-away FTP server for the tests: `fixture.sh start DIR` starts server.py (pyftpdlib) in the background on
# a free loopback port (written to DIR/port) with the accounts and folders of the web host and the backup
# server under DIR; `fixture.sh stop DIR` stops it and removes DIR.
set -euo pipefail

action=${1:?start or stop}
dir=${2:?fixture folder}
here=$(cd "$(dirname "$0")" && pwd)

stop() {
  if [[ -f "$dir/ftpd.pid" ]]; then
    pid=$(cat "$dir/ftpd.pid")
    kill "$pid" 2>/dev/null || true
    # Gone, or dead and waiting to be reaped by an init that may take its time.
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      [[ "$(ps -o stat= -p "$pid" 2>/dev/null)" == Z* ]] && break
      sleep 0.05
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}

case "$action" in
stop)
  stop
  ;;
start)
  stop
  mkdir -p "$dir"
  # Debian's pyftpdlib is only visible to the system interpreter; another python3 may come first on PATH.
  /usr/bin/python3 "$here/server.py" "$dir" < /dev/null > "$dir/ftpd.log" 2>&1 &
  echo $! > "$dir/ftpd.pid"
  for _ in $(seq 200); do
    if [[ -s "$dir/port" ]] && (exec 3<> "/dev/tcp/127.0.0.1/$(cat "$dir/port")") 2>/dev/null; then
      echo "fixture: FTP on 127.0.0.1:$(cat "$dir/port") in $dir"
      exit 0
    fi
    kill -0 "$(cat "$dir/ftpd.pid")" 2>/dev/null || break
    sleep 0.05
  done
  echo "fixture: the FTP server did not start" >&2
  cat "$dir/ftpd.log" >&2
  exit 1
  ;;
*)
  echo "usage: fixture.sh start|stop DIR" >&2
  exit 2
  ;;
esac
