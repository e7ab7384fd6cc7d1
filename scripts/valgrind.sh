#!/usr/bin/env bash
# Runs the headless renderer under valgrind's memcheck for each map size (and
# the zoomed views), writing both the picture and the height grid into a
# scratch folder. Any invalid access, use of uninitialised memory or definite
# leak fails the run.
#
#   scripts/valgrind.sh [BUILD_DIR]   (default build-valgrind)
#
# The build folder must not use the sanitizers (valgrind cannot run them); the
# renderer is configured and built there when it is missing.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-valgrind}
jobs=${VALGRIND_JOBS:-2}

say() { printf 'valgrind: %s\n' "$*" >&2; }

if ! command -v valgrind >/dev/null; then
    say "valgrind not found (install the packages in scripts/debian-test-packages.txt)"
    exit 2
fi
if [[ -f $build/CMakeCache.txt ]] && grep -q '^TERRALUME_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
    say "$build is a sanitizer build; valgrind needs a plain one"
    exit 2
fi
if [[ ! -f $build/CMakeCache.txt ]]; then
    if ! cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERRALUME_BENCH=OFF >/dev/null; then
        say "configuring $build failed"
        exit 2
    fi
fi
if ! cmake --build "$build" --target terralume-render -j "$jobs" >/dev/null; then
    say "building terralume-render in $build failed"
    exit 2
fi
renderer=$build/tools/terralume-render
if [[ ! -x $renderer ]]; then
    say "no renderer at $renderer"
    exit 2
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=0
results=()
started=$SECONDS
# Size and zoom (1: the full map picture); the big zooms of the big maps
# would take minutes under valgrind and use no other code.
for run in Small:1 Small:5 Medium:3 Large:1; do
    size=${run%:*}
    zoom=${run#*:}
    name=$size-x$zoom
    log=$scratch/$name.log
    zoomed=()
    ((zoom > 1)) && zoomed=(--zoom "$zoom")
    begun=$SECONDS
    valgrind --tool=memcheck --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite \
        --track-origins=yes --log-file="$log" \
        "$renderer" --size "$size" "${zoomed[@]}" --seed 42861244 --water -5 --heat 12 \
        --png "$scratch/$name.png" --heights "$scratch/$name.pgm"
    status=$?
    errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$log" | tail -n 1)
    if ((status != 0)) || [[ ! -s $scratch/$name.png || ! -s $scratch/$name.pgm ]]; then
        failed=1
        cat "$log" >&2
        say "$name: FAILED (exit $status, ${errors:-?} errors)"
        results+=("$name=FAILED")
    else
        say "$name: clean, $((SECONDS - begun))s"
        results+=("$name=${errors:-0}")
    fi
done

if ((failed)); then
    echo "valgrind: FAILED (errors per run: ${results[*]})"
    exit 1
fi
echo "valgrind: ok, memcheck clean on ${#results[@]} renderer runs (${results[*]%%=*}) in $((SECONDS - started))s"
