#!/usr/bin/env bash
# Runs the example commands of README.md as a reader would type them, one
# after another in an empty folder, with the README's `build/` standing for
# this build's folder. Each must succeed within SECONDS (a minute unless
# given), write the files it names in the format it names, and a search must
# list as many worlds as it asks for, each within the ranges asked for.
#
# The examples are the lines of the fenced block that follows the README's
# line `<!-- examples run by the tests -->`.
#
#   tests/readme-examples.sh README BUILD_DIR [SECONDS]
set -uo pipefail
readme=$1
build=$(cd "$2" && pwd)
limit=${3:-60}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

mapfile -t examples < <(awk '
  /^<!-- examples run by the tests -->$/ { marked = 1; next }
  marked && /^```/ { if (inside) exit; inside = 1; next }
  inside && NF' "$readme")
if ((${#examples[@]} == 0)); then
  echo "FAIL: $readme marks no example commands"
  exit 1
fi

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The first bytes each kind of output starts with.
declare -A magic=([--png]=$'\x89PNG' [--pdf]='%PDF-' [--heights]='P5')

for example in "${examples[@]}"; do
  command=$(sed -E 's#(^|[ (])build/#\1'"$build"'/#g' <<<"$example")
  echo "\$ $example"
  timeout "$limit" bash -c "$command" >out.txt 2>err.txt
  status=$?
  if ((status == 124)); then
    fail "'$example' still ran after $limit s"
    continue
  elif ((status != 0)); then
    fail "'$example' exited with $status: $(cat err.txt)"
    continue
  fi
  read -ra words <<<"${example%%#*}"
  for ((i = 0; i + 1 < ${#words[@]}; i++)); do
    option=${words[i]} file=${words[i + 1]}
    [[ -v magic[$option] ]] || continue
    if [[ ! -s $file ]]; then
      fail "'$example' wrote no $file"
    elif [[ $(head -c ${#magic[$option]} "$file") != "${magic[$option]}" ]]; then
      fail "'$example' wrote $file, which does not start as a $option file does"
    fi
  done
  if [[ $example =~ --find\ ([0-9]+) ]]; then
    wanted=${BASH_REMATCH[1]}
    land=0..100 landmasses=0..1000000
    [[ $example =~ --land\ ([0-9.]+\.\.[0-9.]+) ]] && land=${BASH_REMATCH[1]}
    [[ $example =~ --landmasses\ ([0-9]+\.\.[0-9]+) ]] && landmasses=${BASH_REMATCH[1]}
    listed=$(awk -F, -v land="$land" -v masses="$landmasses" '
      BEGIN { split(land, l, /\.\./); split(masses, m, /\.\./) }
      NR == 1 { if ($0 != "seed,land_percent,landmasses,largest_percent,highest") bad = 1; next }
      $2 + 0 < l[1] || $2 + 0 > l[2] || $3 + 0 < m[1] || $3 + 0 > m[2] { bad = 1 }
      { n++ }
      END { print bad ? "outside" : n + 0 }' out.txt)
    if [[ $listed == outside ]]; then
      fail "'$example' listed a world outside the ranges asked for: $(cat out.txt)"
    elif [[ $listed != "$wanted" ]]; then
      fail "'$example' listed $listed worlds, not $wanted: $(cat out.txt)"
    fi
  fi
done
echo "${#examples[@]} examples, $failures failed"
((failures == 0))
