"""End to end: the window under Xvfb, inside the LAN test bed, finds the
simulated devices of accepted vendors and lists them; a screenshot is taken.

Run by CTest with NASFINDER_APP set to the built window. NASFINDER_SCREENSHOT
names where the picture is kept (a temporary file otherwise).

NASFINDER_SCREENSHOT_IDLE=1 waits for the end of the countdown first (buttons
enabled), for a picture of the window at rest. NASFINDER_SCREENSHOT_KNOWN names
where the picture of a greyed row (a known device asleep) is kept.

The same file, started with --drive under xvfb-run in the client namespace,
runs the window, waits for its rows and grabs the screen."""
import csv
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tools', 'testbed'))
sys.path.insert(0, HERE)
import lanbed  # noqa: E402
import atspi_window  # noqa: E402

# The window's own size: without a window manager it sits at 0,0 and fills it.
SCREEN = (640, 400)
# Four devices, one of a vendor the registry turns away.
DEVICES = [
    dict(host='office-nas', vendor='TAVIK', product='TN-4200'),
    dict(host='backup', vendor='ESKAL', product='EK-210'),
    dict(host='printer-room', vendor='KELDO', product='KD-1'),
    dict(host='media-store', vendor='MIRDO', product='MS-8'),
]
ACCEPTED = [d for d in DEVICES if d['vendor'] != 'KELDO']
SIZE_RE = re.compile(r'^vListDevice\.size\(\) = (\d+)$')


def png_size(path):
    with open(path, 'rb') as f:
        head = f.read(24)
    if head[:8] != b'\x89PNG\r\n\x1a\n':
        raise AssertionError('%s is not a PNG' % path)
    return struct.unpack('>II', head[16:24])


def search_seconds():
    """How long one search lasts: the window's countdown, in one-second ticks."""
    with open(os.path.join(HERE, '..', '..', 'src', 'common', 'SearchSchedule.h')) as f:
        return int(re.search(r'constexpr int kSearchSeconds = (\d+);', f.read()).group(1))


