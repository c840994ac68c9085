#!/usr/bin/python3
"""The lab page's goals, measured; they check nothing.

    lab_bench.py PAGE BIN_DIR [REPEATS]

Side by side on one machine: the engine in the page (linksim-arq in
WebAssembly, in headless Chromium) against the native linksim-arq of
BIN_DIR on the same run, Go-Back-N with a window of 8 and loss 0.1 over a
million ticks of the example link, untraced, one native run and one in the
page in turn, so that both meet the same load; the native run's
instructions under callgrind beside its time. Then, in the page: the first run shown
after opening it from disk; a run again after a click, on a 10,000-tick
scenario; the frames while playing a trace of over 100,000 rows; an
exercise link opened (its core compiled at the first) and its predictions
graded, the run included; and the page's size. Each time is the median of REPEATS (default 5) runs.
"""

import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', 'tests', 'web'))
sys.argv, arguments = sys.argv[:3], sys.argv
import lab_test  # noqa: E402  (the tests' browser and paths)

PAGE, BIN = lab_test.PAGE, lab_test.BIN
# The first exercise opened is told apart from the next ones: two at least.
REPEATS = max(2, int(arguments[3])) if len(arguments) > 3 else 5
LINK = open(os.path.join(os.path.dirname(__file__), '..', 'examples', 'link.txt')).read()
MILLION = re.sub(r'Simulation Duration \S+', 'Simulation Duration 1000000', LINK)
ENV = {'LINKSIM_ARQ': 'go-back-n', 'LINKSIM_WINDOW': '8', 'LINKSIM_LOSS': '0.1'}


def native(path):
    """The native run of the settings file `path`: its ms and its output."""
    start = time.perf_counter()
    out = subprocess.run([os.path.join(BIN, 'linksim-arq'), path], env=dict(os.environ, **ENV),
                         capture_output=True, text=True, check=True).stdout
    return (time.perf_counter() - start) * 1000, out


def instructions(path):
    grind = subprocess.run(
        ['valgrind', '--tool=callgrind', '--callgrind-out-file=/dev/null',
         os.path.join(BIN, 'linksim-arq'), path], env=dict(os.environ, **ENV),
        capture_output=True, text=True)
    counted = re.search(r'Collected : ([0-9]+)', grind.stderr)
    return counted.group(1) if counted else '?'


def main():
    directory = tempfile.TemporaryDirectory()
    path = os.path.join(directory.name, 'link.txt')
    with open(path, 'w') as file:
        file.write(MILLION)
    counted = instructions(path)
    browser = lab_test.start_browser()
    try:
        opened = []
        for _ in range(REPEATS):
            browser.get('about:blank')
            browser.get(lab_test.URL + '#LINKSIM_ARQ=go-back-n&LINKSIM_LOSS=0.1')
            deadline = time.time() + 20
            while browser.execute_script('return window.lab && lab.timings.firstRun') is None:
                if time.time() > deadline:
                    raise SystemExit('the page showed no first run')
                time.sleep(0.01)
            opened.append(browser.execute_script('return lab.timings.firstRun'))
        page = []
        main_only = []
        natives = []
        for _ in range(REPEATS):
            native_ms, native_out = native(path)
            natives.append(native_ms)
            result = browser.execute_async_script(
                '''const done = arguments[arguments.length - 1];
                Engine.run('arq', {args: ['link.txt'], env: arguments[0],
                  files: {'link.txt': arguments[1]}}).then((r) => done(
                  {ms: r.ms, mainMs: r.mainMs, same: r.stdout === arguments[2]}))''',
                ENV, MILLION, native_out)
            assert result['same'], 'the page wrote another output than the native run'
            page.append(result['ms'])
            main_only.append(result['mainMs'])
        again = []
        fragment = 'LINKSIM_ARQ=go-back-n&LINKSIM_LOSS=0.1&Simulation%20Duration=10000'
        browser.execute_script('history.replaceState(null, "", "#" + arguments[0]);'
                               'readAddress(); return runScenario()', fragment)
        # One frame that arrived, lost by one click and let through by the
        # next: the channel's own losses no click can undo.
        line = browser.execute_script(
            'return document.querySelector(".frame:not(.lost)").dataset.line')
        for i in range(REPEATS):
            before = browser.execute_script('return lab.shown')
            browser.execute_script(
                'const f = document.querySelector(`.frame[data-line="${arguments[0]}"] .hit`);'
                'f.dispatchEvent(new MouseEvent("click", {bubbles: true}))', line)
            while browser.execute_script('return lab.shown') == before:
                time.sleep(0.005)
            again.append(browser.execute_script('return lab.timings.lastRun'))
        browser.execute_script('history.replaceState(null, "", "#" + arguments[0]);'
                               'readAddress(); return runScenario()',
                               'LINKSIM_ARQ=go-back-n&LINKSIM_LOSS=0.1&Simulation%20Duration=200000')
        rows = browser.execute_script('return lab.columns[0].trace.count')
        browser.execute_script('lab.speed = 400; lab.span = 200; lab.seek(0); play()')
        time.sleep(4)
        frames = browser.execute_script(
            'stop(); return [lab.frameTimes.slice(1), lab.renderTimes]')
        exercise = []
        for i in range(REPEATS):
            exercise.append(browser.execute_async_script(
                '''const done = arguments[arguments.length - 1];
                history.replaceState(null, "", "#exercise=stop_and_wait&student=s" + arguments[0]);
                readAddress();
                const start = performance.now();
                openExercise().then(() => {
                  const opened = performance.now();
                  return gradeExercise().then(() => done([opened - start, performance.now() - opened]));
                });''', i))
    finally:
        browser.quit()
        directory.cleanup()
    native_ms = statistics.median(natives)
    page_ms = statistics.median(page)
    print(f'engine, Go-Back-N W 8 loss 0.1, 10^6 ticks: native {native_ms:.0f} ms '
          f'({counted} instructions), page {page_ms:.0f} ms '
          f'(main alone {statistics.median(main_only):.0f} ms): '
          f'{page_ms / native_ms:.2f} times native')
    print(f'first run shown after opening: {statistics.median(opened):.0f} ms')
    print(f'a run again after a click, 10,000 ticks: {statistics.median(again):.1f} ms')
    print(f'playing {rows} rows: median frame {statistics.median(frames[0]):.1f} ms apart '
          f'over {len(frames[0])} frames (longest {max(frames[0]):.1f} ms); the page\'s work '
          f'per frame: median {statistics.median(frames[1]):.1f} ms, longest {max(frames[1]):.1f} ms')
    print(f'an exercise opened: the first {exercise[0][0]:.1f} ms, then a median '
          f'{statistics.median(e[0] for e in exercise[1:]):.1f} ms; graded, its run included: '
          f'median {statistics.median(e[1] for e in exercise):.1f} ms')
    print(f'page: {os.path.getsize(PAGE)} bytes')


if __name__ == '__main__':
    main()
