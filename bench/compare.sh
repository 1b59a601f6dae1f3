#!/usr/bin/env bash
# Times quorbel against the GNU sort commands a user would reach for instead,
# on made-up corpora of several shapes (bench/make_corpus --list), and prints
# the results as markdown tables.
#
#   bench/compare.sh [LINES...]                 default: 1000000 5000000
#   SHAPES="packages versions" bench/compare.sh 1000000
#   ADVERSARIAL=1 bench/compare.sh              crafted inputs against their controls
#   SPILL=1 bench/compare.sh                    a 2 GB input sorted within 256 MB
#
# Shapes mode (the default): for each line count and each shape of SHAPES
# (default: packages distinct versions long repeated sorted reversed), times
# `quorbel -k N -q` against `LC_ALL=C sort -t ' ' -kN,NV` and plain
# `LC_ALL=C sort` (N is the version's field: 2, or 3 for long; the versions
# shape is sorted whole, with `quorbel -q` and `sort -V`). One table holds
# every shape. On the packages shape more rows time `quorbel -k 2 -q -l -u`,
# `quorbel -k 2 -q -m '>=1.2.0 <3'`, the groups `-g 1` and the newest of each
# `-g 1 -r -n 1`, the first lines `-n 100`, the output to a file `-o FILE`
# beside the shell's `> FILE`,
# and the check `-c` of the corpus sorted already (its input is that sorted
# file, made by the binary under test; its ratio is to sorting the corpus)
# (OPTIONS=0 leaves them out); a binary that rejects those options (status
# 255 and its usage) gets "n/a" there.
# sorted and reversed hold only the valid lines of distinct (about 97%), so
# their line counts are smaller than asked.
#
# Small inputs (the default mode, unless SMALL=0): SMALL_LINES (default
# "10 100 1000") lines of the versions shape, each from the file and from a
# pipe, `quorbel -q` against `sort -V` and plain `sort`, SMALL_ROUNDS
# (default 51) alternating runs of each, timed by bench/spawn_times: median
# wall and CPU time in milliseconds, from the spawn to the wait, which
# /usr/bin/time cannot tell apart at this size.
#
# Line counts: <SHAPE>_LINES overrides the count of one shape for every run
# (LONG_LINES=100000, SORTED_LINES=..., dashes become underscores). Without
# it, the long shape (200 to 2000 bytes a line, about 1.1 kB) gets a fifth of
# each run's count: 200,000 lines (220 MB) for 1000000 and 1,000,000 lines
# (1.1 GB) for 5000000; all other shapes get the run's count.
#
# Adversarial mode (ADVERSARIAL=1): flood, prefix and dots against their
# controls (flood-control, prefix-control, dots-control) at make_corpus's
# default counts (FLOOD_LINES, PREFIX_LINES, DOTS_LINES override them, each
# for the shape and its control): quorbel's wall time and peak RSS and the
# ratios crafted / control; `LC_ALL=C sort -V` on dots and dots-control as a
# reference. LINES arguments are ignored.
#
# Spill mode (SPILL=1): on a packages corpus of SPILL_LINES lines (default
# 65000000, about 2 GB, kept in DATA_DIR between runs), times
# `quorbel -k 2 -q -S 256M -T DIR` against `LC_ALL=C sort -S 256M -T DIR
# -t ' ' -k2,2V`, and then quorbel alone with budgets 1, 2, 4 and 8 times
# smaller than the input. Each command gets a private, empty temporary
# directory (also its TMPDIR); every 0.1 s the script samples its size: du
# -sb of the directory plus the files the command holds open there after
# unlinking them ("temp peak"), and the drop of the free space of its file
# system, a cross-check that also counts whatever else writes to the disk
# meanwhile. The tables give the peak of both; the script fails when a
# command leaves files behind. A binary that rejects -S
# or -T is reported so and its rows skipped. ROUNDS defaults to 3 here;
# SPILL_BUDGET (default 256M) sets the budget of the first table, so that a
# small SPILL_LINES can still make both commands spill.
#
# Environment: ROUNDS (timed runs of each command per corpus, default 5),
# SEED (corpus seed), BUILD_DIR (default build/release, the release preset),
# QUORBEL and MAKE_CORPUS (default: cli/quorbel and bench/make_corpus in
# BUILD_DIR), DATA_DIR (where corpora are kept between runs, default
# build/bench-data; delete them after changing make_corpus).
#
# Each round runs a corpus's commands one after another, starting with a
# different one each round, so a slow phase of the machine hits them all
# alike. Input comes from the file, output goes to /dev/null. Wall times are
# medians with their min-max; CPU times (user plus system, all threads) are
# medians too, and tell more than wall times on a busy machine; CPU use is
# CPU time over wall time (2.00: both cores busy throughout). Memory is the
# largest peak resident set size that /usr/bin/time reports. On a shared
# machine, run the whole script under `nice -n 10`.
set -euo pipefail
export LC_ALL=C  # one decimal point for EPOCHREALTIME and awk

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build/release}
DATA_DIR=${DATA_DIR:-$ROOT/build/bench-data}
SEED=${SEED:-}
SHAPES=${SHAPES:-packages distinct versions long repeated sorted reversed}
OPTIONS=${OPTIONS:-1}
ADVERSARIAL=${ADVERSARIAL:-0}
SPILL=${SPILL:-0}
SMALL=${SMALL:-1}
SMALL_LINES=${SMALL_LINES:-10 100 1000}
SMALL_ROUNDS=${SMALL_ROUNDS:-51}
SPILL_LINES=${SPILL_LINES:-65000000}
SPILL_BUDGET=${SPILL_BUDGET:-256M}
if [[ $SPILL == 1 ]]; then ROUNDS=${ROUNDS:-3}; else ROUNDS=${ROUNDS:-5}; fi
if (($# > 0)); then LINES=("$@"); else LINES=(1000000 5000000); fi

QUORBEL=${QUORBEL:-$BUILD_DIR/cli/quorbel}
MAKE_CORPUS=${MAKE_CORPUS:-$BUILD_DIR/bench/make_corpus}
SPAWN_TIMES=${SPAWN_TIMES:-$BUILD_DIR/bench/spawn_times}
TIME=/usr/bin/time

die() { echo "compare.sh: $*" >&2; exit 1; }
note() { echo "compare.sh: $*" >&2; }

[[ -x $TIME ]] || die "needs GNU time at $TIME (Debian package 'time')"
[[ $ROUNDS =~ ^[1-9][0-9]*$ ]] || die "ROUNDS must be a positive number"
[[ -z $SEED || $SEED =~ ^[0-9]+$ ]] || die "SEED must be a number"
[[ $ADVERSARIAL == 1 && $SPILL == 1 ]] && die "ADVERSARIAL=1 and SPILL=1 are two runs"

# Build only what is timed, so an unrelated target cannot stop the benchmark.
if [[ $BUILD_DIR == "$ROOT/build/release" ]]; then
  (cd "$ROOT"
   [[ -f build/release/CMakeCache.txt ]] || cmake --preset release >&2
   cmake --build --preset release -j 2 --target quorbel make_corpus spawn_times >&2)
fi
[[ -x $QUORBEL && -x $MAKE_CORPUS ]] || die "no quorbel ($QUORBEL) or make_corpus ($MAKE_CORPUS)"

mkdir -p "$DATA_DIR"
SCRATCH=$(mktemp -d "$DATA_DIR/run.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT
# Time a copy, so that a rebuild during the run cannot swap the binary.
cp "$QUORBEL" "$SCRATCH/quorbel-under-test"
QUORBEL=$SCRATCH/quorbel-under-test

# --- Commands ----------------------------------------------------------------

# Sets CMD to the command of that name, and LABEL to how a user would type it.
set_command() {  # name field(0: the whole line) [budget tmpdir]
  local key=() key_label=""
  if (($2 > 0)); then key=(-k "$2"); key_label="-k $2 "; fi
  case $1 in
    quorbel) CMD=("$QUORBEL" "${key[@]}" -q)
      LABEL="quorbel ${key_label}-q" ;;
    quorbel_lu) CMD=("$QUORBEL" "${key[@]}" -q -l -u)
      LABEL="quorbel ${key_label}-q -l -u" ;;
    quorbel_m) CMD=("$QUORBEL" "${key[@]}" -q -m '>=1.2.0 <3')
      LABEL="quorbel ${key_label}-q -m '>=1.2.0 <3'" ;;
    quorbel_g) CMD=("$QUORBEL" "${key[@]}" -q -g 1)
      LABEL="quorbel ${key_label}-q -g 1" ;;
    quorbel_gn) CMD=("$QUORBEL" "${key[@]}" -q -g 1 -r -n 1)
      LABEL="quorbel ${key_label}-q -g 1 -r -n 1" ;;
    quorbel_n) CMD=("$QUORBEL" "${key[@]}" -q -n 100)
      LABEL="quorbel ${key_label}-q -n 100" ;;
    quorbel_o) CMD=("$QUORBEL" "${key[@]}" -q -o "$SCRATCH/output")
      LABEL="quorbel ${key_label}-q -o FILE" ;;
    quorbel_redirect)  # what -o is measured against: the shell writes the file
      CMD=(sh -c 'exec "$0" "$@" > "'"$SCRATCH"'/redirected"' "$QUORBEL" "${key[@]}" -q)
      LABEL="quorbel ${key_label}-q > FILE" ;;
    quorbel_c) CMD=("$QUORBEL" -c "${key[@]}" -q)
      LABEL="quorbel -c ${key_label}-q, on the corpus sorted" ;;
    quorbel_spill) CMD=("$QUORBEL" "${key[@]}" -q -S "$3" -T "$4")
      LABEL="quorbel ${key_label}-q -S $3 -T DIR" ;;
    sort_v)
      if (($2 > 0)); then
        CMD=(env LC_ALL=C sort -t ' ' "-k$2,$2V"); LABEL="LC_ALL=C sort -t ' ' -k$2,$2V"
      else
        CMD=(env LC_ALL=C sort -V); LABEL="LC_ALL=C sort -V"
      fi ;;
    sort_plain) CMD=(env LC_ALL=C sort); LABEL="LC_ALL=C sort" ;;
    sort_spill) CMD=(env LC_ALL=C sort -S "$3" -T "$4" -t ' ' "-k$2,$2V")
      LABEL="LC_ALL=C sort -S $3 -T DIR -t ' ' -k$2,$2V" ;;
    *) die "no command $1" ;;
  esac
}

