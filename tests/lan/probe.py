"""Client side of the library's end-to-end tests: runs searchlib_probe in the
client namespace of a test-bed LAN and collects what it reports."""
import json
import os
import subprocess
import tempfile
import threading
import time

PROBE = os.environ.get('SEARCHLIB_PROBE', '')

GOLDEN_SEARCH = bytes([0x0B, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF]) + bytes(140)
GOLDEN_MSEARCH = (b'M-SEARCH * HTTP/1.1\r\n'
                  b'HOST: 239.143.255.250:1900\r\n'
                  b'ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n'
                  b'MAN: "ssdp:discover"\r\n'
                  b'MX: 3\r\n'
                  b'\r\n')
TEXT_FIELDS = ('id', 'ip', 'host', 'product', 'extra', 'osversion', 'factory')


def wait_until(predicate, timeout=15.0, interval=0.02, what='condition'):
    """Polls until predicate() is true; the deadline is generous, the poll short."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError('timed out waiting for ' + what)
        time.sleep(interval)


class Probe:
    def __init__(self, lan):
        if not PROBE or not os.access(PROBE, os.X_OK):
            raise RuntimeError('SEARCHLIB_PROBE does not name the built probe: %r' % PROBE)
        self._lock = threading.Lock()
        self._events = []
        # Standard error carries the log's echo and, in a sanitizer build, any
        # report; the probe ends with _exit, so a report would not show in its
        # exit status and is looked for in the text instead.
        self._stderr = tempfile.TemporaryFile()
        self.proc = lan.client_popen([PROBE], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self._stderr, text=True, bufsize=1)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.proc.stdout:
            line = line.strip()
            if not line:
                continue
            event = json.loads(line)
            if event.get('event') == 'report':
                for key in TEXT_FIELDS:
                    event[key] = bytes.fromhex(event[key]).decode('latin-1')
            event['t'] = time.monotonic()
            with self._lock:
                self._events.append(event)

    def events(self, kind=None):
        with self._lock:
            return [e for e in self._events if kind is None or e.get('event') == kind]

    def command(self, line, timeout=15.0):
        name = line.split()[0]

        def done():
            return len([e for e in self.events('ok') if e['cmd'] == name])

        before = done()
        self.proc.stdin.write(line + '\n')
        self.proc.stdin.flush()
        wait_until(lambda: done() > before, timeout, what='probe command ' + line)

    def init(self, log_dir=None, multi=False, callback=True):
        self.command('%s %d %s %d' % ('init' if callback else 'init-nocb', 1 if log_dir else 0,
                                      log_dir or '-', 1 if multi else 0))

    def threads(self):
        before = len(self.events('threads'))
        self.proc.stdin.write('threads\n')
        self.proc.stdin.flush()
        wait_until(lambda: len(self.events('threads')) > before, what='thread list')
        return self.events('threads')[-1]

    def reports(self, port=None):
        return [e for e in self.events('report') if port is None or e['port'] == port]

    def wait_reports(self, count, port=None, timeout=15.0):
        return wait_until(lambda: len(self.reports(port)) >= count and self.reports(port), timeout,
                          what='%d reports' % count)

    def close(self):
        if self._stderr.closed:
            return
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write('quit\n')
                self.proc.stdin.flush()
                self.proc.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
        self._reader.join(timeout=5)
        for stream in (self.proc.stdin, self.proc.stdout):
            try:
                stream.close()
            except OSError:
                pass
        self._stderr.seek(0)
        text = self._stderr.read().decode('latin-1')
        self._stderr.close()
        for marker in ('Sanitizer', 'runtime error:'):
            if marker in text:
                start = text.index(marker)
                raise AssertionError('the probe reported a fault:\n' + text[max(0, start - 200):start + 3000])


def read_log(log_dir):
    """All lines of the day's log file(s) in the directory, without CR LF."""
    lines = []
    for name in sorted(os.listdir(log_dir)):
        if name.endswith('SearchDeviceLog.txt'):
            with open(os.path.join(log_dir, name), 'rb') as f:
                lines += f.read().decode('latin-1').split('\r\n')
    return lines
