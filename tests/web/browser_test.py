#!/usr/bin/env python3
"""The web page and velomark.js in Debian's chromium against `velomark --headless
--share=127.0.0.1:0` with the test chart: browser_test.py page|origins VELOMARK
CHART_PAGE_FILE CONVERT. Exits 77 (skipped) only when the browser cannot start."""
import atexit
import base64
import functools
import http.server
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.select import Select
from selenium.webdriver.support.ui import WebDriverWait

ROAD, VELOMARK, CHART_PAGE, CONVERT = sys.argv[1:5]
FOLDER = tempfile.mkdtemp(prefix='velomark-web-')
atexit.register(shutil.rmtree, FOLDER, True)


def fail(text):
    sys.exit('FAIL: ' + text)


class Velomark:
    """velomark --headless sharing on a free port, in folders of its own."""

    def __init__(self, *options):
        os.environ.pop('VELOMARK_DSM', None)
        for name in ('config', 'run'):
            os.makedirs(os.path.join(FOLDER, name), mode=0o700)
        # In this process's own environment too: the stream's client finds Velomark by it.
        os.environ.update(XDG_CONFIG_HOME=os.path.join(FOLDER, 'config'),
                   XDG_RUNTIME_DIR=os.path.join(FOLDER, 'run'),
                   VELOMARK_CHANNEL_SUFFIX='web%d' % os.getpid(),
                   VELOMARK_UNATTENDED='1', VELOMARK_DEFAULT_SOURCE='Velomark Test Chart',
                   VELOMARK_TESTCHART_SIZE='letter', VELOMARK_TESTCHART_PAGES='2')
        self.process = subprocess.Popen([VELOMARK, '--headless', '--share=127.0.0.1:0', *options],
                                        stdout=subprocess.PIPE, text=True)
        self.events = []
        for line in self.process.stdout:
            self.events.append(line.strip())
            if line.startswith('eSCL: '):
                self.base = line[6:].strip()[:-len('/eSCL')]
                break
        else:
            fail('velomark did not share its scanners: %s' % self.events)
        threading.Thread(target=lambda: self.events.extend(map(str.strip, self.process.stdout)),
                         daemon=True).start()

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        if self.process.wait(timeout=60) != 0:
            fail('velomark ended with status %d' % self.process.returncode)


