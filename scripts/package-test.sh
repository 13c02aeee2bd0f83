#!/usr/bin/env bash
# The packages proven in a booted Debian 12: builds both .deb files and runs lintian; makes a fresh root with
# mmdebstrap from this machine's apt sources (the bot's Depends resolved there by apt); boots it with
# systemd-nspawn on a private network (systemd never boots on this machine itself: its clean-up would empty
# the host's /tmp and it would start the host's services); and inside, with messenger-sim and the update
# server on the container's loopback: the install with apt, the service enabled and active, the log-in with
# the accounts of deployment.ini, the journal's priorities and fields, a restart, a SIGKILL, a hung bot and
# the watchdog, "/selfupdate" to the next revision, a scheduled report under a shifted clock, an upgrade over
# links the service planted in its folder that keeps the edited configuration, /usr/sbin/ClientZEP_job as
# root acting as the service, and remove and purge leaving no file behind. Then the unit's security score
# against 2.0.
#
#   scripts/package-test.sh [build-folder]     (default build/package, configured here when missing)
#
# Everything lives in <build-folder>/package-test and is removed at the end; nothing is cached between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=${1:-build/package}
# A fresh clone has no build folder yet: the default one is configured here (the targets are built below).
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  if [[ -n "${1:-}" ]]; then
    echo "package-test: $build is not a configured build folder (cmake --preset package first)" >&2
    exit 1
  fi
  cmake --preset package >/dev/null
fi
build=$(realpath "$build")
work=$build/package-test
root=$work/root
share=$work/share
started=$(date +%s)

say() { printf '== [%3d s] %s\n' $(($(date +%s) - started)) "$*"; }
fail() {
  printf 'package-test: FAILED: %s\n' "$*" >&2
  exit 1
}

# The container's systemd, once it runs; the container stops on exit whatever happened.
nspawn_pid=
leader=
cleanup() {
  local status=$?
  { exec 7>&-; } 2>/dev/null || true
  if ((status != 0)) && [[ -n "$leader" ]] && kill -0 "$leader" 2>/dev/null; then
    inside journalctl -u clientzep-job.service --no-pager -b -o short-precise >"$work/journal.txt" 2>&1 || true
  fi
  local stopping=$(date +%s)
  if [[ -n "$leader" ]] && kill -0 "$leader" 2>/dev/null; then
    inside systemctl poweroff --no-block >/dev/null 2>&1 || kill -RTMIN+4 "$leader" 2>/dev/null || true
  fi
  if [[ -n "$nspawn_pid" ]]; then
    for _ in $(seq 100); do
      kill -0 "$nspawn_pid" 2>/dev/null || break
      sleep 0.2
    done
    kill -9 "$nspawn_pid" 2>/dev/null || true
    wait "$nspawn_pid" 2>/dev/null || true
  fi
  if ((status != 0)) && [[ -d "$root/srv/pkgtest" ]]; then
    echo "--- messenger-sim (last lines)" >&2
    tail -n 30 "$root/srv/pkgtest/sim.log" >&2 || true
    echo "--- journal of the unit (last lines)" >&2
    tail -n "${PACKAGE_TEST_JOURNAL_LINES:-40}" "$work/journal.txt" >&2 2>/dev/null || true
  fi
  local stopped=$(date +%s)
  rm -rf "$work"
  [[ -n "$nspawn_pid" ]] &&
    echo "container stopped in $((stopped - stopping)) s, removed in $(($(date +%s) - stopped)) s; $(($(date +%s) - started)) s in all"
  exit "$status"
}
trap cleanup EXIT

# A command in the booted container: its namespaces and root, a clean environment.
inside() {
  nsenter -t "$leader" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}

# Waits up to $1 seconds for the command after it to succeed.
until_true() {
  local seconds=$1
  shift
  local deadline=$(($(date +%s) + seconds))
  until "$@"; do
    (($(date +%s) < deadline)) || return 1
    sleep 0.2
  done
}

sim_log=
sim_count() { grep -c -- "$1" "$sim_log" || true; }
# Waits until messenger-sim's log has more than $2 lines holding $1.
sim_more_than() { (($(sim_count "$1") > $2)); }
sim_say() { printf '%s\n' "$1" >&7; }

