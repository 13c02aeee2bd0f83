#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the release build in full, then the unit, integration
# and end-to-end tests again under AddressSanitizer and UndefinedBehaviorSanitizer, then every fuzz target for
# 30 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

echo "== release build =="
scripts/build.sh release
ctest --preset release -j2

echo "== packages in a booted Debian 12 container =="
scripts/package-test.sh   # the package preset: no password compiled in

echo "== sanitizer build =="
scripts/build.sh asan
ctest --preset asan -j2

echo "== fuzzing =="
scripts/fuzz.sh 30
