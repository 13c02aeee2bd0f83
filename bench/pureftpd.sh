#!/usr/bin/env bash
# Debian's pure-ftpd for the backup check benchmark: `pureftpd.sh start DIR` serves the backup server's account
# (backup_checker) with its home DIR/backup on two loopback ports, one in clear (DIR/port) and one that demands
# TLS for the log-in and the listings (DIR/tlsport), with a certificate for 127.0.0.1 from a CA made here
# (DIR/ca.pem); `pureftpd.sh stop DIR` stops both and removes DIR.
#
# The package conflicts with vsftpd's, so it is never installed: scripts/setup.sh extracts its files to
# /opt/clientzep/pure-ftpd (PUREFTPD_ROOT). Like vsftpd.sh, the account lives in a mount namespace of the
# servers' own, where a passwd, shadow and group from DIR are bound over /etc's; the servers run in the
# foreground there, never as machine services. Needs root.
set -euo pipefail

action=${1:?start or stop}
dir=${2:?fixture folder}
root=${PUREFTPD_ROOT:-/opt/clientzep/pure-ftpd}
here=$(cd "$(dirname "$0")" && pwd)
python_server=$here/../tests/integration/python-server.sh

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

case "$action" in
stop)
  "$python_server" stop "$dir"
  ;;
start)
  "$python_server" stop "$dir"
  if [[ ! -x $root/usr/sbin/pure-ftpd ]]; then
    echo "fixture: no pure-ftpd in $root (scripts/setup.sh extracts it)" >&2
    exit 1
  fi
  mkdir -p "$dir/etc" "$dir/backup"
  # pure-ftpd turns away accounts below uid 100.
  cat >"$dir/etc/passwd" <<EOT
root:x:0:0:root:/root:/bin/sh
backup_checker:x:1000:1000:backup server:$dir/backup:/bin/sh
EOT
  printf 'root:x:0:\nbackup:x:1000:\n' >"$dir/etc/group"
  (
    umask 077
    printf 'backup_checker:%s:19000:0:99999:7:::\n' "$(openssl passwd -6 'Rtm_e457.')"
  ) >"$dir/etc/shadow"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$dir/ca.key" \
    -out "$dir/ca.pem" -days 30 -subj "/O=ZEP test/CN=pure-ftpd test CA" 2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$dir/server.key" \
    -out "$dir/server.csr" -subj "/O=ZEP test/CN=127.0.0.1" 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' >"$dir/server.ext"
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial -days 30 \
    -extfile "$dir/server.ext" -out "$dir/server.crt" 2>/dev/null
  # pure-ftpd reads its key and certificate from one file.
  (umask 077 && cat "$dir/server.key" "$dir/server.crt" >"$dir/server.pem")
  port=$(free_port)
  tls=$(free_port)

  # A process group of its own, so that stop ends every session process with the listeners. Options: chroot
  # every account, no anonymous log-in, no reverse look-ups; TLS level 0 (none) or 3 (log-in and data).
  setsid unshare --mount --propagation private -- /bin/bash -c '
    set -e
    for f in passwd shadow group; do mount --bind "$1/etc/$f" "/etc/$f"; done
    "$2/usr/sbin/pure-ftpd" -S "127.0.0.1,$3" -l unix -A -E -H -Y 0 &
    "$2/usr/sbin/pure-ftpd" -S "127.0.0.1,$4" -l unix -A -E -H -Y 3 -2 "$1/server.pem" &
    wait' pure-ftpd "$dir" "$root" "$port" "$tls" </dev/null >"$dir/server.log" 2>&1 &
  echo $! >"$dir/server.pid"
  for _ in $(seq 200); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && (exec 3<>"/dev/tcp/127.0.0.1/$tls") 2>/dev/null; then
      echo "$tls" >"$dir/tlsport"
      echo "$port" >"$dir/port"
      echo "fixture: pure-ftpd on 127.0.0.1:$port (TLS on $tls) in $dir"
      exit 0
    fi
    kill -0 "$(cat "$dir/server.pid")" 2>/dev/null || break
    sleep 0.05
  done
  echo "fixture: pure-ftpd did not start" >&2
  cat "$dir/server.log" >&2
  exit 1
  ;;
*)
  echo "usage: pureftpd.sh start DIR | stop DIR" >&2
  exit 2
  ;;
esac
