# shellcheck shell=bash
# What the studies share, sourced by each (a study is a NAME.sh beside this
# file, which linksim-study runs by its NAME): the command line and its
# usage, the program, the link, one run, and the picture's needs.
#
# The program is linksim-arq, every protocol in one, chosen per run by
# LINKSIM_ARQ. LINKSIM_ARQ_PROGRAM names one to use as it is; otherwise, in
# the source tree, the release tree's, built or brought up to date first;
# installed, the one on PATH (linksim-study names the one beside itself).
#
# The runs get no LINKSIM_ variable but those the study sets: one left over
# in the environment would change what is measured without showing in the
# study's files, so each is named on standard error and left out.

# Prints the usage: the script's opening comment, up to its first line that
# is not a comment.
study_help() {
  awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"
}

# Knobs are checked before any run, so that a bad one is said once, with
# status 2, and not as a run that failed.

# Ends the study for a bad knob: the message, status 2.
study_fail() { echo "$0: $*" >&2; exit 2; }

# The words of a knob's value, one a line.
study_words() { tr -s '[:space:]' '\n' <<<"$1" | awk NF; }

# A decimal whole number from LOW to HIGH, digits only.
study_whole() {
  [[ $1 =~ ^[0-9]+$ ]] && [ ${#1} -le 18 ] && [ "$((10#$1))" -ge "$2" ] &&
    [ "$((10#$1))" -le "$3" ]
}

# A decimal number as linksim-arq reads one (0.05, .5, 1e-3) from LOW up to
# but not including HIGH.
study_decimal() {
  [[ $1 =~ ^([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?$ ]] &&
    awk -v x="$1" -v low="$2" -v high="$3" 'BEGIN { exit !(x >= low && x < high) }'
}

# A seed: a whole number from 0 to 2^64 - 1, digits only. Twenty digits
# compare as text, which for the same length is as numbers.
# shellcheck disable=SC2071
study_seed() {
  local digits=${1#"${1%%[!0]*}"}
  [[ $1 =~ ^[0-9]+$ ]] && { [ ${#digits} -lt 20 ] ||
    { [ ${#digits} -eq 20 ] && [[ ! $digits > 18446744073709551615 ]]; }; }
}

# Reads the command line, --help (or -h) or one OUTDIR, and the knobs every
# study has: LINK, a settings file read in place of the study's link, and
# DURATION, which overrides the link's duration (the study's link has
# DEFAULT_DURATION). Sets out (made), work (a scratch directory, removed on
# exit), duration (empty: the file's) and arq, the program.
study_start() {
  local default_duration=$1 variable root
  shift
  if [ $# -eq 1 ] && { [ "$1" = --help ] || [ "$1" = -h ]; }; then
    study_help
    exit 0
  fi
  if [ $# -ne 1 ] || [[ $1 == -* ]] || [ -z "$1" ]; then
    echo "usage: $0 OUTDIR (or --help)" >&2
    exit 2
  fi
  if [ -n "${LINK:-}" ] && ! { [ -f "$LINK" ] && [ -r "$LINK" ]; }; then
    echo "$0: LINK must name a settings file that can be read: $LINK" >&2
    exit 2
  fi
  duration=${DURATION:-}
  if [ -n "$duration" ] && ! study_whole "$duration" 1 9007199254740992; then
    echo "$0: DURATION must be a whole number of ticks above 0" >&2
    exit 2
  fi
  [ -n "${LINK:-}" ] || duration=${duration:-$default_duration}

  arq=${LINKSIM_ARQ_PROGRAM:-}
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  if [ -z "$arq" ] && [ -f "$root/CMakePresets.json" ] &&
    [ -f "$root/protocols/linksim_arq.cpp" ]; then
    (cd "$root" && cmake --preset release >/dev/null &&
      cmake --build --preset release -j "$(nproc)" --target linksim_arq \
        >/dev/null) || { echo "$0: linksim-arq did not build" >&2; exit 1; }
    arq=$root/build/linksim-arq
  elif [ -z "$arq" ]; then
    arq=$(command -v linksim-arq) ||
      { echo "$0: linksim-arq is not on PATH" >&2; exit 2; }
  fi
  arq=$(realpath "$arq")
  if [ ! -x "$arq" ] || [ ! -f "$arq" ]; then
    echo "$0: $arq is no program" >&2
    exit 2
  fi
  for variable in $(compgen -e LINKSIM_ || true); do
    [ "$variable" = LINKSIM_ARQ_PROGRAM ] ||
      echo "$0: $variable is not passed to the runs: the study sets their variables" >&2
    unset "$variable"
  done

  mkdir -p "$1"
  out=$(cd "$1" && pwd)
  work=$(mktemp -d /tmp/linksim_study.XXXXXX)
  # shellcheck disable=SC2064  # the directory is known now
  trap "rm -rf '$work'" EXIT
  # The screen is not cleared between prompts: clear is a no-op here.
  mkdir "$work/bin" && printf '#!/bin/sh\n' >"$work/bin/clear" &&
    chmod +x "$work/bin/clear"
  export arq work
}

# The study's link when LINK names none: every stage a whole number of ticks
# (Td 10, Ta 1, P 1, A 40), where the protocols' opening comments derive
# their figures exactly, a round trip of T = 93, K = T / Td = 9.3 frame
# times, and a packet a tick, so the backlog never holds the link back.
study_link='Propagation Delay 40
Processing Delay 1
Bit Rate 100
Data Packet Size 960
Data Packet Overhead 40
ACK Size 100
Packet Rate 1'

# Writes the settings file FILE: the link, LINK's or the study's, the
# duration if any, then "KEY VALUE" for each pair of the arguments; a key
# given again overrides what came before.
study_settings() {
  local file=$1
  shift
  {
    if [ -n "${LINK:-}" ]; then cat "$LINK" && echo; else echo "$study_link"; fi
    [ -z "$duration" ] || echo "Simulation Duration $duration"
    while [ $# -ge 2 ]; do echo "$1 $2" && shift 2; done
  } >"$file"
}

# Runs one session of the program: loads SETTINGS, runs it and exits, with
# the variables NAME=VALUE given, its output in LOG. A run that fails, or
# that linksim-arq refuses, says so with its output, after WHAT, and
# returns 1: it measured nothing.
study_run() {
  local what=$1 settings=$2 log=$3 directory=. session
  shift 3
  # Loaded by its name in its own directory, so that no space in a path
  # splits the load command's one word.
  [[ $settings != */* ]] || directory=${settings%/*}
  printf -v session 'load %s\n\nrun\n\n\nexit' "${settings##*/}"
  # The subshell becomes the program, and bash reads the log: a study makes
  # hundreds of runs, and an env, a pipe's writer and a grep for each would
  # make them two fifths slower.
  if ! (cd "${directory:-/}" && export "$@" PATH="$work/bin:$PATH" &&
    exec "$arq" <<<"$session") >"$log" 2>&1 ||
    [[ $(<"$log") != *'Simulation completed successfully'* ]]; then
    echo "$what: the run failed:" >&2
    cat "$log" >&2
    return 1
  fi
}
export -f study_run

# An awk program's first rules, for stats rows (LINKSIM_STATS): col[NAME]
# is a column's number, read from each file's header, and on every row td,
# ta, t (the textbook's round trip, Td + Ta + 2A + 2P) and k = t / td come
# from its link's columns.
# shellcheck disable=SC2016  # awk's fields, not the shell's
study_awk_stats='
  FNR == 1 { for (column = 1; column <= NF; column++) col[$column] = column; next }
  {
    b = $col["bit_rate"]
    td = ($col["data_packet_size"] + $col["data_packet_overhead"]) / b
    ta = $col["ack_size"] / b
    t = td + ta + 2 * $col["propagation_delay"] + 2 * $col["processing_delay"]
    k = t / td
  }'

# For awk programs: quantile(df), Student t's two-sided 95% quantile by
# degrees of freedom; between two rows of the table the smaller count is
# taken, which widens the interval.
study_awk_t95='
  BEGIN {
    split("12.706 4.303 3.182 2.776 2.571 2.447 2.365 2.306 2.262 2.228 " \
          "2.201 2.179 2.160 2.145 2.131 2.120 2.110 2.101 2.093 2.086 " \
          "2.080 2.074 2.069 2.064 2.060 2.056 2.052 2.048 2.045 2.042", t95, " ")
    t95[40] = 2.021; t95[60] = 2.000; t95[120] = 1.980
  }
  function quantile(df) {
    if (df <= 30) return t95[df]
    if (df >= 1000) return 1.960
    return df >= 120 ? t95[120] : df >= 60 ? t95[60] : df >= 40 ? t95[40] : t95[30]
  }'

# The measured points stand; only the picture needs gnuplot. Without it,
# says which FILES were written and how to get the picture, and ends the
# study with status 1.
study_need_gnuplot() {
  command -v gnuplot >/dev/null && return 0
  local files=$1
  [ $# -lt 2 ] || files="${*:1:$#-1} and ${!#}"
  echo "Wrote $files, but no picture: gnuplot is not installed." >&2
  echo "For the picture: apt-get install -y gnuplot-nox, and run this again." >&2
  exit 1
}

# Prints gnuplot's plot command for the items given, an item a line.
study_plot() {
  local item separator=' '
  printf 'plot'
  for item in "$@"; do
    printf '%s\\\n  %s' "$separator" "$item"
    separator=,
  done
  echo
}

# gnuplot's PNG terminal: Cairo's draws dashes and smooth lines; libgd's is
# the fallback.
study_terminal() {
  if gnuplot -e 'set terminal pngcairo' 2>/dev/null; then
    echo pngcairo
  else
    echo png
  fi
}
