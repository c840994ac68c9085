#!/usr/bin/python3
"""The README's picture of the lab's page, as an instructor first sees it.

    lab_picture.py PAGE OUT.png

PAGE (lab.html as built) opened from disk in headless Chromium, 1280 by
860: Go-Back-N with a window of 4 at loss 0.1, seed 7; the third data frame
lost by a click on it, as a user clicks it, and the run made again; the
cursor stopped where frames are on the link, so that the state beside the
diagram has a window to show. The summary above the diagram has its
arrivals line.
"""

import sys
import time

sys.path.insert(0, __file__.rsplit('/', 2)[0] + '/tests/web')
if len(sys.argv) != 3:
    raise SystemExit(__doc__)
sys.argv, arguments = sys.argv[:1] + [sys.argv[1], '.'], sys.argv
import lab_test  # noqa: E402  (the tests' browser)

FRAGMENT = 'LINKSIM_ARQ=go-back-n&LINKSIM_WINDOW=4&LINKSIM_LOSS=0.1&LINKSIM_SEED=7'
CLICKED = '.frame[data-kind="data"][data-nth="3"]'
WIDTH, HEIGHT = 1280, 860
CURSOR = 88  # a clock where the window is full and frames are on the link


def shown(browser, before):
    deadline = time.time() + 20
    while browser.execute_script('return window.lab ? lab.shown : 0') <= before:
        if time.time() > deadline:
            raise SystemExit('the page showed no run')
        time.sleep(0.02)


def main():
    browser = lab_test.start_browser()
    try:
        browser.get(lab_test.URL + '#' + FRAGMENT)
        shown(browser, 0)
        # The window's size less what is not the page's.
        extra = browser.execute_script(
            'return [outerWidth - innerWidth, outerHeight - innerHeight]')
        browser.set_window_size(WIDTH + extra[0], HEIGHT + extra[1])
        browser.execute_script('lab.span = 120; lab.seek(lab.end); lab.t0 = 0; render()')
        before = browser.execute_script('return lab.shown')
        browser.find_element(lab_test.By.CSS_SELECTOR, CLICKED).click()
        shown(browser, before)
        browser.execute_script('lab.seek(arguments[0]); lab.t0 = 0; render()', CURSOR)
        browser.save_screenshot(arguments[2])
    finally:
        browser.quit()


if __name__ == '__main__':
    main()
