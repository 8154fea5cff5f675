#!/usr/bin/env bash
# Measures the program against fixed references, side by side, in one run:
#
#   (a) instructions of a whole run on the input 550 (callgrind), against
#       bench/minimal.c, which writes the same bytes with the same write(2)
#       calls and makes the same two read(2) calls. Target: ratio <= 1.5.
#   (b) wall time to read a 256 MiB single-line UTF-16LE input from a
#       file, against `dd bs=8k` reading the same file (the same 8 KiB reads
#       with no scanning): the two run in turn, $RUNS pairs, and the median
#       of the pairs' ratios is the figure. Target: ratio <= 1.0. Beside
#       it the best and the median of each, and the CPU time.
#   (c) peak resident memory on that input (/usr/bin/time -f %M).
#       Target: <= 16 MiB.
#   (d) instructions of a whole run on a 64 MiB line of zero code units
#       (callgrind), against dd reading the same file: what looking for the
#       line end costs beyond the reads.
#
# Usage: bench/run_bench.sh [PROGRAM]      (default: build/helligkeit)
#        RUNS=11 bench/run_bench.sh ...    (timing pairs, default 41)
#
# Run by hand on a quiet machine; it is not a test and always exits 0 once
# the figures are printed. Needs cc and dd; (a) needs valgrind and (c)
# /usr/bin/time (package `time`), each skipped with a note when missing;
# strace, when present, adds a count of system calls.
set -euo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_dir=$(dirname "$script_dir")
program=${1:-$repo_dir/build/helligkeit}
runs=${RUNS:-41}
cc=${CC:-cc}

die() {
  echo "run_bench: $*" >&2
  exit 2
}

[[ -x $program && -f $program ]] || die "no program at '$program' (build it first, or pass its path)"
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
command -v "$cc" >/dev/null || die "no C compiler '$cc' (set CC)"
command -v dd >/dev/null || die "dd not found"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/helligkeit-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# --- inputs and the reference program ---------------------------------------

# "550" CR LF as UTF-16LE, then end of file.
printf '5\x005\x000\x00\r\x00\n\x00' >"$tmp/in550"

# One 256 MiB line: "550", spaces, CR LF (128 Mi UTF-16LE code units). The
# spaces keep the report at 550.00 whatever part of the line is kept.
big_bytes=$((256 * 1024 * 1024))
(
  set +o pipefail # `yes` and `tr` end on SIGPIPE when head has enough
  printf '5\x005\x000\x00'
  yes ' ' | tr '\n' '\000' | head -c $((big_bytes - 10))
  printf '\r\x00\n\x00'
) >"$tmp/big"
[[ $(stat -c %s "$tmp/big") -eq $big_bytes ]] || die "could not build the 256 MiB input"

# One 64 MiB line of zero code units, without a line end.
head -c $((64 * 1024 * 1024)) /dev/zero >"$tmp/zeros"

"$cc" -O2 -o "$tmp/minimal" "$script_dir/minimal.c" || die "could not build bench/minimal.c"

# --- helpers -----------------------------------------------------------------

