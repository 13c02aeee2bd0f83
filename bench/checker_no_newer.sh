#!/usr/bin/env bash
# The update checker's most common run, "no newer build", against the loopback HTTP fixture: its mean wall time
# over N runs (default 20), next to curl fetching the same version file as the reference. Target: under 1 s.
# bench/checker_no_newer.sh BUILD-DIR [N]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?build folder}
runs=${2:-20}
work=$(mktemp -d /tmp/clientzep-bench-checker.XXXXXX)
trap '"$here/tests/integration/http/fixture.sh" stop "$work/http" > /dev/null; rm -rf "$work"' EXIT
"$here/tests/integration/http/fixture.sh" start "$work/http" > /dev/null
port=$(cat "$work/http/port")
mkdir -p "$work/http/www/download/자동업데이트_v1" "$work/program"
echo 301 > "$work/http/www/download/자동업데이트_v1/ClientZEP_job_lastver.txt"
cp "$build/bin/VerProbeV1.exe" "$work/program/"
printf '[Deployment]\r\nAddrAutoUpdate=127.0.0.1:%s\r\n' "$port" > "$work/program/deployment.ini"

mean_ms() { # command... : mean wall time of $runs runs in milliseconds
  local start end
  start=$(date +%s%N)
  for _ in $(seq "$runs"); do "$@" > /dev/null 2>&1; done
  end=$(date +%s%N)
  echo $(((end - start) / runs / 1000000))
}
"$work/program/VerProbeV1.exe" "301;ClientZEP_job" # once, to show its line
checker=$(mean_ms "$work/program/VerProbeV1.exe" "301;ClientZEP_job")
reference=$(mean_ms curl -s "http://127.0.0.1:$port/download/%EC%9E%90%EB%8F%99%EC%97%85%EB%8D%B0%EC%9D%B4%ED%8A%B8_v1/ClientZEP_job_lastver.txt")
awk -v c="$checker" -v r="$reference" -v n="$runs" 'BEGIN {
  printf "update checker, no newer build: %d ms per run over %d runs (target < 1000 ms): %s\n", c, n, (c < 1000 ? "met" : "NOT MET")
  printf "reference, curl fetching the same version file: %d ms; ratio %.1f\n", r, (r > 0 ? c / r : 0)
}'
((checker < 1000))
