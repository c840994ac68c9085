#!/usr/bin/env bash
# Drives linksim in a real terminal (a detached tmux session with the real
# "clear"): a load of examples/link.txt, a run with its summary, a reload
# answered n, and exit. After every pause the screen must hold the prompt at
# its top and nothing else; at the end the program must have ended with
# status 0. Then Ctrl-C and Ctrl-\, typed while a slow stub clear runs, must
# end linksim by SIGINT and SIGQUIT. Without tmux or clear the test fails:
# it cannot pass unrun.
#
#   tests/tmux_test.sh BINARY
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

for tool in tmux clear; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 1; }
done

binary=$(realpath "$1")
# Ctrl-\ ends linksim with a core dump, which must not land in the tree; the
# tmux server and its panes inherit the limit.
ulimit -c 0
work=$(mktemp -d /tmp/linksim_tmux.XXXXXX)
socket=$work/socket
# TERM may be unset (CI); the server and its panes need one.
tm() { TERM=xterm tmux -S "$socket" -f /dev/null "$@"; }
trap 'tm kill-server 2>/dev/null || true; rm -rf "$work"' EXIT

prompt='Tarvex Command Line>>'
ended='[linksim ended with status'

screen() { tm capture-pane -p -t "${target:-linksim}"; }

fail() {
  echo "tmux test FAILED: $*"
  echo "--- screen:"
  screen || true
  echo "---"
  exit 1
}

# Polls for up to 30 seconds until the command after `what` succeeds.
wait_until() {
  local what=$1 i
  shift
  for i in $(seq 600); do
    if "$@"; then return 0; fi
    sleep 0.05
  done
  fail "timed out waiting for $what"
}

shows() { screen | grep -qF -- "$1"; }

# The screen right after a clear: the prompt on the first line, all else
# blank.
prompt_at_top() {
  local content
  content=$(screen)
  [ "$(printf '%s\n' "$content" | head -n 1)" = "$prompt" ] &&
    [ -z "$(printf '%s\n' "$content" | tail -n +2 | tr -d ' \n')" ]
}

type_line() { tm send-keys -t linksim -l -- "$1" && tm send-keys -t linksim Enter; }

tm new-session -d -s linksim -x 120 -y 40 \
  "cd '$root' && '$binary'; echo \"$ended \$?]\"; sleep 600"
# Everything the program writes, for the checks the screen cannot show.
tm pipe-pane -t linksim -o "cat >>'$work/output'"

wait_until "the first prompt" prompt_at_top

type_line "load examples/link.txt"
wait_until "the load's pause" shows "Press any key to return to menu"
shows "Settings loaded successfully" || fail "load did not report success"
type_line ""
wait_until "the prompt after the load" prompt_at_top

type_line "run"
wait_until "the settings summary" shows "Press any key to continue..."
shows "Simulation Duration : 500.000000" || fail "summary lacks the duration"
type_line ""
wait_until "the run's pause" shows "Press any key to return to menu"
shows "Simulation completed successfully" || fail "run did not complete"
type_line ""
wait_until "the prompt after the run" prompt_at_top

type_line "load examples/link.txt"
wait_until "the reload question" shows "Do you want to continue(Y/N):"
# n and Enter: n refuses, and the Enter left behind ends the pause at once.
type_line "n"
wait_until "the prompt after the refused reload" prompt_at_top
answer=$(sed -n '/continue(Y\/N): /,$p' "$work/output" 2>/dev/null || true)
if printf '%s' "$answer" | grep -qF "Settings loaded successfully"; then
  fail "the reload answered n loaded the file"
fi

type_line "exit"
wait_until "the end of the program" shows "$ended"
shows "Returning to OS" || fail "no shutdown lines"
shows "$ended 0]" || fail "linksim did not end with status 0"

# The stub clear sleeps, so each key arrives while it runs. The shell that
# starts linksim traps both signals, so it neither dies of them nor passes
# them on as ignored, and lives on to tell how linksim ended: 128 plus the
# signal's number.
mkdir "$work/slow"
printf '#!/bin/sh\nprintf "[slow clear]"\nexec sleep 600\n' >"$work/slow/clear"
chmod +x "$work/slow/clear"
cat >"$work/job" <<EOF
trap : INT QUIT
PATH='$work/slow':"\$PATH" '$binary'
echo "$ended \$?]"
sleep 600
EOF
for key_signal in C-c:2 'C-\:3'; do
  key=${key_signal%:*} signal=${key_signal##*:} target=interrupt$signal
  tm new-session -d -s "$target" -x 80 -y 10 "exec bash '$work/job'"
  wait_until "the slow clear" shows "[slow clear]"
  tm send-keys -t "$target" "$key"
  wait_until "linksim to end on $key" shows "$ended"
  shows "$ended $((128 + signal))]" ||
    fail "$key did not end linksim by signal $signal"
done
echo "Real-terminal test: passed"
