#!/usr/bin/env bash
# Installs what is needed, builds, and runs ClientZEP_job against the local messenger simulator: the bot logs
# in, shows its contact tree by department, answers "/help", "/VER" and a plain message, follows presence
# changes, answers a keep-alive, and comes back by itself after the server drops it.
#
# The bot runs with its clocks ten times faster (faketime), so its 30-second keep-alive answer and reconnect
# take 3 seconds each. Set ZEPJOB_HEADLESS=0 with a display to watch the window instead of the log lines.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh release

build=build/release
demo=$(mktemp -d /tmp/clientzep-demo.XXXXXX)
cleanup() {
  jobs -p | xargs -r kill 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

# A program folder of its own: the binary, and a deployment.ini that points it at the simulator.
cp "$build/bin/ClientZEP_job" "$build/bin/ClientZEP_job_gui.so" "$demo/"
cat > "$demo/sim-script.txt" <<'SCRIPT'
waitlogin
wait 10
sleep 500
17 /help
wait 1
21 /VER
wait 1
33 안녕하세요, 잡서버!
wait 1
88 /ver please
wait 1
online 21
offline 17
status 45 3
keepalive
wait 59
drop
waitlogin
wait 10
92 /_2rm
92 /_2rm
wait 1 Start
wait 1 현재
sleep 300
quit
SCRIPT

echo "== demo folder: $demo"
"$build/tools/messenger-sim/messenger-sim" --port 0 --port-file "$demo/sim-port" --keepalive-ms 0 \
  --script "$demo/sim-script.txt" > >(sed -u 's/^/server | /') &
sim=$!
for _ in $(seq 100); do [[ -s "$demo/sim-port" ]] && break; sleep 0.05; done
printf '[Deployment]\r\nMessengerPort=%s\r\n' "$(cat "$demo/sim-port")" > "$demo/deployment.ini"

# libfaketime preloaded directly (not through the faketime command, which would leave the bot a child of its
# own that outlives the demo).
ZEPJOB_HEADLESS=${ZEPJOB_HEADLESS:-1} FAKETIME='+0 x10' \
  LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1 \
  "$demo/ClientZEP_job" 2> >(sed -u 's/^/bot    | /' >&2) &
wait "$sim"
status=$?
echo "== simulator finished (exit $status); ErrorLog.txt:"
if [[ -f "$demo/ErrorLog.txt" ]]; then iconv -f CP949 -t UTF-8 "$demo/ErrorLog.txt"; else echo "(empty)"; fi
exit "$status"
