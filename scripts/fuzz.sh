#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a bounded time
# from a fixed seed, starting from its corpus in fuzz/corpus/<target>/.
# Exits non-zero when a target crashes, leaks, times out or cannot be built.
#
#   scripts/fuzz.sh                 every target, 20 seconds each
#   FUZZ_SECONDS=60 scripts/fuzz.sh fuzz_seed_text
#
# Environment: FUZZ_SECONDS (per target, default 20), FUZZ_BUILD_DIR (default
# build-fuzz), FUZZ_JOBS (build parallelism, default 2).
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-20}
jobs=${FUZZ_JOBS:-2}

say() { printf 'fuzz: %s\n' "$*" >&2; }

if ! command -v clang++ >/dev/null; then
    say "clang++ not found (install the packages in scripts/debian-test-packages.txt)"
    exit 2
fi

# A build directory first configured with another compiler cannot be switched
# to clang in place.
if [[ -f $build/CMakeCache.txt ]] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang' "$build/CMakeCache.txt"; then
    say "$build was configured with another compiler; remove it or set FUZZ_BUILD_DIR"
    exit 2
fi

configure_log=$(mktemp)
trap 'rm -f "$configure_log"' EXIT
if ! CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERRALUME_FUZZ=ON -DTERRALUME_GUI=ON \
        -DTERRALUME_BENCH=OFF -DTERRALUME_SANITIZE=OFF >"$configure_log" 2>&1; then
    cat "$configure_log" >&2
    say "configuring $build failed"
    exit 2
fi
if ! cmake --build "$build" --target fuzzers -j "$jobs"; then
    say "building the fuzz targets failed"
    exit 2
fi

if (($# > 0)); then
    targets=("$@")
else
    # Every target with a committed corpus; one that was not built fails
    # the run below rather than going quietly unfuzzed.
    targets=()
    for corpus in "$root"/fuzz/corpus/*/; do
        targets+=("$(basename "$corpus")")
    done
fi
if ((${#targets[@]} == 0)); then
    say "no fuzz targets were built"
    exit 2
fi

artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=0
summary=()
for target in "${targets[@]}"; do
    binary=$build/fuzz/$target
    if [[ ! -x $binary ]]; then
        say "$target: not built"
        failed=1
        summary+=("$target=missing")
        continue
    fi
    # New inputs go to a scratch corpus so the committed one stays as it is.
    scratch=$(mktemp -d)
    log=$scratch/log
    mkdir "$scratch/corpus"
    options=(-seed=1 -max_total_time="$seconds" -timeout=10 -print_final_stats=1
             -artifact_prefix="$artifacts/$target-")
    case $target in
        # Its corpus holds text that unpacks to 100 MB: a reader that unpacks
        # it whole, rather than up to what a record may hold, asks for more
        # in one go than this allows. (The address sanitizer's quarantine
        # alone holds 256 MB of freed memory, hence the looser total.)
        fuzz_world_record) options+=(-rss_limit_mb=1024 -malloc_limit_mb=16) ;;
        *) options+=(-rss_limit_mb=2048) ;;
    esac
    [[ -f $root/fuzz/$target.dict ]] && options+=(-dict="$root/fuzz/$target.dict")
    "$binary" "${options[@]}" "$scratch/corpus" "$root/fuzz/corpus/$target" >"$log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    runs=${runs:-0}
    if ((status != 0)); then
        failed=1
        # The finding's own report, without the thousands of progress lines.
        grep -v -E '^#[0-9]+' "$log" | tail -n 60 >&2
        reproducer=$(find "$artifacts" -maxdepth 1 -name "$target-*" -printf '%T@ %p\n' 2>/dev/null | sort -rn | head -n 1 | cut -d' ' -f2-)
        say "$target: FAILED after $runs executions (exit $status)"
        [[ -n $reproducer ]] && say "reproduce with: $binary $reproducer"
        summary+=("$target=FAILED")
    else
        say "$target: $runs executions in ${seconds}s, no finding"
        summary+=("$target=$runs")
    fi
    rm -rf "$scratch"
done

if ((failed)); then
    echo "fuzz: FAILED (executions per target: ${summary[*]})"
    exit 1
fi
echo "fuzz: ok, ${#targets[@]} targets, ${seconds}s each, executions: ${summary[*]}"
