#!/usr/bin/env bash
# Lays out the files of the sample day (Wednesday 2026-12-09) for the servers around the bot:
#
#   layout.sh ftp DIR              the FTP fixture's folder (tests/integration/ftp): the web host's download
#                                  and versions folders with this week's "_2" uploads, and the backup server's
#                                  server lists with the day's backups, two of them missing
#   layout.sh csbackup ROOT        the local CS backup tree under CSBackupPath, today's zip in place
#   layout.sh directory WWW HOST   the HTTP fixture's folder: the address directory's answer, naming every
#                                  endpoint on 127.0.0.1 and the update server as HOST (host:port)
#
# Each replaces what an earlier run left there. The SQL of the same day is qz_logs.sql and webhost.sql beside
# this script.
set -euo pipefail

day=2026-12-09
yesterday=2026-12-08

# A small file with a line of text, so that listings show a size.
put() {
  mkdir -p "$(dirname "$1")"
  printf '%s\n' "${2:-sample}" > "$1"
}

ftp() {
  local dir=${1:?FTP fixture folder}
  [[ -d "$dir" ]] || { echo "layout.sh: no folder $dir" >&2; exit 1; }
  rm -rf "$dir/webhost" "$dir/backup"

  local download=$dir/webhost/public_html/download
  mkdir -p "$download/versions"
  for name in ZEPSetup_301.exe ZEPSetup_302_2.exe ZEPViewer_v27.exe ZEPViewer_v28_2.exe ZEPManual_v6.pdf \
    ZEPManual_v7_2.pdf ZEPTools_v3.zip; do
    put "$download/$name" "$name"
  done
  for name in ZEPSetup_301.zip ZEPSetup_302_2.zip ZEPViewer_v28_2.zip; do
    put "$download/versions/$name" "$name"
  done

  local backup=$dir/backup
  mkdir -p "$backup/csdb_backup/servers" "$backup/pvdb_backup/servers"
  for server in CS-BUSAN CS-DAEGU CS-GWANGJU CS-SEOUL; do
    put "$backup/csdb_backup/servers/$server"
    put "$backup/csdb_backup_new/daily/$yesterday/($server)csdb_${yesterday//-/}_0300.bak"
  done
  for server in PV-MAIN PV-SUB PV-WEB; do
    put "$backup/pvdb_backup/servers/$server"
    put "$backup/pvdb_backup_new/daily/$yesterday/($server)pvdb_${yesterday//-/}_0330.bak"
  done
  # Today: CS-BUSAN and PV-SUB have not sent theirs.
  for server in CS-DAEGU CS-GWANGJU CS-SEOUL; do
    put "$backup/csdb_backup_new/daily/$day/($server)csdb_${day//-/}_0300.bak"
  done
  for server in PV-MAIN PV-WEB; do
    put "$backup/pvdb_backup_new/daily/$day/($server)pvdb_${day//-/}_0330.bak"
  done
}

csbackup() {
  local root=${1:?CS backup root}
  rm -rf "$root/csdb_backup"
  put "$root/csdb_backup/$yesterday/CSDB_FULL_${yesterday//-/}.zip"
  put "$root/csdb_backup/$day/CSDB_FULL_${day//-/}.zip"
}

directory() {
  local www=${1:?HTTP fixture www folder} update=${2:?update server host:port}
  mkdir -p "$www/serverinfo"
  cat > "$www/serverinfo/server-address-checker.php" <<JSON
{"success": true, "data": {"ver": 7, "servers": [
  {"name": "토박마스터서버", "host": "127.0.0.1"},
  {"name": "토박소프트_웹_로그인", "host": "127.0.0.1"},
  {"name": "자동업데이트_런처", "host": "$update"},
  {"name": "작업서버_DB백업_FTP", "host": "127.0.0.1"},
  {"name": "사내메신저소켓", "host": "127.0.0.1"}]}}
JSON
}

case "${1:-}" in
ftp | csbackup | directory) "$@" ;;
*)
  echo "usage: layout.sh ftp DIR | csbackup ROOT | directory WWW HOST" >&2
  exit 2
  ;;
esac
