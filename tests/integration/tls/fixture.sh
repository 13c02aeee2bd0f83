#!/usr/bin/env bash
# TLS peers for the tests: `fixture.sh start DIR` makes a test CA with openssl and, signed by it, a certificate
# for 127.0.0.1 (and one that expires in ten days for the HTTPS server, and one for 127.0.0.3 that a test's
# own server shows), plus a CA that signed nothing of theirs; then starts, on loopback, explicit-TLS FTP,
# HTTPS and plain FTP and HTTP servers (server.py, ports in DIR/peers/ports) and a MariaDB that requires TLS
# (DIR/mariadb). Each server listens on 127.0.0.1 and 127.0.0.2, so dialling 127.0.0.2 meets a certificate
# for another name. `fixture.sh stop DIR` ends it all.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
action=${1:?start or stop}
dir=${2:?fixture folder}

stop() {
  "$here/../python-server.sh" stop "$dir/peers" || true
  "$here/../mariadb/fixture.sh" stop "$dir/mariadb" || true
  rm -rf "$dir"
}

# certificate NAME DAYS CA [ADDRESS]: a key and a server certificate for ADDRESS (127.0.0.1) signed by CA.
certificate() {
  local c=$dir/certs ip=${4:-127.0.0.1}
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$c/$1.key" \
    -out "$c/$1.csr" -subj "/O=ZEP test/CN=$ip" 2> /dev/null
  printf 'subjectAltName=IP:%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$ip" > "$c/$1.ext"
  openssl x509 -req -in "$c/$1.csr" -CA "$c/$3.pem" -CAkey "$c/$3.key" -CAcreateserial -days "$2" \
    -extfile "$c/$1.ext" -out "$c/$1.pem" 2> /dev/null
}

authority() {
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$dir/certs/$1.key" \
    -out "$dir/certs/$1.pem" -days 400 -subj "/O=ZEP test/CN=$2" 2> /dev/null
}

case "$action" in
stop)
  stop
  ;;
start)
  stop
  mkdir -p "$dir/certs"
  authority ca "ZEP test CA"
  authority stranger "Stranger CA"
  certificate server 400 ca
  certificate soon 10 ca
  certificate elsewhere 400 ca 127.0.0.3
  "$here/../python-server.sh" start "$dir/peers" "$here/server.py" TLS
  ZEPJOB_MARIADB_BIND=127.0.0.1,127.0.0.2 \
    ZEPJOB_MARIADB_OPTIONS="--ssl-cert=$dir/certs/server.pem --ssl-key=$dir/certs/server.key \
      --ssl-ca=$dir/certs/ca.pem --require-secure-transport=ON" \
    "$here/../mariadb/fixture.sh" start "$dir/mariadb" "$here/../mariadb/accounts.sql" \
    "$here/../mariadb/jobs.sql"
  ;;
*)
  echo "usage: fixture.sh start|stop DIR" >&2
  exit 2
  ;;
esac