now_us() { echo "${EPOCHREALTIME//[!0-9]/}"; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

verdict() { # ratio-or-value, limit
  awk -v r="$1" -v t="$2" 'BEGIN { if (r == "-") print "-"; else if (r + 0 <= t + 0) print "met"; else print "MISSED" }'
}

# Runs a command with stdin from $1 and output dropped; a failure stops the
# benchmark, since its figures would mean nothing.
run_quiet() {
  local input=$1 status=0
  shift
  "$@" <"$input" >/dev/null 2>&1 || status=$?
  [[ $status -eq 0 ]] || die "'$*' exited with status $status"
}

# Total instructions (Ir) of one run under callgrind; stdin from $2.
instructions() {
  local name=$1 input=$2 status=0
  shift 2
  valgrind --tool=callgrind --callgrind-out-file="$tmp/callgrind.$name.out" \
    --log-file="$tmp/valgrind.$name.log" "$@" <"$input" >/dev/null || status=$?
  if [[ $status -ne 0 ]]; then
    cat "$tmp/valgrind.$name.log" >&2
    die "valgrind run of $name exited with status $status"
  fi
  sed -n 's/.*Collected : *\([0-9][0-9]*\).*/\1/p' "$tmp/valgrind.$name.log"
}

# Wall time and CPU time (user + system) in microseconds of one run, as
# "WALL CPU"; stdin from $1. The CPU figure (millisecond resolution) is less
# disturbed by other load on the machine than the wall time.
times_us() {
  local input=$1 start wall status=0 TIMEFORMAT='%3U %3S'
  shift
  start=$(now_us)
  { time "$@" <"$input" >/dev/null 2>&1; } 2>"$tmp/cpu" || status=$?
  wall=$(($(now_us) - start))
  [[ $status -eq 0 ]] || die "'$*' exited with status $status"
  awk -v wall="$wall" '{ printf "%d %d\n", wall, ($1 + $2) * 1000000 + 0.5 }' "$tmp/cpu"
}

# Peak resident set in KiB of one run; stdin from $1.
peak_kib() {
  local input=$1
  shift
  /usr/bin/time -f %M -o "$tmp/time.out" "$@" <"$input" >/dev/null 2>&1 ||
    die "'$*' failed under /usr/bin/time"
  tail -n 1 "$tmp/time.out"
}

# Number of system calls of one run, or n/a where tracing is not allowed;
# stdin from $1.
syscalls() {
  local input=$1
  shift
  if strace -f -o "$tmp/strace.out" "$@" <"$input" >/dev/null 2>&1; then
    grep -cv -e '^[0-9]* *+++' -e '^[0-9]* *---' "$tmp/strace.out"
  else
    echo n/a
  fi
}

# --- header ------------------------------------------------------------------

echo "helligkeit benchmark, $(date '+%Y-%m-%d %H:%M:%S %Z')"
echo "command:  $0 ${*:-}"
echo "program:  $program"
echo "machine:  $(uname -srm); $(nproc) CPUs;" \
  "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
echo "compiler: $("$cc" --version | head -n 1) (for bench/minimal.c, -O2)"
echo "measured: (a) valgrind --tool=callgrind PROGRAM <550.utf16le >/dev/null"
echo "          (b) PROGRAM <line256m.utf16le >/dev/null  vs  dd if=line256m.utf16le of=/dev/null bs=8k"
echo "          (c) /usr/bin/time -f %M PROGRAM <line256m.utf16le >/dev/null"
echo "          (d) valgrind --tool=callgrind PROGRAM <zeros64m >/dev/null  vs  the same of dd"
echo

# --- sanity: both produce the same dialogue -----------------------------------

"$program" <"$tmp/in550" >"$tmp/out.program" 2>/dev/null || die "the program failed on 550"
"$tmp/minimal" <"$tmp/in550" >"$tmp/out.minimal"
if cmp -s "$tmp/out.program" "$tmp/out.minimal"; then
  echo "check: output for 550 is byte-identical to the reference ($(stat -c %s "$tmp/out.minimal") bytes)"
else
  echo "WARNING: output for 550 differs from the reference (first differing byte below)"
  cmp "$tmp/out.program" "$tmp/out.minimal" || true
fi
"$program" <"$tmp/big" >"$tmp/out.big" 2>/dev/null || die "the program failed on the 64 MiB line"
if grep -q '550.00nm :  84.120' "$tmp/out.big"; then
  echo "check: the 256 MiB line reports 550.00nm :  84.120"
else
  echo "WARNING: the 256 MiB line does not report 550.00nm :  84.120:"
  grep -a 'Helligkeit' "$tmp/out.big" || true
fi
if command -v strace >/dev/null; then
  echo "check: system calls for 550: program $(syscalls "$tmp/in550" "$program")," \
    "reference $(syscalls "$tmp/in550" "$tmp/minimal")"
fi
echo

# --- (a) instructions ----------------------------------------------------------

if command -v valgrind >/dev/null; then
  ir_program=$(instructions program "$tmp/in550" "$program")
  ir_minimal=$(instructions minimal "$tmp/in550" "$tmp/minimal")
  ir_ratio=$(ratio "$ir_program" "$ir_minimal")
  ir_zeros=$(instructions zeros "$tmp/zeros" "$program")
  ir_zeros_dd=$(instructions zeros-dd /dev/null dd if="$tmp/zeros" of=/dev/null bs=8k status=none)
  ir_zeros_ratio=$(ratio "$ir_zeros" "$ir_zeros_dd")
else
  echo "(a), (d) skipped: valgrind not found (apt-get install valgrind)"
  ir_program=- ir_minimal=- ir_ratio=- ir_zeros=- ir_zeros_dd=- ir_zeros_ratio=-
fi

# --- (b) wall time -------------------------------------------------------------

cat "$tmp/big" >/dev/null # both sides read from the page cache
walls_program=() walls_dd=() cpus_program=() cpus_dd=() pair_ratios=()
for ((round = 0; round < runs; round++)); do
  # Alternate the two so that drift in machine load hits both alike; each
  # pair gives one ratio.
  figures=$(times_us "$tmp/big" "$program")
  read -r wall cpu <<<"$figures"
  walls_program+=("$wall") cpus_program+=("$cpu")
  figures=$(times_us /dev/null dd if="$tmp/big" of=/dev/null bs=8k)
  read -r wall_dd cpu <<<"$figures"
  walls_dd+=("$wall_dd") cpus_dd+=("$cpu")
  pair_ratios+=("$(awk -v a="$wall" -v b="$wall_dd" 'BEGIN { printf "%.4f", a / b }')")
done

# The least, the median and the greatest of some figures, as "MIN MEDIAN MAX".
spread() {
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 }
    END { print v[1], NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2, v[NR] }'
}
read -r wall_program wall_program_median wall_program_max <<<"$(spread "${walls_program[@]}")"
read -r wall_dd wall_dd_median wall_dd_max <<<"$(spread "${walls_dd[@]}")"
read -r cpu_program _ _ <<<"$(spread "${cpus_program[@]}")"
read -r cpu_dd _ _ <<<"$(spread "${cpus_dd[@]}")"
read -r pair_min pair_median pair_max <<<"$(spread "${pair_ratios[@]}")"
pair_ratio=$(awk -v r="$pair_median" 'BEGIN { printf "%.2f", r }')
time_ratio=$(ratio "$wall_program" "$wall_dd")
median_ratio=$(ratio "$wall_program_median" "$wall_dd_median")
cpu_ratio=$(ratio "$cpu_program" "$cpu_dd")