# The unit's journal of this boot, messages only; grep reads it whole (a pipe into grep -q would fail the
# pipeline when grep stops early).
unit_journal() { inside journalctl -u clientzep-job.service --no-pager -o cat -b "$@"; }
journal_has() {
  local pattern=$1
  shift
  grep -q -- "$pattern" <<<"$(unit_journal "$@")"
}

main_pid() { inside systemctl show -P MainPID clientzep-job.service; }
# A command in the container with the service user's rights.
as_service() { inside setpriv --reuid=clientzep-job --regid=clientzep-job --clear-groups -- "$@"; }
restarts() { inside systemctl show -P NRestarts clientzep-job.service; }
is_active() { [[ "$(inside systemctl is-active clientzep-job.service)" == active ]]; }

for tool in mmdebstrap systemd-nspawn nsenter lintian cpack dpkg-deb; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done
[[ $(id -u) -eq 0 ]] || fail "needs root (mmdebstrap and systemd-nspawn)"

rm -rf "$work"
mkdir -p "$work" "$share"

# ---- 1. the packages and lintian ----
say "packages"
cmake --build "$build" -j2 --target ClientZEP_job ClientZEP_job_gui VerProbeV1 swapfiles ClientZEP_job_next \
  messenger-sim package_docs >/dev/null
(cd "$build" && cpack -G DEB -B "$work/debs" >"$work/cpack.log") || {
  cat "$work/cpack.log"
  fail "cpack"
}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
bot_deb=$work/debs/clientzep-job_${version}_amd64.deb
gui_deb=$work/debs/clientzep-job-gui_${version}_amd64.deb
[[ -f "$bot_deb" && -f "$gui_deb" ]] || fail "cpack made no $bot_deb and $gui_deb"
lintian --fail-on error "$bot_deb" "$gui_deb" 2>&1 | grep -v '^running with root' | sed 's/^/lintian: /' || true
lintian --fail-on error "$bot_deb" "$gui_deb" >/dev/null 2>&1 || fail "lintian reports errors"
depends=$(dpkg-deb -f "$bot_deb" Depends)
echo "clientzep-job Depends: $depends"
if grep -Eq 'widgets|qt6gui|x11|xcb' <<<"$depends"; then
  fail "the bot's package depends on window libraries"
fi

