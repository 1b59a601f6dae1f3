#!/usr/bin/env bash
# Times quorbel against the GNU sort commands a user would reach for instead,
# on made-up package lists, and prints the results as a markdown table.
#
#   bench/compare.sh [LINES...]        default: 1000000 5000000
#
# Environment: ROUNDS (timed runs of each command per corpus, default 5),
# SEED (corpus seed), BUILD_DIR (default build/release, the release preset),
# DATA_DIR (where corpora are kept between runs, default build/bench-data).
#
# Each round runs the three commands one after another, starting with a
# different one each round, so a slow phase of the machine hits them all
# alike. Input comes from the file, output goes to /dev/null. Wall times are
# medians with their min-max; CPU times (user plus system) are medians too,
# and tell more than wall times on a busy machine. Memory is the peak
# resident set size that /usr/bin/time reports.
set -euo pipefail
export LC_ALL=C  # one decimal point for EPOCHREALTIME and awk

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build/release}
DATA_DIR=${DATA_DIR:-$ROOT/build/bench-data}
ROUNDS=${ROUNDS:-5}
SEED=${SEED:-}
if (($# > 0)); then LINES=("$@"); else LINES=(1000000 5000000); fi

QUORBEL=$BUILD_DIR/cli/quorbel
MAKE_CORPUS=$BUILD_DIR/bench/make_corpus
TIME=/usr/bin/time

die() { echo "compare.sh: $*" >&2; exit 1; }
note() { echo "compare.sh: $*" >&2; }

[[ -x $TIME ]] || die "needs GNU time at $TIME (Debian package 'time')"
[[ $ROUNDS =~ ^[1-9][0-9]*$ ]] || die "ROUNDS must be a positive number"

# Build only what is timed, so an unrelated target cannot stop the benchmark.
if [[ $BUILD_DIR == "$ROOT/build/release" ]]; then
  (cd "$ROOT"
   [[ -f build/release/CMakeCache.txt ]] || cmake --preset release >&2
   cmake --build --preset release -j 2 --target quorbel make_corpus >&2)
fi
[[ -x $QUORBEL && -x $MAKE_CORPUS ]] || die "no quorbel or make_corpus in $BUILD_DIR"

mkdir -p "$DATA_DIR"
SCRATCH=$(mktemp -d "$DATA_DIR/run.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT
# Time a copy, so that a rebuild during the run cannot swap the binary.
cp "$QUORBEL" "$SCRATCH/quorbel-under-test"
QUORBEL=$SCRATCH/quorbel-under-test

COMMANDS=(quorbel sort_v sort_plain)
declare -A LABEL=(
  [quorbel]="\`quorbel -k 2 -q\`"
  [sort_v]="\`LC_ALL=C sort -t ' ' -k2,2V\`"
  [sort_plain]="\`LC_ALL=C sort\`"
)

# Runs one command once on the input; prints "wall-seconds kilobytes
# cpu-seconds" (user plus system time, of all threads).
measure() {  # name input
  local command start end
  # shellcheck disable=SC2054  # -k2,2V is one argument
  case $1 in
    quorbel) command=("$QUORBEL" -k 2 -q) ;;
    sort_v) command=(env LC_ALL=C sort -t ' ' -k2,2V) ;;
    sort_plain) command=(env LC_ALL=C sort) ;;
  esac
  start=$EPOCHREALTIME
  "$TIME" -v -o "$SCRATCH/time" "${command[@]}" <"$2" >/dev/null ||
    die "$1 failed: $(head -1 "$SCRATCH/time")"
  end=$EPOCHREALTIME
  awk -F': ' -v s="$start" -v e="$end" '
    /User time|System time/ {cpu += $2}
    /Maximum resident set size/ {rss = $2}
    END {printf "%.4f %d %.2f\n", e - s, rss, cpu}' "$SCRATCH/time"
}

