#!/usr/bin/env bash
# One run of a protocol, drawn frame by frame from its trace.
#
# One short run of a protocol on a lossy link (error-free for the sliding
# window), or one that loses the frames DROP names and no others, drawn
# from its trace as a time-sequence diagram: the source and
# the sink as two time axes, every frame a line from its sender as it
# starts to its receiver as that sees it, a lost one stopping halfway at a
# cross, and what each node did in the protocol's own words (delivered,
# discarded, buffered, acknowledged, timeouts). With k-bit sequence numbers
# a frame shows its number and the packet it holds, and a packet handed up
# out of turn shows in red. For slides: any stretch of the run, portrait or
# landscape, PNG, SVG or PDF.
#
# Writes OUTDIR/timeline.csv, the run's trace, and OUTDIR/timeline.png
# (.svg, .pdf), whose title gives every setting, so that the run can be
# repeated.
set -euo pipefail
# shellcheck source=studies/study.bash
source "$(dirname "${BASH_SOURCE[0]}")/study.bash"
study_is_protocol() { study_is_arq "$1" || [ "$1" = sliding-window ]; }
study_is_orientation() { [[ $1 =~ ^(portrait|landscape)$ ]]; }
study_is_format() { [[ $1 =~ ^(png|svg|pdf)$ ]]; }
study_is_size() { [[ $1 =~ ^[1-9][0-9]{1,4}x[1-9][0-9]{1,4}$ ]]; }
study_is_tick() { study_is_whole "$1" 0 9007199254740992; }
study_is_drop() { [[ $1 =~ ^(data|ack):[1-9][0-9]{0,17}(,[1-9][0-9]{0,17})*$ ]]; }
study_knob 'PROTOCOL PROTOCOLS' go-back-n protocol "stop-and-wait, go-back-n, selective-repeat or sliding-window (or as PROTOCOLS)"
study_knob 'WINDOW WINDOWS' 4 window "the window, from 1 to 65536, which stop-and-wait has not (or as WINDOWS)"
study_knob 'LOSS LOSSES' '' loss "the frame loss probability, 0 <= p < 1, which the sliding window has not (or as LOSSES; default: 0.2, or 0 with DROP)"
study_knob DROP '' drop... "the frames to lose, as LINKSIM_DROP names them: data:N[,N...] ack:N[,N...], the N-th data frame or ACK put on the link, counted from 1, resends too; the sliding window loses none (default: none)"
study_knob 'SEED SEEDS' 7 seed "the seed of the losses, 0 to 2^64 - 1 (or as SEEDS)"
study_knob SEQUENCE_BITS '' bits "k: frames numbered modulo 2^k, 1 to 16 (default: 31, numbers that never wrap)"
study_common_knobs 400
study_knob FROM 0 tick "the first tick drawn"
study_knob TO '' tick "the last tick drawn (default: the run's end)"
study_knob ORIENTATION portrait orientation "portrait (time running down) or landscape (time running right)"
study_knob SIZE '' size "WIDTHxHEIGHT in pixels (default: 1000x1500 portrait, 1600x900 landscape)"
study_knob FORMAT png format "png, svg or pdf"
study_start "$@"

to=${TO:-$duration}
[ "$FROM" -lt "$to" ] && [ "$to" -le "$duration" ] ||
  study_fail "FROM and TO must be ticks of the run, FROM < TO <= DURATION = $duration"
size=${SIZE:-$([ "$ORIENTATION" = portrait ] && echo 1000x1500 || echo 1600x900)}
# Each protocol in its own words: its name, its ACKs, its timeouts, and
# what its sink does with a frame it does not deliver.
declare -A words=(
  [stop-and-wait]='Stop-and-wait|ACK (of that frame)|timeout (that frame again)|discarded (a duplicate)|'
  [go-back-n]='Go-Back-N|ACK (cumulative)|timeout (go back)|discarded (a duplicate, or out of order)|'
  [selective-repeat]='Selective Repeat|ACK (of that frame alone)|timeout (that frame alone again)|discarded (a duplicate)|buffered (kept for later)'
  [sliding-window]='Sliding window|ACK (of that packet)|||')
