#!/usr/bin/env bash
# linksim-exercise on the sets that ship, and on bad input:
# - each set's sheet is the same twice and differs between two students;
# - the key's q columns, written one a line, grade as full marks, and the
#   same answers with one changed grade as that question wrong (status 1);
# - every file it cannot use is one line on standard error naming the file
#   (and the line), status 2, and no grade; lost output is said, not silent.
#
#   exercise_sets_test.sh LINKSIM_EXERCISE
set -u
program=$(realpath "$1")
sets=(stop_and_wait window_limit go_back_n)
exercises=$(cd "$(dirname "$0")/../exercises" && pwd)
cd "$(mktemp -d /tmp/linksim_exercise.XXXXXX)" && trap 'rm -rf "$PWD"' EXIT

failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

printf 'alice@example.org\n  s1234567  \n\nbob\n' >students
for set in "${sets[@]}"; do
  file=$exercises/$set.txt
  "$program" sheet "$file" alice@example.org >alice.md || fail "$set: sheet"
  "$program" sheet "$file" alice@example.org | cmp -s - alice.md ||
    fail "$set: two sheets for one student differ"
  "$program" sheet "$file" bob | cmp -s - alice.md &&
    fail "$set: two students have the same sheet"
  "$program" key "$file" students >key.csv || fail "$set: key"
  [ "$(wc -l <key.csv)" = 4 ] || fail "$set: the key has no row for each student"
  questions=$(head -n 1 key.csv | tr , '\n' | grep -c '^q[0-9]*$')
  while IFS=, read -r student rest; do
    [ "$student" = student ] && continue
    tr , '\n' <<<"$rest" | tail -n "$questions" >right
    out=$("$program" grade "$file" "$student" right) ||
      fail "$set: the key's answers for $student: $out"
    [ "$(tail -n 1 <<<"$out")" = "score: $questions of $questions" ] ||
      fail "$set: $student's score: $(tail -n 1 <<<"$out")"
    # The second answer off by far more than any question allows.
    awk 'NR == 2 { $0 = ($0 == "none" ? 1 : $0 * 3 + 1000) } 1' right >wrong
    status=0
    out=$("$program" grade "$file" "$student" wrong) || status=$?
    [ $status = 1 ] && grep -q '^q2 wrong: ' <<<"$out" &&
      [ "$(grep -c ' right: ' <<<"$out")" = $((questions - 1)) ] ||
      fail "$set: one wrong answer for $student (status $status): $out"
  done <key.csv
done

# Bad input: status 2, this one line on standard error, nothing on
# standard output.
exercise=$exercises/stop_and_wait.txt
mkdir directory
mkfifo fifo
printf 'linksim-exercise 1\n\001\n' >binary
head -c 1048577 /dev/zero | tr '\0' '#' >huge
printf 'linksim-exercise 1\ntitle: T\nquestion: Q\nanswer: median data\n' >kind
printf '1\nabc\n' >answers
printf '1\n2\n3\n4\n5\n6\n' >toomany
me=linksim-exercise
while IFS='|' read -r arguments message; do
  status=0
  out=$(eval "\"$program\" $arguments" 2>errors) || status=$?
  [ $status = 2 ] && [ -z "$out" ] && [ "$(cat errors)" = "$message" ] ||
    fail "$arguments: status $status, standard error: $(cat errors)"
done <<EOF
sheet directory alice|$me: directory: cannot read: it is a directory
sheet missing alice|$me: missing: cannot read: No such file or directory
sheet fifo alice|$me: fifo: cannot read: it is not a regular file
sheet binary alice|$me: binary:2: not a text file: it holds the byte 0x01, a control character
sheet huge alice|$me: huge: too large: more than 1048576 bytes
sheet kind alice|$me: kind:4: no kind of answer is 'median' (summary, stats, count, clock, packet, sequence or formula)
grade $exercise alice answers|$me: answers:2: not a number: 'abc' (an answer is a number, none, or a blank line)
grade $exercise alice toomany|$me: toomany:6: an answer past the last question (the exercise has 5)
grade $exercise alice directory|$me: directory: cannot read: it is a directory
key $exercise binary|$me: binary:2: not a text file: it holds the byte 0x01, a control character
sheet $exercise ' '|$me: the student's identifier is empty
EOF
status=0
"$program" sheet "$exercise" 2>errors || status=$?
[ $status = 2 ] && grep -qx "$me: sheet takes EXERCISE STUDENT" errors ||
  fail "a command short of its arguments: status $status"
printf '1\n' >one
status=0
LINKSIM_ARQ_PROGRAM=/nonexistent "$program" grade "$exercise" alice one \
  2>errors || status=$?
