#!/usr/bin/python3
"""The lab's page in headless Chromium, one browser for every case.

    lab_test.py PAGE BIN_DIR

PAGE is lab.html as built; BIN_DIR holds the native linksim-arq and
linksim-check of the same tree. Each scenario's runs in the page must write
what the page's own "Copy as command" makes the native programs write, run
by bash in an empty directory: standard output and error, the trace, the
stats and linksim-check's verdict, byte for byte. Then: a trace with a
planted fault gets the checker's verdict with its row highlighted; the
keyboard plays and steps; markup in a trace, its name or the address stays
text; the controls are linksim-arq's table, greyed where the native
program says it ignores the variable; a click on a frame loses it, in the
drop list, the address and the command, and the run again is the native
one; the pictures are an SVG and a PNG with their title and legend; an
exercise link's predictions are graded as linksim-exercise grade grades
them, and each answer's rows are marked in the diagram.
"""

import atexit
import csv
import io
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

PAGE, BIN = sys.argv[1], os.path.abspath(sys.argv[2])
URL = 'file://' + os.path.abspath(PAGE)
SETS = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'exercises')
LINK = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'examples', 'link.txt')

# Each a fragment and what it tries: every protocol, lossy and not, bursts,
# bit errors, k-bit sequence numbers, Poisson arrivals, a link whose times
# are not whole ticks (the kit's number formatting's stand-in), side by side,
# the ACKs' own loss, drop lists (beside a protocol that ignores them),
# refusals by the variables (drop lists among them) and by the link's
# verification.
BESIDE_SLIDING = ('LINKSIM_ARQ=go-back-n,sliding-window&LINKSIM_DROP=data%3A2%2C5%20ack%3A1'
                  '&LINKSIM_ACK_LOSS=0.2')
SCENARIOS = [
    '',
    'LINKSIM_ARQ=go-back-n&LINKSIM_WINDOW=4&LINKSIM_LOSS=0.2&LINKSIM_SEED=7',
    'LINKSIM_ARQ=selective-repeat&LINKSIM_WINDOW=5&LINKSIM_LOSS=0.1'
    '&LINKSIM_SEQUENCE_BITS=3&LINKSIM_ARRIVALS=poisson',
    'LINKSIM_ARQ=sliding-window&LINKSIM_WINDOW=3&Propagation%20Delay=40',
    'LINKSIM_ARQ=go-back-n,selective-repeat,stop-and-wait&LINKSIM_LOSS=0.3'
    '&LINKSIM_BURST=3',
    'LINKSIM_ARQ=stop-and-wait&LINKSIM_BER=0.0001&LINKSIM_TIMEOUT=30'
    '&Bit%20Rate=1000',
    'LINKSIM_ARQ=go-back-n&LINKSIM_LOSS=0.15&Propagation%20Delay=2.5'
    '&Processing%20Delay=0.3&Packet%20Rate=0.7',
    'LINKSIM_ARQ=go-back-n&LINKSIM_WINDOW=0',
    'LINKSIM_ARQ=bogus',
    'LINKSIM_ARQ=go-back-n&Bit%20Rate=0',
    'LINKSIM_ARQ=go-back-n&LINKSIM_DROP=data%3A2&LINKSIM_WINDOWS=4',
    'LINKSIM_ARQ=selective-repeat&LINKSIM_LOSS=0.05&LINKSIM_ACK_LOSS=0.4&LINKSIM_SEED=3',
    BESIDE_SLIDING,
    'LINKSIM_ARQ=go-back-n&LINKSIM_DROP=data%3A0',
    'LINKSIM_ARQ=selective-repeat&LINKSIM_DROP=nak%3A1',
    'LINKSIM_DROP=data%3A2%2C',
    'LINKSIM_ARQ=go-back-n&LINKSIM_ACK_LOSS=1',
    "LINKSIM_LOSS=0.1'%3Btouch%20injected%3B'&Bit%20Rate=100%0Aexit",
]

