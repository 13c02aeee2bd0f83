#!/usr/bin/env bash
# Builds the release preset and runs the benchmarks: the receive path, the user list, MySQL results into
# tables and the disk-space report (against a throw-away MariaDB server), the string builder, JSON, the FTP
# renames of the _2 removal (against a throw-away FTP server and lftp), the DB backup check over TLS against the
# same check in clear (against a throw-away pure-ftpd), the update checker's "no newer build" run (against a
# throw-away HTTP server), and the idle memory of
# the headless bot logged in to the simulator. Each measures its own side and its reference in rounds, shuffled
# together, and prints every round, the medians and the verdict of each target; a figure beyond its target by
# less than its own noise is no miss. The script runs everything, lists the misses at the end and fails only
# when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh release
build=build/release
misses=()
# bench NAME COMMAND...: runs one benchmark program; its exit status is its verdict.
bench() {
  local name=$1
  shift
  "$@" || misses+=("$name")
}

echo "== receive path"
bench "receive path" "$build/bench/receive_bench" --benchmark_color=false
echo "== user list"
bench "user list" "$build/bench/userlist_bench" --benchmark_color=false

echo "== MySQL results into tables, and the disk-space report"
mariadb_dir=$(mktemp -d /tmp/clientzep-bench-mariadb.XXXXXX)
tests/integration/mariadb/fixture.sh start "$mariadb_dir" tests/integration/mariadb/accounts.sql \
  tests/integration/mariadb/jobs.sql
bench "MySQL results" env ZEPJOB_MARIADB="$mariadb_dir" "$build/bench/mysql_bench" --benchmark_color=false
echo "== disk-space report"
bench "disk-space report" env ZEPJOB_MARIADB="$mariadb_dir" "$build/bench/hddfree_bench" --benchmark_color=false
tests/integration/mariadb/fixture.sh stop "$mariadb_dir"
echo "== string builder"
bench "string builder" "$build/bench/stringbuilder_bench" --benchmark_color=false
echo "== JSON"
bench JSON "$build/bench/json_bench" --benchmark_color=false
echo "== FTP renames (the _2 removal against lftp)"
bench "FTP renames" "$build/bench/ftp_bench" --benchmark_color=false
echo "== DB backup check over TLS against the same check in clear (pure-ftpd)"
bench "backup check over TLS" "$build/bench/backupcheck_bench" --benchmark_color=false

echo "== update checker, no newer build"
bench "update checker" bench/checker_no_newer.sh "$build"

echo "== idle memory"
work=$(mktemp -d /tmp/clientzep-bench.XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$build/bin/ClientZEP_job" "$work/"
printf 'waitlogin\nwait 10\n' > "$work/script.txt"
"$build/tools/messenger-sim/messenger-sim" --port 0 --port-file "$work/port" --script "$work/script.txt" \
  > "$work/sim.out" &
sim=$!
for _ in $(seq 100); do [[ -s "$work/port" ]] && break; sleep 0.05; done
printf '[Deployment]\r\nMessengerPort=%s\r\n' "$(cat "$work/port")" > "$work/deployment.ini"
ZEPJOB_HEADLESS=1 "$work/ClientZEP_job" 2> "$work/bot.err" &
bot=$!
for _ in $(seq 100); do grep -q "^SIM script done" "$work/sim.out" && break; sleep 0.1; done
sleep 5 # idle: logged in with the sample list, nothing to do
rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
bot_kib=$(rss "$bot")
sim_kib=$(rss "$sim")
awk -v b="$bot_kib" -v s="$sim_kib" 'BEGIN {
  printf "headless bot, logged in, idle: %.1f MB resident (target < 20 MB): %s\n", b / 1024, (b < 20 * 1024 ? "met" : "NOT MET")
  printf "reference, messenger-sim (Qt Core + Network, same list): %.1f MB; ratio %.2f\n", s / 1024, b / s
}'
if ((bot_kib >= 20 * 1024)); then misses+=("idle memory"); fi

echo
if ((${#misses[@]} == 0)); then
  echo "== every target met"
else
  printf '== targets missed: %s\n' "$(IFS=,; echo "${misses[*]}" | sed 's/,/, /g')"
  exit 1
fi
