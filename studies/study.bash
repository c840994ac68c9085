# shellcheck shell=bash
# What the studies share, sourced by each NAME.sh beside this file (which
# linksim-study runs by its NAME): the knobs and the command line, the
# program, the link, the sweep of points and seeds, one mean and interval,
# the curves, each derived once for every study that draws it, and the
# pictures. A study declares its knobs with study_knob, calls study_start,
# writes its points and calls study_sweep. The program is linksim-arq, run
# as linksim-arq FILE, every protocol chosen by LINKSIM_ARQ.

# On exit, however the study ends: the sweep's runs stopped, then the
# scratch directory removed, again while a dying run still writes there.
study_clean() {
  [ -z "$sweep" ] || { kill -TERM -- "-$sweep" && wait "$sweep"; } 2>/dev/null || true
  for _ in 1 2 3 4 5; do [ -z "$work" ] || rm -rf "$work" 2>/dev/null && break || sleep 0.1; done
}

# A signal ends the study from its first line, and study_clean stops what
# the study started. (bash still lets a Ctrl-C pass when it comes just as a
# short command, such as a grep, ends by itself: it takes the command to
# have handled it. The sweep, where a study spends its time, runs apart and
# is waited for by `wait`, which any trapped signal ends at once.)
work='' sweep=''
trap study_clean EXIT && trap 'exit 130' INT && trap 'exit 143' TERM && trap 'exit 129' HUP
study_name=$(basename "$0" .sh) && study_name=${study_name//_/-}
study_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
declare -A knob_default knob_check knob_help knob_alias
knob_names=()
declare -A study_names=([stop-and-wait]=stop-and-wait [go-back-n]=Go-Back-N
  [selective-repeat]='Selective Repeat' [sliding-window]='sliding window')
# Colours far enough apart to tell a picture's series from one another.
study_colours=('#7570b3' '#d95f02' '#1b9e77' '#e7298a' '#66a61e' '#e6ab02' '#a6761d' '#666666')

# Declares a knob: "NAME [ALIAS]" (the plural a one-value knob answers to
# as well, or an old name), its default, the test each value passes
# (study_is_CHECK; "CHECK..." for a list, a word given twice kept once) and
# a line of help, which --help prints and a bad value's refusal repeats.
study_knob() {
  local name=${1%% *}
  knob_names+=("$name") knob_default[$name]=$2 knob_check[$name]=$3 knob_help[$name]=$4
  [ "$name" = "$1" ] || knob_alias[${1#* }]=$name
}

study_is_whole() { # VALUE LOW HIGH: digits only
  [[ $1 =~ ^[0-9]+$ ]] && [ ${#1} -le 18 ] && [ "$((10#$1))" -ge "$2" ] && [ "$((10#$1))" -le "$3" ]
}
study_is_number() { # VALUE LOW HIGH: as linksim-arq reads one, LOW <= x < HIGH
  [[ $1 =~ ^([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?$ ]] &&
    awk -v x="$1" -v low="$2" -v high="$3" 'BEGIN { exit !(x >= low && x < high) }'
}
study_is_loss() { study_is_number "$1" 0 1; }
study_is_above0() { study_is_number "$1" 1e-300 1e300; }
study_is_window() { study_is_whole "$1" 1 65536; }
study_is_ticks() { study_is_whole "$1" 1 9007199254740992; }
study_is_bits() { study_is_whole "$1" 1 16; }
study_is_file() { [ -f "$1" ] && [ -r "$1" ]; }
study_is_arq() { [[ $1 =~ ^(stop-and-wait|go-back-n|selective-repeat)$ ]]; }
# A seed: a whole number from 0 to 2^64 - 1; twenty digits compare as text.
# shellcheck disable=SC2071
study_is_seed() {
  local digits=${1#"${1%%[!0]*}"}
  [[ $1 =~ ^[0-9]+$ ]] && { [ ${#digits} -lt 20 ] ||
    { [ ${#digits} -eq 20 ] && [[ ! $digits > 18446744073709551615 ]]; }; }
}

study_common_knobs() { # DURATION [SEEDS]: the knobs every study has, SEEDS where runs draw losses
  study_knob LINK '' file "a settings file for the link, as linksim loads one (default: the study's own)"
  study_knob DURATION "$1" ticks "ticks per run, whatever the link's file says"
  [ $# -lt 2 ] || study_knob SEEDS "$2" seed... "the seeds, two or more"
}

# A bad command line or knob: the message, status 2.
study_fail() { echo "$study_name: $*" >&2; exit 2; }

study_help() { # the usage, the script's opening comment and its knobs
  local name guide
  echo "usage: linksim-study $study_name OUTDIR [KNOB=VALUE ...]"
  awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }
    END { print "\nKnobs, as KNOB=VALUE after OUTDIR or in the environment:" }' "$0"
  for name in "${knob_names[@]}"; do
    # shellcheck disable=SC2086  # a list's words
    set -- ${knob_default[$name]}
    [ $# -lt 4 ] || [ "$(seq "$1" "${!#}")" != "${knob_default[$name]}" ] || set -- "$1 to ${!#}"
    echo "$name ${knob_help[$name]}${1:+ (default: $*)}"
  done | awk '{ line = sprintf("  %-14s", $1)
    for (i = 2; i <= NF; i++) {
      if (length(line) + length($i) >= 78) { print line; line = sprintf("%16s", "") }
      line = line " " $i
    }
    print line }'
  printf '\n%s\n' "Without gnuplot the study writes its CSV files, says so and exits with
status 1; a failed run, status 1; a bad knob, status 2. Every study's
knobs and files: man linksim-study."
  for guide in "$study_here/../../doc/linksim/docs/lab.md" "$study_here/../docs/lab.md"; do
    [ ! -f "$guide" ] || { echo "What the picture shows, and why: $(realpath "$guide")"; break; }
  done
}

# Sets near to the knob of this study NAME is near, if any: a letter more,
# less, other or swapped with the next, from it or its singular.
study_near() { # NAME
  local knob form i n=$1
  near=''
  for knob in "${knob_names[@]}" "${!knob_alias[@]}"; do
    for form in "$knob" "${knob%S}" "${knob%ES}"; do
      ((${#form} - ${#n} <= 1 && ${#n} - ${#form} <= 1)) || continue
      for ((i = 0; i <= ${#form} || i <= ${#n}; i++)); do
        [[ ${n:0:i}${n:i+1} == "$form" || ${form:0:i}${form:i+1} == "$n" || ${n:0:i}${n:i+1:1}${n:i:1}${n:i+2} == "$form" ||
          ${n:0:i}${n:i+1} == "${form:0:i}${form:i+1}" ]] && near=$knob && return
      done
    done
  done
  return 0
}

# Reads --help (or -h), or OUTDIR and KNOB=VALUE words, and sets each knob,
# from the words or else the environment and checked before any run, as a
# shell variable of its name. A word naming no knob is refused; a variable
# that is another study's knob or near one of this study's is warned of,
# and so is a LINKSIM_ variable, kept from the runs. Sets out, work (removed
# however the study ends), duration and arq, the program.
study_start() {
  local word name value values variable root others near
  local -A given
  if [ $# -eq 1 ] && [[ $1 == --help || $1 == -h ]]; then study_help; exit 0; fi
  [ $# -gt 0 ] && [[ $1 != -* && -n $1 && $1 != *=* ]] ||
    study_fail "usage: linksim-study $study_name OUTDIR [KNOB=VALUE ...] (or --help)"
  for word in "${@:2}"; do
    name=${word%%=*}
    [[ $word == *=* && -n $name ]] || study_fail "$word: not KNOB=VALUE"
    name=${knob_alias[$name]:-$name}
    study_near "$name"
    [ -n "${knob_check[$name]:-}" ] ||
      study_fail "$name is no knob of this study${near:+ ($near?)}; its knobs: ${knob_names[*]}"
    given[$name]=${word#*=}
  done
  others=$(cd "$study_here" && grep -o "^study_knob '\?[A-Z_]*" ./*.sh |
    sed "s|^\./\(.*\)\.sh:study_knob '\?|\1 |; s|^\([a-z]*\)_|\1-|")
  for variable in $(compgen -e); do
    [ -z "${knob_check[$variable]:-}${knob_alias[$variable]:-}" ] || continue
    study_near "$variable"
    if [[ $variable == LINKSIM_* ]]; then
      [ "$variable" = LINKSIM_ARQ_PROGRAM ] ||
        echo "$study_name: $variable is not passed to the runs: the study sets their variables" >&2
    elif grep -q " $variable\$" <<<"$others"; then
      echo "$study_name: warning: $variable is a knob of $(grep " $variable\$" <<<"$others" |
        cut -d' ' -f1 | sort -u | paste -sd/), not of this one${near:+ ($near?)}: ignored" >&2
    elif [ -n "$near" ]; then
      echo "$study_name: warning: $variable is no knob of this study ($near?): ignored" >&2
    fi
  done
  for name in "${knob_names[@]}"; do
    value=${given[$name]-${!name:-}}
    for variable in "${!knob_alias[@]}"; do
      [ -n "$value" ] || [ "${knob_alias[$variable]}" != "$name" ] || value=${!variable:-}
    done
    values=$(tr -s '[:space:]' '\n' <<<"${value:-${knob_default[$name]}}" | awk NF)
    [[ ${knob_check[$name]} == *... ]] || [ "$(wc -l <<<"$values")" -le 1 ] ||
      study_fail "$name takes one value, not \"${values//$'\n'/ }\""
    for word in $values; do
      "study_is_${knob_check[$name]%...}" "$word" || study_fail "$name: $word: ${knob_help[$name]}"
    done
    # Twice would count a value's runs twice: whole numbers compare without
    # their leading zeros, other numbers as numbers.
    values=$(awk '{ key = $0 } /^[0-9]+$/ { sub(/^0+/, "", key) }
      /^[0-9.]*[eE.][-+0-9]*$/ { key = sprintf("%.17g", $0 + 0) } !seen[key]++' <<<"$values")
    printf -v "$name" '%s' "$values"
  done
  # A study of one seed per run may meet SEEDS in the environment, meant
  # for another study: the sweep must not run its points once per seed.
  [ -n "${knob_check[SEEDS]:-}" ] || unset SEEDS
  [ -z "${SEEDS+set}" ] || [ "$(wc -w <<<"$SEEDS")" -ge 2 ] ||
    study_fail "SEEDS must name two seeds or more: an interval needs a spread"
  duration=$DURATION

  arq=${LINKSIM_ARQ_PROGRAM:-} root=$(cd "$study_here/.." && pwd)
  if [ -z "$arq" ] && [ -f "$root/CMakePresets.json" ] && [ -f "$root/protocols/linksim_arq.cpp" ]; then
    (cd "$root" && cmake --preset release >/dev/null &&
      cmake --build --preset release -j "$(nproc)" --target linksim_arq >/dev/null) ||
      { echo "$study_name: linksim-arq did not build" >&2; exit 1; }
    arq=$root/build/linksim-arq
  elif [ -z "$arq" ]; then
    arq=$(command -v linksim-arq) || study_fail "linksim-arq is not on PATH"
  fi
  arq=$(realpath "$arq") && [ -x "$arq" ] && [ -f "$arq" ] || study_fail "$arq is no program"
  unset "${!LINKSIM_@}"
  # The points name files in it by words, so it holds no space.
  mkdir -p "$1" && out=$(cd "$1" && pwd) && work=$(mktemp -d "${TMPDIR:-/tmp}/linksim_study.XXXXXX")
  [[ $work != *[[:space:]]* ]] || { rm -rf "$work" && work=$(mktemp -d /tmp/linksim_study.XXXXXX); }
  export arq work study_name
}

# The study's link when LINK names none: every stage a whole number of ticks
# (Td 10, Ta 1, P 1, A 40), where the figures come out exactly, T = 93,
# K = 9.3, and a packet a tick, so the backlog never holds the link back.
study_link=$'Propagation Delay 40\nProcessing Delay 1\nBit Rate 100\nData Packet Size 960
Data Packet Overhead 40\nACK Size 100\nPacket Rate 1'

# Writes the settings file FILE: the link, LINK's or the study's, the
# duration, then each KEY VALUE pair, a key given again overriding.
study_settings() { # FILE [KEY VALUE]...
  local file=$1 && shift
  { if [ -n "$LINK" ]; then cat "$LINK" && echo; else echo "$study_link"; fi
    echo "Simulation Duration $duration"
    while [ $# -ge 2 ]; do echo "$1 $2" && shift 2; done; } >"$file"
}

# Runs the program once on SETTINGS with the variables NAME=VALUE, its
# output in LOG (the subshell becomes it: an env would cost a process); a
# run that fails, or is refused, says so with its output and returns 1.
study_run() { # WHAT SETTINGS LOG NAME=VALUE...
  (export "${@:4}" && exec "$arq" "$2") >"$3" 2>&1 && return
  echo "$1: the run failed:" >&2 && cat "$3" >&2 && return 1
}
export -f study_run

# The link as linksim-arq reads it, in $work/link.stats: the stats of a run
# of one tick with the settings given, its duration then made the runs'.
study_probe() { # [KEY VALUE]...
  study_settings "$work/probe.txt" "$@" "Simulation Duration" 1
  study_run "$study_name: the link" "$work/probe.txt" "$work/probe.out" \
    LINKSIM_STATS="$work/probe.stats" || exit 1
  awk -F, -v OFS=, -v l="$duration" 'NR == 1 { for (c = 1; c <= NF; c++) if ($c == "duration") d = c }
    NR > 1 { $d = l } 1' "$work/probe.stats" >"$work/link.stats"
}

# One point of the sweep, a run per seed, each adding its stats row to
# $work/INDEX.stats, then a line of progress. A failed run stops the sweep.
study_point() {
  local index=$1 settings=$2 key=$3 seed name=$work/$1 && shift 3
  for seed in ${study_seeds:--}; do
    [ ! -e "$work/failed" ] || return 1
    local variables=("$@" LINKSIM_STATS="$name.stats")
    [ "$seed" = - ] || variables+=(LINKSIM_SEED="$seed")
    study_run "$study_name: $key${seed/#-*/}${seed/#[0-9]*/, seed $seed}" "$settings" \
      "$name.out" "${variables[@]}" || { touch "$work/failed"; return 1; }
  done
  rm -f "$name.out"
  awk -F, -v key="$key" -v f="$study_figure" -v i="$index" -v total="$study_total" '
    NR == 1 { for (c = 1; c <= NF; c++) col[$c] = c } NR > 1 && $col[f] != "" { sum += $col[f]; n++ }
    END { printf "[%d/%d] %s: %s%s %s over %d runs\n", i, total, key, (n > 1 ? "mean " : ""),
      f, n ? sprintf("%.4g", sum / n) : "none", n }' "$name.stats" >&2
}
export -f study_point

# Runs the points of $work/points, "SETTINGS KEY VARIABLES..." a line, KEY
# the values of the columns KEYS (comma-separated), on all cores, a run per
# seed (one where the study has no SEEDS). Writes OUT/NAME_runs.csv, each
# run's stats row, and $work/summary.csv, a row per point: KEY, the runs,
# the mean of the column FIGURE and its 95% interval by Student's t
# (clipped at 0), and the share of frames the runs lost, then of data
# frames and of ACKs apart, the seeds' luck, by which a picture sets a
# point or draws its curve.
study_sweep() { # KEYS FIGURE
  local files=() index
  export study_figure=$2 study_seeds=${SEEDS:-}
  export study_total=$(wc -l <"$work/points")
  echo "Running $study_total point$([ "$study_total" = 1 ] || echo s) ($1)${SEEDS:+ of $(wc -w <<<"$SEEDS") seeds} on $(nproc) cores" >&2
  awk '{ print NR, $0 }' "$work/points" >"$work/numbered"
  # A process group of its own, which an interrupted study stops whole.
  set -m; xargs -P "$(nproc)" -L 1 bash -c 'study_point "$@"' _ <"$work/numbered" & sweep=$!; set +m
  wait "$sweep" || { echo "$study_name: a run failed; nothing written" >&2; exit 1; }
  sweep=''
  for ((index = 1; index <= study_total; index++)); do files+=("$work/$index.stats"); done
  runs=$out/${study_name//-/_}_runs.csv && awk 'FNR > 1 || NR == 1' "${files[@]}" >"$runs"
  awk -F, -v f="$2" -v points="$work/points" "$study_awk_t95"'
    function summary(   mean, variance, half) {
      mean = n ? sum / n : 0; variance = n > 1 ? (squares - n * mean * mean) / (n - 1) : 0
      half = n > 1 ? quantile(n - 1) * sqrt(variance > 0 ? variance : 0) / sqrt(n) : 0
      printf "%s,%d,%.6f,%.6f,%.6f,%.6g,%.6g,%.6g\n", key, n, mean, (mean > half ? mean - half : 0),
        mean + half, frames ? lost / frames : 0, data ? dataLost / data : 0,
        (frames > data ? (lost - dataLost) / (frames - data) : 0)
    }
    FNR == 1 {
      if (NR > 1) summary()
      getline line < points; split(line, field, " "); key = field[2]
      for (c = 1; c <= NF; c++) col[$c] = c
      n = sum = squares = lost = frames = dataLost = data = 0; next
    }
    { lost += $col["data_lost"] + $col["acks_lost"]; dataLost += $col["data_lost"]
      data += $col["data_sent"] + $col["data_resent"]
      frames += $col["data_sent"] + $col["data_resent"] + $col["acks_sent"] }
    $col[f] != "" { n++; sum += $col[f]; squares += $col[f] ^ 2 }
    END { summary() }' "${files[@]}" >"$work/summary.csv"
}

# For awk programs: quantile(df), Student t's two-sided 95% quantile; between
# two rows of the table the smaller count, which widens the interval.
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

# For awk programs on stats rows: header, a CSV header to print first;
# col[NAME] from the stats' header; and link(),
# which sets from a row td and ta, a data and an ACK frame's ticks on the
# link; t = Td + Ta + 2A + 2P; the hops hd and ha on linksim's clock, where
# a frame handed over at tick c arrives at c + ceil(P + A + X), and the
# round trip the runs take, dd = hd + ha (t where every stage is whole, and
# whole), k = dd / td; l, a run's ticks, last its last tick; to, the timeout.
# shellcheck disable=SC2016  # awk's fields, not the shell's
study_awk_link='
  function ceil(x) { return x == int(x) ? x : int(x) + 1 }
  BEGIN { if (header != "") print header }
  FNR == 1 && $1 == "protocol" { for (c = 1; c <= NF; c++) col[$c] = c; next }
  function link() {
    pd = $col["processing_delay"]; a = $col["propagation_delay"]
    td = ($col["data_packet_size"] + $col["data_packet_overhead"]) / $col["bit_rate"]
    ta = $col["ack_size"] / $col["bit_rate"]; t = td + ta + 2 * a + 2 * pd
    hd = ceil(pd + a + td); ha = ceil(pd + a + ta); dd = hd + ha; k = dd / td
    l = $col["duration"]; last = ceil(l) - 1; to = $col["timeout"]
    whole = pd == int(pd) && a == int(a) && td == int(td) && ta == int(ta)
  }'

# For awk programs after study_awk_link: the curves the runs follow, for
# the link last read and a run of its ticks (with longRun, without end),
# at the data frames' loss p and the ACKs' a (p where the ACKs are not
# apart); q = 1 - P = (1 - p) (1 - a), the chance a frame and its ACK
# arrive.
# shellcheck disable=SC2016
study_awk_curves='
  # What a window of w carries without loss: the ACKs by the last tick, ACK n
  # read at dd + n td + floor(n / w) max(0, dd - w td) (exact where whole).
  function capacity(w,   m, n, j) {
    if (longRun) return w * td >= dd ? 1 : w * td / dd
    if (w * td >= dd) return last < dd ? 0 : (int((last - dd) / td) + 1) * td / l
    for (m = 1; m * dd <= last; m++) { j = int((last - m * dd) / td) + 1; n += j < w ? j : w }
    return n * td / l
  }
  # c, frame times from a lost frame'"'"'s start to its resend'"'"'s: the timer fires
  # to later (a tick more at most, averaged), the resend P after, in turn.
  function goBack(w,   o, u, s) {
    o = pd + to + (ta > td ? (w - 1) * ta : 0)
    if (whole) return ceil(o / td)
    for (u = 0; u < 10; u++) s += ceil((o + (u + 0.5) / 10) / td)
    return s / 10
  }
  # Stop-and-wait: an attempt takes dd ticks (chance q) or ceil(P + to), dd
  # too where whole; q of those that end in the run succeed: (1 - P) / K.
  function stopAndWait(q,   e) {
    e = q * dd + (1 - q) * ceil(pd + to)
    return longRun ? q * td / e : q * td * int(last / e) / l
  }
  # Selective Repeat: q of what the window carries, 1 - P (W (1 - P) / K
  # below W = K), less, at the run'"'"'s end, the packets held back behind one
  # handed up whose ACK was lost and not yet made good by a resend (c frame
  # times apart, each answered with chance q), packets 1 / q frames apart.
  # The first loss is taken as 1 - sqrt(q), the loss of either way where
  # they are alike; where the ACKs'"'"' loss is apart, runs at ACK losses from
  # 0 to 0.4 hold this curve, and neither way'"'"'s loss alone.
  function selectiveRepeat(w, q,    c, i, x, n, prod, held) {
    if (longRun || q == 1) return q * capacity(w)
    c = goBack(w); prod = 1
    for (i = int(80 * c * q) + 60; i >= 0; i--) {
      x = i / q; n = int((x + hd / td - k) / c)
      prod *= x < ha / td ? 0 : 1 - (1 - sqrt(q)) * (1 - q) ^ (n > 0 ? n : 0)
      held += 1 - prod
    }
    return q * capacity(w) - (held - q * ceil(ha / td)) * td / l
  }
  # Go-Back-N: a band, lower counting every lost frame or ACK a go-back of c
  # frame times, upper lost data frames alone, at the data'"'"'s loss p in
  # bursts of mean length b and the ACKs'"'"' a in bursts of ba: on their own
  # (b = 1 / (1 - p), ba = 1 / (1 - a)), (1 - P) / (1 + (c - 1) P) and the
  # same with P = p, below W = K W (1 - P) / (K (1 - P + W P)); in bursts
  # upper (1 - B) / (1 - B + c r), and lower from the data and ACK chains
  # stepped as one (state s = 2 data + ACK, 1 bad) to its stationary share
  # s0 of arrivals, s0 / (s0 + c (1 - s0)) (the lab guide derives it). At
  # a = 0 the two are one curve: no ACK is lost to cost anything.
  function badAfter(n, bad, p, lam) { return bad ? p + (1 - p) * lam ^ n : p - p * lam ^ n }
  function goBackN(w, p, b, a, ba,    cap, c, q, big, s, n, bd, be, it, change, pi, nx, lam, lamA) {
    cap = capacity(w); q = (1 - p) * (1 - a); c = goBack(w)
    lam = 1 - 1 / (b * (1 - p)); lamA = 1 - 1 / (ba * (1 - a))
    if (w * td < dd) {
      lower = cap * q / (q + w * (1 - q)); upper = cap * (1 - p) / (1 - p + w * p)
    } else if (lam * lam < 1e-18 && (a == 0 || lamA * lamA < 1e-18)) {
      lower = cap * q / (q + c * (1 - q)); upper = cap * (1 - p) / (1 + (c - 1) * p)
    } else {
      c = int(c + 0.5); big = badAfter(c, 1, p, lam)
      upper = cap * (1 - big) / (1 - big + c * p / (b * (1 - p)))
      for (s = 0; s < 4; s++) pi[s] = (s >= 2 ? p : 1 - p) * (s % 2 ? a : 1 - a)
      for (it = 0; it < 100000; it++) {
        for (s = 0; s < 4; s++) nx[s] = 0
        for (s = 0; s < 4; s++) {
          n = s ? c : 1; bd = badAfter(n, s >= 2, p, lam); be = badAfter(n, s % 2, a, lamA)
          nx[3] += pi[s] * bd * be; nx[2] += pi[s] * bd * (1 - be)
          nx[1] += pi[s] * (1 - bd) * be; nx[0] += pi[s] * (1 - bd) * (1 - be)
        }
        for (s = change = 0; s < 4; s++) { change += (nx[s] - pi[s]) ^ 2; pi[s] = nx[s] }
        if (change < 1e-28) break
      }
      lower = cap * pi[0] / (pi[0] + c * (1 - pi[0]))
    }
  }'

# Sets td, t, hd, dd, k, c and whole from $work/link.stats, and the default
# windows, the smallest powers of two that cover a round trip (W Td >= D)
# for Go-Back-N, six tries of a frame (W Td >= 6 (D + Td)) for Selective
# Repeat, short of which a frame held up for more stalls the window. k and
# c_words are in a picture's words, three figures (whole past 1000, which
# %g would write as 1.02e+03); c is exact, for the sums.
study_link_figures() {
  read -r td t hd dd k c c_words whole go_back_n selective_repeat < <(
    awk -F, "$study_awk_link$study_awk_curves"'
      function words(x) { return sprintf(x < 999.5 ? "%.3g" : "%.0f", x) }
      { link() } END {
      for (g = 1; g * td < dd && g < 65536; g *= 2);
      for (s = 1; s * td < 6 * (dd + td) && s < 65536; s *= 2);
      printf "%g %g %g %g %s %.17g %s %d %d %d\n", td, t, hd, dd, words(k), goBack(g),
        words(goBack(g)), whole, g, s
    }' "$work/link.stats")
}

# The link in a picture's words, the runs' own round trip where a hop
# rounds up to a whole tick.
study_link_words() {
  local name="the study's link"
  [ -z "$LINK" ] || name="the link of $(basename "$LINK")"
  if [ "$whole" = 1 ]; then
    echo "$name: Td = $td ticks a data frame, a round trip of T = $t (K = $k frames), c = $c_words frame times a go-back costs"
  else
    echo "$name: Td = $td ticks a data frame; a round trip of T = $t takes D = $dd on linksim's clock, each hop rounded up to a whole tick, and the curves take D (K = D / Td = $k frames); c = $c_words frame times a go-back costs"
  fi
}

# The measured points stand; only the picture needs gnuplot. Without it,
# says which FILES were written and how to get it, and exits with status 1.
study_need_gnuplot() {
  command -v gnuplot >/dev/null && return 0
  echo "Wrote $(sed 's/ \([^ ]*\)$/ and \1/' <<<"$*"), but no picture: gnuplot is not installed." >&2
  echo "For the picture: apt-get install -y gnuplot-nox, and run this again." >&2
  exit 1
}

# Prints gnuplot's plot command for the items given, an item a line.
study_plot() { printf 'plot %s' "$1" && printf ',\\\n  %s' "${@:2}" && echo; }

# Draws FILE (.png, .svg or .pdf), WIDTH x HEIGHT pixels (a PDF at 96 an
# inch), from gnuplot's commands on standard input, which read CSV, titled
# with the LINEs folded to fit, none clipped; with [multiplot] first,
# panels under one title. Without Cairo, libgd's PNG terminal.
study_picture() { # FILE WIDTH HEIGHT [multiplot] LINE...
  local file=$1 width=$2 height=$3 title=title terminal="pngcairo size $2,$3 font ',11'"
  shift 3
  [ "$1" != '[multiplot]' ] || { title='multiplot title' && shift; }
  case $file in
    *.svg) terminal="svg size $width,$height font ',11' background '#ffffff'" ;;
    *.pdf) terminal=$(awk -v w="$width" -v h="$height" 'BEGIN { print "pdfcairo size " w / 96 "in," h / 96 "in font \",8\"" }') ;;
    *) gnuplot -e 'set terminal pngcairo' 2>/dev/null || terminal="png size $width,$height" ;;
  esac
  { printf '%s\n' "set terminal $terminal" "set output '$file'" "set termoption noenhanced" \
      "set datafile separator ','" "set $title noenhanced \"$(printf '%s\n' "$@" |
        fold -s -w $((width / 8)) | awk '{ sub(/ +$/, ""); gsub(/"/, "\\\"")
          printf "%s%s", (NR > 1 ? "\\n" : ""), $0 }')\""
    cat; } | gnuplot
}

# A run's trace from FROM to TO as gnuplot draws it, in $work/timeline.dat:
# the source at 0, the sink at 1. Each way keeps its frames' order, so the
# n-th frame a node sends is the n-th its peer sees: a line from sender to
# receiver, a lost one stopping halfway at a cross, one on the link at the
# end going on for a hop. A frame shows its number and, where they differ
# (k-bit numbers), its packet's; what a node did in a tick is one label
# ("delivered 3, 4"), red where a packet P was handed up out of turn, as
# the N-th ("P as N"). Blocks: 0 data, 1 sent again, 2 the sink's frames,
# 3 lost, 4 labels, 5 timeouts, 6 deliveries, 7 wrong ones, 8 discards,
# 9 buffered, 10 acknowledged.
study_timeline_data() { # TRACE FROM TO
  rm -f "$work/wrong"
  awk -F, -v from="$2" -v to="$3" -v wrong="$work/wrong" '
    function mark(event, text,    n) {
      if ($1 < from || $1 > to) return
      n = marks[event]
      if (n && at[event, n] == $1) text_[event, n] = text_[event, n] ", " text
      else { marks[event] = ++n; at[event, n] = $1; text_[event, n] = text }
    }
    function block(event, x, word, red,    i) {
      for (i = 1; i <= marks[event]; i++) if (red == "" || red == (event SUBSEP i in wrongAt))
        printf "%s %s \"%s %s\"\n", x, at[event, i], word, text_[event, i]
      printf "%s -1e9 \"\"\n\n\n", x
    }
    NR == 1 || $3 == "end" { next }
    $3 == "send" || $3 == "resend" {
      d = $2 == "sink"; n = ++sends[d]; sent[d, n] = $1; again[d, n] = $3 == "resend"
      label[d, n] = ($4 == "data" && again[d, n] ? "" : $4 " ") $5 ($5 == $6 ? "" : " (" $6 ")") \
        (again[d, n] ? " again" : "")
    }
    $3 == "lost" || $3 == "receive" {
      d = $2 == "source"; n = ++seens[d]; seen[d, n] = $1; lost[d, n] = $3 == "lost"
      if (!(d in hop)) hop[d] = $1 - sent[d, n]
    }
    $3 == "deliver" {
      mark("deliver", $6 == handed ? $6 : $6 " as " handed)
      if ($6 != handed++ && $1 >= from && $1 <= to) { wrongAt["deliver", marks["deliver"]]; any = 1 }
    }
    $3 == "timeout" || $3 == "discard" || $3 == "buffer" || $3 == "acknowledged" { mark($3, $6) }
    END {
      for (d = 0; d <= 1; d++) {
        for (n = 1; n <= sends[d]; n++) {
          x0 = d; y0 = sent[d, n]; x1 = 1 - d; y1 = n <= seens[d] ? seen[d, n] : y0 + hop[d]
          if (y0 > to || y1 < from) continue
          if (n <= seens[d] && lost[d, n]) { x1 = 0.5; y1 = (y0 + y1) / 2; crosses = crosses x1 " " y1 "\n" }
          b = d ? 2 : again[d, n]
          line[b] = line[b] sprintf("%g %g %g %g\n", x0, y0, x1 - x0, y1 - y0)
          y = y0 + (y1 - y0) * 0.3 / (x1 > x0 ? x1 - x0 : x0 - x1)
          labels = labels sprintf("%g %g \"%s\"\n", d ? 0.7 : 0.3, y, label[d, n])
        }
      }
      for (b = 0; b <= 2; b++) printf "%s0 -1e9 0 0\n\n\n", line[b]
      printf "%s0 -1e9\n\n\n%s0 -1e9 \"\"\n\n\n", crosses, labels
      block("timeout", 0, "timeout"); block("deliver", 1, "delivered", 0)
      block("deliver", 1, "handed up", 1); block("discard", 1, "discarded")
      block("buffer", 1, "buffered"); block("acknowledged", 0, "acknowledged")
      if (any) print "wrong" > wrong
    }' "$1" >"$work/timeline.dat"
}

# Prints gnuplot's commands for the timeline from FROM to TO, portrait
# (time running down, the source on the left) or landscape (time running
# right, the source on top), in the protocol's words for its ACKS,
# TIMEOUTS, DISCARDS and BUFFERS (empty: none drawn).
study_timeline_plot() { # FROM TO ORIENTATION ACKS TIMEOUTS DISCARDS BUFFERS
  local from=$1 to=$2 step xy vector label source sink dat="'$work/timeline.dat'"
  # A tick mark every 1, 2 or 5 times a power of ten: twenty or fewer.
  step=$(awk -v span="$((to - from))" 'BEGIN { for (s = 1; s * 20 < span; s *= 10);
    print (s / 5 * 20 >= span ? s / 5 : s / 2 * 20 >= span ? s / 2 : s) }')
  local axis="nohead lw 3 lc rgb 'black' back"
  if [ "$3" = landscape ]; then
    xy='2:(1 - $1)' vector='2:(1 - $1):4:(-$3)' label='2:(1 - $1):3'
    source='rotate by 90 left offset 0,1' sink='rotate by -90 left offset 0,-1'
    printf '%s\n' "set xrange [$from:$to]" "set yrange [-0.7:1.7]" "set xtics $step nomirror" "set grid xtics" \
      "set ytics ('source' 1, 'sink' 0) font ',13'" "set border 1" \
      "set arrow from $from,0 to $to,0 $axis" "set arrow from $from,1 to $to,1 $axis"
  else
    xy='1:2' vector='1:2:3:4' label='1:2:3' source='right offset -1,0' sink='left offset 1,0'
    printf '%s\n' "set xrange [-0.45:1.45]" "set yrange [$to:$from]" "set ytics $step nomirror" \
      "set ylabel 'clock (ticks), time running down'" "set grid ytics" "unset xtics" "set border 2" \
      "set x2tics ('source' 0, 'sink' 1) font ',13'" "set arrow from 0,$from to 0,$to $axis" "set arrow from 1,$from to 1,$to $axis"
  fi
  printf '%s\n' "set key below horizontal noenhanced" "set clip two" "set datafile separator whitespace" \
    "set style textbox opaque noborder margins 1,1"
  local head='with vectors filled head size screen 0.008,20 lw 1.5' marks="using $label with labels"
  local plot=(
    "$dat index 0 using $vector $head lc rgb '#1f6fb4' title 'data frame'"
    "$dat index 1 using $vector $head dt 2 lc rgb '#7b3294' title 'data frame sent again'"
    "$dat index 2 using $vector $head lc rgb '#1b9e77' title '$4'"
    "$dat index 3 using $xy with points pt 2 ps 2.5 lw 3 lc rgb '#d7191c' title 'lost'"
    "$dat index 4 $marks boxed font ',10' notitle"
    "$dat index 6 $marks $sink point pt 7 ps 1 lc rgb 'black' title 'delivered'"
    "$dat index 10 $marks $source font ',9' tc rgb '#1b9e77' notitle")
  [ ! -e "$work/wrong" ] || plot+=("$dat index 7 $marks $sink point pt 7 ps 1.5 lc rgb '#d7191c' tc rgb '#d7191c' title 'a wrong packet handed up: P as the N-th'")
  [ -z "$5" ] || plot+=("$dat index 5 $marks $source point pt 6 ps 1.5 lc rgb '#d7191c' tc rgb '#d7191c' title '$5'")
  [ -z "$6" ] || plot+=("$dat index 8 $marks $sink point pt 6 ps 1 lc rgb '#888888' tc rgb '#888888' title '$6'")
  [ -z "$7" ] || plot+=("$dat index 9 $marks $sink point pt 4 ps 1 lc rgb '#e08214' tc rgb '#e08214' title '$7'")
  study_plot "${plot[@]}"
}