# A value each control's variable takes given to any protocol, alone but
# for what it needs beside it (NEEDS).
NEEDS = {'LINKSIM_BURST': {'LINKSIM_LOSS': '0.1'}}
VALUES = {'LINKSIM_WINDOW': '4', 'LINKSIM_LOSS': '0.1', 'LINKSIM_ACK_LOSS': '0.1',
          'LINKSIM_BER': '0.0001', 'LINKSIM_ARRIVALS': 'poisson', 'LINKSIM_SEED': '3',
          'LINKSIM_TIMEOUT': '30', 'LINKSIM_SEQUENCE_BITS': '3', 'LINKSIM_BURST': '2',
          'LINKSIM_DROP': 'data:2'}

# An exercise of one's own, travelling in its link, with markup in its title.
OWN = ('linksim-exercise 1\ntitle: <img src=x onerror="window.hacked=4"> of one\'s own\n'
       'LINKSIM_ARQ = selective-repeat\nLINKSIM_WINDOW = 2 .. 6\nLINKSIM_LOSS = 0.2\n'
       'Simulation Duration = 300\nquestion: How many data frames are lost?\n'
       'answer: count lost data\nquestion: When is packet 2 acknowledged?\n'
       'answer: clock acknowledged data packet 2\n')
# Variables a protocol ignores, whose warnings come in the environment's
# order, which must be the file's; a tab in a question.
IGNORED = ('linksim-exercise 1\ntitle: Ignored\nLINKSIM_SEED = 3\nLINKSIM_ARQ = sliding-window\n'
           'LINKSIM_LOSS = 0.1\nquestion: How many\tpackets are delivered?\n'
           'answer: summary packets delivered\n')
# Each an exercise (a set the page carries, or a file's text), a student,
# the answers and the status grade ends with (0 full marks, 1 some wrong, 2
# refused, so that no row compares two refusals where it means a grading):
# 'key' the class key's answers, 'key+1' with the first one off by one.
# Then wrong, left out and none; variables a protocol ignores, which grade
# refuses naming the first it is warned of; an answer
# that is no number, an empty identifier and an exercise that is none,
# refused before any run.
EXERCISES = [
    ('stop_and_wait', 's1234567', 'key', 0),
    ('stop_and_wait', 'anna@example.org', '73\n5\n\n0.3\nnone\n', 1),
    ('window_limit', 's7654321', 'key+1', 1),
    (OWN, 'b\u00e9a', 'key', 0),
    ('go_back_n', 's1', 'key+1', 1),
    (IGNORED, 's1', '1\n', 2),
    ('stop_and_wait', 's1', '1\nx\n', 2),
    ('stop_and_wait', ' ', '', 2),
    (OWN.replace('2 .. 6', '6 .. 2'), 's1', '', 2),
]


def start_browser():
    """A headless Chromium whose profile is removed when Python exits, after
    its caller has quit the browser."""
    profile = tempfile.mkdtemp(prefix='linksim_chromium.')
    atexit.register(shutil.rmtree, profile, ignore_errors=True)
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for argument in ['--headless', '--no-sandbox', '--disable-gpu',
                     '--no-first-run', '--disable-background-networking',
                     '--disable-component-update', '--disable-sync',
                     '--window-size=1400,1000',
                     '--user-data-dir=' + profile]:
        options.add_argument(argument)
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'),
                            options=options)


def shell(command, directory):
    """Runs `command` with bash in `directory`, the native programs first on
    PATH; gives its standard output and error."""
    env = {k: v for k, v in os.environ.items() if not k.startswith('LINKSIM_')}
    env['PATH'] = BIN + ':' + env['PATH']
    done = subprocess.run(['bash', '-c', command], cwd=directory, env=env,
                          capture_output=True, text=True, timeout=60)
    return done.stdout, done.stderr


class LabTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.browser = start_browser()
        cls.browser.get(URL)
        cls.wait_shown(cls, 0)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()

    def js(self, script, *args):
        return self.browser.execute_script(script, *args)

    def wait_shown(self, before, seconds=20):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if self.browser.execute_script('return window.lab ? lab.shown : 0') > before:
                return
            time.sleep(0.02)
        raise AssertionError('the page showed no run')

    def wait_until(self, condition, *args, seconds=20):
        deadline = time.time() + seconds
        while not self.js('return ' + condition, *args):
            if time.time() > deadline:
                raise AssertionError(condition)
            time.sleep(0.02)

    def open(self, fragment):
        before = self.js('return lab.shown')
        self.js('history.replaceState(null, "", "#" + arguments[0]); readAddress(); runAddress()',
                fragment)
        self.wait_shown(before)

    def assert_native(self, case):
        """The runs shown are what the page's command makes the native
        programs write, byte for byte; gives them."""
        runs = self.js('''return lab.columns.map((c) => ({
            stdout: c.result.stdout, stderr: c.result.stderr,
            status: c.result.status, files: c.result.files,
            verdict: c.verdict ? c.verdict.stdout : null,
            names: c.run.files}))''')
        command = self.js('return document.getElementById("command").textContent')
        with tempfile.TemporaryDirectory() as directory:
            stdout, stderr = shell(command, directory)
            self.assertFalse(os.path.exists(os.path.join(directory, 'injected')), case)
            page_out = ''.join(r['stdout'] + (r['verdict'] or '') for r in runs)
            self.assertEqual(page_out, stdout, case)
            # Warnings come in the order of the environment, which is the
            # shell's to choose.
            self.assertEqual(sorted(''.join(r['stderr'] for r in runs).splitlines()),
                             sorted(stderr.splitlines()), case)
            for run in runs:
                for name in run['names'].values():
                    path = os.path.join(directory, name)
                    native = None
                    if os.path.exists(path):
                        with open(path) as file:
                            native = file.read()
                    self.assertEqual(run['files'][name], native, (case, name))
        return runs

    def test_runs_are_linksim_arqs(self):
        for fragment in SCENARIOS:
            self.open(fragment)
            runs = self.assert_native(fragment)
            if runs[0]['status'] != 0:
                shown = self.browser.find_element(By.CSS_SELECTOR, '.column .stderr').text
                self.assertIn(runs[0]['stderr'].strip().splitlines()[0], shown, fragment)
                self.assertEqual(self.js('return document.querySelectorAll(".frame").length'), 0)

    def check_trace(self, name, text):
        """Opens `text` as the trace `name`; gives the page's verdict and the
        native checker's."""
        before = self.js('return lab.shown')
        self.js('lab.openTrace(arguments[0], arguments[1])', name, text)
        self.wait_shown(before)
        with tempfile.TemporaryDirectory() as directory:
            with open(os.path.join(directory, name), 'w') as file:
                file.write(text)
            native, _ = shell('linksim-check ' + "'" + name + "'", directory)
        return self.js('return lab.columns[0].verdict.stdout'), native

    def test_planted_fault_is_named_and_highlighted(self):
        self.open(SCENARIOS[1])
        lines = self.js('return lab.columns[0].result.files["trace.csv"]').split('\n')
        first = next(i for i, l in enumerate(lines) if ',deliver,' in l)
        second = next(i for i, l in enumerate(lines) if i > first and ',deliver,' in l)
        faults = [  # the second delivery before the first; a delivery twice
            lines[:first] + [lines[second]] + lines[first + 1:second] + lines[second + 1:],
            lines[:second + 1] + [lines[second]] + lines[second + 1:],
        ]
        # The second named as a folder of the page's own file system is.
        for name, planted in zip(['planted.csv', 'tmp'], faults):
            page, native = self.check_trace(name, '\n'.join(planted))
            self.assertEqual(page, native)
            self.assertRegex(page, f'^linksim-check: {name}:[0-9]+: ')
            line = page.split(':')[2]
            named = self.js('return [...document.querySelectorAll(".named")].map('
                            '(e) => [e.dataset.line, e.dataset.endLine || ""])')
            self.assertTrue(any(line in pair for pair in named), (page, named))

    def test_markup_stays_text(self):
        self.open(SCENARIOS[1])
        text = self.js('return lab.columns[0].result.files["trace.csv"]')
        rows = text.split('\n')
        rows[3] = rows[3].replace(',data,', ',<img src=x onerror="window.hacked=1">,')
        rows.insert(5, '<script>window.hacked=2</script>,<b>bold</b>')
        name = '<img src=x onerror="window.hacked=3">.csv'
        page, native = self.check_trace(name, '\n'.join(rows))
        self.assertEqual(page, native)
        self.assertEqual(self.browser.find_element(By.CSS_SELECTOR, '.column h2').text, name)
        self.assertEqual(self.js('return document.querySelectorAll("img").length'), 0)
        with open(PAGE) as page:
            self.assertEqual(self.js('return document.querySelectorAll("script").length'),
                             page.read().count('<script'))
        self.assertIsNone(self.js('return window.hacked'))
        self.assertIn('<img src=x', self.js('return document.getElementById("columns").textContent'))
        self.open('LINKSIM_ARQ=%3Cb%3Ex%3C%2Fb%3E&%3Ci%3E=1')
        self.assertEqual(self.js('return document.querySelectorAll("i").length'), 0)
        self.assertIn('<i>', self.browser.find_element(By.ID, 'address-notes').text)

    def test_keyboard_plays_and_steps(self):
        self.open(SCENARIOS[1])
        body = self.browser.find_element(By.TAG_NAME, 'body')
        body.send_keys(Keys.HOME)
        self.assertEqual(self.js('return lab.clock'), 0)
        rows = []
        for key in [Keys.ARROW_RIGHT, Keys.ARROW_RIGHT, Keys.ARROW_DOWN, Keys.ARROW_LEFT]:
            body.send_keys(key)
            rows.append(self.js('return lab.columns[0].row'))
        self.assertEqual(rows, [0, 1, 2, 1])
        body.send_keys(' ')
        self.assertTrue(self.js('return lab.playing'))
        time.sleep(0.3)
        body.send_keys(' ')
        self.assertFalse(self.js('return lab.playing'))
        self.assertGreater(self.js('return lab.clock'), 0)

    def click(self, frame):
        """Clicks the frame at CSS selector `frame`; gives whether the page
        ran again, once it has shown the runs."""
        runs, shown = self.js('return [lab.runs, lab.shown]')
        self.js('document.querySelector(arguments[0]).querySelector(".hit").dispatchEvent('
                'new MouseEvent("click", {bubbles: true}))', frame)
        if self.js('return lab.runs') == runs:
            return False
        self.wait_shown(shown)
        return True

    def frame(self, column, which):
        """The first frame of `column`'s first 200 ticks that CSS selector
        `which` picks, from the second of its kind on: its selector and its
        place among its kind's."""
        self.js('lab.seek(lab.end); lab.t0 = 0; lab.span = 200; render()')
        line, nth = self.js('''const f = [...document.querySelectorAll(
            `.column[data-index="${arguments[0]}"] .frame${arguments[1]}`)]
            .find((e) => e.dataset.nth > 1);
            return [f.dataset.line, Number(f.dataset.nth)]''', column, which)
        return f'.column[data-index="{column}"] .frame[data-line="{line}"]', nth

    def drop_list(self):
        """LINKSIM_DROP as the address gives it (None: unset). The command's
        is the stats' drop column of assert_native's runs."""
        return dict(urllib.parse.parse_qsl(self.js('return location.hash.slice(1)'))).get(
            'LINKSIM_DROP')

    def test_a_click_loses_the_frame_as_linksim_arq_does(self):
        # Data frame D lost (a resend, which counts among the data frames
        # on the link as a send does), then ACK A beside it, then each let
        # through again: every run the native one of its command, the frame
        # clicked lost by the list where the list names it, and letting a
        # frame through gives back the run before it was lost.
        self.open(SCENARIOS[1])
        trace = 'return lab.columns[0].result.files["trace.csv"]'
        before = [self.js(trace)]
        data, d = self.frame(0, '.resend:not(.lost)')
        drawn, _ = self.frame(0, '.lost')
        ack, a = None, None
        for step, kind in enumerate(['data', 'ack', 'ack', 'data']):
            if step == 1:  # an ACK of the run with D lost
                ack, a = self.frame(0, '.ack:not(.lost)')
            clicked = data if kind == 'data' else ack
            want = [f'data:{d}', f'data:{d} ack:{a}', f'data:{d}', None][step]
            case = (step, clicked, want)
            self.assertTrue(self.click(clicked), case)
            self.assertEqual(self.drop_list(), want, case)
            self.assert_native(case)
            self.assertEqual(self.js('return document.querySelector(arguments[0]).matches('
                                     '".lost.dropped")', clicked), step < 2, case)
            if step >= 2:  # as it was before the click that lost it
                self.assertEqual(self.js(trace), before[3 - step], case)
            before.append(self.js(trace))
        # The channel's own draw lost this one: no drop list lets it through.
        self.assertFalse(self.click(drawn))
        self.assertIn('cannot let this frame through', self.js(
            'return document.getElementById("status").textContent'))
        self.assertIsNone(self.drop_list())

    def test_side_by_side_one_drop_list_loses_in_every_protocol(self):
        self.open(SCENARIOS[4])
        clicked, d = self.frame(1, '.data:not(.lost)')
        self.assertTrue(self.click(clicked))
        self.assert_native(SCENARIOS[4])
        lost = self.js('''return lab.columns.map((c) => c.trace.frames.find(
            (f) => f.kind === 0 && f.nth === arguments[0]).lost)''', d)
        self.assertEqual(lost, [True, True, True])
        self.assertIn('Side by side, the one drop list is every protocol\'s',
                      self.browser.find_element(By.ID, 'clicks').text)
        # A protocol that reads no drop list loses nothing by a click.
        self.open(BESIDE_SLIDING)
        clicked, _ = self.frame(1, '.data')
        self.assertFalse(self.click(clicked))
        self.assertIn('sliding-window reads no drop list',
                      self.browser.find_element(By.ID, 'status').text)

    def test_controls_are_linksim_arqs_table(self):
        # A control for every variable but the protocol and the files, greyed
        # for a protocol exactly where the native program says it ignores it.
        for protocol in self.js('return LAB_PROTOCOLS.map((p) => p.name)'):
            self.open('LINKSIM_ARQ=' + protocol)
            unread = self.js('return Object.fromEntries([...document.querySelectorAll('
                             '"#variables .control")].map((c) => [c.dataset.variable,'
                             ' c.classList.contains("unread")]))')
            self.assertEqual(sorted(unread), sorted(VALUES), protocol)
            for name, value in VALUES.items():
                native = subprocess.run([os.path.join(BIN, 'linksim-arq'), LINK],
                                        env=dict(NEEDS.get(name, {}), LINKSIM_ARQ=protocol,
                                                 **{name: value}),
                                        capture_output=True, text=True)
                case = (protocol, name, native.stderr)
                self.assertEqual(native.returncode, 0, case)
                self.assertEqual(f'{name} is ignored' in native.stderr, unread[name], case)

    def test_controls_change_the_address_and_command(self):
        self.open(SCENARIOS[1])
        window = self.browser.find_element(By.ID, 'LINKSIM_WINDOW')
        before = self.js('return lab.shown')
        window.clear()
        window.send_keys('6' + Keys.TAB)
        self.wait_shown(before)
        self.assertIn('LINKSIM_WINDOW=6', self.js('return location.hash'))
        self.assertIn('LINKSIM_WINDOW=6 ', self.browser.find_element(By.ID, 'command').text)
        self.assertIn('summary: packets:', self.browser.find_element(By.CSS_SELECTOR, '.summary').text)

    def test_state_panel_says_what_the_trace_tells(self):
        # At each row: the sender's base and next, the receiver's expected,
        # recounted here from the trace's rows up to it.
        self.open(SCENARIOS[2])
        rows = self.js('return lab.columns[0].result.files["trace.csv"]').split('\n')[1:-1]
        for row in [0, 40, 90, len(rows) - 1]:
            seen = [r.split(',') for r in rows[:row + 1]]
            want = [sum(1 for r in seen if r[2] == 'acknowledged'),
                    max([int(r[5]) + 1 for r in seen if r[2] in ('send', 'resend')
                         and r[3] == 'data'] + [0]),
                    sum(1 for r in seen if r[2] == 'deliver')]
            state = self.js('const s = lab.columns[0].trace.stateAt(arguments[0]);'
                            'return [s.base, s.next, s.expected]', row)
            self.assertEqual(state, want, row)
        self.js('lab.seek(lab.end / 2)')
        text = self.browser.find_element(By.CSS_SELECTOR, '.state').text
        self.assertIn('window 5 (the run\'s setting)', text)
        self.assertIn('modulo 2^3 = 8', text)
        self.check_trace('opened.csv', '\n'.join(['clock,node,event,frame,sequence,packet'] + rows))
        text = self.browser.find_element(By.CSS_SELECTOR, '.state').text
        self.assertIn('window the trace does not tell', text)
        self.assertIn('the trace does not tell k', text)

    def test_side_by_side_steps_on_one_clock_and_a_settings_file_opens(self):
        self.open(SCENARIOS[4])
        self.js('lab.seek(0)')
        for _ in range(12):
            before = self.js('return lab.clock')
            self.js('step(1)')
            clocks = self.js('return lab.columns.map((c) => c.row < 0 ? -1 : c.trace.clock[c.row])')
            self.assertTrue(all(c <= self.js('return lab.clock') for c in clocks), clocks)
            self.assertGreaterEqual(self.js('return lab.clock'), before)
        with tempfile.NamedTemporaryFile('w', suffix='.txt') as file:
            file.write('Propagation Delay 30\nBit Rate 200\n')
            file.flush()
            before = self.js('return lab.shown')
            self.browser.find_element(By.ID, 'open-settings').send_keys(file.name)
            self.wait_shown(before)
        fragment = self.js('return location.hash')
        self.assertIn('Propagation%20Delay=30&Bit%20Rate=200', fragment)
        self.assertIn('does not set Processing Delay', self.browser.find_element(By.ID, 'status').text)

    def test_pictures(self):
        self.open(SCENARIOS[4])
        for orientation in ['landscape', 'portrait']:
            svg = self.js('''return lab.exportPicture("svg", arguments[0]).then((b) => b.text())''',
                          orientation)
            self.assertTrue(svg.startswith('<svg'), orientation)
            for words in ['Go-Back-N, from its trace', 'Selective Repeat', 'LINKSIM_BURST=3',
                          'ACK (cumulative)', 'data frame sent again', 'Propagation Delay 5']:
                self.assertIn(words, svg, orientation)
            png = self.js('''return lab.exportPicture("png", arguments[0])
                .then((b) => b.arrayBuffer()).then((a) => [...new Uint8Array(a).slice(0, 8)])''',
                          orientation)
            self.assertEqual(bytes(png), b'\x89PNG\r\n\x1a\n', orientation)

    def test_exercises_grade_as_linksim_exercise(self):
        for exercise, student, answers, status in EXERCISES:
            own = '\n' in exercise  # the file's text, not a set's name
            name = 'exercise.txt' if own else exercise + '.txt'
            text = exercise if own else pathlib.Path(SETS, name).read_text()
            case = (name, student, answers)
            with tempfile.TemporaryDirectory() as directory:
                for file, content in [(name, text), ('students.txt', student + '\n')]:
                    with open(os.path.join(directory, file), 'w') as out:
                        out.write(content)
                if answers.startswith('key'):
                    key = shell('linksim-exercise key ' + name + ' students.txt', directory)[0]
                    row = list(csv.DictReader(io.StringIO(key)))[0]
                    got = [row[c] for c in row if c.startswith('q')]
                    if answers == 'key+1':
                        got[0] = str(float(got[0]) + 1)
                    answers = ''.join(a + '\n' for a in got)
                with open(os.path.join(directory, 'answers.txt'), 'w') as out:
                    out.write(answers)
                native = subprocess.run([os.path.join(BIN, 'linksim-exercise'), 'grade', name,
                                         student, 'answers.txt'], cwd=directory,
                                        capture_output=True, text=True)
            self.assertEqual(native.returncode, status, (case, native.stderr))
            self.open('exercise=' + urllib.parse.quote(exercise, safe='') +
                      '&student=' + urllib.parse.quote(student, safe=''))
            if not self.js('return Boolean(lab.exercise.opened.problem)'):
                graded = self.js('return lab.gradings')
                self.js('document.querySelectorAll("#predictions input").forEach((input, i) => {'
                        ' input.value = arguments[0][i] || ""; }); document.getElementById("grade").click()',
                        answers.split('\n'))
                self.wait_until('lab.gradings > arguments[0]', graded)
            page = self.js('return [document.getElementById("grading").textContent,'
                           'document.getElementById("exercise-problem").textContent,'
                           'lab.exercise.graded ? lab.exercise.graded : {}]')
            self.assertEqual(page[0], native.stdout, case)
            self.assertEqual(page[1], native.stderr.strip(), case)
            self.assertEqual(page[2].get('status', 2), native.returncode, case)
            for q, answer in enumerate(page[2].get('answers', []), 1):
                if answer['lines']:
                    self.js('arguments[0].click()', self.browser.find_element(
                        By.CSS_SELECTOR, f'#predictions li:nth-child({q}) .result button'))
                    marked = self.js('return [...document.querySelectorAll(".answer")].filter((e) =>'
                                     ' e.dataset.answers.split(" ").includes(arguments[0]))'
                                     '.map((e) => [e.dataset.line, e.dataset.endLine])', str(q))
                    self.assertTrue(any(str(answer['lines'][0]) in m for m in marked), (case, q))
            if exercise == OWN:
                self.assertEqual(self.browser.find_element(By.ID, 'exercise-title').text,
                                 OWN.split('\n')[1][len('title: '):])
        with tempfile.NamedTemporaryFile('w', suffix='.txt') as file:  # an instructor's own
            file.write(OWN)
            file.flush()
            before = self.js('return lab.shown')
            self.browser.find_element(By.ID, 'open-exercise').send_keys(file.name)
            self.wait_shown(before)
        self.assertEqual(urllib.parse.unquote(self.js('return location.hash')), '#exercise=' + OWN)
        before = self.js('return lab.shown')
        self.js('const s = document.getElementById("student"); s.value = "s1";'
                's.dispatchEvent(new Event("change"))')
        self.wait_shown(before)
        self.assertTrue(self.js('return location.hash.endsWith("&student=s1")'))
        # A change of a control leaves the exercise for the scenario as changed.
        self.js('const w = document.getElementById("LINKSIM_WINDOW"); w.value = "4";'
                'w.dispatchEvent(new Event("change"))')
        self.assertTrue(self.js('return document.getElementById("exercise").hidden'))
        self.assertEqual(self.js('return location.hash'), '#LINKSIM_ARQ=selective-repeat&LINKSIM_WINDOW=4'
                         '&LINKSIM_LOSS=0.2&Simulation%20Duration=300')
        self.open('exercise=nosuch&student=s1')
        self.assertIn('carries no exercise nosuch: it has', self.browser.find_element(
            By.ID, 'exercise-problem').text)
        self.assertIsNone(self.js('return window.hacked'))

    def test_page_is_one_small_file(self):
        self.assertLessEqual(os.path.getsize(PAGE), 1_500_000)
        self.assertEqual(self.js('return document.querySelectorAll("[src], link[href]").length'), 0)


if __name__ == '__main__':
    unittest.main(argv=[sys.argv[0], '-v'] + sys.argv[3:])
