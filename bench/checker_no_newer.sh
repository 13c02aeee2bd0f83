#!/usr/bin/env bash
# The update checker's most common run, "no newer build", against the loopback HTTP fixture: the median wall
# time of N rounds (default 20, at least 5), each round one run of the checker and one of curl fetching the same
# version file as the reference, so that both sides see the same machine. Target: under 1 s.
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
# The checker reads nothing without a release key; this one is never used to sign.
minisign -G -W -f -p "$work/release.pub" -s "$work/release.key" > /dev/null
printf '[Deployment]\r\nAddrAutoUpdate=127.0.0.1:%s\r\nUpdatePublicKey=%s\r\n' "$port" "$(sed -n 2p "$work/release.pub")" \
  > "$work/program/deployment.ini"

((runs >= 5)) || { echo "checker_no_newer.sh: at least 5 rounds" >&2; exit 2; }
url="http://127.0.0.1:$port/download/%EC%9E%90%EB%8F%99%EC%97%85%EB%8D%B0%EC%9D%B4%ED%8A%B8_v1/ClientZEP_job_lastver.txt"
ms() { # command... : its wall time in milliseconds (fractional)
  local start end
  start=$(date +%s%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f\n", (e - s) / 1e6 }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
"$work/program/VerProbeV1.exe" "301;ClientZEP_job" # once, to show its line
: > "$work/checker.ms"
: > "$work/curl.ms"
for _ in $(seq "$runs"); do
  ms "$work/program/VerProbeV1.exe" "301;ClientZEP_job" >> "$work/checker.ms"
  ms curl -s "$url" >> "$work/curl.ms"
done
echo "rounds (ms), checker: $(tr '\n' ' ' < "$work/checker.ms")"
echo "rounds (ms), curl:    $(tr '\n' ' ' < "$work/curl.ms")"
checker=$(median < "$work/checker.ms")
reference=$(median < "$work/curl.ms")
awk -v c="$checker" -v r="$reference" -v n="$runs" 'BEGIN {
  printf "update checker, no newer build: median %.1f ms per run over %d rounds (target < 1000 ms): %s\n", c, n, (c < 1000 ? "met" : "NOT MET")
  printf "reference, curl fetching the same version file: median %.1f ms; ratio %.1f\n", r, (r > 0 ? c / r : 0)
  exit (c < 1000 ? 0 : 1)
}'