# --- (c) peak memory -----------------------------------------------------------

if [[ -x /usr/bin/time ]]; then
  rss_program=$(peak_kib "$tmp/big" "$program")
  rss_dd=$(peak_kib /dev/null dd if="$tmp/big" of=/dev/null bs=8k)
else
  echo "(c) skipped: /usr/bin/time not found (apt-get install time)"
  rss_program=- rss_dd=-
fi

# --- table ---------------------------------------------------------------------

ms() { awk -v us="$1" 'BEGIN { printf "%.1f", us / 1000 }'; }

row() { printf '%-40s %18s %18s %7s %9s  %s\n' "$@"; }
row "figure" "program" "reference" "ratio" "target" "result"
row "(a) instructions, input 550" "$ir_program" "$ir_minimal" "$ir_ratio" "<= 1.5" \
  "$(verdict "$ir_ratio" 1.5)"
row "(b) wall, 256 MiB line, $runs pairs" "" "" "$pair_ratio" "<= 1.0" \
  "$(verdict "$pair_ratio" 1.0) (median of the pairs' ratios; min $(awk -v r="$pair_min" 'BEGIN { printf "%.2f", r }'), max $(awk -v r="$pair_max" 'BEGIN { printf "%.2f", r }'))"
row "    ms, best of the $runs" "$(ms "$wall_program")" "$(ms "$wall_dd")" "$time_ratio" "" "info"
row "    ms, min / median / max" \
  "$(ms "$wall_program")/$(ms "$wall_program_median")/$(ms "$wall_program_max")" \
  "$(ms "$wall_dd")/$(ms "$wall_dd_median")/$(ms "$wall_dd_max")" "$median_ratio" "" \
  "info: ratio of the medians"
row "    CPU ms, user+sys, best of the $runs" "$(ms "$cpu_program")" "$(ms "$cpu_dd")" "$cpu_ratio" "" \
  "info: steadier under load"
row "(c) peak KiB, 256 MiB line" "$rss_program" "$rss_dd" "-" "<= 16384" \
  "$(verdict "$rss_program" 16384)"
row "(d) instructions, 64 MiB of zero units" "$ir_zeros" "$ir_zeros_dd" "$ir_zeros_ratio" "" \
  "info: the line-end search beyond dd's reads"
echo
echo "references: (a) bench/minimal.c built with $cc -O2; (b), (c), (d) dd if=FILE of=/dev/null bs=8k"