def serve_folder(folder):
    """A static web server on a free loopback port; its origin."""
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0),
                                             functools.partial(Quiet, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return 'http://127.0.0.1:%d' % server.server_address[1]


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for argument in ('--headless=new', '--disable-gpu', '--disable-dev-shm-usage',
                     '--user-data-dir=' + os.path.join(FOLDER, 'chromium')):
        options.add_argument(argument)
    if os.geteuid() == 0:
        options.add_argument('--no-sandbox')  # Chromium's sandbox refuses root
    try:
        driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    except Exception as error:  # noqa: BLE001 - any failure to start means no browser
        print('SKIPPED: chromium could not start: %s' % str(error).splitlines()[0])
        sys.exit(77)
    driver.set_script_timeout(120)
    return driver


READ_URL = """
const done = arguments[arguments.length - 1];
fetch(arguments[0]).then((r) => r.arrayBuffer()).then((buffer) => {
  let text = '';
  for (const byte of new Uint8Array(buffer)) text += String.fromCharCode(byte);
  done(btoa(text));
}).catch((e) => done('failed: ' + e));
"""


def read_url(driver, url):
    """The bytes behind a blob: URL (or any the page may read)."""
    answer = driver.execute_async_script(READ_URL, url)
    return base64.b64decode(answer) if not answer.startswith('failed') else fail(url + answer)


def chart_page(dpi, pages, number):
    path = os.path.join(FOLDER, 'expected-%d.gray' % number)
    size = subprocess.run([CHART_PAGE, str(dpi), str(pages), str(number), path], check=True,
                          capture_output=True, text=True).stdout.split()
    return int(size[0]), int(size[1]), open(path, 'rb').read()


# Times Scan's click and the first page's image decoded on screen.
WATCH_FIRST_PAGE = """
window.firstPage = null;
document.getElementById('scan').addEventListener('click', () => { window.clicked = performance.now(); },
                                                 { capture: true });
new MutationObserver((changes, observer) => {
  const img = document.querySelector('img.page');
  if (!img) return;
  observer.disconnect();
  img.decode().then(() => { window.firstPage = performance.now() - window.clicked; });
}).observe(document.getElementById('pages'), { childList: true, subtree: true });
"""


def stream_page_ms():
    """Milliseconds from asking to the same first page in hand over Velomark's own stream."""
    sys.path.insert(0, os.path.join(os.path.dirname(__file__), '../../client/python'))
    import velomark_client
    start = time.monotonic()
    with velomark_client.Channel() as channel:
        for image in channel.stream(count=1, ticket={'input': 'feeder', 'color': 'gray',
                                                     'resolution': 100}):
            image.release()
    return (time.monotonic() - start) * 1000


def wait_for(driver, condition):
    """Until `condition` holds or the page shows an error, which fails the test."""
    WebDriverWait(driver, 120).until(lambda d: condition(d) or d.find_element(By.ID, 'error').text)
    if driver.find_element(By.ID, 'error').text:
        fail('the page says: ' + driver.find_element(By.ID, 'error').text)


def road_page():
    velomark = Velomark()
    driver = browser()
    try:
        driver.get(velomark.base + '/')
        wait_for(driver, lambda d: d.find_element(By.ID, 'scan').is_enabled())
        Select(driver.find_element(By.ID, 'input')).select_by_value('feeder')
        Select(driver.find_element(By.ID, 'color')).select_by_value('gray')
        Select(driver.find_element(By.ID, 'resolution')).select_by_value('100')
        driver.execute_script(WATCH_FIRST_PAGE)
        driver.find_element(By.ID, 'scan').click()
        wait_for(driver, lambda d: d.find_element(By.ID, 'pdf').is_displayed())
        images = driver.find_elements(By.CSS_SELECTOR, 'img.page')
        if len(images) != 2:
            fail('%d pages on the page, not 2' % len(images))
        for number, image in enumerate(images, 1):
            width, height, expected = chart_page(100, 2, number)
            received = subprocess.run([CONVERT, 'png:-', '-depth', '8', 'gray:-'], check=True,
                                      input=read_url(driver, image.get_attribute('src')),
                                      capture_output=True).stdout
            if received != expected:
                fail('page %d is not the chart\'s %dx%d page' % (number, width, height))
        pdf = os.path.join(FOLDER, 'pages.pdf')
        with open(pdf, 'wb') as file:
            file.write(read_url(driver, driver.find_element(By.ID, 'pdf').get_attribute('href')))
        info = subprocess.run(['pdfinfo', pdf], capture_output=True, text=True)
        if info.returncode != 0 or '\nPages:           2\n' not in info.stdout:
            fail('the PDF is not two pages: %s %s' % (info.stdout, info.stderr))
        on_screen, stream = driver.execute_script('return window.firstPage;'), stream_page_ms()
        print('first page on screen %.0f ms after Scan; the same page over the stream %.0f ms '
              '(x%.1f)' % (on_screen, stream, on_screen / stream))
    finally:
        driver.quit()
        velomark.stop()


SCAN_FROM_APP = """
const [base, done] = arguments;
(async () => {
  const { connect } = await import(base + '/velomark.js');
  const scanner = await connect(base);
  const pages = [];
  for await (const page of scanner.scan({ input: 'flatbed', color: 'gray', resolution: 100 }))
    pages.push(page.width + 'x' + page.height + '@' + page.resolution);
  return pages.join(' ');
})().then(done, (e) => done('failed: ' + e));
"""

# A simple request (no preflight): only the server's refusal keeps the job from starting.
POST_FROM_APP = """
const done = arguments[arguments.length - 1];
fetch(arguments[0] + '/eSCL/ScanJobs', { method: 'POST', headers: { 'Content-Type': 'text/plain' },
  body: '<scan:ScanSettings xmlns:scan="http://schemas.hp.com/imaging/escl/2011/05/03"/>' })
  .then((r) => done('answered ' + r.status), (e) => done('failed: ' + e));
"""


def road_origins():
    allowed, other = serve_folder(FOLDER), serve_folder(FOLDER)  # two origins, any page
    velomark = Velomark('--allow-origin=' + allowed)
    driver = browser()
    try:
        driver.get(other + '/')
        answer = driver.execute_async_script(POST_FROM_APP, velomark.base)
        if not answer.startswith('failed: '):
            fail('a page on an origin not allowed reached the scanners: ' + answer)
        status = urllib.request.urlopen(velomark.base + '/eSCL/ScannerStatus').read().decode()
        if 'JobInfo' in status or 'acquire' in velomark.events:
            fail('a job was made for an origin not allowed: %s %s' % (status, velomark.events))
        # Chrome asks before a page reaches a private address; the allowed origin hears yes.
        preflight = urllib.request.Request(velomark.base + '/eSCL/ScanJobs', method='OPTIONS', headers={
            'Origin': allowed, 'Access-Control-Request-Method': 'POST',
            'Access-Control-Request-Private-Network': 'true'})
        answer = urllib.request.urlopen(preflight).headers
        if answer['Access-Control-Allow-Private-Network'] != 'true' or \
                answer['Access-Control-Allow-Origin'] != allowed:
            fail('the preflight of an allowed origin was answered %s' % answer)
        driver.get(allowed + '/')
        answer = driver.execute_async_script(SCAN_FROM_APP, velomark.base)
        width, height, _ = chart_page(100, 2, 1)
        if answer != '%dx%d@100' % (width, height):
            fail('the allowed origin scanned %r, not one %dx%d page at 100 dpi' % (answer, width, height))
    finally:
        driver.quit()
        velomark.stop()


{'page': road_page, 'origins': road_origins}[ROAD]()
print('PASS')
