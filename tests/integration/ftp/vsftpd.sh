#!/usr/bin/env bash
# A throw-away vsftpd (Debian's) for the tests, beside the pyftpdlib server: `vsftpd.sh start DIR` serves the
# accounts and folders of the web host and the backup server under DIR on a free loopback port (DIR/port), and
# on a second port a listener that lets one session in per address (DIR/busyport), and on a third one that
# demands explicit TLS for the log-in and the listings (DIR/tlsport), with a certificate for 127.0.0.1 from a
# CA made here (DIR/ca.pem); `vsftpd.sh stop DIR` stops them and removes DIR.
#
# vsftpd logs in system accounts through PAM only. The two accounts exist inside a mount namespace of the
# server's own, where a passwd, shadow, group and PAM configuration from DIR are bound over /etc's, so the
# machine's files are never touched. Both accounts have uid 0 there, as the tests (which may run as root)
# create the files the server renames: a rename is refused by `deny_file` (names containing "refuse"), as the
# pyftpdlib server refuses them. Needs root: in a user namespace of an ordinary user vsftpd's setgroups() is
# refused, so it could not log anyone in.
#
# Names go to and from the disk byte for byte, so the tests decide the encoding of the names they create.
# Every command and reply is logged in DIR/vsftpd.log, where the tests read the data connections' modes.
set -euo pipefail

action=${1:?start or stop}
dir=${2:?fixture folder}

here=$(cd "$(dirname "$0")" && pwd)
stop() {
  "$here/../python-server.sh" stop "$dir"
}

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The configuration of one listener on port $1, with the lines that follow as extra settings.
config() {
  cat <<EOF
listen=YES
listen_ipv6=NO
background=NO
listen_address=127.0.0.1
listen_port=$1
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
chroot_local_user=YES
allow_writeable_chroot=YES
secure_chroot_dir=$dir/empty
pam_service_name=zepjob-ftp
nopriv_user=ftpnopriv
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
connect_from_port_20=NO
pasv_enable=YES
port_enable=YES
utf8_filesystem=YES
deny_file={*refuse*}
syslog_enable=NO
xferlog_enable=YES
xferlog_std_format=NO
log_ftp_protocol=YES
vsftpd_log_file=$dir/vsftpd.log
EOF
  shift
  printf '%s\n' "$@"
}

case "$action" in
stop)
  stop
  ;;
start)
  stop
  if [[ $(id -u) -ne 0 ]]; then
    echo "fixture: vsftpd needs root (its log-ins go through PAM in a mount namespace of its own)" >&2
    exit 1
  fi
  mkdir -p "$dir/etc/pam.d" "$dir/empty"
  for folder in webhost/public_html/download/versions backup/csdb_backup/servers backup/pvdb_backup/servers \
    backup/csdb_backup_new/daily backup/pvdb_backup_new/daily; do
    mkdir -p "$dir/$folder"
  done
  cat >"$dir/etc/passwd" <<EOF
root:x:0:0:root:/root:/bin/sh
qzc1:x:0:0:web host:$dir/webhost:/bin/sh
backup_checker:x:0:0:backup server:$dir/backup:/bin/sh
ftpnopriv:x:0:0:vsftpd before log-in:$dir/empty:/usr/sbin/nologin
EOF
  printf 'root:x:0:\n' >"$dir/etc/group"
  (
    umask 077
    printf 'qzc1:%s:19000:0:99999:7:::\n' "$(openssl passwd -6 'qrw4#KLBcvx2')"
    printf 'backup_checker:%s:19000:0:99999:7:::\n' "$(openssl passwd -6 'Rtm_e457.')"
  ) >"$dir/etc/shadow"
  chmod 600 "$dir/etc/shadow"
  printf 'auth required pam_unix.so\naccount required pam_unix.so\nsession required pam_permit.so\n' \
    >"$dir/etc/pam.d/zepjob-ftp"
  port=$(free_port)
  busy=$(free_port)
  tls=$(free_port)
  # Valid from a month back, for the tests that run the bot on a faked date of some days ago.
  faketime -f -30d openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$dir/ca.key" \
    -out "$dir/ca.pem" -days 90 -subj "/O=ZEP test/CN=vsftpd test CA" 2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$dir/server.key" \
    -out "$dir/server.csr" -subj "/O=ZEP test/CN=127.0.0.1" 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' >"$dir/server.ext"
  faketime -f -30d openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial -days 90 \
    -extfile "$dir/server.ext" -out "$dir/server.pem" 2>/dev/null
  config "$port" >"$dir/vsftpd.conf"
  config "$busy" max_per_ip=1 >"$dir/busy.conf"
  # Debian's default cipher list is one OpenSSL 3 no longer offers; the data connections need not resume
  # the control connection's TLS session.
  config "$tls" ssl_enable=YES force_local_logins_ssl=YES force_local_data_ssl=YES ssl_ciphers=HIGH \
    require_ssl_reuse=NO "rsa_cert_file=$dir/server.pem" "rsa_private_key_file=$dir/server.key" >"$dir/tls.conf"
  : >"$dir/vsftpd.log"

  # A process group of its own, so that stop ends every session process with the listeners.
  setsid unshare --mount --propagation private -- /bin/bash -c '
    set -e
    for f in passwd shadow group pam.d; do mount --bind "$1/etc/$f" "/etc/$f"; done
    # The folder of the process before log-in must not be writable, and its account is uid 0 here.
    mount --bind "$1/empty" "$1/empty"
    mount -o remount,bind,ro "$1/empty"
    /usr/sbin/vsftpd "$1/vsftpd.conf" &
    /usr/sbin/vsftpd "$1/busy.conf" &
    /usr/sbin/vsftpd "$1/tls.conf" &
    wait' vsftpd "$dir" </dev/null >"$dir/server.log" 2>&1 &
  echo $! >"$dir/server.pid"
  for _ in $(seq 200); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && (exec 3<>"/dev/tcp/127.0.0.1/$busy") 2>/dev/null &&
      (exec 3<>"/dev/tcp/127.0.0.1/$tls") 2>/dev/null; then
      echo "$busy" >"$dir/busyport"
      echo "$tls" >"$dir/tlsport"
      echo "$port" >"$dir/port"
      echo "fixture: vsftpd on 127.0.0.1:$port (one session per address on $busy, TLS on $tls) in $dir"
      exit 0
    fi
    kill -0 "$(cat "$dir/server.pid")" 2>/dev/null || break
    sleep 0.05
  done
  echo "fixture: vsftpd did not start" >&2
  cat "$dir/server.log" >&2
  exit 1
  ;;
*)
  echo "usage: vsftpd.sh start DIR | stop DIR" >&2
  exit 2
  ;;
esac
