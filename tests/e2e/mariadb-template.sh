#!/usr/bin/env bash
# The data folder that the server-fault tests copy for the MariaDB servers they kill: `mariadb-template.sh DIR`
# starts a server in DIR with the jobs' databases and accounts, shuts it down cleanly and leaves DIR/data.
set -euo pipefail
dir=${1:?template folder}
sql=$(cd "$(dirname "$0")/../integration/mariadb" && pwd)
"$sql/fixture.sh" start "$dir" "$sql/accounts.sql" "$sql/jobs.sql"
pid=$(cat "$dir/mysqld.pid")
mariadb-admin --no-defaults --socket="$dir/mysqld.sock" -uroot shutdown
for _ in $(seq 300); do
  kill -0 "$pid" 2>/dev/null || break
  [[ "$(ps -o stat= -p "$pid" 2>/dev/null)" == Z* ]] && break
  sleep 0.1
done
# Nothing of the stopped server may be mistaken for a live one later.
rm -f "$dir/mysqld.pid" "$dir/port"
echo "template: MariaDB data in $dir/data"
