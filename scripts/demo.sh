#!/usr/bin/env bash
# Installs what is needed, builds, and runs ClientZEP_job through a whole working day against real servers on
# loopback: a throw-away MariaDB with the log and web databases, the FTP server of the web host and of the
# backups, an HTTP server for the address directory and the update files, and the messenger simulator. The
# sample day (Wednesday 2026-12-09) is the data in sample/.
#
# The bot runs under libfaketime, ten times faster, in the same program folder, started just under a minute
# before each scheduled minute (its schedule ticks a minute after the log-in, then every minute): 09:05 the
# disk-space report, 09:10 the "_2" removal, 11:00 the DB backup check, 14:00 the CS backup check and two
# "/_2rm", then "/selfupdate" against a forged update (refused), then to a newer build signed with a release
# key made for the run, which comes back with its version.
# Everything runs in one temporary folder that is removed at the end, with every process the demo started.
# Set ZEPJOB_HEADLESS=0 with a display to watch the window instead of the log lines.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

scripts/setup.sh
scripts/build.sh release

build=$top/build/release
# The newer bot that "/selfupdate" finds on the update server: the build's own libraries with the next revision,
# made for the tests beside the bot.
newer_bot=$build/tests/e2e/ClientZEP_job_next
sim_binary=$build/tools/messenger-sim/messenger-sim
# libfaketime lives in the machine's multiarch folder; its package says where.
faketime_lib=$(dpkg -L libfaketime | grep '/faketime/libfaketimeMT\.so\.1$') ||
  { echo "demo: libfaketime is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
day=2026-12-09

demo=$(mktemp -d /tmp/clientzep-demo.XXXXXX)
program=$demo/program
started=()

# The bot of the program folder, also one that another program started: its instance lock names it.
lock_holder() {
  local pid
  pid=$(head -n 1 "$program/ClientZEP_job.lock" 2>/dev/null) || return 1
  [[ "$pid" =~ ^[0-9]+$ ]] && [[ "$(readlink "/proc/$pid/exe" 2>/dev/null)" == "$program/ClientZEP_job"* ]] &&
    echo "$pid"
}

stop_pid() {
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 100); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.05
  done
  kill -9 "$1" 2>/dev/null || true
}

cleanup() {
  set +e
  for pid in "${started[@]}" $(lock_holder); do stop_pid "$pid"; done
  wait 2>/dev/null
  tests/integration/mariadb/fixture.sh stop "$demo/mariadb" > /dev/null 2>&1
  tests/integration/ftp/fixture.sh stop "$demo/ftp" > /dev/null 2>&1
  tests/integration/http/fixture.sh stop "$demo/http" > /dev/null 2>&1
  rm -rf "$demo"
}
trap cleanup EXIT

say() { printf '\n== %s\n' "$*"; }

sql() {
  mariadb --no-defaults --socket="$demo/mariadb/mysqld.sock" -uroot --table -e "$1"
}

show_web() {
  local download=$demo/ftp/webhost/public_html/download
  echo "FTP qzc1:/public_html/download/:           $(cd "$download" && ls -p | grep -v / | tr '\n' ' ')"
  echo "FTP qzc1:/public_html/download/versions/:  $(ls "$download/versions" | tr '\n' ' ')"
  sql "SELECT 'cate3' AS tbl, idx, DemoDownFile FROM webhost.cate3 UNION ALL
       SELECT 'cate3_info', idx, DemoDownFile FROM webhost.cate3_info"
}

# ---- the servers around the bot, with the sample day's data ----
say "starting the servers (demo folder $demo)"
tests/integration/mariadb/fixture.sh start "$demo/mariadb" tests/integration/mariadb/jobs.sql \
  sample/qz_logs.sql sample/webhost.sql
tests/integration/ftp/fixture.sh start "$demo/ftp"
tests/integration/http/fixture.sh start "$demo/http"
http_port=$(cat "$demo/http/port")
sample/layout.sh ftp "$demo/ftp"
sample/layout.sh csbackup "$demo/csbackup"
sample/layout.sh directory "$demo/http/www" "127.0.0.1:$http_port"
echo "the address directory answers /serverinfo/server-address-checker.php with:"
sed 's/^/  /' "$demo/http/www/serverinfo/server-address-checker.php"

# The program folder. The endpoint defaults point at 127.0.0.2, where nothing listens: every server the bot
# reaches, it found through the address directory. The FTP hosts are deployment values of their own.
mkdir -p "$program"
cp "$build/bin/ClientZEP_job" "$build/bin/ClientZEP_job_gui.so" "$program/"
printf '[General]\r\nFTP_PASV=1\r\nCSBackupPath=%s\r\n' "$demo/csbackup" > "$program/setup.ini"