IFS='|' read -r name ack timeout discard buffer <<<"${words[$PROTOCOL]}"
[ "$PROTOCOL" != sliding-window ] || [ -z "$DROP" ] ||
  study_fail "DROP: the sliding window loses no frame; drop frames of stop-and-wait, go-back-n or selective-repeat"
drop=${DROP//$'\n'/ } LOSS=${LOSS:-$([ -n "$drop" ] && echo 0 || echo 0.2)}
random=$(awk -v p="$LOSS" 'BEGIN { print (p > 0) }')
variables=(LINKSIM_ARQ="$PROTOCOL")
[ "$PROTOCOL" = stop-and-wait ] || variables+=(LINKSIM_WINDOW="$WINDOW")
# The seed where the run draws its losses, and the drop list as one word.
[ "$PROTOCOL" = sliding-window ] ||
  variables+=(LINKSIM_LOSS="$LOSS" ${SEQUENCE_BITS:+LINKSIM_SEQUENCE_BITS=$SEQUENCE_BITS})
[ "$PROTOCOL" = sliding-window ] || [ "$random" = 0 ] || variables+=(LINKSIM_SEED="$SEED")
[ -z "$drop" ] || variables+=(LINKSIM_DROP="$drop")

trace=$out/timeline.csv
study_settings "$work/link.txt"
study_run "$study_name" "$work/link.txt" "$work/session" "${variables[@]}" \
  LINKSIM_TRACE="$trace" LINKSIM_STATS="$work/link.stats" || exit 1
study_need_gnuplot "$trace"

settings=$(awk -F, "$study_awk_link"' { link()
    printf "Propagation Delay %s, Processing Delay %s, Bit Rate %s, Data Packet Size %s, ",
      a, pd, $col["bit_rate"], $col["data_packet_size"]
    printf "Data Packet Overhead %s, ACK Size %s, Simulation Duration %s, Packet Rate %s ",
      $col["data_packet_overhead"], $col["ack_size"], l, $col["packet_rate"]
    printf "(Td = %g, Ta = %g, T = %g ticks; %s)", td, ta, t,
      to == "" ? "no timer" : "the timeout derived from the link, " to
  }' "$work/link.stats")
lossy=$([ "$PROTOCOL" = sliding-window ] && echo 'an error-free link' || echo 'a lossy link')
if [ -n "$drop" ]; then
  # The frames named in words: "the 3rd and 7th data frames and the 2nd ACK".
  named=$(tr ' ' '\n' <<<"$drop" | awk -F'[:,]' '
    function nth(n) {
      return n (n % 100 > 10 && n % 100 < 14 ? "th" : n % 10 == 1 ? "st" : n % 10 == 2 ? "nd" : n % 10 == 3 ? "rd" : "th")
    }
    function list(words, n,    i, text) {
      for (i = 1; i <= n; i++) text = text (i == 1 ? "" : i == n ? " and " : ", ") words[i]
      return text
    }
    { for (i = 2; i <= NF; i++) if (!seen[$1, $i]++) places[$1] = places[$1] (places[$1] == "" ? "" : ",") $i }
    END {
      split("data ack", kinds, " ")
      for (k = 1; k <= 2; k++) if ((kind = kinds[k]) in places) {
        n = split(places[kind], at, ","); for (i = 1; i <= n; i++) words[i] = nth(at[i])
        groups[++g] = "the " list(words, n) " " (kind == "data" ? "data frame" : "ACK") (n > 1 ? "s" : "")
      }
      print list(groups, g)
    }')
  lossy=$([ "$random" = 1 ] && echo "a lossy link that loses $named put on it too" ||
    echo "a link that loses $named put on it, and no other")
fi
stretch=$([ "$FROM" = 0 ] && [ "$to" = "$duration" ] || echo ", ticks $FROM to $to")
study_timeline_data "$trace" "$FROM" "$to"
file=$out/timeline.$FORMAT
study_timeline_plot "$FROM" "$to" "$ORIENTATION" "$ack" "$timeout" "$discard" "$buffer" |
  study_picture "$file" "${size%x*}" "${size#*x}" "$name on $lossy, from its trace$stretch:" \
    "${variables[*]}" "$settings"
echo "Wrote $trace and $file" >&2
