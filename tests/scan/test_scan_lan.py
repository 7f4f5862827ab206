"""End-to-end tests of nasfinder-scan inside an isolated LAN of the test bed:
simulated devices answer both searches, and the command's output is checked
as a script would read it.

The command runs only in the test bed's client namespace. Its path comes from
the environment variable NASFINDER_SCAN (CTest sets it)."""
import csv
import fcntl
import io
import json
import re
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tools', 'testbed'))
import lanbed  # noqa: E402

SCAN = os.environ.get('NASFINDER_SCAN', '')
NETNS_RUN = os.path.join(HERE, '..', '..', 'tools', 'testbed', 'netns-run.sh')
LIST_KEYS = ['id', 'ip', 'host', 'product', 'extra', 'osversion', 'vendor', 'type']
RAW_KEYS = LIST_KEYS + ['port']
FFFD = '\ufffd'


def setUpModule():
    lanbed.skip_unless_available()  # raises SkipTest with the reason
    if not SCAN or not os.access(SCAN, os.X_OK):
        raise unittest.SkipTest('NASFINDER_SCAN does not name the built nasfinder-scan (got %r)' % SCAN)


def strict_json(data):
    """Standard output as a script reads it: strict UTF-8, then JSON."""
    return json.loads(data.decode('utf-8', 'strict'))


# Runs its arguments under a seccomp filter that fails every capset with EPERM
# (x86_64: capset is system call 126).
DENY_CAPSET = r"""
import ctypes, os, struct, sys
code = [(0x20, 0, 0, 0),              # load the system call number
        (0x15, 0, 1, 126),            # capset?
        (0x06, 0, 0, 0x00050000 | 1), # then fail with EPERM
        (0x06, 0, 0, 0x7fff0000)]     # else allow
program = b''.join(struct.pack('HBBI', *op) for op in code)
buf = ctypes.create_string_buffer(program)
fprog = struct.pack('HL', len(code), ctypes.addressof(buf))
libc = ctypes.CDLL(None, use_errno=True)
PR_SET_SECCOMP, SECCOMP_MODE_FILTER = 22, 2
if libc.prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, ctypes.c_char_p(fprog), 0, 0) != 0:
    sys.exit('seccomp: %s' % os.strerror(ctypes.get_errno()))
os.execv(sys.argv[1], sys.argv[1:])
"""


def reply_packet(text, code=12, type_byte=1):
    return bytes([code, type_byte, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF]) + bytes(12) + text[:128].ljust(128, b'\0')


def exporter_unit():
    """The directives of the exporter's unit as shipped (src/scan), each name
    with its values in order."""
    path = os.path.join(HERE, '..', '..', 'src', 'scan', 'nasfinder-exporter.service.in')
    directives = {}
    with open(path) as f:
        for line in f:
            match = re.match(r'^([A-Za-z]+)=(.*)$', line.rstrip('\n'))
            if match:
                directives.setdefault(match.group(1), []).append(match.group(2))
    return directives


class LineReader:
    """Collects a running process's output lines with their arrival times, so a
    test can wait for a line with a deadline instead of sleeping."""

    def __init__(self, stream):
        self.lines = []
        self._cv = threading.Condition()
        self._thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self._thread.start()

    def _read(self, stream):
        for raw in stream:
            with self._cv:
                self.lines.append((time.monotonic(), raw))
                self._cv.notify_all()

    def wait_for(self, predicate, timeout, what, after=None):
        """The first line, or the first one read after the time `after`,
        that the predicate takes."""
        deadline = time.monotonic() + timeout
        with self._cv:
            while True:
                for stamp, raw in self.lines:
                    if (after is None or stamp > after) and predicate(raw):
                        return stamp, raw
                left = deadline - time.monotonic()
                if left <= 0:
                    raise lanbed.WaitTimeout('no output line with %s within %.0f s; got %r' %
                                             (what, timeout, [r for _, r in self.lines][-5:]))
                self._cv.wait(left)

    def join(self, timeout):
        self._thread.join(timeout)


class ScanCase(unittest.TestCase):
    devices = 4
    vendors = None
    client_subnets = 1

    def setUp(self):
        self.lan = lanbed.Lan(devices=self.devices, client_subnets=self.client_subnets)
        self.lan.start()
        self.addCleanup(self.lan.close)
        self.sim = self.lan.simulator(vendors=self.vendors)

    def state_home(self):
        """Every scan keeps the devices it found: in a folder of the test's own."""
        if not hasattr(self, '_state'):
            self._state = tempfile.mkdtemp(prefix='scan-state-')
            self.addCleanup(shutil.rmtree, self._state, True)
        return self._state

    def known(self):
        path = os.path.join(self.state_home(), 'nasfinder', 'devices.json')
        with open(path) as f:
            return {d['id']: d for d in json.load(f)['devices']}

    def scan(self, *args, timeout=60, preexec=(), program=SCAN):
        env = dict(os.environ, XDG_STATE_HOME=self.state_home())
        r = self.lan.client_run(list(preexec) + [program] + list(args), capture_output=True, timeout=timeout,
                                env=env)
        self.assertNoSanitizerReport(r.stderr)
        return r

    def stop_watch(self, proc, reader):
        """Ends a watch as a service manager does (SIGTERM): exit status 0,
        every line read, no sanitizer report."""
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(timeout=10), 0)
        reader.join(5)
        proc.stdout.close()
        self.assertNoSanitizerReport(proc.stderr.read())
        proc.stderr.close()

    def assertNoSanitizerReport(self, stderr):
        # The command ends with _exit, so a sanitizer's report shows on standard
        # error without changing the exit status.
        self.assertNotIn(b'Sanitizer', stderr, stderr.decode('utf-8', 'replace')[-3000:])

    def assertScanOk(self, r):
        self.assertEqual(r.returncode, 0, 'exit %d, stderr:\n%s' % (r.returncode, r.stderr.decode('utf-8', 'replace')))