# The newer package of the upgrade: the same files with the next revision's program (the tests' newer build).
revision=${version##*.}
next_version=${version%.*}.$((revision + 1))
next_deb=$work/debs/clientzep-job_${next_version}_amd64.deb
next_bin=$(find "$build/tests/e2e" -maxdepth 1 -name ClientZEP_job_next -type f)
mkdir "$work/next"
dpkg-deb -R "$bot_deb" "$work/next/tree"
strip --strip-unneeded -o "$work/next/tree/usr/lib/clientzep-job/ClientZEP_job" "$next_bin"
sed -i "s/^Version: .*/Version: $next_version/" "$work/next/tree/DEBIAN/control"
(cd "$work/next/tree" && find . -path ./DEBIAN -prune -o -type f -print | sed 's|^\./||' | sort |
  xargs md5sum >DEBIAN/md5sums)
dpkg-deb --root-owner-group -b "$work/next/tree" "$next_deb" >/dev/null

# ---- 2. a fresh Debian 12 root ----
say "mmdebstrap (Debian 12 from this machine's apt sources)"
sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [[ -s "$f" ]] && sources+=("$f")
done
((${#sources[@]})) || fail "no apt sources on this machine"
cp "$bot_deb" "$work/depends.deb"
# systemd to boot; python3 for the update server; faketime for the shifted clock. The bot's Depends come from
# its own control file through apt, without the package itself, so that its install in the booted system is
# the real one (maintainer scripts under a running systemd).
TMPDIR=$work mmdebstrap --quiet --variant=apt --include=systemd,systemd-sysv,python3,faketime \
  --customize-hook="copy-in $work/depends.deb /tmp" \
  --customize-hook='chroot "$1" sh -c "apt-get satisfy -q -y --no-install-recommends \"\$(dpkg-deb -f /tmp/depends.deb Depends)\" >/dev/null && rm /tmp/depends.deb"' \
  --customize-hook='echo clientzep-test >"$1/etc/hostname"' \
  bookworm "$root" "${sources[@]}" || fail "mmdebstrap"

# What the test brings: the packages, messenger-sim with its user table, the HTTP server of the tests.
cp "$bot_deb" "$gui_deb" "$next_deb" "$share/"
cp "$build/tools/messenger-sim/messenger-sim" "$repo/tools/messenger-sim/users.tsv" "$share/"
cp "$repo/tests/integration/http/server.py" "$share/http-server.py"
mkdir -p "$root/srv/pkgtest"
sim_log=$root/srv/pkgtest/sim.log

# ---- 3. boot ----
say "booting the container (systemd-nspawn --private-network -b)"
# No machined on a host that does not run systemd: no registration, no scope of its own; commands go in with
# nsenter into the namespaces of the container's PID 1.
systemd-nspawn --quiet -D "$root" --private-network -b --register=no --keep-unit --machine=clientzep-test \
  --bind-ro="$share:/mnt/pkgtest" --console=passive >"$work/boot.log" 2>&1 &
nspawn_pid=$!
find_leader() {
  leader=$(pgrep -P "$nspawn_pid" -x systemd || true)
  [[ -n "$leader" ]]
}
until_true 30 find_leader || fail "the container's systemd did not start"
booted() { [[ "$(inside systemctl is-system-running 2>/dev/null)" =~ ^(running|degraded)$ ]]; }
until_true 60 booted || fail "the container did not boot: $(inside systemctl is-system-running 2>&1)"
echo "container up: PID 1 of the container is $leader on this machine"

# The peers, on the container's loopback: the messenger (its commands through a pipe held open here) and the
# update server with revision $((revision + 1)).
mkfifo "$root/srv/pkgtest/sim.in"
# Both run as services of the container's own systemd, so its power-off ends them.
inside systemd-run --quiet --unit=pkgtest-sim -p StandardInput=file:/srv/pkgtest/sim.in \
  -p StandardOutput=file:/srv/pkgtest/sim.log \
  /mnt/pkgtest/messenger-sim --port 10015 --users /mnt/pkgtest/users.tsv --login-id pkgtest-bot \
  --password "pk#9;x" --quiet-keepalive
exec 7>"$root/srv/pkgtest/sim.in"
updates=$root/srv/pkgtest/http/www/download/자동업데이트_v1
mkdir -p "$updates"
cp "$next_bin" "$updates/ClientZEP_job"
echo $((revision + 1)) >"$updates/ClientZEP_job_lastver.txt"
# The release key of this run; the build is signed only when the test says so.
minisign -G -W -f -p "$work/release.pub" -s "$work/release.key" >/dev/null
release_key=$(sed -n 2p "$work/release.pub")
# The update programs a build newer than the packaged ones, so that "/selfupdate" fetches them with their
# signatures and, under the unit, runs them from their verified copies in memory.
tools_build=$(sed -n 's/^ZEPJOB_UPDATE_TOOLS_BUILD:[A-Z]*=//p' "$build/CMakeCache.txt")
echo $((tools_build + 1)) >"$updates/VerProbeV1_lastver.txt"
cp "$build/bin/VerProbeV1.exe" "$build/bin/swapfiles.exe" "$updates/"
for program in VerProbeV1.exe swapfiles.exe; do
  minisign -S -s "$work/release.key" -m "$updates/$program" -t "$program $((tools_build + 1))" >/dev/null
done
inside systemd-run --quiet --unit=pkgtest-http /usr/bin/python3 /mnt/pkgtest/http-server.py /srv/pkgtest/http
until_true 20 test -s "$root/srv/pkgtest/http/port" || fail "the update server did not start"
http_port=$(cat "$root/srv/pkgtest/http/port")
until_true 20 grep -q 'SIM listening' "$sim_log" || fail "messenger-sim did not start"

inside find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp -o -path /var/tmp \
  -o -path /var/log -o -path /var/cache -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /srv/pkgtest \
  -o -path /var/lib/systemd/timers -o -path /var/lib/systemd/random-seed \
  -o -path /var/lib/systemd/deb-systemd-user-helper-enabled \) -prune -o -print | sort >"$work/files-before"

# ---- 4. install ----
say "apt install clientzep-job $version"
inside apt-get install -q -y --no-install-recommends "/mnt/pkgtest/$(basename "$bot_deb")" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt could not install the package"; }
[[ "$(inside systemctl is-enabled clientzep-job.service)" == enabled ]] || fail "the service is not enabled"
until_true 30 is_active || fail "the service is not active"
if grep -q installed <<<"$(inside dpkg-query -W -f='${Status}\n' libqt6widgets6 2>/dev/null || true)"; then
  fail "the headless package brought the Widgets library"
fi
inside sh -c 'stat -c "%U:%G %a %n" /var/lib/clientzep-job /var/lib/clientzep-job/ClientZEP_job \
  /etc/clientzep-job/deployment.ini'
[[ "$(inside stat -c %U:%G:%a /etc/clientzep-job/deployment.ini)" == root:clientzep-job:640 ]] ||
  fail "deployment.ini is not readable by root and the service alone"
[[ "$(grep -c 'nobody may start jobs from a chat yet: set CommandUsers' "$work/apt.log")" == 1 ]] ||
  { cat "$work/apt.log"; fail "postinst did not say once what to set"; }
# The shipped accounts are not those of this messenger: refused, which the journal has as an error.
until_true 30 sim_more_than 'SIM login refused' 0 || fail "the bot did not try to log in"

# The site's values: the accounts of this messenger, the update server; a watchdog short enough to see it
# work, left in a drop-in of the test's own.
say "configuration: accounts and servers in deployment.ini, systemctl restart"
inside sh -c "cat >>/etc/clientzep-job/deployment.ini" <<EOF
DirectoryServer=127.0.0.1:$http_port
AddrAutoUpdate=127.0.0.1:$http_port
LoginId=pkgtest-bot
LoginPassword=pk#9;x
UpdatePublicKey=$release_key
EOF
inside mkdir -p /etc/systemd/system/clientzep-job.service.d
printf '[Service]\nWatchdogSec=6s\nRestartSec=1s\n' >"$root/etc/systemd/system/clientzep-job.service.d/test.conf"
inside systemctl daemon-reload
pid_before=$(main_pid)
t0=$(date +%s.%N)
inside systemctl restart clientzep-job.service
t1=$(date +%s.%N)
[[ "$(main_pid)" != "$pid_before" ]] || fail "systemctl restart kept the old process"
until_true 30 sim_more_than 'SIM login accepted' 0 || fail "the bot did not log in with the accounts of deployment.ini"
echo "restart took $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }') s; logged in as pkgtest-bot"
logged_status() { grep -q '^logged in as pkgtest-bot' <<<"$(inside systemctl show -P StatusText clientzep-job.service)"; }
until_true 10 logged_status || fail "no STATUS= of the log-in: $(inside systemctl show -P StatusText clientzep-job.service)"
echo "status: $(inside systemctl show -P StatusText clientzep-job.service)"
unit_journal -p err >"$work/journal-err.txt"
grep -q '로그인 실패' "$work/journal-err.txt" || fail "the refused log-in is not in the journal as an error"
journal_has 'SIGTERM: closing the connection' ||
  fail "no state line of the SIGTERM"
if grep -q 'logged in as' "$work/journal-err.txt"; then fail "state lines shown as errors"; fi
journal_has 'logged in as' -p info ||
  fail "state lines missing from the journal"

# The package lets nobody start jobs until CommandUsers names the users; then the job runs, and its failure
# line names the account the package's build has no password for.
say "the shipped CommandUsers=none refuses /_2rm; CommandUsers=17 lets user 17"
sim_say "17 /_2rm"
until_true 20 grep -q 'BOT 01 .*이 명령을 실행할 권한이 없습니다' "$sim_log" || fail "the shipped configuration let /_2rm run"
grep -q '_2 Remove Start' "$sim_log" && fail "the shipped configuration started /_2rm"
inside sed -i 's/^CommandUsers=none$/CommandUsers=17/' /etc/clientzep-job/deployment.ini
logins=$(sim_count 'SIM login accepted')
inside systemctl restart clientzep-job.service
until_true 30 sim_more_than 'SIM login accepted' "$logins" || fail "the bot did not log in again"
sim_say "17 /_2rm"
until_true 20 grep -q 'BOT 01 .*_2 Remove Start' "$sim_log" || fail "CommandUsers=17 did not let user 17 start /_2rm"
until_true 60 grep -q 'BOT 02 .*no password: set WebHostFtpPassword in deployment.ini' "$sim_log" ||
  fail "the removal's failure line does not name the missing password"

# ---- 5. crashes ----
say "SIGKILL: Restart=on-failure"
logins=$(sim_count 'SIM login accepted')
n=$(restarts)
inside systemctl kill --kill-who=main -s KILL clientzep-job.service
until_true 30 sim_more_than 'SIM login accepted' "$logins" || fail "the bot did not come back after SIGKILL"
(($(restarts) == n + 1)) || fail "no restart counted after SIGKILL"

say "a hung bot (SIGSTOP): the watchdog"
logins=$(sim_count 'SIM login accepted')
n=$(restarts)
inside systemctl kill --kill-who=main -s STOP clientzep-job.service
until_true 30 sim_more_than 'SIM login accepted' "$logins" || fail "the watchdog did not restart a hung bot"
(($(restarts) == n + 1)) || fail "no restart counted after the watchdog"
journal_has 'Watchdog timeout' ||
  fail "no watchdog timeout in the journal"
# A bot that runs is never taken for a hung one: 3 timeouts of quiet work.
n=$(restarts)
sleep 18
(($(restarts) == n)) || fail "the watchdog restarted a bot that runs"

# ---- 6. the program folder runs nothing by itself ----
say "a program the service user writes into its folder is not run by the unit"
folder=/var/lib/clientzep-job
planted='#!/bin/sh\ntouch /var/lib/clientzep-job/planted-code-ran\n'
inside setpriv --reuid=clientzep-job --regid=clientzep-job --clear-groups sh -c \
  "cp $folder/ClientZEP_job $folder/.kept && printf '$planted' >$folder/ClientZEP_job && printf '$planted' >$folder/planted && chmod 755 $folder/ClientZEP_job $folder/planted"
logins=$(sim_count 'SIM login accepted')
inside systemctl restart clientzep-job.service
until_true 30 sim_more_than 'SIM login accepted' "$logins" || fail "the packaged build did not run"
[[ "$(inside readlink "/proc/$(main_pid)/exe")" == /usr/lib/clientzep-job/ClientZEP_job ]] ||
  fail "the unit does not run the packaged program"
journal_has "the build in $folder/ClientZEP_job does not run: it has no signature" ||
  fail "the journal does not say why the folder's build did not run"
# In the unit's own view of the file system the folder is noexec: the kernel refuses to run the file.
planted_run=$(inside nsenter -t "$(main_pid)" -m -- setpriv --reuid=clientzep-job --regid=clientzep-job \
  --clear-groups "$folder/planted" 2>&1) && fail "the unit's view of the program folder lets a planted program run"
grep -q 'Permission denied' <<<"$planted_run" || fail "the planted program failed otherwise: $planted_run"
inside test -e "$folder/planted-code-ran" && fail "planted code ran"
inside setpriv --reuid=clientzep-job --regid=clientzep-job --clear-groups sh -c "mv $folder/.kept $folder/ClientZEP_job && rm $folder/planted"
echo "the planted program did not run; the unit runs $(inside readlink "/proc/$(main_pid)/exe")"

# ---- 7. the self-update ----
say "/selfupdate with an unsigned build: refused, the running build stays"
pid_before=$(main_pid)
notices=$(sim_count '이미 최신버전이거나')
sim_say "17 /selfupdate"
until_true 60 sim_more_than '이미 최신버전이거나' "$notices" || fail "no notice after an unsigned update"
# The signed update programs came first and ran from their verified copies: the checker's line names it.
journal_has "^VerProbeV1.exe: ClientZEP_job $((revision + 1)) refused: its signature ClientZEP_job.minisig: HTTP 404" ||
  fail "the journal does not say why the unsigned build was refused"
inside test -s /var/lib/clientzep-job/VerProbeV1.exe.minisig || fail "the signed update programs were not fetched"
[[ "$(main_pid)" == "$pid_before" ]] || fail "the bot did not keep running after an unsigned update"
[[ "$(inside /var/lib/clientzep-job/ClientZEP_job --version)" == "ClientZEP_job $version" ]] ||
  fail "an unsigned build reached the program folder"

say "/selfupdate to revision $((revision + 1)), signed"
minisign -S -s "$work/release.key" -m "$updates/ClientZEP_job" -t "ClientZEP_job $((revision + 1))" >/dev/null
logins=$(sim_count 'SIM login accepted')
sim_say "17 /selfupdate"
until_true 60 sim_more_than 'SIM login accepted' "$logins" || fail "the new build did not log in"
sim_say "17 /ver"
until_true 20 grep -q "BOT 01 .*ZEP-JobServer Ver $next_version" "$sim_log" || fail "/ver does not answer $next_version"
[[ "$(inside /var/lib/clientzep-job/ClientZEP_job --version)" == "ClientZEP_job $next_version" ]] ||
  fail "the program folder does not hold the new build"
[[ "$(inside readlink "/proc/$(main_pid)/exe")" == "/memfd:ClientZEP_job (deleted)" ]] ||
  fail "the service does not run the verified copy of the program folder's build: $(inside readlink "/proc/$(main_pid)/exe")"
journal_has 'status=75/TEMPFAIL' ||
  fail "the hand-over did not end with status 75"
echo "running as the service: $(inside /var/lib/clientzep-job/ClientZEP_job --version)"

# ---- 7b. root and the gate ----
# The folder now holds a signed newer build: root runs the packaged one all the same.
say "root's command beside a signed newer build; a re-pointed deployment.ini link; a FIFO signature"
[[ "$(inside timeout 20 /usr/sbin/ClientZEP_job --version)" == "ClientZEP_job $version" ]] ||
  fail "root ran the program folder's signed newer build"
# The service re-points its deployment.ini link at a file of root's that names an older key, which signed the
# same build: the gate still trusts only /etc's key.
minisign -G -W -f -p "$work/old.pub" -s "$work/old.key" >/dev/null
cp "$updates/ClientZEP_job" "$work/old-signed"
minisign -S -s "$work/old.key" -m "$work/old-signed" -t "ClientZEP_job $((revision + 1))" >/dev/null
cp "$work/old-signed.minisig" "$root/srv/pkgtest/old.minisig"
chmod 644 "$root/srv/pkgtest/old.minisig"
inside sh -c "printf '[Deployment]\nUpdatePublicKey=%s\n' '$(sed -n 2p "$work/old.pub")' >/etc/clientzep-job/deployment.ini.dpkg-old"
as_service sh -c "mv $folder/ClientZEP_job.minisig $folder/.kept.minisig && cp /srv/pkgtest/old.minisig $folder/ClientZEP_job.minisig &&
  ln -sfn /etc/clientzep-job/deployment.ini.dpkg-old $folder/deployment.ini"
inside timeout 60 systemctl restart clientzep-job.service || fail "the restart did not end"
[[ "$(inside readlink "/proc/$(main_pid)/exe")" == /usr/lib/clientzep-job/ClientZEP_job ]] ||
  fail "a key the folder's link chose let the gate run $(inside readlink "/proc/$(main_pid)/exe")"
journal_has "the build in $folder/ClientZEP_job does not run: signed by another key" ||
  fail "the journal does not say why the build signed by the older key did not run"
# A FIFO in the signature's place: nothing waits on it.
as_service sh -c "rm $folder/ClientZEP_job.minisig && mkfifo $folder/ClientZEP_job.minisig"
[[ "$(inside timeout 20 setpriv --reuid=clientzep-job --regid=clientzep-job --clear-groups env \
  ZEPJOB_PROGRAM_FOLDER=$folder /usr/lib/clientzep-job/ClientZEP_job --version 2>/dev/null)" == "ClientZEP_job $version" ]] ||
  fail "the gate hung on a FIFO signature, or ran the build without its signature"
[[ "$(inside timeout 20 /usr/sbin/ClientZEP_job --version)" == "ClientZEP_job $version" ]] ||
  fail "root's command hung on a FIFO signature"
inside timeout 60 systemctl restart clientzep-job.service || fail "the service's start hung on a FIFO signature"
is_active || fail "the service did not start beside a FIFO signature"
inside rm /etc/clientzep-job/deployment.ini.dpkg-old
as_service sh -c "rm $folder/ClientZEP_job.minisig && mv $folder/.kept.minisig $folder/ClientZEP_job.minisig &&
  ln -sfn /etc/clientzep-job/deployment.ini $folder/deployment.ini"
echo "root ran $version; the re-pointed link and the FIFO changed nothing and held nothing"

# "/webupdate" runs 인증코드갱신툴.exe under the unit only when the release key signed it.
say "/webupdate: an unsigned 인증코드갱신툴.exe is refused, a signed one runs under the unit"
tool=인증코드갱신툴.exe
printf '#!/bin/sh\ntouch webupdate-ran\n' >"$work/$tool"
minisign -S -s "$work/release.key" -m "$work/$tool" -t "$tool 1" >/dev/null
cp "$work/$tool" "$work/$tool.minisig" "$root/srv/pkgtest/"
chmod 644 "$root/srv/pkgtest/$tool" "$root/srv/pkgtest/$tool.minisig"
logins=$(sim_count 'SIM login accepted')
inside systemctl restart clientzep-job.service
until_true 30 sim_more_than 'SIM login accepted' "$logins" || fail "the bot did not log in again"
as_service sh -c "cp /srv/pkgtest/$tool $folder/$tool && chmod 755 $folder/$tool"
sim_say "17 /webupdate"
until_true 20 grep -q "BOT 01 .*$tool does not run: it has no signature" "$sim_log" ||
  fail "the requester did not hear why the unsigned tool was refused"
inside test -e "$folder/webupdate-ran" && fail "the unsigned tool ran"
as_service cp "/srv/pkgtest/$tool.minisig" "$folder/$tool.minisig"
sim_say "17 /webupdate"
until_true 20 inside test -e "$folder/webupdate-ran" || fail "the signed tool did not run under the unit"
as_service rm -f "$folder/$tool" "$folder/$tool.minisig" "$folder/webupdate-ran"

# ---- 8. a scheduled report under a shifted clock ----
say "the 14:00 CS backup check under a shifted clock (libfaketime, 10 times faster)"
today=2026-12-09
inside mkdir -p "/srv/csbackup/csdb_backup/$today"
inside sh -c "echo backup >/srv/csbackup/csdb_backup/$today/csdb_${today//-/}_1300.zip"
inside sed -i 's|^CSBackupPath=.*|CSBackupPath=/srv/csbackup|' /etc/clientzep-job/setup.ini
faketime_lib=$(inside sh -c 'ls /usr/lib/*/faketime/libfaketimeMT.so.1')
printf '[Service]\nEnvironment=LD_PRELOAD=%s "FAKETIME=@%s 13:59:20 x10"\n' "$faketime_lib" "$today" \
  >"$root/etc/systemd/system/clientzep-job.service.d/clock.conf"
inside systemctl daemon-reload
inside systemctl restart clientzep-job.service
until_true 60 grep -q 'BOT 02 .*92.*CS DB' "$sim_log" || fail "no CS backup report to 92"
until_true 10 journal_has 'report sent to 92' ZEPJOB_RECIPIENT=92 ||
  fail "the report's journal line has no recipient field"
rm "$root/etc/systemd/system/clientzep-job.service.d/clock.conf"
inside systemctl daemon-reload

# ---- 9. upgrade ----
# The service plants links in its folder where the maintainer scripts work: a link to a folder of root's
# (root's own copy would land in it), links to a file of root's, and a folder in a name's place.
planted=/etc/pkgtest-planted
inside mkdir "$planted"
inside sh -c "echo root\'s >$planted/target"
folder=/var/lib/clientzep-job
as_service ln -s "$planted" "$folder/.ClientZEP_job.dpkg-new"
as_service ln -s "$planted/target" "$folder/.VerProbeV1.exe.dpkg-new"
as_service ln -sfn "$planted/target" "$folder/swapfiles.exe"
as_service ln -s "$planted/target" "$folder/New_ClientZEP_job"
as_service mkdir "$folder/.swapfiles.exe.dpkg-new"
say "apt upgrade to the package $next_version, over links the service planted in its folder"
logins=$(sim_count 'SIM login accepted')
inside apt-get install -q -y "/mnt/pkgtest/$(basename "$next_deb")" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "the upgrade failed"; }
inside grep -q '^LoginId=pkgtest-bot' /etc/clientzep-job/deployment.ini || fail "the upgrade lost the edited deployment.ini"
inside grep -q '^CSBackupPath=/srv/csbackup' /etc/clientzep-job/setup.ini || fail "the upgrade lost the edited setup.ini"
until_true 30 sim_more_than 'SIM login accepted' "$logins" || fail "the upgraded bot did not log in"
[[ "$(inside /var/lib/clientzep-job/ClientZEP_job --version)" == "ClientZEP_job $next_version" ]] ||
  fail "the upgrade did not install its build"
[[ "$(inside stat -c %U:%G:%a /etc/clientzep-job/deployment.ini)" == root:clientzep-job:640 ]] ||
  fail "the upgrade changed the rights of deployment.ini"
[[ "$(inside ls -A "$planted")" == target && "$(inside cat "$planted/target")" == "root's" ]] ||
  fail "the upgrade wrote through a link the service planted: $(inside ls -lA "$planted")"
for program in ClientZEP_job VerProbeV1.exe swapfiles.exe; do
  [[ "$(inside stat -c %F:%U "$folder/$program")" == "regular file:clientzep-job" ]] ||
    fail "the upgrade left no copy of $program of the service's own"
done
inside rm -r "$planted"
echo "the planted links lead nowhere: $planted holds its one file as before"

# ---- 9b. the administrator's command as root ----
say "/usr/sbin/ClientZEP_job as root"
# What the service puts in its folder, root never runs: its own "program" would leave a mark.
as_service sh -c "printf '#!/bin/sh\ntouch $folder/ran-as-root\n' >$folder/fake && chmod 755 $folder/fake &&
  mv -f $folder/fake $folder/ClientZEP_job"
[[ "$(inside /usr/sbin/ClientZEP_job --version)" == "ClientZEP_job $next_version" ]] ||
  fail "/usr/sbin/ClientZEP_job does not run the package's build"
inside /usr/sbin/ClientZEP_job --check >"$work/check.out" 2>"$work/check.err" || true
inside /usr/sbin/ClientZEP_job --run-job cs-backup >"$work/run-job.out" 2>>"$work/check.err" ||
  { cat "$work/check.err"; fail "--run-job cs-backup as root failed"; }
inside test -e "$folder/ran-as-root" && fail "root ran the program the service put in its folder"
[[ "$(grep -c "^ClientZEP_job: run as root: acting as clientzep-job, the owner of $folder\$" "$work/check.err")" == 2 ]] ||
  { cat "$work/check.err"; fail "as root, the commands did not say they act as the service"; }
grep -q '^deployment.ini: /var/lib/clientzep-job/deployment.ini$' "$work/check.out" &&
  grep -q 'who may start jobs from a chat (/_2rm, /selfupdate, /webupdate): only the user 17' "$work/check.out" &&
  grep -q 'problem: the account qz_logs_read has no password: set LogDatabasePassword in deployment.ini' "$work/check.out" ||
  { cat "$work/check.out"; fail "--check as root did not read the service's configuration"; }
[[ -z "$(inside find "$folder" -user root ! -type l)" ]] || fail "root's commands left files of root's in the folder"
sed -n 's/^/  /; 1p' "$work/check.err"

# ---- 10. the security score ----
say "systemd-analyze security"
inside systemd-analyze security --no-pager --offline=true /lib/systemd/system/clientzep-job.service >"$work/score.txt" 2>&1 || true
score=$(sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p' "$work/score.txt")
[[ -n "$score" ]] || { cat "$work/score.txt"; fail "no security score"; }
echo "exposure of the installed unit: $score (bound 2.0)"
awk -v s="$score" 'BEGIN { exit !(s <= 2.0) }' || fail "the unit's exposure $score is above 2.0"

inside journalctl -u clientzep-job.service --no-pager -b -o short-precise >"$work/journal.txt" || true

# ---- 11. remove and purge ----
say "apt remove, then purge"
rm -rf "$root/etc/systemd/system/clientzep-job.service.d"
inside apt-get remove -q -y clientzep-job >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "remove failed"; }
is_active && fail "the service still runs after remove"
inside test -e /var/lib/clientzep-job/ErrorLog.txt || fail "remove took the bot's state"
inside test -e /var/lib/clientzep-job/ClientZEP_job && fail "remove left the program"
inside test -e /etc/clientzep-job/deployment.ini || fail "remove took the configuration"
inside apt-get purge -q -y clientzep-job >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "purge failed"; }
inside find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp -o -path /var/tmp \
  -o -path /var/log -o -path /var/cache -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /srv/pkgtest \
  -o -path /var/lib/systemd/timers -o -path /var/lib/systemd/random-seed \
  -o -path /var/lib/systemd/deb-systemd-user-helper-enabled \) -prune -o -print | sort >"$work/files-after"
# Files of the test itself, not of the package.
if ! diff <(grep -v '^/srv/csbackup' "$work/files-before") <(grep -v '^/srv/csbackup' "$work/files-after") \
  >"$work/files.diff"; then
  cat "$work/files.diff"
  fail "purge left files behind (or took some)"
fi
echo "purge: the file list is as before the install"

say "package test passed in $(($(date +%s) - started)) s"
