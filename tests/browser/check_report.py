"""Opens a kinstrom HTML report in headless Chromium and checks it as a reader would see it.

    check_report.py REPORT.html OUT.png [--expect-charts inbreeding,generations,...]

Fails (exit 1, one line per fault) on: a console error or warning, a page error, a request
other than file: or data:, a failed request; an expected chart missing, doubled, hidden, too
small, without data marks or without coloured pixels in its plot area; a chart not expected;
a chart whose table has another number of rows than the chart has marks per series.
Writes a full-page screenshot to OUT.png (1000 px wide, device scale 1); laid out for print at
the printable width of A4, no element may stick out past 680 px; prints the page to an A4 PDF.
Without --expect-charts all four charts are expected; "--expect-charts ''" expects none.

Chromium ($KINSTROM_CHROMIUM, else chromium on PATH) is driven through its DevTools protocol
over a pair of pipes (--remote-debugging-pipe: commands on its descriptor 3, answers and events
on 4, each message a JSON text ended by a NUL byte), so the check needs Python's standard
library, Pillow for the pixels, and nothing else.
"""

import argparse
import base64
import fcntl
import io
import json
import os
import pathlib
import re
import select
import shutil
import signal
import sys
import tempfile
import time

from PIL import Image

KINDS = ['inbreeding', 'generations', 'composition', 'distribution']
MIN_SERIES = {'inbreeding': 2, 'generations': 1, 'composition': 1, 'distribution': 1}
TIMEOUT = 30.0  # seconds for any one step


class BrowserError(Exception):
    pass


class Browser:
    """One headless Chromium and one page in it, spoken to over the DevTools pipes."""

    def __init__(self, executable, profile, log):
        # All four pipe ends above the low descriptors: placing the browser's at 3 and 4 then
        # overwrites none of them.
        ends = [fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10) for fd in os.pipe() + os.pipe()]
        commands_r, self.commands, self.answers, answers_w = ends
        # Off the network (no background requests, updates, sync or lookups), colours and
        # layout independent of the machine.
        args = [executable, '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
                '--no-first-run', '--no-default-browser-check', '--disable-background-networking',
                '--disable-component-update', '--disable-sync', '--disable-default-apps',
                '--hide-scrollbars', '--mute-audio', '--force-color-profile=srgb',
                f'--user-data-dir={profile}', '--remote-debugging-pipe', 'about:blank']
        self.pid = os.posix_spawnp(executable, args, os.environ, file_actions=[
            (os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
            (os.POSIX_SPAWN_DUP2, log.fileno(), 1), (os.POSIX_SPAWN_DUP2, log.fileno(), 2),
            (os.POSIX_SPAWN_DUP2, commands_r, 3), (os.POSIX_SPAWN_DUP2, answers_w, 4)],
            setpgroup=0)
        os.close(commands_r)
        os.close(answers_w)
        self.buffer, self.next_id, self.session, self.handlers, self.events = b'', 0, None, {}, []

    def close(self):
        """Asks the browser to close, waits up to 10 s for it, then ends whatever of it is left
        (its helper processes are in its process group), so that its profile can be removed."""
        try:
            self.send('Browser.close', session=False, wait=False)
        except OSError:
            pass
        deadline = time.monotonic() + 10
        while os.waitpid(self.pid, os.WNOHANG) == (0, 0):
            if time.monotonic() > deadline:
                os.kill(self.pid, signal.SIGKILL)
                os.waitpid(self.pid, 0)
                break
            time.sleep(0.05)
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        os.close(self.commands)
        os.close(self.answers)

    def _read_message(self, deadline):
        while b'\0' not in self.buffer:
            ready, _, _ = select.select([self.answers], [], [], max(0, deadline - time.monotonic()))
            if not ready:
                raise BrowserError('Chromium did not answer in time')
            chunk = os.read(self.answers, 1 << 20)
            if not chunk:
                raise BrowserError('Chromium ended')
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b'\0', 1)
        return json.loads(message)

    def _dispatch(self, message):
        """Handles an event; an answer to a command sent without waiting is dropped."""
        handler = self.handlers.get(message.get('method'))
        if handler:
            handler(message.get('params', {}))
        self.events.append(message.get('method'))

    def send(self, method, params=None, session=True, wait=True):
        """Sends a command and returns its result, handling the events that come before it
        (a handler may send commands of its own, without waiting)."""
        self.next_id += 1
        key = self.next_id
        message = {'id': key, 'method': method, 'params': params or {}}
        if session:
            message['sessionId'] = self.session
        data = json.dumps(message).encode() + b'\0'
        while data:
            data = data[os.write(self.commands, data):]
        deadline = time.monotonic() + TIMEOUT
        while wait:
            answer = self._read_message(deadline)
            if answer.get('id') == key:
                if 'error' in answer:
                    raise BrowserError(f"{method}: {answer['error'].get('message')}")
                return answer.get('result', {})
            self._dispatch(answer)
        return None

    def wait_for(self, event):
        deadline = time.monotonic() + TIMEOUT
        while event not in self.events:
            self._dispatch(self._read_message(deadline))
        self.events.remove(event)

    def open_page(self):
        target = self.send('Target.createTarget', {'url': 'about:blank'}, session=False)
        attached = self.send('Target.attachToTarget',
                             {'targetId': target['targetId'], 'flatten': True}, session=False)
        self.session = attached['sessionId']

    def evaluate(self, expression):
        result = self.send('Runtime.evaluate', {'expression': expression, 'returnByValue': True,
                                                'awaitPromise': True})
        if 'exceptionDetails' in result:
            raise BrowserError(f"script failed: {result['exceptionDetails'].get('text')}")
        return result['result'].get('value')

    def viewport(self, width, height):
        self.send('Emulation.setDeviceMetricsOverride',
                  {'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': False})

    def screenshot(self, clip):
        clip = dict(clip, scale=1)
        shot = self.send('Page.captureScreenshot',
                         {'format': 'png', 'clip': clip, 'captureBeyondViewport': True})
        return base64.b64decode(shot['data'])