# 1 when the binary under test takes these options (after -k 2 -q), 0 when it
# rejects them the way an unknown option is rejected: status 255 and usage.
accepts() {  # options...
  local status=0
  printf 'pkg 1.2.3\n' | "$QUORBEL" -k 2 -q "$@" >"$SCRATCH/probe" 2>&1 || status=$?
  if ((status == 255)) && grep -q 'Usage:' "$SCRATCH/probe"; then echo 0; else echo 1; fi
}

# Reads /usr/bin/time -v output; prints "kilobytes cpu-seconds wall-seconds".
time_fields() {  # file
  awk -F': ' '
    /User time|System time/ {cpu += $2}
    /Maximum resident set size/ {rss = $2}
    /Elapsed \(wall clock\)/ {n = split($2, t, ":"); wall = 0
      for (i = 1; i <= n; i++) wall = wall * 60 + t[i]}
    END {printf "%d %.2f %.2f\n", rss, cpu, wall}' "$1"
}

# Runs CMD once on the input; prints "wall-seconds kilobytes cpu-seconds".
measure() {  # name input
  local start end rss cpu
  start=$EPOCHREALTIME
  "$TIME" -v -o "$SCRATCH/time" "${CMD[@]}" <"$2" >/dev/null ||
    die "$1 failed: $(head -1 "$SCRATCH/time")"
  end=$EPOCHREALTIME
  read -r rss cpu _ < <(time_fields "$SCRATCH/time")
  awk -v s="$start" -v e="$end" -v rss="$rss" -v cpu="$cpu" \
    'BEGIN {printf "%.4f %d %.2f\n", e - s, rss, cpu}'
}

