#!/usr/bin/env bash
# Times the SQLite extension against what SQLite does without it, on a table
# of versions (the versions shape of bench/make_corpus: all distinct, half of
# them pre-releases), and prints a markdown table:
#
#   SELECT count(semver_key(v)) FROM t      against  SELECT count(length(v)) FROM t
#   SELECT v FROM t ORDER BY v COLLATE semver   against  SELECT v FROM t ORDER BY v
#
#   bench/sqlite.sh [LINES]          default 1000000
#
# One sqlite3 process loads the extension, runs each query once to warm the
# page cache, then runs each pair ROUNDS times (default 9), alternating which
# query of the pair goes first, timed by the shell's .timer. The table gives
# the medians of wall time and of CPU time (user plus system) and the ratios
# of the extension's query to SQLite's own. The rows of ORDER BY go to
# /dev/null. The database is kept in DATA_DIR (default build/bench-data).
#
# Environment: ROUNDS, SEED (corpus seed), BUILD_DIR (default build/release,
# the release preset), EXTENSION and MAKE_CORPUS (default: in BUILD_DIR),
# SQLITE3 (default sqlite3).
set -euo pipefail
export LC_ALL=C

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build/release}
DATA_DIR=${DATA_DIR:-$ROOT/build/bench-data}
ROUNDS=${ROUNDS:-9}
SEED=${SEED:-}
SQLITE3=${SQLITE3:-sqlite3}
LINES=${1:-1000000}
EXTENSION=${EXTENSION:-$BUILD_DIR/sqlite/libquorbel_sqlite.so}
MAKE_CORPUS=${MAKE_CORPUS:-$BUILD_DIR/bench/make_corpus}

die() { echo "sqlite.sh: $*" >&2; exit 1; }

[[ $ROUNDS =~ ^[1-9][0-9]*$ ]] || die "ROUNDS must be a positive number"
[[ $LINES =~ ^[1-9][0-9]*$ ]] || die "LINES must be a positive number"
[[ -z $SEED || $SEED =~ ^[0-9]+$ ]] || die "SEED must be a number"
command -v "$SQLITE3" >/dev/null || die "needs the sqlite3 shell (Debian package 'sqlite3')"

if [[ $BUILD_DIR == "$ROOT/build/release" ]]; then
  (cd "$ROOT"
   [[ -f build/release/CMakeCache.txt ]] || cmake --preset release >&2
   cmake --build --preset release -j 2 --target quorbel_sqlite make_corpus >&2)
fi
[[ -f $EXTENSION && -x $MAKE_CORPUS ]] ||
  die "no extension ($EXTENSION; SQLite's headers missing?) or make_corpus ($MAKE_CORPUS)"

mkdir -p "$DATA_DIR"
scratch=$(mktemp -d "$DATA_DIR/sqlite.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
db=$DATA_DIR/versions-$LINES${SEED:+-$SEED}.db
if [[ ! -f $db ]]; then
  # shellcheck disable=SC2086  # SEED is one word or none
  "$MAKE_CORPUS" --shape versions "$LINES" $SEED >"$scratch/versions.txt"
  "$SQLITE3" "$scratch/versions.db" "CREATE TABLE t(v TEXT)" ".import --csv $scratch/versions.txt t"
  mv "$scratch/versions.db" "$db"
fi

key=("SELECT count(semver_key(v)) FROM t;" "SELECT count(length(v)) FROM t;")
order=("SELECT v FROM t ORDER BY v COLLATE semver;" "SELECT v FROM t ORDER BY v;")

# The script sqlite3 runs: every query once, then the rounds. Each timed
# query's name ("key 0": the extension's, "key 1": SQLite's own) goes to
# the names file, in the order of the timer lines.
names=$scratch/names
{
  echo ".load ${EXTENSION%.so}"
  echo ".output /dev/null"
  printf '%s\n' "${key[@]}" "${order[@]}"
  echo ".timer on"
  for ((r = 0; r < ROUNDS; r++)); do
    for pair in key order; do
      declare -n queries=$pair
      for which in $((r % 2)) $((1 - r % 2)); do
        echo "${queries[$which]}"
        echo "$pair $which" >>"$names"
      done
      unset -n queries
    done
  done
} >"$scratch/script.sql"

"$SQLITE3" "$db" <"$scratch/script.sql" | grep '^Run Time:' | paste -d ' ' "$names" - |
  awk -v lines="$LINES" -v rounds="$ROUNDS" '
  # "<pair> <which> Run Time: real W user U sys S"
  { name = $1 " " $2; n[name]++; wall[name, n[name]] = $6; cpu[name, n[name]] = $8 + $10 }
  function median(a, name, count,   i, j, t, v) {
    for (i = 1; i <= count; i++) v[i] = a[name, i]
    for (i = 2; i <= count; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    return count % 2 ? v[(count + 1) / 2] : (v[count / 2] + v[count / 2 + 1]) / 2
  }
  END {
    label["key 0"] = "`SELECT count(semver_key(v)) FROM t`"; label["key 1"] = "`SELECT count(length(v)) FROM t`"
    label["order 0"] = "`SELECT v FROM t ORDER BY v COLLATE semver`"; label["order 1"] = "`SELECT v FROM t ORDER BY v`"
    printf "%d rows, %d rounds, medians\n\n", lines, rounds
    print "| query | wall, s | CPU, s | against SQLite alone: wall | CPU |"
    print "|---|---:|---:|---:|---:|"
    for (p = 0; p < 2; p++) {
      pair = p ? "order" : "key"
      for (q = 0; q < 2; q++) {
        name = pair " " q
        w[q] = median(wall, name, n[name]); c[q] = median(cpu, name, n[name])
      }
      printf "| %s | %.3f | %.3f | %.2f | %.2f |\n", label[pair " 0"], w[0], c[0], w[0] / w[1], c[0] / c[1]
      printf "| %s | %.3f | %.3f | | |\n", label[pair " 1"], w[1], c[1]
    }
  }'
