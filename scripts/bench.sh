#!/usr/bin/env bash
# Builds the release preset and runs the benchmarks: the receive path, the user list, MySQL results into
# tables and the disk-space report (against a throw-away MariaDB server), the string builder, JSON, the FTP
# renames of the _2 removal (against a throw-away FTP server and lftp), the update checker's "no newer build"
# run (against a throw-away HTTP server), and the idle memory of
# the headless bot logged in to the simulator. Each prints its figures against a reference measured in the same
# run and whether its target is met; the script fails when one is not.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh release
build=build/release
status=0

echo "== receive path"
"$build/bench/receive_bench" --benchmark_color=false --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true || status=1
echo "== user list"
"$build/bench/userlist_bench" --benchmark_color=false || status=1

echo "== MySQL results into tables, and the disk-space report"
mariadb_dir=$(mktemp -d /tmp/clientzep-bench-mariadb.XXXXXX)
tests/integration/mariadb/fixture.sh start "$mariadb_dir" tests/integration/mariadb/accounts.sql \
  tests/integration/mariadb/jobs.sql
ZEPJOB_MARIADB="$mariadb_dir" "$build/bench/mysql_bench" --benchmark_color=false || status=1
echo "== disk-space report"
ZEPJOB_MARIADB="$mariadb_dir" "$build/bench/hddfree_bench" --benchmark_color=false || status=1
tests/integration/mariadb/fixture.sh stop "$mariadb_dir"
echo "== string builder"
"$build/bench/stringbuilder_bench" --benchmark_color=false || status=1
echo "== JSON"
"$build/bench/json_bench" --benchmark_color=false || status=1
echo "== FTP renames (the _2 removal against lftp)"
"$build/bench/ftp_bench" --benchmark_color=false || status=1

echo "== update checker, no newer build"
bench/checker_no_newer.sh "$build" || status=1

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
if ((bot_kib >= 20 * 1024)); then status=1; fi
exit $status