class ListedDevices(ScanCase):
    devices = 5
    vendors = ['TAVIK', 'mirdo', 'OTHERCO', 'Eskal', 'TAVIK1']

    def test_json_lists_accepted_devices_of_both_protocols(self):
        dev = self.lan.device_addrs
        # Device 0 answers the broadcast search only, device 1 SSDP only, device 3
        # both: one entry each, merged by address. Devices 2 and 4 have vendors
        # that are not accepted ("TAVIK1" only begins with an accepted name).
        self.sim.configure(0, ssdp=False)
        self.sim.configure(1, broadcast=False)
        r = self.scan('--json', '--seconds', '3')
        self.assertScanOk(r)
        listed = strict_json(r.stdout)
        self.assertIsInstance(listed, list)
        for entry in listed:
            self.assertEqual(list(entry), LIST_KEYS)
            self.assertIsInstance(entry['type'], int)
        by_ip = {e['ip']: e for e in listed}
        self.assertEqual(sorted(by_ip), sorted([dev[0], dev[1], dev[3]]))
        self.assertEqual(len(listed), 3, 'one entry per address: %r' % listed)

        self.assertEqual((by_ip[dev[0]]['id'], by_ip[dev[0]]['host'], by_ip[dev[0]]['vendor']),
                         ('DEV0', 'nas0', 'TAVIK'))
        self.assertEqual(by_ip[dev[0]]['osversion'], '')  # broadcast replies carry no OS version
        self.assertEqual((by_ip[dev[1]]['vendor'], by_ip[dev[1]]['osversion']), ('MIRDO', '2.1'))
        self.assertEqual((by_ip[dev[3]]['vendor'], by_ip[dev[3]]['product']), ('ESKAL', 'P3'))

    def test_table_has_the_columns_and_one_row_per_accepted_device(self):
        r = self.scan('--seconds', '2')
        self.assertScanOk(r)
        lines = r.stdout.decode('utf-8', 'strict').splitlines()
        self.assertEqual(lines[0].split(), ['HOST', 'IP', 'PRODUCT', 'VENDOR', 'ID'])
        rows = {line.split()[1]: line.split() for line in lines[1:]}
        dev = self.lan.device_addrs
        self.assertEqual(sorted(rows), sorted([dev[0], dev[1], dev[3]]))
        self.assertEqual(rows[dev[1]], ['nas1', dev[1], 'P1', 'MIRDO', 'DEV1'])
        # Aligned: every column starts at the same offset in every line.
        starts = lines[0].index('IP')
        self.assertTrue(all(line[starts - 2:starts] == '  ' and line[starts] != ' ' for line in lines))

    def test_raw_prints_every_report_before_filtering(self):
        r = self.scan('--raw', '--seconds', '2')
        self.assertScanOk(r)
        reports = [strict_json(line) for line in r.stdout.splitlines()]
        self.assertTrue(reports)
        # The search goes out more than once, the first at once and none back to
        # back, and --raw shows the answer to every send.
        sends = sorted(q['time'] for q in self.sim.requests(proto='broadcast', own=False))
        self.assertGreater(len(sends), 1, 'a search is repeated')
        self.assertTrue(all(b - a > 0.3 for a, b in zip(sends, sends[1:])), sends)
        self.assertEqual(sum(1 for rep in reports if rep['port'] == 67 and rep['ip'] == self.lan.device_addrs[0]),
                         len(sends))
        for rep in reports:
            self.assertEqual(list(rep), RAW_KEYS)
            self.assertIsInstance(rep['port'], int)
            self.assertIsInstance(rep['type'], int)
        vendors = {rep['vendor'] for rep in reports}
        # Rejected vendors are shown, and every vendor as the device sent it.
        self.assertTrue({'OTHERCO', 'TAVIK1', 'mirdo', 'Eskal'} <= vendors, vendors)
        ports = {rep['port'] for rep in reports}
        self.assertIn(67, ports)
        self.assertTrue(ports & {1900, 1530}, ports)  # SSDP via the group socket or a command thread

    def test_interrupt_ends_the_wait_early_and_still_prints(self):
        logdir = tempfile.mkdtemp(prefix='scan-log-')
        self.addCleanup(shutil.rmtree, logdir, True)
        proc = self.lan.client_popen([SCAN, '--json', '--seconds', '120', '--log-dir', logdir, '--verbose'],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        # The log's echo on standard error tells when a report has been handed
        # over completely (the registry has taken it).
        errors = LineReader(proc.stderr)
        errors.wait_for(lambda raw: b'Find Device Success Handle' in raw, timeout=20, what='a finished report')
        proc.send_signal(signal.SIGINT)
        out = proc.stdout.read()
        self.assertEqual(proc.wait(timeout=20), 0)
        errors.join(5)
        proc.stdout.close()
        proc.stderr.close()
        self.assertNoSanitizerReport(b''.join(raw for _, raw in errors.lines))
        self.assertTrue(strict_json(out), 'a device was taken before the interrupt')


class Firewall(ScanCase):
    """A desktop firewall on the client (input policy drop, answers not tied to
    the search by connection tracking): device 0 answers the broadcast search
    only, 1 SSDP only, 2 and 3 both."""
    SERVICE = os.path.join(HERE, '..', '..', 'src', 'firewall', 'nasfinder.xml')
    UFW = os.path.join(HERE, '..', '..', 'src', 'firewall', 'nasfinder.ufw')

    def setUp(self):
        lanbed.skip_unless_nft()
        super().setUp()
        self.sim.configure(0, ssdp=False)
        self.sim.configure(1, broadcast=False)

    def test_closed_lists_nothing_and_says_why_the_shipped_ports_list_every_device(self):
        self.lan.client_firewall()
        r = self.scan('--json', '--seconds', '2')
        self.assertScanOk(r)
        self.assertEqual(strict_json(r.stdout), [])
        self.assertEqual(r.stderr.decode('utf-8'), 'nasfinder-scan: no devices found. A firewall may drop the '
                         'devices\' answers: see the FIREWALL section of "man nasfinder-scan". A device beyond a '
                         'router is found only by its address: --address ADDRESS.\n')

        # The ports as the shipped service opens them, read from its own file;
        # the ufw profile opens the same.
        ports = lanbed.udp_ports_of_service(self.SERVICE)
        with open(self.UFW) as f:
            ufw = [line.split('=', 1)[1].strip() for line in f if line.startswith('ports=')]
        self.assertEqual(ufw, ['|'.join(p.replace('-', ':') + '/udp' for p in ports)])
        self.lan.client_firewall(ports)
        r = self.scan('--json', '--seconds', '2')
        self.assertScanOk(r)
        self.assertEqual(sorted(e['ip'] for e in strict_json(r.stdout)), sorted(self.lan.device_addrs))
        self.assertEqual(r.stderr, b'')


class HostileTexts(ScanCase):
    devices = 3

    def test_json_and_table_stay_valid_whatever_the_devices_send(self):
        hostile = b'q"\\\x01\x1b[2J\x7f'
        # Device 0: a hand-made broadcast reply with quotes, backslashes, control
        # characters and bytes that are not UTF-8 (a lone continuation byte and
        # a cut sequence).
        self.sim.configure(0, ssdp=False, broadcast={
            'text': b'id=H0&host=' + hostile + b'&vendor=tavik&product=\x80\xe2\x82'})
        # Device 1: an SSDP reply with invalid UTF-8 in the SERVER line.
        dev1 = self.lan.device_addrs[1]
        self.sim.configure(1, broadcast=False, ssdp={'raw': (
            b'HTTP/1.1 200 OK\r\nLOCATION: http://' + dev1.encode() + b':5000/d.xml\r\n'
            b'SERVER: VEXA/2.\xff\xfe, UPnP/1.0, TAVIK/h\xc3\x28"\\/p\x1f\r\n'
            b'USN: uuid:S\tID::urn:schemas-upnp-org:device:HomeNasDevice:1\r\n\r\n')})
        # Device 2: valid non-ASCII text must come through unchanged.
        self.sim.configure(2, ssdp=False, host='caf\u00e9-\u6570\u636e', product='\u20ac1')

        r = self.scan('--json', '--seconds', '2')
        self.assertScanOk(r)
        listed = {e['ip']: e for e in strict_json(r.stdout)}
        dev = self.lan.device_addrs
        self.assertEqual(sorted(listed), sorted(dev))
        self.assertEqual(listed[dev[0]]['host'], 'q"\\\x01\x1b[2J\x7f')
        self.assertEqual(listed[dev[0]]['product'], FFFD * 3)
        self.assertEqual(listed[dev[1]]['host'], 'h' + FFFD + '("\\')
        self.assertEqual(listed[dev[1]]['osversion'], '2.' + FFFD * 2)
        self.assertEqual(listed[dev[1]]['id'], 'S\tID')
        self.assertEqual(listed[dev[2]]['host'], 'caf\u00e9-\u6570\u636e')
        self.assertEqual(listed[dev[2]]['product'], '\u20ac1')
        # Control characters are escaped, never raw, in the JSON text itself.
        self.assertFalse(any(b < 0x20 or b == 0x7F for b in r.stdout.rstrip(b'\n')))

        raw = self.scan('--raw', '--seconds', '2')
        self.assertScanOk(raw)
        reports = [strict_json(line) for line in raw.stdout.splitlines()]
        self.assertIn('q"\\\x01\x1b[2J\x7f', [rep['host'] for rep in reports])

        table = self.scan('--seconds', '2')
        self.assertScanOk(table)
        text = table.stdout.decode('utf-8', 'strict')
        self.assertNotIn('\x1b', text)
        self.assertEqual(len(text.splitlines()), 4)  # header and three rows, however hostile
        self.assertIn('caf\u00e9-\u6570\u636e', text)

        # CSV as a script reads it back (Python's csv module): a host a
        # spreadsheet would run as a formula, one holding a comma, a quote and
        # a line end, and one of valid non-ASCII text, each one field.
        self.sim.configure(0, ssdp=False, broadcast={'text': b'id=H0&host==SUM(1+1)&vendor=tavik&product=p'})
        self.sim.configure(1, reset=True, ssdp=False,
                           broadcast={'text': b'id=H1&host=a,b"c\nd\x1b&vendor=tavik&product=-1'})
        sheet = self.scan('--csv', '--seconds', '2')
        self.assertScanOk(sheet)
        rows = list(csv.reader(io.StringIO(sheet.stdout.decode('utf-8', 'strict'), newline='')))
        self.assertEqual(rows[0], LIST_KEYS)
        listed = {row[1]: dict(zip(LIST_KEYS, row)) for row in rows[1:]}
        self.assertEqual(sorted(listed), sorted(dev))
        self.assertEqual(listed[dev[0]]['host'], "'=SUM(1+1)")
        self.assertEqual(listed[dev[1]]['host'], 'a,b"c\nd' + FFFD)
        self.assertEqual(listed[dev[1]]['product'], "'-1")
        self.assertEqual(listed[dev[2]]['host'], 'caf\u00e9-\u6570\u636e')
        self.assertTrue(sheet.stdout.endswith(b'\r\n'))

        # Standard error with the trace (vendor) and the log's echo (id): the
        # device's bytes must not retitle or clear the user's terminal.
        self.sim.configure(2, id='\x1b]0;T\x07', vendor='tavik\x1b[2J')
        logdir = tempfile.mkdtemp(prefix='scan-log-')
        self.addCleanup(shutil.rmtree, logdir, True)
        verbose = self.scan('--seconds', '2', '--verbose', '--log-dir', logdir)
        self.assertScanOk(verbose)
        err = verbose.stderr.decode('utf-8', 'strict')
        self.assertIn('NewDeviceInfo.factory = TAVIK' + FFFD + '[2J', err)
        self.assertIn(FFFD + ']0;T' + FFFD, err)
        self.assertFalse([c for c in err if c < ' ' and c != '\n'], err[-2000:])


class Watch(ScanCase):
    devices = 2

    def test_watch_drops_a_silent_device_after_the_second_ageing_step(self):
        dev = self.lan.device_addrs
        start = time.monotonic()
        proc = self.lan.client_popen([SCAN, '--watch', '--json'], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        reader = LineReader(proc.stdout)

        def ips(raw):
            return sorted(e['ip'] for e in strict_json(raw))

        reader.wait_for(lambda raw: ips(raw) == sorted(dev), timeout=9, what='both devices')
        # Silent from now on, before the refresh loop's second search at 10 s.
        self.sim.configure(1, broadcast=False, ssdp=False)
        silenced = time.monotonic()
        self.assertLess(silenced - start, 9)

        # A list printed before device 1 first answered is no list it has left.
        stamp, _ = reader.wait_for(lambda raw: ips(raw) == [dev[0]], timeout=40, what='device 1 gone',
                                   after=silenced)
        # Seen last in the first cycle: aged to 50 by the step at 10 s, removed by
        # the one at 20 s, and not earlier.
        self.assertGreater(stamp - start, 19)
        self.assertLess(stamp - start, 32)

        self.stop_watch(proc, reader)
        lines = [raw for _, raw in reader.lines]
        # Printed only on change: no two equal lines in a row; the answering
        # device never left the list.
        self.assertTrue(all(a != b for a, b in zip(lines, lines[1:])), lines)
        seen = [ips(raw) for raw in lines]
        first_full = seen.index(sorted(dev))
        self.assertTrue(all(dev[0] in s for s in seen[first_full:]), seen)

    def test_ctrl_c_ends_watch_cleanly_and_every_table_carries_its_time(self):
        proc = self.lan.client_popen([SCAN, '--watch'], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        reader = LineReader(proc.stdout)
        reader.wait_for(lambda raw: self.lan.device_addrs[1].encode() in raw, timeout=15, what='a device row')
        proc.send_signal(signal.SIGINT)
        self.assertEqual(proc.wait(timeout=10), 0)
        reader.join(5)
        proc.stdout.close()
        self.assertNoSanitizerReport(proc.stderr.read())
        proc.stderr.close()
        # A log of the output shows when each list was printed: the local date
        # and time on the line above every table's header.
        lines = [raw.decode('utf-8', 'strict').rstrip('\n') for _, raw in reader.lines]
        headers = [i for i, line in enumerate(lines) if line.split()[:1] == ['HOST']]
        self.assertTrue(headers, lines)
        for i in headers:
            self.assertGreater(i, 0, lines)
            stamp = ' '.join(lines[i - 1].split()[:2])
            when = time.mktime(time.strptime(stamp, '%Y-%m-%d %H:%M:%S'))
            self.assertLess(abs(when - time.time()), 60, lines[i - 1])


def writing_to_stdout(pid):
    """Whether a thread of the process is inside write(1, ...)."""
    task_dir = '/proc/%d/task' % pid
    try:
        tasks = os.listdir(task_dir)
    except OSError:
        return False
    for task in tasks:
        try:
            with open(os.path.join(task_dir, task, 'syscall')) as f:
                if f.read().split()[:2] == ['1', '0x1']:
                    return True
        except OSError:
            pass
    return False


class BlockedOutput(ScanCase):
    # Enough distinct reports to fill a one-page pipe many times over.
    devices = 40

    def blocked_scan(self, **popen_args):
        """A --raw scan whose standard output is a one-page pipe that nobody
        reads; returns once a thread of it is stuck writing there."""
        read_end, write_end = os.pipe()
        reader = os.fdopen(read_end, 'rb', buffering=0)
        self.addCleanup(reader.close)
        fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, 4096)
        try:
            proc = self.lan.client_popen([SCAN, '--raw', '--seconds', '120'], stdout=write_end,
                                         stderr=subprocess.PIPE, **popen_args)
        finally:
            os.close(write_end)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        self.addCleanup(proc.stderr.close)

        def blocked():
            queued = struct.unpack('i', fcntl.ioctl(read_end, termios.FIONREAD, b'\0\0\0\0'))[0]
            return queued > 4096 - 512 and writing_to_stdout(proc.pid)

        lanbed.wait_until(blocked, timeout=30, message='the scan stuck writing to its standard output')
        return proc, reader

    def test_signal_ends_a_scan_whose_output_nobody_takes(self):
        # Ctrl-C or SIGTERM ends the wait, but the output cannot be written: the
        # command gives up after a second, silently, with 128 + the signal.
        for sig in (signal.SIGINT, signal.SIGTERM):
            proc, _ = self.blocked_scan()
            sent = time.monotonic()
            proc.send_signal(sig)
            status = proc.wait(timeout=30)
            sys.stderr.write('[%s: exit %.2f s after the signal] ' % (sig.name, time.monotonic() - sent))
            self.assertEqual(status, 128 + sig, sig.name)
            self.assertEqual(proc.stderr.read(), b'', sig.name)

    def test_reader_going_away_ends_the_scan_by_sigpipe(self):
        # As `nasfinder-scan --raw | head -1`, and with SIGPIPE left ignored by the
        # parent (Python's own setting, inherited without restore_signals).
        proc, reader = self.blocked_scan(restore_signals=False)
        self.assertTrue(strict_json(reader.read(4096).split(b'\n')[0]))
        reader.close()
        self.assertEqual(proc.wait(timeout=30), -signal.SIGPIPE)
        self.assertNoSanitizerReport(proc.stderr.read())


class TwoNetworks(ScanCase):
    """A client on two networks: device 0 answers only the broadcast search of
    the first, 1 of the second; devices 2 and 3 likewise for SSDP."""
    client_subnets = 2

    def setUp(self):
        super().setUp()
        for i, subnet in enumerate(('198.18.0.0/16', '198.19.0.0/16')):
            self.sim.configure(i, broadcast={'subnet': subnet}, ssdp=False)
            self.sim.configure(i + 2, broadcast=False, ssdp={'subnet': subnet})

    def listed(self, *args):
        r = self.scan('--json', '--seconds', '2', *args)
        self.assertScanOk(r)
        return sorted(e['ip'] for e in strict_json(r.stdout))

    def test_every_network_is_searched_and_the_chosen_one_alone(self):
        dev = self.lan.device_addrs
        self.assertEqual(self.listed(), sorted(dev[:4]))
        for choice in (['--interface', 'eth1'], ['--exclude-interface', 'eth0'], ['--interface=198.19.0.1']):
            self.sim.clear_requests()
            # Devices 1 and 3 sit in eth0's subnet: with their MACs forgotten by
            # the kernel, nothing may go out of eth0 to learn them either.
            self.lan.client_run(['ip', 'neigh', 'flush', 'all'], check=True)
            self.assertEqual(self.listed(*choice), sorted([dev[1], dev[3]]), choice)
            self.assertEqual({r['src'] for r in self.sim.requests(own=False)}, {self.lan.client_addrs[1]}, choice)

    def test_a_choice_or_a_host_that_cannot_search_ends_it_and_says_why(self):
        eth0 = self.lan.client_addrs[0]
        empty_namespace = ['sh', NETNS_RUN]
        no_interface = 'no interface to search on: '
        for args, status, lines, prefix in (
                (['--interface', 'eth1', '--exclude-interface', 'wlan7'], 2,
                 ["unknown interface 'wlan7'; the interfaces here are: eth0, eth1, lo"], []),
                # Chosen and excluded at once, by name and by address: nothing would be searched.
                (['--interface', 'eth0', '--exclude-interface', eth0], 2,
                 ['interface eth0 is both chosen (--interface eth0) and excluded (--exclude-interface %s)' % eth0],
                 []),
                (['--interface', 'lo'], 2,
                 ['interface lo is a loopback interface: no search runs there',
                  'no chosen interface can carry a search'], []),
                # Nothing to search on is no empty result a firewall could explain.
                (['--exclude-interface', 'eth0', '--exclude-interface', self.lan.client_addrs[1]], 1,
                 [no_interface + 'lo is a loopback interface, eth0 is excluded, eth1 is excluded'], []),
                ([], 1, [no_interface + 'lo is a loopback interface'], empty_namespace),
                (['--no-multi', '--watch'], 1,
                 [no_interface + 'no route takes the broadcast or the SSDP group out of this computer, and '
                  'with --no-multi the searches go only where the routes lead'], empty_namespace)):
            r = self.scan(*args, timeout=20, preexec=prefix)
            err = r.stderr.decode('utf-8', 'replace')
            self.assertEqual(r.returncode, status, (args, err))
            self.assertEqual(err.splitlines(), ['nasfinder-scan: ' + line for line in lines] +
                             ["Try 'nasfinder-scan --help' for more information."] * (status == 2), args)
            self.assertEqual(r.stdout, b'', args)
        self.assertEqual(self.sim.requests(own=False), [], 'no search may go out')
        # One chosen interface that can search is enough; the other is named once.
        r = self.scan('--json', '--seconds', '2', '--interface', 'eth1', '--interface', 'lo')
        self.assertScanOk(r)
        self.assertEqual(r.stderr.decode('utf-8', 'replace').splitlines(),
                         ['nasfinder-scan: interface lo is a loopback interface: no search runs there'])
        dev = self.lan.device_addrs
        self.assertEqual(sorted(e['ip'] for e in strict_json(r.stdout)), sorted([dev[1], dev[3]]))


class RoutedSubnet(ScanCase):
    """Devices beyond a router (lanbed.RoutedLan): 198.18.20.10 answers only
    the broadcast search, 198.18.20.11 only SSDP. Neither the broadcast nor the
    group crosses the router; a search of their own addresses does."""

    def setUp(self):
        self.lan = lanbed.RoutedLan(devices=2)
        self.lan.start()
        self.addCleanup(self.lan.close)
        self.sim = self.lan.simulator()
        self.sim.configure(0, ssdp=False)
        self.sim.configure(1, broadcast=False)

    def listed(self, *args):
        r = self.scan('--json', '--seconds', '2', *args)
        self.assertScanOk(r)
        self.stderr = r.stderr.decode('utf-8')
        return {e['ip']: e['id'] for e in strict_json(r.stdout)}

    def test_a_device_beyond_the_router_is_listed_when_its_address_is_searched(self):
        dev = self.lan.device_addrs
        self.assertEqual(self.listed(), {})
        self.assertEqual(self.sim.requests(own=False), [], 'nothing of the LAN search crosses the router')
        # Nothing found: not the firewall alone, but --address too.
        self.assertIn('no devices found', self.stderr)
        self.assertIn('--address', self.stderr)

        # Answers arrive on eth0, the route's interface: a named address is
        # listed even where the user searches no interface of the LAN.
        for choice in ([], ['--exclude-interface', 'eth0']):
            self.sim.clear_requests()
            self.assertEqual(self.listed('--address', dev[0], '--address=' + dev[1], *choice),
                             {dev[0]: 'DEV0', dev[1]: 'DEV1'}, choice)
            # Each search goes out more than once: every send is one of these.
            got = sorted(set((r['proto'], r['dst'], r['src'], r['sport'], r['data'])
                             for r in self.sim.requests(own=False)))
            self.assertEqual(got, sorted([('broadcast', d, '198.18.1.1', 67, lanbed.search_packet()) for d in dev] +
                                         [('ssdp', d, '198.18.1.1', 1900, lanbed.msearch_request()) for d in dev]),
                             choice)

    def test_a_device_beyond_the_router_is_remembered_without_a_mac_and_cannot_be_woken(self):
        dev = self.lan.device_addrs
        self.assertEqual(self.listed('--address', dev[0]), {dev[0]: 'DEV0'})
        self.assertEqual((self.known()['DEV0']['address'], self.known()['DEV0']['interface'],
                          self.known()['DEV0']['mac']), (dev[0], '', ''))
        r = self.scan('--wake', 'DEV0', timeout=20)
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertIn(b'is not known (a device beyond a router cannot be woken)', r.stderr)
        self.assertEqual(self.sim.requests(proto='wake'), [])
        # A search without the address finds nothing, and says how to find it.
        self.assertEqual(self.listed(), {})
        self.assertIn('were last seen beyond a router', self.stderr)
        self.assertIn('--address ' + dev[0], self.stderr)

    def test_a_name_is_resolved_once_at_start(self):
        # `ip netns exec` puts /etc/netns/NAME/hosts in the place of /etc/hosts.
        if not os.path.isdir('/etc/netns'):
            os.mkdir('/etc/netns')
            self.addCleanup(os.rmdir, '/etc/netns')
        folder = os.path.join('/etc/netns', self.lan.client_ns)
        os.mkdir(folder)
        self.addCleanup(shutil.rmtree, folder, True)
        with open(os.path.join(folder, 'hosts'), 'w') as f:
            f.write('127.0.0.1 localhost\n%s nas-beyond\n' % self.lan.device_addrs[1])
        self.assertEqual(self.listed('--address', 'nas-beyond'), {self.lan.device_addrs[1]: 'DEV1'})
        r = self.scan('--address', 'localhost', timeout=20)
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertIn(b"'localhost' resolves to no device's address (127.0.0.1)", r.stderr)


class Sandbox(unittest.TestCase):
    """tools/lan-sandbox says how many of its devices the finder lists: as many
    as the scan lists there, plain and beyond a router."""
    SANDBOX = os.path.join(HERE, '..', '..', 'tools', 'lan-sandbox')

    def test_the_sandbox_counts_what_the_scan_lists(self):
        beyond = ['198.18.20.10', '198.18.20.11', '198.18.20.12']
        state = tempfile.mkdtemp(prefix='sandbox-state-')
        self.addCleanup(shutil.rmtree, state, True)
        for options, scan_args, refused, heard in (
                (['-n', '6'], [], 'OMBRA, KELDO', '3 broadcast searches, 6 SSDP searches to the group and 0 '
                 'searches sent to one device'),
                # Known from the first run, the two silent devices are searched at their own
                # addresses at each repeat, by both protocols.
                (['-n', '6', '--stop', '0', '--sleep', '2,0'], [], 'OMBRA, KELDO',
                 '3 broadcast searches, 6 SSDP searches to the group and 8 searches sent to one device'),
                (['--routed', '-n', '3', '--vendors', 'TAVIK,OMBRA,mirdo'],
                 [a for address in beyond for a in ('--address', address)], 'OMBRA',
                 '0 broadcast searches, 0 SSDP searches to the group and 18 searches sent to one device')):
            r = subprocess.run([sys.executable, self.SANDBOX] + options + [SCAN, '--json', '--seconds', '2'] +
                               scan_args, capture_output=True, timeout=120, env=dict(os.environ,
                                                                                   XDG_STATE_HOME=state))
            err = r.stderr.decode('utf-8', 'replace')
            self.assertEqual(r.returncode, 0, err)
            said = [line for line in err.splitlines() if 'the finder lists' in line]
            self.assertEqual(len(said), 1, err)
            count = int(said[0].split('the finder lists ')[1].split()[0])
            self.assertEqual(count, len(strict_json(r.stdout)), err)
            self.assertIn('refuses the vendor%s %s (' % ('s' if ',' in refused else '', refused), said[0])
            self.assertIn('the devices heard ' + heard, err)
            if '--routed' in options:
                self.assertIn('--address %s,' % beyond[0], err)
            if '--stop' in options:
                self.assertIn('switched off: nas0; asleep until their wake-up packet: nas2', said[0])

class KnownDevices(ScanCase):
    """The store of known devices: what answered is remembered with its MAC,
    a sleeping device is listed as not answering, and --wake brings it back."""
    devices = 2

    def known_list(self, *args):
        r = self.scan('--known', '--json', '--seconds', '2', *args)
        self.assertScanOk(r)
        return {d['id']: d for d in strict_json(r.stdout)}

    def test_a_sleeping_device_is_listed_as_not_answering_and_woken_by_id(self):
        dev = self.lan.device_addrs
        self.assertScanOk(self.scan('--seconds', '2', '--no-remember'))
        self.assertFalse(os.path.exists(os.path.join(self.state_home(), 'nasfinder')), '--no-remember keeps nothing')
        self.assertScanOk(self.scan('--seconds', '2'))
        # All devices answer through one interface, and the kernel learns one
        # MAC from the exchange: the second is asked for.
        for i, key in enumerate(['DEV0', 'DEV1']):
            self.assertEqual((self.known()[key]['address'], self.known()[key]['interface'],
                              self.known()[key]['mac']), (dev[i], 'eth0', self.sim.mac))
        seen = self.known()['DEV1']['last_seen']

        self.sim.configure(1, sleep={'asleep': True, 'delay': 2, 'mac': '02:00:00:00:00:09'})
        listed = self.known_list()
        self.assertEqual([(k, d['answering']) for k, d in listed.items()], [('DEV0', True), ('DEV1', False)])
        self.assertEqual((listed['DEV1']['last_seen'], listed['DEV1']['mac']), (seen, self.sim.mac))
        r = self.scan('--known', '--seconds', '2')
        self.assertEqual(r.stdout.decode().splitlines()[0].split(),
                         ['HOST', 'IP', 'PRODUCT', 'VENDOR', 'ID', 'MAC', 'LAST', 'SEEN', 'STATE'])
        self.assertTrue(r.stdout.decode().splitlines()[2].endswith('  not answering'), r.stdout)

        # A packet for another MAC leaves it asleep: no answer within the time.
        r = self.scan('--wake', 'DEV1', '--seconds', '4')
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn(b'DEV1 did not answer within 4 s', r.stderr)
        magic = b'\xff' * 6 + bytes.fromhex(self.sim.mac.replace(':', '')) * 16
        wakes = self.sim.wait_for_requests(2, proto='wake')
        self.assertEqual(sorted((w['dst'], w['data']) for w in wakes),
                         [('198.18.255.255', magic), ('255.255.255.255', magic)])

        self.sim.configure(1, sleep={'mac': None})
        r = self.scan('--wake', 'DEV1', '--json', timeout=120)
        self.assertScanOk(r)
        [woken] = strict_json(r.stdout)
        self.assertEqual((woken['id'], woken['answering']), ('DEV1', True))
        self.assertGreater(self.known()['DEV1']['last_seen'], seen)

    def test_refused_ids_and_macs_send_nothing_and_forget_removes(self):
        self.assertScanOk(self.scan('--seconds', '2'))
        for args, status, reason in ((['--wake', 'NOSUCH'], 2, b"--wake 'NOSUCH': no known device has this id"),
                                     (['--wake', '02:00:00:00:00:0g'], 2, b'is not a MAC address'),
                                     (['--wake', 'ff:ff:ff:ff:ff:ff'], 2, b'is not a MAC address'),
                                     (['--wake', '11:22:33'], 2, b"--wake '11:22:33': the MAC address is malformed"),
                                     # Quoted back 64 characters long, not in full.
                                     (['--wake', 'x' * 100000], 2,
                                      b"--wake '" + b'x' * 64 + '\u2026'.encode() + b"': no known device has this id"),
                                     # It says what it forgot.
                                     (['--forget', 'DEV1'], 0, b'forgot nas1 (TAVIK DEV1, last at 198.18.1.2)'),
                                     (['--forget', 'DEV1'], 2, b"--forget 'DEV1': no known device has this id")):
            r = self.scan(*args, timeout=20)
            self.assertEqual(r.returncode, status, (args[0], r.stderr[:300]))
            self.assertIn(reason, r.stderr, args[0])
            self.assertLess(len(r.stderr), 500, args[0])
        self.assertEqual(sorted(self.known()), ['DEV0'])
        self.assertEqual(self.sim.requests(proto='wake'), [])

    def test_what_is_planted_in_the_state_folder_is_never_followed_nor_waited_on(self):
        # A folder of root's that another user's folder points to: a root run
        # renamed its devices.json and left root's files in it.
        theirs = tempfile.mkdtemp(prefix='scan-theirs-', dir='/var/tmp')
        self.addCleanup(shutil.rmtree, theirs, True)
        with open(os.path.join(theirs, 'devices.json'), 'w') as f:
            f.write('not a store of theirs')
        os.symlink(theirs, os.path.join(self.state_home(), 'nasfinder'))
        r = self.scan('--json', '--seconds', '2')
        self.assertScanOk(r)
        self.assertEqual(len(strict_json(r.stdout)), 2, 'the search goes on')
        self.assertEqual(r.stderr.decode().count('is a symbolic link, not a folder of this user\'s own'), 1, r.stderr)
        self.assertEqual(os.listdir(theirs), ['devices.json'])
        with open(os.path.join(theirs, 'devices.json')) as f:
            self.assertEqual(f.read(), 'not a store of theirs')

        # A FIFO planted as the store held --known and --wake for ever, and
        # every other writer behind the lock.
        os.unlink(os.path.join(self.state_home(), 'nasfinder'))
        os.mkdir(os.path.join(self.state_home(), 'nasfinder'), 0o700)
        os.mkfifo(os.path.join(self.state_home(), 'nasfinder', 'devices.json'))
        r = self.scan('--wake', 'DEV0', timeout=20)
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertIn(b'devices.json was not a regular file; moved aside to ', r.stderr)
        lock = os.path.join(self.state_home(), 'nasfinder', 'devices.json.lock')
        os.unlink(lock)
        os.mkfifo(lock)
        r = self.scan('--known', '--json', '--seconds', '2', timeout=20)
        self.assertScanOk(r)
        self.assertIn(b'devices.json.lock was not a regular file; moved aside to ', r.stderr)
        self.assertEqual(sorted(d['id'] for d in strict_json(r.stdout)), ['DEV0', 'DEV1'])
        self.assertEqual(sorted(self.known()), ['DEV0', 'DEV1'])


class ImpossibleAddresses(ScanCase):
    """A LAN host names in its SSDP LOCATION an address no device can have."""
    devices = 5

    def test_they_are_listed_as_told_but_never_kept_and_verbose_says_why(self):
        told = {0: '127.0.0.1', 1: '224.0.0.1', 2: '198.18.255.255', 3: '240.0.0.1'}
        for i, address in told.items():
            self.sim.configure(i, broadcast=False, ssdp={'location': 'http://%s:5000/desc.xml' % address})
        r = self.scan('--json', '--seconds', '2')
        self.assertScanOk(r)
        self.assertEqual(sorted(e['ip'] for e in strict_json(r.stdout)),
                         sorted(list(told.values()) + [self.lan.device_addrs[4]]))
        self.assertNotIn(b'not kept', r.stderr)
        self.assertEqual(sorted(self.known()), ['DEV4'])
        r = self.scan('--json', '--seconds', '2', '--verbose')
        self.assertScanOk(r)
        err = r.stderr.decode()
        for line in ("TAVIK DEV0 at 127.0.0.1 is not kept: this computer's loopback (127.0.0.0/8)",
                     'TAVIK DEV1 at 224.0.0.1 is not kept: a multicast group (224.0.0.0/4)',
                     'TAVIK DEV2 at 198.18.255.255 is not kept: the network or broadcast address of a local subnet',
                     'TAVIK DEV3 at 240.0.0.1 is not kept: reserved (240.0.0.0/4)'):
            self.assertIn('nasfinder-scan: ' + line + '\n', err)
        self.assertEqual(sorted(self.known()), ['DEV4'])


class FollowUps(ScanCase):
    """On a lossy link a known device that missed the searches sent to all is
    searched at its own address, and listed thanks to it; a device that
    answered gets no such search."""
    devices = 3

    def test_a_known_device_that_misses_the_searches_to_all_is_found_at_its_address(self):
        dev = self.lan.device_addrs
        self.assertScanOk(self.scan('--seconds', '2'))
        self.assertEqual(sorted(self.known()), ['DEV0', 'DEV1', 'DEV2'])
        # Device 0 now hears nothing sent to the broadcast address or the group,
        # as a Wi-Fi link loses such frames; a frame to its own address it hears.
        self.sim.configure(0, broadcast={'all_loss': 1.0}, ssdp={'all_loss': 1.0})
        for args, listed in ((['--no-follow-up'], dev[1:]), (['--no-remember'], dev[1:]), ([], dev)):
            self.sim.clear_requests()
            r = self.scan('--json', '--seconds', '3', *args)
            self.assertScanOk(r)
            self.assertEqual(sorted(e['ip'] for e in strict_json(r.stdout)), sorted(listed), args)
            own = [q for q in self.sim.requests(own=False) if q['dst'] in dev]
            if args:
                self.assertEqual(own, [], args)
        # Searched at its address at the first repeat, 0.5 s after the first
        # send, once by each protocol; answered, not again; the others never.
        first = min(q['time'] for q in self.sim.requests(proto='broadcast', own=False))
        self.assertEqual(sorted((q['proto'], q['dst'], q['sport'], q['data']) for q in own),
                         [('broadcast', dev[0], 67, lanbed.search_packet()),
                          ('ssdp', dev[0], 1900, lanbed.msearch_request().replace(
                              lanbed.SSDP_GROUP.encode(), dev[0].encode()))])
        self.assertTrue(all(q['time'] - first > 0.4 for q in own), [q['time'] - first for q in own])


class Arguments(ScanCase):
    devices = 1

    def test_bad_arguments_exit_2_with_a_reason_and_a_pointer_to_help(self):
        missing = tempfile.mkdtemp(prefix='scan-missing-')
        shutil.rmtree(missing)
        # A FIFO or a symbolic link planted under the day's log name in a shared
        # directory: the log cannot be written, and the user is told at once.
        planted = {}
        for kind in ('fifo', 'link'):
            planted[kind] = tempfile.mkdtemp(prefix='scan-planted-')
            self.addCleanup(shutil.rmtree, planted[kind], True)
            name = os.path.join(planted[kind], time.strftime('%Y-%m-%d') + '-SearchDeviceLog.txt')
            os.mkfifo(name) if kind == 'fifo' else os.symlink(os.path.join(planted[kind], 'target'), name)
        for args, reason in ((['--seconds', '0'], '--seconds'),
                             (['--seconds', '3601'], '--seconds'),
                             (['--seconds', 'ten'], '--seconds'),
                             (['--seconds'], 'needs a number'),
                             (['--bogus'], '--bogus'),
                             (['eth0'], 'eth0'),
                             (['--watch', '--seconds', '5'], '--watch'),
                             (['--raw', '--json'], '--json'),
                             (['--known', '--watch'], '--known cannot be combined with --watch'),
                             (['--wake', 'DEV0', '--forget', 'DEV0'], '--wake cannot be combined with --forget'),
                             (['--forget', 'DEV0', '--no-remember'], '--no-remember'),
                             (['--wake'], 'needs a device id or a MAC address'),
                             (['--interface', 'eth0', '--no-multi'], '--no-multi'),
                             (['--address', '239.143.255.250'], "'239.143.255.250' is no device's address"),
                             (['--address', '255.255.255.255'], "is no device's address"),
                             # The client's own /16: its broadcast would leave as a link broadcast.
                             (['--address', '198.18.255.255'], 'the network or broadcast address of a local subnet'),
                             (['--log-dir', '--json'], 'needs a directory'),
                             (['--log-dir', missing], missing),
                             (['--log-dir', planted['fifo']], 'not a regular file'),
                             (['--log-dir', planted['link']], 'cannot create or append to the log file')):
            r = self.scan(*args, timeout=20)
            err = r.stderr.decode('utf-8', 'replace')
            self.assertEqual(r.returncode, 2, '%s: %s' % (args, err))
            self.assertEqual(r.stdout, b'', args)
            lines = err.splitlines()
            self.assertEqual(len(lines), 2, (args, err))
            self.assertIn(reason, lines[0], args)
            self.assertEqual(lines[1], "Try 'nasfinder-scan --help' for more information.", args)
        self.assertEqual(self.sim.requests(own=False), [], 'a bad argument must not start a search')

    def test_version_and_help(self):
        r = self.scan('--version', timeout=20)
        self.assertEqual((r.returncode, r.stdout), (0, b'nasfinder-scan 1.1.0\n'))
        r = self.scan('--help', timeout=20)
        self.assertEqual(r.returncode, 0)
        self.assertIn(b'--watch', r.stdout)

    def test_log_dir_writes_the_log_and_keeps_stdout_clean(self):
        logdir = tempfile.mkdtemp(prefix='scan-log-')
        self.addCleanup(shutil.rmtree, logdir, True)
        r = self.scan('--json', '--seconds', '1', '--log-dir', logdir)  # no final '/': the command adds it
        self.assertScanOk(r)
        self.assertEqual([e['ip'] for e in strict_json(r.stdout)], self.lan.device_addrs)
        names = os.listdir(logdir)
        self.assertEqual(len(names), 1, names)
        self.assertTrue(names[0].endswith('-SearchDeviceLog.txt'), names)
        with open(os.path.join(logdir, names[0]), 'rb') as f:
            log = f.read()
        self.assertIn(b'------Exit Log System-------', log)
        # Standard error is the user's: the log's echo and the registry's trace
        # only with --verbose.
        self.assertEqual(r.stderr, b'')
        r = self.scan('--json', '--seconds', '1', '--log-dir', logdir, '--verbose')
        self.assertScanOk(r)
        self.assertIn(b'SendThread 67', r.stderr)
        self.assertIn(b'NewDeviceInfo.factory = ', r.stderr)
        self.assertEqual(strict_json(r.stdout)[0]['ip'], self.lan.device_addrs[0])


class Unprivileged(ScanCase):
    devices = 2

    scan_copy = None

    def scan_for_another_user(self):
        """The scan as another user runs from copies that user can reach, with
        its broadcast helper beside it as in the build tree."""
        if Unprivileged.scan_copy is None:
            Unprivileged.scan_copy = lanbed.copies_for_any_user(
                SCAN, os.path.join(os.path.dirname(SCAN), 'nasfinder-broadcast'))[0]
        return Unprivileged.scan_copy

    def test_without_port_67_it_says_so_once_and_finds_ssdp_devices(self):
        setpriv = shutil.which('setpriv')
        if setpriv is None:
            self.skipTest('setpriv (util-linux) is not installed')
        # A new namespace keeps ports below 1024 for root; nobody cannot bind 67
        # (the copies carry no file capability).
        r = self.scan('--json', '--seconds', '2',
                      preexec=[setpriv, '--reuid=65534', '--regid=65534', '--clear-groups'],
                      program=self.scan_for_another_user())
        err = r.stderr.decode('utf-8', 'replace')
        if r.returncode in (126, 127) or ('Permission denied' in err and 'port 67' not in err):
            self.skipTest('the built binary is not executable by an unprivileged user here: %s' % err.strip())
        self.assertScanOk(r)
        self.assertEqual(err.count('cannot bind UDP port 67'), 1, err)
        self.assertIn('cap_net_bind_service', err)
        self.assertIn('setcap', err)
        listed = strict_json(r.stdout)
        self.assertEqual(sorted(e['ip'] for e in listed), sorted(self.lan.device_addrs))
        self.assertTrue(all(e['osversion'] == '2.1' for e in listed), 'found through SSDP alone')


    def test_a_user_outside_the_helpers_group_is_told_to_ask_for_membership(self):
        # As the package leaves the helper when only the group nasfinder may
        # use it: root:nasfinder 0750. Here its group is root's, which nobody
        # is not in either.
        setpriv = shutil.which('setpriv')
        if setpriv is None:
            self.skipTest('setpriv (util-linux) is not installed')
        scan, helper = lanbed.copies_for_any_user(SCAN, os.path.join(os.path.dirname(SCAN), 'nasfinder-broadcast'))
        os.chmod(helper, 0o750)
        r = self.scan('--json', '--seconds', '2', preexec=[setpriv, '--reuid=65534', '--regid=65534', '--clear-groups'],
                      program=scan)
        self.assertScanOk(r)
        err = r.stderr.decode('utf-8', 'replace')
        self.assertIn('nasfinder-scan: cannot start the broadcast helper %s (Permission denied), so the broadcast '
                      'search is off: only the members of the group nasfinder may use it. Ask the administrator for '
                      'membership in nasfinder (adduser USER nasfinder), then log in again. Going on with SSDP '
                      'alone.\n' % helper, err)
        self.assertNotIn('install the nasfinder-common package', err)
        self.assertEqual(len(strict_json(r.stdout)), self.devices, 'found through SSDP alone')

    def test_with_the_capability_it_binds_port_67_then_holds_no_capability(self):
        # As the package installs it: a normal user whose program may bind port
        # 67 and nothing else. Once port 67 is bound, no thread of the process
        # may keep a capability; the program asks the kernel, not /proc, which
        # a mount namespace may hide (the second row).
        setpriv = shutil.which('setpriv')
        if setpriv is None:
            self.skipTest('setpriv (util-linux) is not installed')
        as_user = [setpriv, '--reuid=65534', '--regid=65534', '--clear-groups',
                   '--inh-caps=+net_bind_service', '--ambient-caps=+net_bind_service']
        hide_proc = ['unshare', '--mount', '--propagation', 'private', 'sh', '-c',
                     'mount -t tmpfs none /proc && exec "$@"', 'sh']
        for name, prefix in (('plain', as_user), ('without /proc', hide_proc + as_user)):
            with self.subTest(name):
                if prefix[0] == 'unshare' and os.environ.get('NASFINDER_SANITIZE'):
                    self.skipTest("a sanitizer's runtime needs /proc to start")
                self.assertHoldsNoCapabilityOnceRunning(prefix)

    def assertHoldsNoCapabilityOnceRunning(self, prefix):
        proc = self.lan.client_popen(prefix + [self.scan_for_another_user(), '--raw', '--seconds', '60'],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        out = LineReader(proc.stdout)
        try:
            out.wait_for(lambda raw: b'"port":67' in raw, timeout=20, what='a broadcast report')
        except lanbed.WaitTimeout:
            proc.kill()
            err = proc.stderr.read().decode('utf-8', 'replace')
            if 'Permission denied' in err or proc.wait() in (126, 127):
                self.skipTest('the built binary is not executable by an unprivileged user here: %s' % err)
            raise

        def held():
            found = {}
            for tid in os.listdir('/proc/%d/task' % proc.pid):
                with open('/proc/%d/task/%s/status' % (proc.pid, tid)) as f:
                    for line in f:
                        key, _, value = line.partition(':')
                        if key in ('CapPrm', 'CapEff', 'CapInh', 'CapAmb') and int(value, 16):
                            found[tid + ' ' + key] = value.strip()
            return found
        self.assertTrue(os.path.realpath('/proc/%d/exe' % proc.pid).endswith('nasfinder-scan'))
        self.assertGreater(len(os.listdir('/proc/%d/task' % proc.pid)), 1, 'the search threads run')
        self.assertEqual({}, held())
        # Port 67 is the helper's: no descriptor of the scan's is that socket.
        udp = self.lan.client_run(['cat', '/proc/net/udp'], capture_output=True, text=True, check=True).stdout
        port_67 = {'socket:[%s]' % f[9] for f in (line.split() for line in udp.splitlines()[1:])
                   if f[1].endswith(':0043')}
        self.assertTrue(port_67, 'the helper holds port 67')
        fds = {os.readlink('/proc/%d/fd/%s' % (proc.pid, fd)) for fd in os.listdir('/proc/%d/fd' % proc.pid)}
        self.assertEqual(set(), fds & port_67)
        proc.send_signal(signal.SIGINT)
        self.assertEqual(proc.wait(timeout=20), 0)
        out.join(5)
        proc.stdout.close()
        err = proc.stderr.read()
        proc.stderr.close()
        self.assertNoSanitizerReport(err)
        self.assertNotIn(b'port 67', err)

    def test_as_the_exporter_service_runs_it_only_the_ambient_capability_binds_port_67(self):
        # Started as nasfinder-exporter.service starts it, read from the unit
        # itself: a user of its own, no_new_privs, and CAP_NET_BIND_SERVICE
        # ambient and alone in the bounding set. Under no_new_privs the
        # helper's file capability is not granted; the ambient one the program
        # holds at the helper's start is what binds port 67, with or without a
        # file capability on the helper. Once running, neither the program nor
        # its helper holds a capability.
        setpriv = shutil.which('setpriv')
        setcap = shutil.which('setcap') or shutil.which('setcap', path='/usr/sbin:/sbin')
        if setpriv is None or setcap is None:
            self.skipTest('setpriv (util-linux) and setcap (libcap2-bin) are needed')
        unit = exporter_unit()
        self.assertEqual(unit['DynamicUser'], ['yes'])
        self.assertEqual(unit['NoNewPrivileges'], ['yes'])
        self.assertEqual(unit['AmbientCapabilities'], ['CAP_NET_BIND_SERVICE'])
        self.assertEqual(unit['CapabilityBoundingSet'], ['CAP_NET_BIND_SERVICE'])
        args = unit['ExecStart'][0].split()[1:]
        self.assertEqual(args[:3], ['--watch', '--watch-every', '300'])
        # Devices that answer the broadcast search alone: listed only when
        # port 67 is bound.
        self.sim.configure(None, ssdp=False)
        uid = 61184  # the first number systemd gives a dynamic user
        for name, file_cap, ambient in (('helper with its file capability', True, True),
                                        ('helper without one (a statoverride)', False, True),
                                        ('file capability alone', True, False)):
            with self.subTest(name):
                scan, helper = lanbed.copies_for_any_user(SCAN, os.path.join(os.path.dirname(SCAN),
                                                                             'nasfinder-broadcast'))
                if file_cap:
                    subprocess.run([setcap, 'cap_net_bind_service=+ep', helper], check=True)
                state = tempfile.mkdtemp(prefix='exporter-state-', dir='/var/tmp')
                self.addCleanup(shutil.rmtree, state, True)
                os.chown(state, uid, uid)
                argv = [a.replace('/var/lib/prometheus/node-exporter', state) for a in args]
                prefix = [setpriv, '--reuid=%d' % uid, '--regid=%d' % uid, '--clear-groups', '--no-new-privs',
                          '--bounding-set=-all,+net_bind_service']
                if ambient:
                    prefix += ['--inh-caps=+net_bind_service', '--ambient-caps=+net_bind_service']
                env = dict(os.environ, XDG_STATE_HOME=state)
                proc = self.lan.client_popen(prefix + [scan] + argv, stdout=subprocess.PIPE,
                                             stderr=subprocess.PIPE, env=env)
                self.addCleanup(lambda p=proc: p.poll() is None and p.kill())
                out, err = LineReader(proc.stdout), LineReader(proc.stderr)
                if ambient:
                    out.wait_for(lambda raw: self.lan.device_addrs[1].encode() in raw, timeout=20,
                                 what='a device found by the broadcast search')
                    self.assertHoldsNothingWithItsHelper(proc)
                else:
                    err.wait_for(lambda raw: b'cannot bind UDP port 67' in raw, timeout=20,
                                 what='the broadcast search off')
                proc.send_signal(signal.SIGTERM)
                self.assertEqual(proc.wait(timeout=20), 0)
                out.join(5)
                err.join(5)
                said = b''.join(raw for _, raw in err.lines)
                self.assertNoSanitizerReport(said)
                self.assertEqual(b'cannot bind UDP port 67' in said, not ambient, said)

    def assertHoldsNothingWithItsHelper(self, proc):
        def status(pid, tid):
            with open('/proc/%d/task/%s/status' % (pid, tid)) as f:
                return dict(line.rstrip('\n').split(':\t', 1) for line in f if ':\t' in line)
        children = set()
        for tid in os.listdir('/proc/%d/task' % proc.pid):
            with open('/proc/%d/task/%s/children' % (proc.pid, tid)) as f:
                children.update(int(c) for c in f.read().split())
        helpers = [c for c in children if os.path.realpath('/proc/%d/exe' % c).endswith('nasfinder-broadcast')]
        self.assertEqual(len(helpers), 1, children)
        net_bind_service = '%016x' % (1 << 10)
        for pid in [proc.pid] + helpers:
            for tid in os.listdir('/proc/%d/task' % pid):
                st = status(pid, tid)
                held = {key: st[key] for key in ('CapInh', 'CapPrm', 'CapEff', 'CapAmb') if int(st[key], 16)}
                self.assertEqual({}, held, 'process %d (%s)' % (pid, st['Name']))
                self.assertEqual(st['NoNewPrivs'], '1')
                self.assertEqual(st['CapBnd'], net_bind_service)
        # Port 67 is the helper's socket.
        udp = self.lan.client_run(['cat', '/proc/net/udp'], capture_output=True, text=True, check=True).stdout
        port_67 = {'socket:[%s]' % f[9] for f in (line.split() for line in udp.splitlines()[1:])
                   if f[1].endswith(':0043')}
        held_by = {pid for pid in [proc.pid] + helpers
                   for fd in os.listdir('/proc/%d/fd' % pid)
                   if os.readlink('/proc/%d/fd/%s' % (pid, fd)) in port_67}
        self.assertEqual(held_by, set(helpers))

    def test_a_capability_it_cannot_give_up_ends_it_with_status_1(self):
        # root under a seccomp filter that refuses capset: the capabilities stay,
        # and the command must not go on with them.
        if os.uname().machine != 'x86_64':
            self.skipTest('the seccomp filter here knows the x86_64 system call numbers only')
        r = self.scan('--json', '--seconds', '1', preexec=[sys.executable, '-c', DENY_CAPSET])
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn(b'nasfinder-scan: cannot give up the privileges it was started with (capset: '
                      b'Operation not permitted); not going on\n', r.stderr)
        self.assertEqual(r.stdout, b'')


class ManyReportsAtTheEnd(ScanCase):
    devices = 200

    def test_reports_still_arriving_at_the_end_never_corrupt_the_output(self):
        # Every device repeats its answers, so reports are still being handed over
        # while the scan stops and prints; the output must stay whole.
        self.sim.configure(None, broadcast={'repeat': 20}, ssdp={'repeat': 5})
        for args in (['--raw', '--seconds', '1'], ['--json', '--seconds', '1']):
            r = self.scan(*args)
            self.assertScanOk(r)
            if args[0] == '--raw':
                for line in r.stdout.splitlines():
                    self.assertEqual(list(strict_json(line)), RAW_KEYS)
            else:
                listed = strict_json(r.stdout)
                self.assertLessEqual(len(listed), self.devices)
                self.assertEqual(len({e['ip'] for e in listed}), len(listed))


if __name__ == '__main__':
    unittest.main()
