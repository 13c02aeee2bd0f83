#!/usr/bin/env bash
# A throw-away server written in Python for the tests: `python-server.sh start DIR SERVER.py NAME` runs SERVER.py
# with DIR as its only argument in the background (it writes its free loopback port to DIR/port) and waits until
# the port accepts; `python-server.sh stop DIR` stops it and removes DIR. NAME only labels the messages.
set -euo pipefail

action=${1:?start or stop}
dir=${2:?fixture folder}

stop() {
  if [[ -f "$dir/server.pid" ]]; then
    pid=$(cat "$dir/server.pid")
    # A server that leads a process group of its own (vsftpd.sh's) goes with every process of the group.
    kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true
    # Gone, or dead and waiting to be reaped by an init that may take its time.
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      [[ "$(ps -o stat= -p "$pid" 2>/dev/null)" == Z* ]] && break
      sleep 0.05
    done
    kill -9 -- "-$pid" 2>/dev/null || kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}

case "$action" in
stop)
  stop
  ;;
start)
  script=${3:?server script}
  name=${4:-server}
  stop
  mkdir -p "$dir"
  # The system interpreter: Debian's Python packages (pyftpdlib) are only visible to it, and another python3
  # may come first on PATH.
  /usr/bin/python3 "$script" "$dir" < /dev/null > "$dir/server.log" 2>&1 &
  echo $! > "$dir/server.pid"
  for _ in $(seq 200); do
    if [[ -s "$dir/port" ]] && (exec 3<> "/dev/tcp/127.0.0.1/$(cat "$dir/port")") 2>/dev/null; then
      echo "fixture: $name on 127.0.0.1:$(cat "$dir/port") in $dir"
      exit 0
    fi
    kill -0 "$(cat "$dir/server.pid")" 2>/dev/null || break
    sleep 0.05
  done
  echo "fixture: the $name server did not start" >&2
  cat "$dir/server.log" >&2
  exit 1
  ;;
*)
  echo "usage: python-server.sh start DIR SERVER.py NAME | stop DIR" >&2
  exit 2
  ;;
esac