def drive(app, shot, log_path):
    """Under Xvfb: start the window, wait until a tick has listed every
    accepted device, let it paint, grab the screen, stop the window."""
    with open(log_path, 'w') as log:
        proc = subprocess.Popen([app], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        seen = threading.Event()
        # At rest: up to the countdown's last tick, one per second of the search.
        ticks_needed = search_seconds() if os.environ.get('NASFINDER_SCREENSHOT_IDLE') == '1' else 1
        ticks = []

        def read():
            for line in proc.stderr:
                line = line.rstrip('\n')
                log.write(line + '\n')
                log.flush()
                m = SIZE_RE.match(line)
                if m:
                    ticks.append(int(m.group(1)))
                    if ticks[-1] >= len(ACCEPTED) and len(ticks) >= ticks_needed:
                        seen.set()

        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        ok = seen.wait(60)
        if ok:
            # The rows were rebuilt in the tick that printed the line; the
            # repaint follows on the next pass of the event loop (and at rest,
            # the idle tick one second later). The pause is for the picture
            # only; nothing is decided by it.
            time.sleep(1.5 if ticks_needed > 1 else 0.5)
            grab = subprocess.run(['import', '-window', 'root', shot], capture_output=True, text=True)
            if grab.returncode != 0:
                log.write('import failed: %s\n' % grab.stderr)
                ok = False
        atspi_window.stop(proc)
        reader.join(5)
    return 0 if ok else 1


@lanbed.skip_unless_available
class WindowOnTheLan(unittest.TestCase):
    def setUp(self):
        self.app = os.environ.get('NASFINDER_APP')
        if not self.app or not os.access(self.app, os.X_OK):
            self.skipTest('NASFINDER_APP does not name the built window')
        for tool in ('xvfb-run', 'Xvfb', 'xauth', 'import'):
            if shutil.which(tool) is None:
                self.skipTest('%s is not installed (packages xvfb, xauth, imagemagick)' % tool)
        self.tmp = tempfile.mkdtemp(prefix='nasfinder-window-')
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def test_lists_the_devices_of_accepted_vendors(self):
        shot = os.environ.get('NASFINDER_SCREENSHOT') or os.path.join(self.tmp, 'window.png')
        log_path = os.path.join(self.tmp, 'window.log')
        with lanbed.Lan(devices=len(DEVICES)) as lan:
            sim = lan.simulator(vendors=[d['vendor'] for d in DEVICES])
            for i, d in enumerate(DEVICES):
                sim.configure(i, host=d['host'], product=d['product'])
            env = dict(os.environ, XDG_STATE_HOME=self.tmp, XDG_CONFIG_HOME=self.tmp)
            env.pop('QT_QPA_PLATFORM', None)
            argv = ['xvfb-run', '-a', '-s', '-screen 0 %dx%dx24' % SCREEN,
                    sys.executable, os.path.abspath(__file__), '--drive', self.app, shot, log_path]
            proc = lan.client_popen(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            try:
                out, _ = proc.communicate(timeout=120)
            except subprocess.TimeoutExpired:
                proc.kill()
                out, _ = proc.communicate()
            log = ''
            if os.path.exists(log_path):
                with open(log_path) as f:
                    log = f.read()
            self.assertEqual(proc.returncode, 0, 'window run failed:\n%s\n%s' % (out, log))
            # The window searched the bed's LAN, both ways.
            sim.wait_for_requests(1, proto='broadcast', own=False)
            sim.wait_for_requests(1, proto='ssdp', own=False)

        sizes = [int(m.group(1)) for m in map(SIZE_RE.match, log.splitlines()) if m]
        self.assertTrue(sizes, log)
        self.assertEqual(max(sizes), len(ACCEPTED), 'the refused vendor must not be listed:\n' + log)
        self.assertIn('application awakeFromNib........', log)
        self.assertIn('applicationDidFinishLaunching........', log)
        width, height = png_size(shot)
        self.assertEqual((width, height), SCREEN)
        self.assertGreater(os.path.getsize(shot), 5000, 'the screenshot looks empty')

    def test_what_the_window_starts_and_prints_carries_nothing_of_its_own(self):
        # Run as root on a terminal (script(1)), with a stand-in xdg-open first
        # on PATH: the programs it starts get neither a descriptor of the
        # window's nor a capability of root's, and no device's bytes reach the
        # terminal raw (a vendor, an address from LOCATION).
        child = os.environ.get('WINDOW_CLOSE_CHILD', '')
        recorder = os.environ.get('OPEN_RECORDER', '')
        script = shutil.which('script')
        if not os.access(child, os.X_OK) or not os.access(recorder, os.X_OK) or script is None:
            self.skipTest('needs WINDOW_CLOSE_CHILD, OPEN_RECORDER and script(1)')
        bin_dir = os.path.join(self.tmp, 'bin')
        os.mkdir(bin_dir)
        os.symlink(recorder, os.path.join(bin_dir, 'xdg-open'))
        opened = os.path.join(self.tmp, 'opened')
        typescript = os.path.join(self.tmp, 'typescript')
        escapes = '\x1b]0;owned\x07\x1b[2J'
        with lanbed.Lan(devices=3) as lan:
            sim = lan.simulator(vendors=['TAVIK'])
            sim.configure(1, broadcast=False, ssdp={'location': 'http://%s:5000/desc.xml' % escapes})
            sim.configure(2, vendor=escapes)
            env = dict(os.environ, PATH=bin_dir + ':' + os.environ['PATH'], NASFINDER_TEST_OPEN_ROWS='1',
                       NASFINDER_TEST_OPENED=opened, QT_QPA_PLATFORM='xcb', LC_ALL='en_US.UTF-8',
                       XDG_STATE_HOME=self.tmp, XDG_CONFIG_HOME=self.tmp)
            command = 'xvfb-run -a -s "-screen 0 %dx%dx24" %s' % (SCREEN[0], SCREEN[1], child)
            proc = lan.client_popen([script, '-qefc', command, typescript], env=env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            proc.wait(120)
            deadline = time.monotonic() + 20
            while True:
                record = ''
                if os.path.exists(opened):
                    with open(opened) as f:
                        record = f.read()
                if 'CapEff' in record:
                    break
                self.assertLess(time.monotonic(), deadline, 'xdg-open was not started')
                time.sleep(0.05)
        with open(typescript, 'rb') as f:
            terminal = f.read()
        self.assertIn(b'opened 2 rows', terminal)
        self.assertIn(b'NewDeviceInfo.factory = \xef\xbf\xbd]0;OWNED', terminal)
        self.assertIn(b'not opening http for "\xef\xbf\xbd]0;owned', terminal)
        self.assertNotIn(b'\x1b', terminal)
        self.assertIn('url: http://%s\nfds: 0 1 2\n' % lan.device_addrs[0], record)
        self.assertIn('CapPrm:\t0000000000000000\nCapEff:\t0000000000000000\n', record)

    def test_a_sleeping_device_is_greyed_with_its_last_seen_time_and_woken(self):
        """Read through the accessibility bus: a device found, then asleep, is
        listed after the answering ones with when it was last seen; Wake in
        its menu brings it back as answering."""
        reason = atspi_window.missing()
        if reason:
            self.skipTest(reason)
        shot = os.environ.get('NASFINDER_SCREENSHOT_KNOWN') or os.path.join(self.tmp, 'window-known.png')
        env = {'XDG_STATE_HOME': self.tmp, 'XDG_CONFIG_HOME': self.tmp, 'LANG': 'en_US.UTF-8', 'LANGUAGE': 'en'}
        with lanbed.Lan(devices=len(ACCEPTED)) as lan:
            sim = lan.simulator(vendors=[d['vendor'] for d in ACCEPTED])
            for i, d in enumerate(ACCEPTED):
                sim.configure(i, host=d['host'], product=d['product'])
            with atspi_window.AtspiWindow(self.app, env=env, popen=lan.client_popen, screen=SCREEN,
                                          log_path=os.path.join(self.tmp, 'known.log')) as window:
                def after_search(last_seen):
                    return lambda s: s['buttons'].get('Refresh') and [r[3] for r in s['rows']] == last_seen

                seen = window.wait_for(after_search(['now'] * 3), message='three answering devices')
                self.assertEqual(seen['headers'], ['Host Name', 'IP Address', 'Product', 'Last seen'])
                sim.configure(1, sleep={'asleep': True, 'delay': 2})
                window.press('Refresh')
                seen = window.wait_for(after_search(['now', 'now', 'less than a minute ago']),
                                       message='the sleeping device after the answering ones')
                self.assertEqual(seen['rows'][2][:3], ['backup', lan.device_addrs[1], 'EK-210'])
                self.assertTrue(seen['status'].startswith('Devices shown: 3 (2 answering)'), seen['status'])
                window.screenshot(shot)
                # The menu of a device that did not answer: Open Web Page and
                # Open File Share off, then Copy Address, Wake, Forget.
                window.row_menu(2, ['Down', 'Down', 'Return'])
                magic = b'\xff' * 6 + bytes.fromhex(sim.mac.replace(':', '')) * 16
                wakes = sim.wait_for_requests(2, proto='wake')
                self.assertEqual(sorted((w['dst'], w['data']) for w in wakes),
                                 [('198.18.255.255', magic), ('255.255.255.255', magic)])
                # The bus is read a row at a time, the status line last: a
                # reading that straddles the tick sees the new line over the
                # old rows, so the rows are waited for too.
                woken = [('office-nas', 'now'), ('media-store', 'now'), ('backup', 'now')]
                window.wait_for(lambda s: s['status'].endswith('backup answers again.') and
                                [(r[0], r[3]) for r in s['rows']] == woken, timeout=120,
                                message='the woken device answering in its row and the status line')
        self.assertEqual(png_size(shot), SCREEN)

    def test_the_table_as_a_user_arranges_it(self):
        """Read and driven through the accessibility bus: the filter narrows
        the list, the header's menu shows and hides a column, a row's menu
        opens its details, and the list is saved as CSV that a spreadsheet
        does not run, whatever a device calls itself."""
        reason = atspi_window.missing()
        if reason:
            self.skipTest(reason)
        env = {'XDG_STATE_HOME': self.tmp, 'XDG_CONFIG_HOME': self.tmp, 'LANG': 'en_US.UTF-8', 'LANGUAGE': 'en'}
        saved = os.path.join(self.tmp, 'devices.csv')
        hosts = ['office-nas', '=HYPERLINK("x")', 'backup']
        with lanbed.Lan(devices=len(hosts)) as lan:
            sim = lan.simulator(vendors=['TAVIK'])
            for i, host in enumerate(hosts):
                sim.configure(i, host=host, product='TN-42%d' % i)
            with atspi_window.AtspiWindow(self.app, env=env, popen=lan.client_popen, screen=SCREEN,
                                          log_path=os.path.join(self.tmp, 'table.log')) as window:
                window.wait_for(lambda s: s['buttons'].get('Refresh') and len(s['rows']) == 3,
                                message='three devices, the search over')
                window.type_into('Filter', 'BACK')
                seen = window.wait_for(lambda s: len(s['rows']) == 1, message='one row left by the filter')
                self.assertEqual(seen['rows'][0][0], 'backup')
                self.assertTrue(seen['status'].startswith('Devices shown: 1 of 3 (1 answering)'), seen['status'])
                window.type_into('Filter', '')
                window.wait_for(lambda s: len(s['rows']) == 3, message='every row again')

                # Vendor, Version, MAC address, ...: the third item.
                window.header_menu(0, ['Down', 'Down', 'Down', 'Return'])
                seen = window.wait_for(lambda s: 'MAC address' in s['headers'], message='the MAC column')
                self.assertEqual(len(seen['rows'][0]), 5)
                window.header_menu(0, ['Down', 'Down', 'Down', 'Return'])
                window.wait_for(lambda s: 'MAC address' not in s['headers'], message='the MAC column gone')

                # Open Web Page, Open File Share, Copy Address, Details...
                row = next(i for i, r in enumerate(seen['rows']) if r[0] == hosts[1])
                window.row_menu(row, ['Down', 'Down', 'Down', 'Down', 'Return'])
                seen = window.wait_for(lambda s: any(d['title'] == 'Details' for d in s['dialogs']),
                                       message='the details')
                details = next(d for d in seen['dialogs'] if d['title'] == 'Details')['texts']['Details']
                self.assertIn('host: ' + hosts[1], details.splitlines())
                self.assertIn('ip: ' + lan.device_addrs[1], details.splitlines())
                window.press('Close')

                window.press('Save List\u2026')
                seen = window.wait_for(lambda s: any(d['title'] == 'Save List' for d in s['dialogs']),
                                       message='the save dialog')
                dialog = next(d for d in seen['dialogs'] if d['title'] == 'Save List')
                field = next(name for name in dialog['texts'] if name.startswith('File name'))
                window.type_into(field, saved)
                window.press('Save')
                seen = window.wait_for(lambda s: s['status'].endswith('The list was saved to %s.' % saved),
                                       message='the list saved')
        with open(saved, newline='', encoding='utf-8') as f:
            rows = list(csv.reader(f))
        self.assertEqual(rows[0], ['Host Name', 'IP Address', 'Product', 'Last seen'])
        self.assertEqual(sorted(r[0] for r in rows[1:]), sorted(["'" + hosts[1], hosts[0], hosts[2]]))
        self.assertEqual({r[3] for r in rows[1:]}, {'now'})


if __name__ == '__main__':
    if len(sys.argv) == 5 and sys.argv[1] == '--drive':
        sys.exit(drive(*sys.argv[2:]))
    unittest.main(verbosity=2)