# The simulator's lines marked "server |"; with brief=1 without the login reply and the user list.
server_lines() {
  awk -v brief="$1" '/^SIM sent 5[01] / { skip = brief == 1; if (skip) next }
    skip && /^ +[|]/ { next } { skip = 0; print "server | " $0; fflush() }'
}
# The bot's lines marked "bot    |"; with brief=1 without the contact tree.
bot_lines() {
  if [[ "$1" == 1 ]]; then sed -u -e '/^ClientZEP_job:   /d' -e 's/^/bot    | /'; else sed -u 's/^/bot    | /'; fi
}

# One bot run: the messenger simulator plays the script, the bot starts at the faked time of day; the run ends
# when the script does. A third argument 1 leaves out what every log-in repeats.
run() {
  local at=$1 script=$2 brief=${3:-0}
  printf '%s' "$script" > "$demo/sim-script.txt"
  rm -f "$demo/sim-port"
  "$sim_binary" --port 0 --port-file "$demo/sim-port" --keepalive-ms 0 --readable --wait-timeout-ms 60000 \
    --script "$demo/sim-script.txt" > >(server_lines "$brief") &
  local sim=$!
  started+=("$sim")
  for _ in $(seq 200); do [[ -s "$demo/sim-port" ]] && break; sleep 0.05; done
  printf '[Deployment]\r\nDirectoryServer=127.0.0.1:%s\r\n' "$http_port" > "$program/deployment.ini"
  for key in AddrMasterServer AddrWebLogin AddrAutoUpdate AddrBackupFtp AddrMessenger; do
    printf '%s=127.0.0.2\r\n' "$key" >> "$program/deployment.ini"
  done
  printf 'WebHostFtpHost=127.0.0.1\r\nBackupFtpHost=127.0.0.1\r\nMessengerPort=%s\r\nFtpPort=%s\r\nMySqlPort=%s\r\n' \
    "$(cat "$demo/sim-port")" "$(cat "$demo/ftp/port")" "$(cat "$demo/mariadb/port")" >> "$program/deployment.ini"
  [[ -n "${release_key:-}" ]] && printf 'UpdatePublicKey=%s\r\n' "$release_key" >> "$program/deployment.ini"

  # libfaketime preloaded directly (not through the faketime command, which would leave the bot a child of its
  # own that outlives the run); outside any service manager, so that the file changer of "/selfupdate" starts
  # the new build itself.
  env -u INVOCATION_ID -u NOTIFY_SOCKET ZEPJOB_HEADLESS="${ZEPJOB_HEADLESS:-1}" FAKETIME="@$day $at x10" \
    LD_PRELOAD="$faketime_lib" "$program/ClientZEP_job" 2> >(bot_lines "$brief" >&2) &
  local bot=$!
  started+=("$bot")
  local status=0
  wait "$sim" || status=$?
  stop_pid "$bot"
  wait "$bot" 2>/dev/null || true
  started=()
  local holder
  if holder=$(lock_holder); then stop_pid "$holder"; fi
  if ((status != 0)); then
    echo "== the simulator's script failed (exit $status)" >&2
    exit "$status"
  fi
}

say "09:04 log-in, the contact tree, chat commands, presence, a keep-alive; 09:05 the disk-space report to 92"
run "09:04:05" 'waitlogin
wait 10
17 /help
wait 1 명령어
21 /VER
wait 1 Ver
33 안녕하세요, 잡서버!
wait 1 안녕하세요
online 21
offline 17
keepalive
wait 59
wait 2 하드잔량
quit
'

say "before the removal: the web host's files and the web database"
show_web
say "09:10, a Wednesday with 7 of the 12 contacts online: the \"_2\" removal to -1"
run "09:09:05" 'waitlogin
wait 2 _2제거
quit
' 1
say "after the removal: the files without \"_2\", the product pages on the new names"
show_web

say "11:00 the DB backup check to 92 (CS-BUSAN and PV-SUB sent nothing today)"
run "10:59:05" 'waitlogin
wait 2 DB 백업
quit
' 1

# An upload in the afternoon, and the web site's record of it, for the "/_2rm" that follows.
echo new > "$demo/ftp/webhost/public_html/download/ZEPInstaller_v12_2.msi"
sql "UPDATE webhost.file_rname SET rname = 'ZEPInstaller_v12.msi' WHERE code = '3'" > /dev/null
say "14:00 the CS backup check to 92 (today's zip in $demo/csbackup/csdb_backup/$day);"
echo "   then a new upload (ZEPInstaller_v12_2.msi) and \"/_2rm\" twice: the second one is told to wait"
run "13:59:05" 'waitlogin
wait 2 CS DB
92 /_2rm
92 /_2rm
wait 1 Start
wait 1 진행중
wait 2 _2제거
quit
' 1
sql "SELECT 'cate3' AS tbl, idx, DemoDownFile FROM webhost.cate3 WHERE idx = 52 UNION ALL
     SELECT 'cate3_info', idx, DemoDownFile FROM webhost.cate3_info WHERE idx = 65"

