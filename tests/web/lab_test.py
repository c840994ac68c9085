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
text; a click on a frame puts it in the drop list, address and command;
the pictures are an SVG and a PNG with their title and legend.
"""

import os
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

# Each a fragment and what it tries: every protocol, lossy and not, bursts,
# bit errors, k-bit sequence numbers, Poisson arrivals, a link whose times
# are not whole ticks (the kit's number formatting's stand-in), side by side,
# refusals by the variables and by the link's verification.
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
    "LINKSIM_LOSS=0.1'%3Btouch%20injected%3B'&Bit%20Rate=100%0Aexit",
]


def start_browser():
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for argument in ['--headless', '--no-sandbox', '--disable-gpu',
                     '--no-first-run', '--disable-background-networking',
                     '--disable-component-update', '--disable-sync',
                     '--window-size=1400,1000',
                     '--user-data-dir=' + tempfile.mkdtemp()]:
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

    def open(self, fragment):
        before = self.js('return lab.shown')
        self.js('history.replaceState(null, "", "#" + arguments[0]); readAddress(); runScenario()',
                fragment)
        self.wait_shown(before)

    def test_runs_are_linksim_arqs(self):
        for fragment in SCENARIOS:
            self.open(fragment)
            runs = self.js('''return lab.columns.map((c) => ({
                stdout: c.result.stdout, stderr: c.result.stderr,
                status: c.result.status, files: c.result.files,
                verdict: c.verdict ? c.verdict.stdout : null,
                names: c.run.files}))''')
            command = self.js('return document.getElementById("command").textContent')
            with tempfile.TemporaryDirectory() as directory:
                stdout, stderr = shell(command, directory)
                self.assertFalse(os.path.exists(os.path.join(directory, 'injected')), fragment)
                page_out = ''.join(r['stdout'] + (r['verdict'] or '') for r in runs)
                self.assertEqual(page_out, stdout, fragment)
                # Warnings come in the order of the environment, which is the
                # shell's to choose.
                self.assertEqual(sorted(''.join(r['stderr'] for r in runs).splitlines()),
                                 sorted(stderr.splitlines()), fragment)
                for run in runs:
                    for name in run['names'].values():
                        path = os.path.join(directory, name)
                        native = None
                        if os.path.exists(path):
                            with open(path) as file:
                                native = file.read()
                        self.assertEqual(run['files'][name], native, (fragment, name))
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
        for planted in faults:
            page, native = self.check_trace('planted.csv', '\n'.join(planted))
            self.assertEqual(page, native)
            self.assertRegex(page, r'^linksim-check: planted.csv:[0-9]+: ')
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
        self.assertEqual(self.js('return document.querySelectorAll("script").length'), 6)
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

    def test_a_click_loses_a_frame_in_the_address_and_command(self):
        self.open(SCENARIOS[1])
        self.js('lab.seek(lab.end); lab.t0 = 0; lab.span = 200; render()')
        for kind, nth, want in [('data', 3, 'data:3'), ('ack', 2, 'data:3 ack:2'),
                                ('data', 3, 'ack:2'), ('ack', 2, None)]:
            frame = self.browser.find_element(
                By.CSS_SELECTOR, f'.frame[data-kind="{kind}"][data-nth="{nth}"]')
            before = self.js('return lab.shown')
            self.js('arguments[0].dispatchEvent(new MouseEvent("click", {bubbles: true}))',
                    frame.find_element(By.CSS_SELECTOR, '.hit'))
            self.wait_shown(before)
            fragment = urllib.parse.unquote(self.js('return location.hash'))
            command = self.browser.find_element(By.ID, 'command').text
            if want is None:
                self.assertNotIn('LINKSIM_DROP', fragment + command)
            else:
                self.assertIn('LINKSIM_DROP=' + want, fragment)
                self.assertIn(f"LINKSIM_DROP='{want}'" if ' ' in want else
                              f'LINKSIM_DROP={want}', command)
                self.assertEqual(len(self.browser.find_elements(By.CSS_SELECTOR, '.frame.to-lose')),
                                 want.count(':') + want.count(','))

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

    def test_page_is_one_small_file(self):
        self.assertLessEqual(os.path.getsize(PAGE), 1_500_000)
        self.assertEqual(self.js('return document.querySelectorAll("[src], link[href]").length'), 0)


if __name__ == '__main__':
    unittest.main(argv=[sys.argv[0], '-v'])
