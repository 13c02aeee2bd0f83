#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the release build in full, then the unit, integration
# and end-to-end tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

echo "== release build =="
scripts/build.sh release
ctest --preset release -j2

echo "== sanitizer build =="
scripts/build.sh asan
ctest --preset asan -j2