# Reads numbers, one a line; prints "median min max".
summary() {
  sort -g | awk '{v[NR] = $1}
    END {m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
         printf "%.3f %.3f %.3f\n", m, v[1], v[NR]}'
}

corpus_file() {  # lines
  local file=$DATA_DIR/corpus-$1${SEED:+-$SEED}.txt
  if [[ ! -s $file ]]; then
    note "generating $file"
    # shellcheck disable=SC2086  # SEED is one number or nothing
    "$MAKE_CORPUS" "$1" $SEED >"$file.part"
    mv "$file.part" "$file"
  fi
  echo "$file"
}

# Every accepted line is written once: output lines plus the lines reported
# as rejected must equal the input lines.
check_counts() {  # input lines
  local out rejected
  out=$("$QUORBEL" -k 2 <"$1" 2>"$SCRATCH/messages" | wc -l)
  rejected=$(grep -c -E '^(Invalid semver: |Field [0-9]+ not found in |Input line too long: )' \
    "$SCRATCH/messages" || true)
  ((out + rejected == $2)) ||
    die "$1: $out lines written + $rejected rejected != $2 read"
  note "$1: $out lines written, $rejected rejected (invalid versions)"
}

cpu=$(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)
echo "Machine: ${cpu:-unknown CPU}, $(nproc) cores; $(sort --version | head -1);" \
  "$ROUNDS rounds, medians (min-max)."
echo
echo "| lines | input | command | wall time, s | CPU time, s | peak RSS | RSS / input | quorbel / this: wall | CPU |"
echo "|---:|---:|---|---:|---:|---:|---:|---:|---:|"

for lines in "${LINES[@]}"; do
  [[ $lines =~ ^[1-9][0-9]*$ ]] || die "not a line count: $lines"
  input=$(corpus_file "$lines")
  bytes=$(stat -c %s "$input")
  check_counts "$input" "$lines"
  cat "$input" >/dev/null  # into the page cache before anything is timed
  for name in "${COMMANDS[@]}"; do : >"$SCRATCH/times-$name"; done
  for ((round = 0; round < ROUNDS; round++)); do
    for ((i = 0; i < ${#COMMANDS[@]}; i++)); do
      name=${COMMANDS[(round + i) % ${#COMMANDS[@]}]}
      measure "$name" "$input" >>"$SCRATCH/times-$name"
    done
    note "$lines lines: round $((round + 1)) of $ROUNDS done"
  done
  declare -A MEDIAN=() RANGE=() RSS=() CPU=()
  for name in "${COMMANDS[@]}"; do
    read -r median low high < <(cut -d' ' -f1 "$SCRATCH/times-$name" | summary)
    MEDIAN[$name]=$median
    RANGE[$name]="$low-$high"
    RSS[$name]=$(cut -d' ' -f2 "$SCRATCH/times-$name" | sort -n | tail -1)
    read -r cpu_median _ < <(cut -d' ' -f3 "$SCRATCH/times-$name" | summary)
    CPU[$name]=$cpu_median
  done
  for name in "${COMMANDS[@]}"; do
    awk -v lines="$lines" -v bytes="$bytes" -v label="${LABEL[$name]}" \
        -v median="${MEDIAN[$name]}" -v range="${RANGE[$name]}" -v rss="${RSS[$name]}" \
        -v cpu="${CPU[$name]}" -v ours="${MEDIAN[quorbel]}" -v ours_cpu="${CPU[quorbel]}" '
      function ratio(a, b) { return b > 0 ? sprintf("%.3f", a / b) : "-" }
      BEGIN {
        printf "| %s | %.1f MB | %s | %.3f (%s) | %.2f | %.1f MB | %.2f | %s | %s |\n",
          lines, bytes / 1e6, label, median, range, cpu, rss * 1024 / 1e6,
          rss * 1024 / bytes, ratio(ours, median), ratio(ours_cpu, cpu)
      }'
  done
done