[ $status = 2 ] && grep -qx "$me: .*: cannot run the scenario drawn for alice: cannot run /nonexistent: No such file or directory" errors ||
  fail "a grading with no linksim-arq: status $status: $(cat errors)"

# linksim-arq stand-ins, each failing one way, on a small exercise: status
# 2 and one line naming the exercise (and the line of the variable named).
# The runs' directories go to tmp/, which must be empty after each.
mkdir tmp stubs
export TMPDIR=$PWD/tmp
printf 'linksim-exercise 1\ntitle: T\nLINKSIM_LOSS = 0.1\nLINKSIM_WINDOW = 4\nquestion: Q\nanswer: summary timeouts\n' >small
stub() {  # NAME BODY: a linksim-arq that runs BODY
  printf '#!/usr/bin/env bash\n%s\n' "$2" >"stubs/$1"
  chmod +x "stubs/$1"
}
stub refuses 'echo "linksim: LINKSIM_WINDOW must be a whole number from 1 to 65536" >&2; exit 2'
stub ignores 'echo "linksim: warning: LINKSIM_LOSS is ignored: sliding-window does not read it" >&2'
stub rejects 'echo "Invalid value for Bit Rate (0.000000)" >&2; exit 3'
stub crashes 'kill -SEGV $$'
stub vanishes 'exit 127'
# Runs as linksim-arq would, where none of the caller's LINKSIM_ variables
# but the scenario's reach it.
stub runs '[ -z "${LINKSIM_SEED+set}" ] && [ "$LINKSIM_LOSS" = 0.1 ] &&
  grep -qx "Bit Rate 100" "$1" || exit 4
printf "clock,node,event,frame,sequence,packet\n" >"$LINKSIM_TRACE"
printf "acknowledged packet 0 at 5.000000\nsummary: timeouts: 3\n"'
stub sleeps 'exec sleep 30'
echo 3 >three
while IFS='|' read -r name message; do
  status=0
  LINKSIM_SEED=7 LINKSIM_LOSS=0.9 LINKSIM_ARQ_PROGRAM=stubs/$name \
    "$program" grade small alice three >/dev/null 2>errors || status=$?
  expected=2
  [ -z "$message" ] && expected=0
  [ $status = $expected ] && [ "$(cat errors)" = "$message" ] ||
    fail "linksim-arq that $name: status $status: $(cat errors)"
  [ -z "$(ls tmp)" ] || fail "linksim-arq that $name: tmp/ holds $(ls tmp)"
done <<CASES
refuses|$me: small:4: linksim-arq refuses the scenario drawn for alice: linksim: LINKSIM_WINDOW must be a whole number from 1 to 65536
ignores|$me: small:3: linksim-arq refuses the scenario drawn for alice: linksim: warning: LINKSIM_LOSS is ignored: sliding-window does not read it
rejects|$me: small: cannot run the scenario drawn for alice: linksim-arq's run failed (status 3): Invalid value for Bit Rate (0.000000)
crashes|$me: small: cannot run the scenario drawn for alice: linksim-arq was ended by signal 11
vanishes|$me: small: cannot run the scenario drawn for alice: cannot run stubs/vanishes: it could not be started
runs|
CASES
# Interrupted during a run: the run and its directory go with the command.
LINKSIM_ARQ_PROGRAM=stubs/sleeps "$program" key small students 2>/dev/null &
pid=$!
for _ in $(seq 50); do [ -n "$(ls tmp)" ] && break; sleep 0.1; done
kill -INT $pid
status=0
wait $pid || status=$?
[ $status = 130 ] && [ -z "$(ls tmp)" ] && ! pgrep -x sleep -P $pid >/dev/null ||
  fail "an interrupted key: status $status, tmp/ holds $(ls tmp)"
unset TMPDIR

# Output that cannot be written: a full disk, and a pipe whose reader has
# gone before the command starts, as a reader that leaves early.
status=0
"$program" sheet "$exercise" alice >/dev/full 2>errors || status=$?
[ $status = 2 ] && [ "$(cat errors)" = "$me: cannot write the sheet: No space left on device" ] ||
  fail "a full disk: status $status: $(cat errors)"
status=0
python3 -c 'import os, subprocess, sys
reader, writer = os.pipe()
os.close(reader)
sys.exit(subprocess.call(sys.argv[1:], stdout=writer))' \
  "$program" key "$exercise" students 2>errors || status=$?
[ $status = 2 ] && [ "$(cat errors)" = "$me: cannot write the key: Broken pipe" ] ||
  fail "a reader gone: status $status: $(cat errors)"

[ "$failures" = 0 ] && echo "exercise sets test passed: ${sets[*]}"