def coloured_pixels(png):
    """Pixels of a PNG that are data marks: clearly coloured (not white, not a grey of axes or
    text)."""
    image = Image.open(io.BytesIO(png)).convert('RGBA')
    return sum(1 for r, g, b, a in image.getdata() if a >= 128 and max(r, g, b) - min(r, g, b) >= 60)


# The facts of one chart and its table, as the page has them; the plot area's box is in page
# coordinates (scrolled offset added), as a screenshot's clip wants it.
CHART_FACTS = '''(() => {
  const kind = %s;
  const charts = document.querySelectorAll(`svg.chart[data-chart="${kind}"]`);
  if (charts.length !== 1) return { count: charts.length };
  const svg = charts[0];
  const rect = svg.getBoundingClientRect();
  const visible = rect.width > 0 && rect.height > 0 && getComputedStyle(svg).visibility !== 'hidden';
  const perSeries = {};
  for (const m of svg.querySelectorAll('.plot .mark')) {
    const s = m.getAttribute('data-series');
    perSeries[s] = (perSeries[s] || 0) + 1;
  }
  const labelled = svg.getAttribute('role') === 'img' && svg.getAttribute('aria-label') &&
                   svg.querySelector(':scope > title');
  const plots = svg.querySelectorAll('.plot');
  const tables = document.querySelectorAll(`table[data-table="${kind}"]`);
  const rows = tables.length === 1 ? tables[0].querySelectorAll('tbody tr').length : -1;
  let plot = null;
  if (plots.length === 1) {
    plots[0].scrollIntoView({ block: 'center' });
    const p = plots[0].getBoundingClientRect();
    plot = { x: p.x + window.scrollX, y: p.y + window.scrollY, width: p.width, height: p.height };
  }
  return { count: 1, visible, width: rect.width, height: rect.height, labelled: Boolean(labelled),
           perSeries, plots: plots.length, rows, plot };
})()'''


def check_chart(browser, kind, fail):
    facts = browser.evaluate(CHART_FACTS % json.dumps(kind))
    if facts['count'] != 1:
        fail(f"chart {kind}: found {facts['count']} times, expected once")
        return
    if not facts['visible'] or facts['width'] < 300 or facts['height'] < 150:
        size = f"{facts['width']:g}x{facts['height']:g}" if facts['visible'] else 'no box'
        fail(f'chart {kind}: not visible at a reasonable size ({size})')
        return
    if not facts['labelled']:
        fail(f'chart {kind}: not labelled for readers (role, aria-label, title)')
    if facts['plots'] != 1:
        fail(f"chart {kind}: {facts['plots']} plot areas, expected 1")
        return

    rows = facts['rows']
    if rows < 1:
        fail(f'chart {kind}: no table of its numbers (or more than one)')
    per_series = facts['perSeries']
    if len(per_series) < MIN_SERIES[kind]:
        fail(f'chart {kind}: {len(per_series)} series of data marks, '
             f'expected at least {MIN_SERIES[kind]}')
    for series, count in per_series.items():
        if count != rows:
            fail(f'chart {kind}: series {series} has {count} data marks, its table {rows} rows')

    marks = sum(per_series.values())
    coloured = coloured_pixels(browser.screenshot(facts['plot']))
    needed = max(40, min(1000, 25 * marks))
    if coloured < needed:
        fail(f'chart {kind}: {coloured} coloured pixels in the plot area, expected at least {needed}')


