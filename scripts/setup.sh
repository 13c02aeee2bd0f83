#!/usr/bin/env bash
# Installs every Debian package that building, testing, benchmarking and the demo need. Safe to run again:
# it asks apt only for what is missing.
set -euo pipefail

packages=(
  # build
  cmake g++ make pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # the window under a virtual display, with Hangul fonts; the platform plugin Qt needs there
  xvfb xauth qt6-qpa-plugins fonts-nanum
  # time-scaled runs of the bot, the iconv command for the codec cross-check, procps for ps/pgrep
  faketime libc-bin procps
  # network namespaces and a veth link of its own for the vanishing-server test
  iproute2 util-linux
  # the MySQL client library, and a real MariaDB server and client for the tests and benchmarks
  libmariadb-dev mariadb-server mariadb-client
  # a resource compiler and linker that make real Windows executables for the version-information tests
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 gcc-mingw-w64-i686-win32 gcc-mingw-w64-x86-64-win32
  # release signatures: libsodium verifies them, minisign makes them for the tests, the demo and releases
  libsodium-dev minisign
  # FTP and HTTP through libcurl; a real FTP server for the tests and lftp as the benchmarks' reference
  libcurl4-openssl-dev python3-pyftpdlib lftp
  # a second real FTP server for the tests (run in the foreground by the test, never as a service), and the
  # openssl command that hashes its test accounts' passwords
  vsftpd openssl
  # TLS: OpenSSL's headers (the MySQL certificate of --check), the openssl command (above) that makes the
  # tests' CA, and pyOpenSSL for pyftpdlib's TLS handler
  libssl-dev python3-openssl
  # the JSON benchmark's reference
  nlohmann-json3-dev
  # the package test: the .deb files and their check, a Debian root of their own, booted in a container
  dpkg-dev lintian mmdebstrap systemd-container
  # the fuzz targets: clang, its libFuzzer and sanitizer runtimes, and the symbolizer for their reports
  clang-14 libclang-rt-14-dev llvm-14
)

# pure-ftpd, for the backup check benchmark: its package conflicts with vsftpd's, so its files are only
# extracted (apt-get download, dpkg-deb -x), never installed; bench/pureftpd.sh runs it in the foreground.
pureftpd=/opt/clientzep/pure-ftpd
if [[ ! -x $pureftpd/usr/sbin/pure-ftpd ]]; then
  download=$(mktemp -d)
  (cd "$download" && { apt-get download -q pure-ftpd || { apt-get update -q && apt-get download -q pure-ftpd; }; })
  mkdir -p "$pureftpd"
  dpkg-deb -x "$download"/pure-ftpd_*.deb "$pureftpd"
  rm -rf "$download"
  echo "setup: pure-ftpd extracted to $pureftpd"
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  sudo=sudo
else
  sudo=
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# No daemon starts as a machine service while it is installed (vsftpd's would): policy-rc.d refuses them all.
policy=/usr/sbin/policy-rc.d
if [[ ! -e $policy ]]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod 755 "$policy"
  trap '$sudo rm -f "$policy"' EXIT
fi
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
