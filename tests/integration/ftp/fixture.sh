#!/usr/bin/env bash
# A throw-away FTP server (pyftpdlib) for the tests and benchmarks: `fixture.sh start DIR` serves the accounts and
# folders of the web host and the backup server under DIR on a free loopback port (DIR/port); `fixture.sh stop
# DIR` stops it and removes DIR.
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/../python-server.sh" "${1:?start or stop}" "${2:?fixture folder}" "$here/server.py" FTP