# The release key, made for this run (minisign -G -W: no password), which the bot trusts through
# deployment.ini; and a key of somebody else's.
minisign -G -W -f -p "$demo/release.pub" -s "$demo/release.key" > /dev/null
minisign -G -W -f -p "$demo/forger.pub" -s "$demo/forger.key" > /dev/null
release_key=$(sed -n 2p "$demo/release.pub")
# Signs update-server file $2 with key $1 as "<file> <version>", the version from the _lastver.txt given as $3.
sign() {
  local name=${2##*/}
  minisign -S -s "$1" -m "$2" -t "$name $(tr -d ' \t\r\n' < "$3")" > /dev/null
}

# First a forged update: a checker that is a script, a newer "build" that is the same script, both signed
# with the forger's key. The bot refuses them before anything of them runs.
updates="$demo/http/www/download/자동업데이트_v1"
mkdir -p "$updates"
printf '#!/bin/sh\ntouch "%s/forged-code-ran"\n' "$demo" | tee "$updates/VerProbeV1.exe" "$updates/swapfiles.exe" \
  "$updates/ClientZEP_job" > /dev/null
echo 999 > "$updates/VerProbeV1_lastver.txt"
echo 999 > "$updates/ClientZEP_job_lastver.txt"
for f in VerProbeV1.exe swapfiles.exe; do sign "$demo/forger.key" "$updates/$f" "$updates/VerProbeV1_lastver.txt"; done
sign "$demo/forger.key" "$updates/ClientZEP_job" "$updates/ClientZEP_job_lastver.txt"
say "15:20 \"/selfupdate\" against a forged update server (a checker script and a build, signed by another key)"
run "15:20:00" 'waitconnect
waitlogin
wait 10
17 /selfupdate
wait 1 Auto Update Start
wait 1 이미 최신버전이거나
quit
' 1
[[ -e "$demo/forged-code-ran" ]] && { echo "demo: the forged checker ran" >&2; exit 1; }
echo "the forged programs did not run; program folder: $(ls "$program" | tr '\n' ' ')"
grep -a 'self-update' "$program/ErrorLog.txt" | iconv -f CP949 -t UTF-8 | sed 's/^/  ErrorLog.txt: /'

# The real update server: the newer bot with its revision, and the update programs with their build number,
# each signed with the release key. The program folder has no update programs yet, so the bot fetches them
# first.
rm -f "$updates"/*
cp "$build/bin/VerProbeV1.exe" "$build/bin/swapfiles.exe" "$updates/"
sed -n 's/^ZEPJOB_UPDATE_TOOLS_BUILD:[A-Z]*=//p' "$build/CMakeCache.txt" > "$updates/VerProbeV1_lastver.txt"
cp "$newer_bot" "$updates/ClientZEP_job"
"$newer_bot" --version | sed 's/.*\.//' > "$updates/ClientZEP_job_lastver.txt"
for f in VerProbeV1.exe swapfiles.exe; do sign "$demo/release.key" "$updates/$f" "$updates/VerProbeV1_lastver.txt"; done
sign "$demo/release.key" "$updates/ClientZEP_job" "$updates/ClientZEP_job_lastver.txt"
echo "update server: $(ls "$updates" | tr '\n' ' ')"
echo "$(sed -n 3p "$updates/ClientZEP_job.minisig") (ClientZEP_job.minisig)"
say "15:30 \"/selfupdate\": the update server offers revision $(cat "$updates/ClientZEP_job_lastver.txt") (update programs: build $(cat "$updates/VerProbeV1_lastver.txt")), signed"
echo "program folder: $(ls "$program" | tr '\n' ' ')"
run "15:30:00" 'waitconnect
waitlogin
wait 10
17 /selfupdate
wait 1 Auto Update Start
waitconnect
waitlogin
wait 10 3.4.302
17 /ver
wait 1 3.4.302
quit
' 1
echo "program folder: $(ls "$program" | tr '\n' ' ')"
echo "$program/ClientZEP_job --version: $("$program/ClientZEP_job" --version)"

say "the day's error log (ErrorLog.txt)"
if [[ -s "$program/ErrorLog.txt" ]]; then iconv -f CP949 -t UTF-8 "$program/ErrorLog.txt"; else echo "(empty)"; fi