free_bytes() {  # directory: the bytes its file system has free for us
  local blocks size
  read -r blocks size < <(stat -f -c '%a %S' "$1")
  echo $((blocks * size))
}

# The bytes of the files the process holds open in the directory after
# unlinking them, which du cannot see.
unlinked_bytes() {  # pid directory
  local fd target size total=0
  for fd in /proc/"$1"/fd/*; do
    target=$(readlink "$fd" 2>/dev/null) || continue
    [[ $target == "$2"/*" (deleted)" ]] || continue
    size=$(stat -L -c %s "$fd" 2>/dev/null) || continue
    total=$((total + size))
  done
  echo "$total"
}

# measure with CMD's temporary files in the private directory, which must
# be empty; prints "wall kilobytes cpu temp-peak temp-peak-free-drop". Every
# 0.1 s it adds up the directory (du) and the unlinked files the command
# holds open there; the free space of the file system is a cross-check that
# also counts whatever else writes to the disk meanwhile. The wall time is
# GNU time's (10 ms steps), free of the sampling's delay.
measure_spill() {  # name input tmpdir
  local pid command_pid="" free0 free used peak=0 peak_drop=0 rss cpu wall status=0
  [[ -z $(ls -A "$3") ]] || die "$3 is not empty before $1 starts"
  rm -f "$SCRATCH/pid"
  free0=$(free_bytes "$3")
  # The shell writes its process id and becomes the command, so the samples
  # can read the command's open files.
  # shellcheck disable=SC2016  # $$ and $@ belong to the inner shell
  TMPDIR=$3 "$TIME" -v -o "$SCRATCH/time" \
    bash -c 'echo $$ >"$0.part" && mv "$0.part" "$0" && exec "$@"' "$SCRATCH/pid" "${CMD[@]}" \
    <"$2" >/dev/null &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    [[ -z $command_pid && -s $SCRATCH/pid ]] && command_pid=$(<"$SCRATCH/pid")
    used=$(du -sb "$3" 2>/dev/null | cut -f1) || true
    used=$((${used:-0} + $(unlinked_bytes "${command_pid:-none}" "$3")))
    free=$(free_bytes "$3")
    ((used > peak)) && peak=$used
    ((free0 - free > peak_drop)) && peak_drop=$((free0 - free))
    sleep 0.1
  done
  wait "$pid" || status=$?
  ((status == 0)) || die "$1 failed: $(head -1 "$SCRATCH/time")"
  if [[ -n $(ls -A "$3") ]]; then
    die "$1 left files in its temporary directory: $(du -sb "$3" | cut -f1) bytes"
  fi
  read -r rss cpu wall < <(time_fields "$SCRATCH/time")
  echo "$wall $rss $cpu $peak $peak_drop"
}

# Reads numbers, one a line; prints "median min max".
summary() {
  sort -g | awk '{v[NR] = $1}
    END {m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
         printf "%.3f %.3f %.3f\n", m, v[1], v[NR]}'
}

# The largest value of a column of a times file.
column_max() { cut -d' ' -f"$2" "$1" | sort -g | tail -1; }

# Sets MEDIAN, RANGE, RSS, CPU (and TEMP_PEAK, TEMP_DROP for spill runs) of
# each timed name from its times file.
declare -A MEDIAN RANGE RSS CPU TEMP_PEAK TEMP_DROP
summarize() {  # names...
  local name median low high cpu_median
  for name in "$@"; do
    read -r median low high < <(cut -d' ' -f1 "$SCRATCH/times-$name" | summary)
    MEDIAN[$name]=$median
    RANGE[$name]="$low-$high"
    RSS[$name]=$(column_max "$SCRATCH/times-$name" 2)
    read -r cpu_median _ < <(cut -d' ' -f3 "$SCRATCH/times-$name" | summary)
    CPU[$name]=$cpu_median
    if [[ $(head -1 "$SCRATCH/times-$name" | wc -w) -ge 5 ]]; then
      TEMP_PEAK[$name]=$(column_max "$SCRATCH/times-$name" 4)
      TEMP_DROP[$name]=$(column_max "$SCRATCH/times-$name" 5)
    fi
  done
}

# Runs ROUNDS rounds of the named runs, each "name:input[:field[:budget:tmpdir]]"
# (field defaults to 0), rotating the order; the times of a run go to
# $SCRATCH/times-NAME.
time_rounds() {  # what runs...
  local what=$1 round i n run name input field budget tmp
  shift
  for run in "$@"; do : >"$SCRATCH/times-${run%%:*}"; done
  n=$#
  local runs=("$@")
  for ((round = 0; round < ROUNDS; round++)); do
    for ((i = 0; i < n; i++)); do
      IFS=: read -r name input field budget tmp <<<"${runs[(round + i) % n]}"
      set_command "${name%%@*}" "${field:-0}" "$budget" "$tmp"
      if [[ -n $tmp ]]; then
        measure_spill "$name" "$input" "$tmp" >>"$SCRATCH/times-$name"
      else
        measure "$name" "$input" >>"$SCRATCH/times-$name"
      fi
    done
    note "$what: round $((round + 1)) of $ROUNDS done"
  done
}

# --- Corpora -----------------------------------------------------------------

corpus_file() {  # shape lines
  local file
  if [[ $1 == packages ]]; then  # today's names, so kept corpora still serve
    file=$DATA_DIR/corpus-$2${SEED:+-$SEED}.txt
  else
    file=$DATA_DIR/corpus-$1-$2${SEED:+-$SEED}.txt
  fi
  if [[ ! -s $file ]]; then
    note "generating $file"
    # shellcheck disable=SC2086  # SEED is one number or nothing
    "$MAKE_CORPUS" --shape "$1" "$2" $SEED >"$file.part"
    mv "$file.part" "$file"
  fi
  echo "$file"
}

# Bytes as "12.3 MB".
megabytes() { awk -v b="$1" 'BEGIN {printf "%.1f MB", b / 1e6}'; }

# The line count of a shape in a run of that many lines: <SHAPE>_LINES if
# set, a fifth for the long shape, else the run's own.
shape_lines() {  # shape run-lines
  local variable
  variable=${1^^}_LINES
  variable=${variable//-/_}
  if [[ -n ${!variable:-} ]]; then
    [[ ${!variable} =~ ^[1-9][0-9]*$ ]] || die "$variable is not a line count"
    echo "${!variable}"
  elif [[ $1 == long ]]; then
    echo $(($2 / 5 > 0 ? $2 / 5 : 1))
  else
    echo "$2"
  fi
}

version_field() {  # shape
  case $1 in
    versions | flood* | prefix* | dots*) echo 0 ;;
    long) echo 3 ;;
    *) echo 2 ;;
  esac
}

# Every accepted line is written once: output lines plus the lines reported
# as rejected must equal the input lines.
check_counts() {  # input lines field
  local out rejected key=()
  (($3 > 0)) && key=(-k "$3")
  out=$("$QUORBEL" "${key[@]}" <"$1" 2>"$SCRATCH/messages" | wc -l)
  rejected=$(grep -c -E '^(Invalid semver: |Field [0-9]+ not found in |Input line too long: )' \
    "$SCRATCH/messages" || true)
  ((out + rejected == $2)) ||
    die "$1: $out lines written + $rejected rejected != $2 read"
  note "$1: $out lines written, $rejected rejected (invalid versions)"
}

# Prepares a corpus for timing; prints "file lines bytes".
prepare() {  # shape lines
  local input lines
  input=$(corpus_file "$1" "$2")
  lines=$(wc -l <"$input")  # also brings it into the page cache
  check_counts "$input" "$lines" "$(version_field "$1")"
  echo "$input $lines $(stat -c %s "$input")"
}

# --- Tables ------------------------------------------------------------------

header() {
  local cpu_name
  cpu_name=$(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)
  echo "Machine: ${cpu_name:-unknown CPU}, $(nproc) cores; $(sort --version | head -1);" \
    "$ROUNDS rounds, medians (min-max)${1:+; $1}."
  echo
}

is_one_of() {  # word words...
  local word=$1
  shift
  for other in "$@"; do [[ $other == "$word" ]] && return 0; done
  return 1
}

# The small inputs: one table, every count from the file and from a pipe.
run_small() {
  local lines input bytes how flag results
  echo "Short inputs (versions shape), $SMALL_ROUNDS alternating runs each, medians:"
  echo
  echo "| lines | input | from | command | wall time, ms | CPU time, ms | quorbel / this: wall | CPU |"
  echo "|---:|---:|---|---|---:|---:|---:|---:|"
  for lines in $SMALL_LINES; do
    input=$(corpus_file versions "$lines")
    bytes=$(stat -c %s "$input")
    for how in file pipe; do
      flag=()
      [[ $how == pipe ]] && flag=(--pipe)
      results=$("$SPAWN_TIMES" "${flag[@]}" "$SMALL_ROUNDS" "$input" \
                "$QUORBEL" -q :: sort -V :: sort) || die "spawn_times failed"
      awk -v lines="$lines" -v bytes="$bytes" -v how="$how" '
        { wall[NR] = $1; cpu[NR] = $2 }
        END {
          split("quorbel -q|LC_ALL=C sort -V|LC_ALL=C sort", label, "|")
          for (i = 1; i <= 3; i++)
            printf "| %s | %d B | %s | `%s` | %.2f | %.2f | %.2f | %.2f |\n",
              lines, bytes, how, label[i], wall[i], cpu[i], wall[1] / wall[i], cpu[1] / cpu[i]
        }' <<<"$results"
    done
  done
  echo
}

run_shapes() {
  local lines shape count input bytes field name with_options=() shape_list
  shape_list=$("$MAKE_CORPUS" --list)
  local option_names=(quorbel_lu quorbel_m quorbel_g quorbel_gn quorbel_n quorbel_redirect quorbel_o
                      quorbel_c)
  if [[ $OPTIONS == 1 ]]; then
    for name in "${option_names[@]}"; do
      case $name in
        quorbel_lu) set -- -l -u ;;
        quorbel_m) set -- -m '>=1.2.0 <3' ;;
        quorbel_g) set -- -g 1 ;;
        quorbel_gn) set -- -g 1 -r -n 1 ;;
        quorbel_n) set -- -n 100 ;;
        quorbel_redirect) set -- ;;
        quorbel_o) set -- -o "$SCRATCH/probe-output" ;;
        quorbel_c) set -- -c ;;
      esac
      if [[ $(accepts "$@") == 1 ]]; then
        with_options+=("$name")
      else
        note "quorbel rejects $*: its row on packages says n/a"
      fi
    done
  fi
  header
  echo "| shape | lines | input | command | wall time, s | CPU time, s | CPU use | peak RSS | RSS / input | quorbel / this: wall | CPU |"
  echo "|---|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|"
  for lines in "${LINES[@]}"; do
    [[ $lines =~ ^[1-9][0-9]*$ ]] || die "not a line count: $lines"
    for shape in $SHAPES; do
      grep -q "^$shape " <<<"$shape_list" || die "no shape $shape"
      field=$(version_field "$shape")
      read -r input count bytes < <(prepare "$shape" "$(shape_lines "$shape" "$lines")")
      local names=(quorbel sort_v sort_plain) shown=(quorbel sort_v sort_plain) runs=()
      if [[ $shape == packages && $OPTIONS == 1 ]]; then
        names+=("${with_options[@]}")
        shown+=("${option_names[@]}")
      fi
      for name in "${names[@]}"; do
        if [[ $name == quorbel_c ]]; then
          # A check reads the whole input only when it is in order.
          "$QUORBEL" -k "$field" -q <"$input" >"$SCRATCH/sorted"
          runs+=("$name:$SCRATCH/sorted:$field")
        else
          runs+=("$name:$input:$field")
        fi
      done
      time_rounds "$shape, $count lines" "${runs[@]}"
      summarize "${names[@]}"
      for name in "${shown[@]}"; do
        set_command "$name" "$field"
        if ! is_one_of "$name" "${names[@]}"; then
          echo "| $shape | $count | $(megabytes "$bytes") | \`$LABEL\` | n/a | n/a | n/a | n/a | n/a | n/a | n/a |"
          continue
        fi
        awk -v shape="$shape" -v lines="$count" -v bytes="$bytes" -v label="$LABEL" \
            -v median="${MEDIAN[$name]}" -v range="${RANGE[$name]}" -v rss="${RSS[$name]}" \
            -v cpu="${CPU[$name]}" -v ours="${MEDIAN[quorbel]}" -v ours_cpu="${CPU[quorbel]}" '
          function ratio(a, b) { return b > 0 ? sprintf("%.3f", a / b) : "-" }
          function share(a, b) { return b > 0 ? sprintf("%.2f", a / b) : "-" }
          BEGIN {
            printf "| %s | %s | %.1f MB | `%s` | %.3f (%s) | %.2f | %s | %.1f MB | %.2f | %s | %s |\n",
              shape, lines, bytes / 1e6, label, median, range, cpu,
              share(cpu, median),
              rss * 1024 / 1e6, rss * 1024 / bytes, ratio(ours, median), ratio(ours_cpu, cpu)
          }'
      done
    done
  done
}

run_adversarial() {
  local pair count input lines bytes name runs=()
  declare -A LINES_OF BYTES_OF
  header "quorbel sorts whole lines (\`quorbel -q\`)"
  echo "| shape | lines | input | command | wall time, s | CPU time, s | peak RSS | RSS / input | crafted / control: wall | peak RSS |"
  echo "|---|---:|---:|---|---:|---:|---:|---:|---:|---:|"
  for pair in flood prefix dots; do
    count=$(shape_lines "$pair" "$("$MAKE_CORPUS" --list | awk -v s="$pair" '$1 == s {print $2}')")
    [[ $count =~ ^[1-9][0-9]*$ ]] || die "${pair^^}_LINES is not a line count"
    runs=()
    for name in "$pair" "$pair-control"; do
      read -r input lines bytes < <(prepare "$name" "$count")
      LINES_OF[$name]=$lines BYTES_OF[$name]=$bytes
      runs+=("quorbel@$name:$input:0")
      [[ $pair == dots ]] && runs+=("sort_v@$name:$input:0")
    done
    time_rounds "$pair and its control" "${runs[@]}"
    local timed=()
    for name in "${runs[@]}"; do timed+=("${name%%:*}"); done
    summarize "${timed[@]}"
    for name in "${timed[@]}"; do
      local shape=${name#*@} command=${name%%@*}
      set_command "$command" 0
      awk -v shape="$shape" -v lines="${LINES_OF[$shape]}" -v bytes="${BYTES_OF[$shape]}" \
          -v label="$LABEL" -v median="${MEDIAN[$name]}" -v range="${RANGE[$name]}" \
          -v rss="${RSS[$name]}" -v cpu="${CPU[$name]}" \
          -v base="${MEDIAN[$command@$pair-control]}" -v base_rss="${RSS[$command@$pair-control]}" \
          -v crafted="$([[ $shape == "$pair" ]] && echo 1 || echo 0)" '
        function ratio(a, b) { return b > 0 ? sprintf("%.2f", a / b) : "-" }
        BEGIN {
          printf "| %s | %s | %.1f MB | `%s` | %.3f (%s) | %.2f | %.1f MB | %.2f | %s | %s |\n",
            shape, lines, bytes / 1e6, label, median, range, cpu, rss * 1024 / 1e6,
            rss * 1024 / bytes, crafted ? ratio(median, base) : "", crafted ? ratio(rss, base_rss) : ""
        }'
    done
  done
}

run_spill() {
  local input lines bytes factor budget name runs=() tmp_q=$SCRATCH/tmp-quorbel
  local tmp_s=$SCRATCH/tmp-sort
  mkdir -p "$tmp_q" "$tmp_s"
  read -r input lines bytes < <(prepare packages "$SPILL_LINES")
  local quorbel_spills=1
  mkdir -p "$SCRATCH/tmp-probe"
  if [[ $(accepts -S "$SPILL_BUDGET" -T "$SCRATCH/tmp-probe") == 0 ]]; then
    quorbel_spills=0
    note "quorbel rejects -S or -T: only sort is timed"
  fi
  runs=("sort_spill:$input:2:$SPILL_BUDGET:$tmp_s")
  ((quorbel_spills)) && runs+=("quorbel_spill:$input:2:$SPILL_BUDGET:$tmp_q")
  header "temporary files: peak of the private directory with its unlinked open files, and of the drop of free disk space"
  echo "| lines | input | command | wall time, s | CPU time, s | CPU use | peak RSS | RSS / input | temp peak | free space drop | quorbel / this: wall | CPU |"
  echo "|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
  time_rounds "spill, $lines lines" "${runs[@]}"
  local names=(quorbel_spill sort_spill)
  ((quorbel_spills)) || names=(sort_spill)
  summarize "${names[@]}"
  for name in quorbel_spill sort_spill; do
    set_command "$name" 2 "$SPILL_BUDGET" DIR
    if [[ $name == quorbel_spill ]] && ((!quorbel_spills)); then
      echo "| $lines | $(megabytes "$bytes") | \`$LABEL\` | n/a (rejects -S or -T) | n/a | n/a | n/a | n/a | n/a | n/a | n/a | n/a |"
      continue
    fi
    awk -v lines="$lines" -v bytes="$bytes" -v label="$LABEL" -v median="${MEDIAN[$name]}" \
        -v range="${RANGE[$name]}" -v rss="${RSS[$name]}" -v cpu="${CPU[$name]}" \
        -v du="${TEMP_PEAK[$name]}" -v drop="${TEMP_DROP[$name]}" \
        -v ours="${MEDIAN[quorbel_spill]:-0}" -v ours_cpu="${CPU[quorbel_spill]:-0}" '
      function ratio(a, b) { return a > 0 && b > 0 ? sprintf("%.3f", a / b) : "-" }
      function share(a, b) { return b > 0 ? sprintf("%.2f", a / b) : "-" }
      BEGIN {
        printf "| %s | %.1f MB | `%s` | %.2f (%s) | %.2f | %s | %.1f MB | %.2f | %.1f MB | %.1f MB | %s | %s |\n",
          lines, bytes / 1e6, label, median, range, cpu,
          share(cpu, median), rss * 1024 / 1e6,
          rss * 1024 / bytes, du / 1e6, drop / 1e6, ratio(ours, median), ratio(ours_cpu, cpu)
      }'
  done
  ((quorbel_spills)) || return 0

  echo
  echo "quorbel with budgets smaller than its $(megabytes "$bytes") input:"
  echo
  echo "| budget | \`-S\` | wall time, s | CPU time, s | peak RSS | temp peak | free space drop | wall / wall at 1× |"
  echo "|---:|---:|---:|---:|---:|---:|---:|---:|"
  runs=()
  for factor in 1 2 4 8; do
    budget=$((bytes / factor / 1024))K
    runs+=("quorbel_spill@$factor:$input:2:$budget:$tmp_q")
  done
  time_rounds "budgets, $lines lines" "${runs[@]}"
  names=()
  for factor in 1 2 4 8; do names+=("quorbel_spill@$factor"); done
  summarize "${names[@]}"
  for factor in 1 2 4 8; do
    name=quorbel_spill@$factor
    awk -v factor="$factor" -v budget="$((bytes / factor / 1024))K" -v median="${MEDIAN[$name]}" \
        -v range="${RANGE[$name]}" -v rss="${RSS[$name]}" -v cpu="${CPU[$name]}" \
        -v du="${TEMP_PEAK[$name]}" -v drop="${TEMP_DROP[$name]}" \
        -v base="${MEDIAN[quorbel_spill@1]}" '
      function share(a, b) { return b > 0 ? sprintf("%.2f", a / b) : "-" }
      BEGIN {
        printf "| input / %s | %s | %.2f (%s) | %.2f | %.1f MB | %.1f MB | %.1f MB | %s |\n",
          factor, budget, median, range, cpu, rss * 1024 / 1e6, du / 1e6, drop / 1e6,
          share(median, base)
      }'
  done
}

if [[ $ADVERSARIAL == 1 ]]; then
  run_adversarial
elif [[ $SPILL == 1 ]]; then
  run_spill
else
  [[ $SMALL == 1 ]] && run_small
  run_shapes
fi
