#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target for the given number of seconds each (default 60):
#   scripts/fuzz.sh [seconds] [target...]        e.g. scripts/fuzz.sh 30, scripts/fuzz.sh 600 json ini
# Each target starts from a copy of its seed corpus in a temporary folder, so the corpora in the tree never
# grow. A target that finds a crash, a leak, a hang or a broken property fails the run; its input is kept in
# build/fuzz/findings/<target>/. FUZZ_FLAGS adds libFuzzer flags (for example -runs=10000000); FUZZ_LOGS names a
# folder that keeps every target's log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${1:-60}
shift || true
all=(receive json ini pe_version deployment directory user_list minisig)
targets=("$@")
((${#targets[@]})) || targets=("${all[@]}")

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"

work=$(mktemp -d "${TMPDIR:-/tmp}/zepjob-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
if command -v llvm-symbolizer-14 >/dev/null; then
  export ASAN_SYMBOLIZER_PATH=$(command -v llvm-symbolizer-14)
fi

seeds() {
  case $1 in
  json) echo "$root/tests/unit/json/corpus" ;;
  *) echo "$root/tests/fuzz/corpus/$1" ;;
  esac
}

failed=()
summary=()
for t in "${targets[@]}"; do
  binary=$root/build/fuzz/fuzz/fuzz_$t
  [[ -x $binary ]] || { echo "fuzz: no target $t" >&2; exit 2; }
  mkdir -p "$work/$t/corpus" "$work/$t/artifacts"
  cp "$(seeds "$t")"/* "$work/$t/corpus/"
  echo "== fuzz_$t: ${seconds}s"
  status=0
  # shellcheck disable=SC2086 # FUZZ_FLAGS is a list of flags
  "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/$t/artifacts/" ${FUZZ_FLAGS:-} "$work/$t/corpus" >"$work/$t/log" 2>&1 ||
    status=$?
  final=$(grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE|INITED)' "$work/$t/log" | tail -n1 || true)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t/log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$t/log")
  [[ -z ${FUZZ_LOGS:-} ]] || { mkdir -p "$FUZZ_LOGS" && cp "$work/$t/log" "$FUZZ_LOGS/fuzz_$t.log"; }
  summary+=("fuzz_$t: ${execs:-?} runs, ${rate:-?} exec/s; ${final:-no final line}")
  if ((status != 0)) || compgen -G "$work/$t/artifacts/*" >/dev/null; then
    failed+=("$t")
    mkdir -p "$root/build/fuzz/findings/$t"
    cp "$work/$t/artifacts/"* "$root/build/fuzz/findings/$t/" 2>/dev/null || true
    cp "$work/$t/log" "$root/build/fuzz/findings/$t/log"
    grep -E -A30 'ERROR|violated|runtime error' "$work/$t/log" | head -n60 >&2 || tail -n40 "$work/$t/log" >&2
  fi
done

printf '%s\n' "${summary[@]}"
if ((${#failed[@]})); then
  echo "fuzz: findings in ${failed[*]} (inputs and logs in build/fuzz/findings/)" >&2
  exit 1
fi
echo "fuzz: no findings"