def watch(browser, fail):
    """Every console error or warning, page error, request away from the file (also stopped)
    and failed request becomes a failure."""
    urls = {}

    def console(kind, text):
        if kind in ('error', 'warning'):
            fail(f'console {kind}: {text}')

    def paused(params):
        request = {'requestId': params['requestId']}
        if re.match(r'^(file|data):', params['request']['url']):
            return browser.send('Fetch.continueRequest', request, wait=False)
        fail(f"request to {params['request']['url']}")
        browser.send('Fetch.failRequest', dict(request, errorReason='BlockedByClient'), wait=False)

    def exception(details):
        text = details.get('exception', {}).get('description') or details.get('text') or '?'
        fail(f'page error: {text.splitlines()[0]}')

    browser.handlers.update({
        'Runtime.consoleAPICalled': lambda p: console(p['type'], ' '.join(
            str(a.get('value', a.get('description', ''))) for a in p['args'])),
        'Log.entryAdded': lambda p: console(p['entry']['level'], p['entry'].get('text')),
        'Runtime.exceptionThrown': lambda p: exception(p['exceptionDetails']),
        'Fetch.requestPaused': paused,
        'Network.requestWillBeSent': lambda p: urls.update({p['requestId']: p['request']['url']}),
        'Network.loadingFailed': lambda p: fail(
            f"failed request: {urls.get(p['requestId'], '?')} ({p.get('errorText')})"),
    })
    for domain in ('Page', 'Runtime', 'Log', 'Network'):
        browser.send(f'{domain}.enable')
    browser.send('Fetch.enable', {'patterns': [{'urlPattern': '*'}]})


def check(browser, report, out, expected, fail):
    browser.open_page()
    watch(browser, fail)
    browser.viewport(1000, 800)
    navigation = browser.send('Page.navigate', {'url': report.resolve().as_uri()})
    if navigation.get('errorText'):
        raise BrowserError(f"opening the report: {navigation['errorText']}")
    browser.wait_for('Page.loadEventFired')

    present = browser.evaluate(
        "[...document.querySelectorAll('svg.chart')].map((s) => s.getAttribute('data-chart'))")
    for kind in present:
        if kind not in expected:
            fail(f'chart {kind}: present but not expected')
    tables = browser.evaluate(
        "[...document.querySelectorAll('table[data-table]')].map((t) => t.dataset.table)")
    for kind in tables:
        if kind not in present:
            fail(f'table {kind}: no chart beside it')
    for kind in expected:
        check_chart(browser, kind, fail)

    content = browser.send('Page.getLayoutMetrics')['cssContentSize']
    out.write_bytes(browser.screenshot(
        {'x': 0, 'y': 0, 'width': 1000, 'height': max(1, round(content['height']))}))

    # Laid out as printed on A4 (180 mm = 680 px between 15 mm margins), nothing may stick out.
    browser.send('Emulation.setEmulatedMedia', {'media': 'print'})
    browser.viewport(680, 960)
    wide = browser.evaluate("[...document.querySelectorAll('main *')]"
                            ".filter((e) => e.getBoundingClientRect().right > 681)"
                            ".map((e) => e.tagName.toLowerCase())")
    if wide:
        fail(f'print layout: {len(wide)} elements wider than 680 px ({wide[0]}, ...)')
    pdf = base64.b64decode(browser.send('Page.printToPDF', {
        'paperWidth': 8.27, 'paperHeight': 11.7, 'printBackground': True,
        'preferCSSPageSize': True})['data'])
    pages = len(re.findall(rb'/Type\s*/Page(?![a-zA-Z])', pdf))
    if not pdf.startswith(b'%PDF-') or pages < 1:
        fail('PDF print: no pages')


def main():
    parser = argparse.ArgumentParser(description='Checks a kinstrom report in headless Chromium.')
    parser.add_argument('report', type=pathlib.Path)
    parser.add_argument('out', type=pathlib.Path, help='the screenshot (PNG) to write')
    parser.add_argument('--expect-charts', default=','.join(KINDS), help='comma-separated kinds')
    args = parser.parse_args()
    expected = [k for k in args.expect_charts.split(',') if k]
    if any(k not in KINDS for k in expected) or not args.report.is_file():
        parser.error(f'charts are among {", ".join(KINDS)}; the report must be a file')
    executable = os.environ.get('KINSTROM_CHROMIUM') or shutil.which('chromium')
    if not executable:
        print('FAIL: no chromium on PATH (bash tools/setup.sh tests installs it; '
              'KINSTROM_CHROMIUM names another)', file=sys.stderr)
        return 1

    failures = []
    # A helper process killed at the end may leave a file behind in the profile: not a fault.
    with tempfile.TemporaryDirectory(ignore_cleanup_errors=True) as profile, \
            open(os.path.join(profile, 'chromium.log'), 'w+b') as log:
        browser = None
        try:
            browser = Browser(executable, os.path.join(profile, 'profile'), log)
            check(browser, args.report, args.out, expected, failures.append)
        except (BrowserError, OSError) as e:
            failures.append(str(e))
            log.seek(0)
            sys.stderr.write(log.read().decode(errors='replace')[-4000:])
        finally:
            if browser:
                browser.close()
    for f in failures:
        print(f'FAIL: {f}', file=sys.stderr)
    if not failures:
        print(f"ok: {args.report}: charts {', '.join(expected) or 'none'} checked; "
              f'screenshot {args.out}')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
