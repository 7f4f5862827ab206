"""The scan's watch as the tools people already run read it, in the LAN test
bed: its events as a log shipper takes them, its table printed again only when
what it shows changes, and its Prometheus file as promtool checks it and a
real node_exporter serves it, whatever the devices call themselves.

Run by CTest with NASFINDER_SCAN set, as test_scan_lan is."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from test_scan_lan import SCAN, LineReader, ScanCase, setUpModule, strict_json  # noqa: E402,F401
import lanbed  # noqa: E402

RFC3339_UTC = re.compile(r'^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$')
NODE_EXPORTER = shutil.which('prometheus-node-exporter') or '/usr/bin/prometheus-node-exporter'
PROMTOOL = shutil.which('promtool') or '/usr/bin/promtool'


class Monitoring(ScanCase):
    devices = 2
    vendors = ['TAVIK']

    def watch(self, *args):
        env = dict(os.environ, XDG_STATE_HOME=self.state_home())
        proc = self.lan.client_popen([SCAN, '--watch'] + list(args), stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        return proc, LineReader(proc.stdout)

    def test_events_say_what_appeared_changed_and_went(self):
        dev = self.lan.device_addrs
        proc, reader = self.watch('--events')
        events = []

        def seen(kind, ip, **fields):
            def match(raw):
                event = strict_json(raw)
                return event['event'] == kind and event['device']['ip'] == ip and all(
                    event['device'][k] == v for k, v in fields.items())
            stamp, raw = reader.wait_for(match, timeout=40, what='%s %s' % (kind, ip))
            events.append(strict_json(raw))
            return stamp

        seen('appeared', dev[0])
        appeared = seen('appeared', dev[1])
        self.sim.configure(1, product='NEW-1')
        seen('changed', dev[1], product='NEW-1')
        self.sim.configure(1, broadcast=False, ssdp=False)
        silenced = seen('gone', dev[1])
        self.assertGreater(silenced, appeared)
        self.stop_watch(proc, reader)
        for event in events:
            self.assertEqual(sorted(event), ['device', 'event', 'time'])
            self.assertRegex(event['time'], RFC3339_UTC)
        # One object a line, nothing else: a line-by-line reader takes them all.
        kinds = [strict_json(raw)['event'] for _, raw in reader.lines]
        self.assertEqual(kinds.count('gone'), 1, kinds)
        self.assertNotIn(dev[0], [strict_json(raw)['device']['ip'] for _, raw in reader.lines
                                  if strict_json(raw)['event'] == 'gone'])

    def test_a_table_is_printed_again_only_when_what_it_shows_changes(self):
        proc, reader = self.watch()

        def table_with(text):
            reader.wait_for(lambda raw: text.encode() in raw, timeout=30, what=text)

        table_with('nas1')
        # A version, which the table does not show: no new table. The devices
        # answer the searches that follow with it (two at least reach them).
        before = len(self.sim.requests(proto='ssdp'))
        self.sim.configure(0, ssdp={'server': 'VEXA/9.9, UPnP/1.0, TAVIK/nas0/P0'})
        lanbed.wait_until(lambda: len(self.sim.requests(proto='ssdp')) >= before + 2, timeout=30,
                          message='two searches answered with the new version')
        # A product, which it shows: one new table.
        self.sim.configure(1, product='NEW-1')
        table_with('NEW-1')
        self.stop_watch(proc, reader)
        tables = b''.join(raw for _, raw in reader.lines).decode('utf-8').split('\n\n')
        # Each table carries its time on its first line; what follows is what it shows.
        shown = [t.split('\n', 1)[1] for t in tables if t.strip()]
        for earlier, later in zip(shown, shown[1:]):
            self.assertNotEqual(earlier, later, 'a table printed again without a change')

    def test_prometheus_file_is_valid_and_node_exporter_serves_every_device(self):
        for tool in (PROMTOOL, NODE_EXPORTER):
            if not os.access(tool, os.X_OK):
                self.skipTest('%s is not installed (Debian packages prometheus, prometheus-node-exporter)' % tool)
        # Texts that would break a label or add one, were they not escaped.
        self.sim.configure(0, host='x",evil="1', product='a\\b')
        self.sim.configure(1, host='line\nbreak', product='brace}{')
        folder = tempfile.mkdtemp(prefix='textfile-')
        self.addCleanup(shutil.rmtree, folder, True)
        metrics = os.path.join(folder, 'nasfinder.prom')
        proc, reader = self.watch('--json', '--prometheus', metrics)
        lanbed.wait_until(lambda: os.path.exists(metrics), timeout=40, message='the metrics file')
        with open(metrics, 'rb') as f:
            text = f.read()
        check = subprocess.run([PROMTOOL, 'check', 'metrics'], input=text, capture_output=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        # Every sample of a device carries exactly its five labels.
        label = re.compile(r'(\w+)="(?:[^"\\]|\\.)*"')
        for line in text.decode('utf-8').splitlines():
            if line.startswith('nasfinder_device_'):
                labels = line[line.index('{') + 1:line.rindex('}')]
                self.assertEqual(label.findall(labels), ['id', 'vendor', 'host', 'address', 'product'], line)

        port = 9100 + os.getpid() % 800
        exporter = self.lan.client_popen([NODE_EXPORTER, '--collector.disable-defaults', '--collector.textfile',
                                          '--collector.textfile.directory=' + folder,
                                          '--web.listen-address=127.0.0.1:%d' % port],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: exporter.poll() is None and exporter.kill())
        fetch = ('import urllib.request,sys; '
                 'sys.stdout.write(urllib.request.urlopen("http://127.0.0.1:%d/metrics", timeout=2).read().decode())'
                 % port)
        served = {}

        def scraped():
            r = self.lan.client_run([sys.executable, '-c', fetch], capture_output=True, text=True)
            served['text'] = r.stdout
            return r.returncode == 0 and r.stdout.count('nasfinder_device_up{') == 2

        lanbed.wait_until(scraped, timeout=30, message="node_exporter serving both devices' lines")
        up = [line for line in served['text'].splitlines() if line.startswith('nasfinder_device_up{')]
        self.assertEqual(sorted(line.rsplit(' ', 1)[1] for line in up), ['1', '1'], up)
        self.assertTrue(any('host="x\\",evil=\\"1"' in line for line in up), up)
        self.assertTrue(any('host="line\\nbreak"' in line for line in up), up)
        self.assertIn('nasfinder_devices_answering 2', served['text'])
        self.assertIn('nasfinder_broadcast_search_available 1', served['text'])
        exporter.terminate()
        exporter.wait(10)
        self.stop_watch(proc, reader)


if __name__ == '__main__':
    unittest.main(verbosity=2)
