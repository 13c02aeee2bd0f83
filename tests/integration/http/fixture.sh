#!/usr/bin/env bash
# A throw-away HTTP server for the tests: `fixture.sh start DIR` serves DIR/www on a free loopback port
# (DIR/port); `fixture.sh stop DIR` stops it and removes DIR.
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/../python-server.sh" "${1:?start or stop}" "${2:?fixture folder}" "$here/server.py" HTTP
