#!/usr/bin/env python3
"""Flood: forged devices sent at the client by the thousand, while one real
device answers every search. Everything runs in the test bed's namespaces; the
flooder runs in the device namespace only (it refuses to run anywhere else),
sends at a bounded rate and stops by itself after --seconds.

The flooder sends NOTIFY ssdp:alive announcements of an accepted vendor, each
with a LOCATION host and a USN identity never used before in the run (the hosts
are texts from 198.18.0.0/15, which the client takes as device addresses; they
cycle after 131,068), and with --broadcast also 148-byte broadcast replies to
the client's port 67 from ever-new forged source addresses (raw socket).

Scan part: `nasfinder-scan --watch --json` in the client namespace, before,
during and after the flood. Reports how long the real device was missing from
the printed lists, the list sizes, the gaps between printed lists, the
intervals between the searches the real device received, and whether the scan
said that the device list is full.

Window part: `nasfinder` under Xvfb in the client namespace; Refresh (F5,
through xdotool) starts its countdown just before the flood, so that it loads
the flooded list; once the flood has stopped, Refresh again. Reports its
resident memory at start (after the first countdown), at its peak, at the
flood's end and after that Refresh.

    bench/flood.py [--part scan|window|both] [--scan build/src/nasfinder-scan]
                   [--app build/src/nasfinder] [--rate 5000] [--seconds 30]
                   [--after 30] [--broadcast RATE]

Exit status 0 when the figures meet the targets (real device never missing,
searches 10 s +- 1 s apart, the full list reported once, window memory after
Refresh within 10 MB of its start), 1 when one is missed, 2 when the test bed,
a program or a display cannot be had.
"""
import argparse
import ipaddress
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tools', 'testbed'))
import announce  # noqa: E402
import benchlib  # noqa: E402
import idle  # noqa: E402
import lanbed  # noqa: E402

SEARCH_PERIOD = 10.0
PERIOD_TOLERANCE = 1.0
WINDOW_MEMORY_SLACK_KIB = 10 * 1000  # 10 MB
COUNTDOWN_TICKS = 11
LIST_FULL = 'the device list is full'
LIST_CAP = 65536

# ---------------------------------------------------------------------------
# The flooder (device namespace)

FORGED_SPACE = lanbed.SAFE_NETWORK
# Addresses the bed gives to real things: never forged, or a forged report
# would merge into the real device's entry instead of adding a new one.
IN_USE = {lanbed.CLIENT_ADDR, lanbed.CLIENT_ADDR2, lanbed.DEVICE_SUBNET2_ADDR, lanbed.device_addr(0)}


def forged_addresses(descending=False):
    """Every address of 198.18.0.0/15 except the bed's own, upward from
    198.18.2.0 (or downward from 198.19.255.254), for ever."""
    base = int(FORGED_SPACE.network_address)
    size = FORGED_SPACE.num_addresses
    n = 0
    while True:
        offset = (size - 2 - n) % size if descending else (512 + n) % size
        n += 1
        addr = str(ipaddress.ip_address(base + offset))
        if addr not in IN_USE:
            yield addr


def broadcast_reply(n):
    """A 148-byte broadcast reply of an accepted vendor, device n."""
    text = ('id=FB%d&host=fb%d&vendor=TAVIK&product=F' % (n, n)).encode('ascii')
    return (bytes([lanbed.CODE_REPLY, 1, 0, 0]) + b'\xff' * 4 + bytes(12) +
            text.ljust(lanbed.PACKET_LEN - 20, b'\x00'))


def udp_datagram(src, dst, sport, dport, payload):
    """IPv4 header and UDP header before payload; the kernel fills in the IP
    length, identification and checksum, and a UDP checksum of 0 means none."""
    ip = struct.pack('!BBHHHBBH4s4s', 0x45, 0, 0, 0, 0, 64, socket.IPPROTO_UDP, 0,
                     socket.inet_aton(src), socket.inet_aton(dst))
    return ip + struct.pack('!HHHH', sport, dport, 8 + len(payload), 0) + payload


def only_bed_addresses(source):
    """True when every IPv4 address of this network namespace outside loopback
    lies in the bed's 198.18.0.0/15 and `source` is one of them: so the flood
    never leaves by an interface of a real network."""
    r = subprocess.run([lanbed.IP, '-j', '-4', 'addr', 'show'], capture_output=True, text=True)
    try:
        addrs = [a['local'] for link in json.loads(r.stdout) if 'LOOPBACK' not in link.get('flags', ())
                 for a in link.get('addr_info', ())]
    except (ValueError, KeyError, TypeError):
        return False
    return source in addrs and all(ipaddress.ip_address(a) in lanbed.SAFE_NETWORK for a in addrs)


class Flooder:
    def __init__(self, client, source, broadcast):
        self.client = client
        self.source = source
        self.hosts = forged_addresses()
        self.senders = forged_addresses(descending=True)
        self.sent = {'alive': 0, 'broadcast': 0}
        self.errors = 0
        self.alives = 0
        self.broadcasts = 0
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        # The device simulator shares this namespace: it must not hear the flood.
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
        self.sock.bind(('0.0.0.0', 0))
        self.cmsg = announce.pktinfo(source)
        # Forged sources need the header in our hands.
        self.raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW) if broadcast else None

    def alive(self):
        self.alives += 1
        host = next(self.hosts)
        server = 'VEXA/2.1, UPnP/1.0, TAVIK/flood%d/F' % self.alives
        data = announce.notify(host, 'FLOOD-%d' % self.alives, 'ssdp:alive', server)
        try:
            self.sock.sendmsg([data], self.cmsg, 0, (lanbed.SSDP_GROUP, lanbed.SSDP_PORT))
            self.sent['alive'] += 1
        except OSError:
            self.errors += 1

    def broadcast(self):
        self.broadcasts += 1
        packet = udp_datagram(next(self.senders), self.client, lanbed.SEARCH_DEVICE_PORT,
                              lanbed.SEARCH_CLIENT_PORT, broadcast_reply(self.broadcasts))
        try:
            self.raw.sendto(packet, (self.client, 0))
            self.sent['broadcast'] += 1
        except OSError:
            self.errors += 1


def flooder_main(argv):
    parser = argparse.ArgumentParser(prog='flood.py flooder')
    parser.add_argument('--client', required=True)
    parser.add_argument('--source', required=True, help='a local address of the device namespace')
    parser.add_argument('--rate', type=float, required=True, help='announcements a second')
    parser.add_argument('--broadcast', type=float, default=0, help='broadcast replies a second')
    parser.add_argument('--seconds', type=float, required=True)
    args = parser.parse_args(argv)
    lanbed.check_safe_addr(args.client)
    lanbed.check_safe_addr(args.source)
    if lanbed.IP is None or not only_bed_addresses(args.source):
        print('flood.py flooder: runs only inside the test bed\'s device namespace', file=sys.stderr)
        return 2
    if not 0 < args.seconds <= 600 or not 0 < args.rate <= 20000 or not 0 <= args.broadcast <= 20000:
        print('flood.py flooder: rate 1..20000 a second and 1..600 s only', file=sys.stderr)
        return 2
    flooder = Flooder(args.client, args.source, args.broadcast > 0)
    stop = []
    results = []
    jobs = [(flooder.alive, args.rate)] + ([(flooder.broadcast, args.broadcast)] if args.broadcast else [])
    threads = [threading.Thread(target=lambda step=step, rate=rate: results.append(
        announce.paced(step, rate, args.seconds, stop))) for step, rate in jobs]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    seconds = max(r[1] for r in results)
    print(json.dumps({'sent': flooder.sent, 'errors': flooder.errors, 'seconds': seconds}), flush=True)
    return 0


# ---------------------------------------------------------------------------
# The driver


def start_flood(lan, args):
    argv = [sys.executable, os.path.abspath(__file__), 'flooder', '--client', lan.client_addrs[0],
            '--source', lanbed.DEVICE_SUBNET2_ADDR, '--rate', str(args.rate), '--seconds', str(args.seconds),
            '--broadcast', str(args.broadcast)]
    return lan.device_popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def flood_result(proc, args):
    out, err = proc.communicate(timeout=args.seconds + 60)
    try:
        return json.loads(out.decode().strip().splitlines()[-1])
    except (ValueError, IndexError):
        raise RuntimeError('the flooder gave no figures: %s' % err.decode(errors='replace')[-500:])


class ListWatcher(threading.Thread):
    """Reads the watch mode's JSON lists: for each, the time it was read,
    the number of devices and whether the real device is in it. A list of
    65,536 devices is over 10 MB, so it is looked at as bytes, not parsed."""

    def __init__(self, stream, real_addr):
        super().__init__(daemon=True)
        self.stream = stream
        self.needle = b'"ip":"%s"' % real_addr.encode('ascii')
        self.lock = threading.Lock()
        self.lists = []

    def run(self):
        for line in self.stream:
            entry = (time.monotonic(), line.count(b'"ip":"'), self.needle in line)
            with self.lock:
                self.lists.append(entry)

    def snapshot(self):
        with self.lock:
            return list(self.lists)


class LineCollector(threading.Thread):
    """Keeps the lines of a stream with the time each was read."""

    def __init__(self, stream):
        super().__init__(daemon=True)
        self.stream = stream
        self.lock = threading.Lock()
        self.lines = []

    def run(self):
        for line in self.stream:
            with self.lock:
                self.lines.append((time.monotonic(), line.decode('utf-8', 'replace').rstrip('\n')))

    def snapshot(self):
        with self.lock:
            return list(self.lines)


def longest_missing(lists, since, until):
    """Longest time the real device was missing from the output between
    `since` and `until`: from a list without it to the next list with it."""
    longest, missing_since = 0.0, None
    for t, _count, present in lists:
        if t < since:
            missing_since = None if present else since
            continue
        if not present and missing_since is None:
            missing_since = t
        elif present and missing_since is not None:
            longest = max(longest, t - missing_since)
            missing_since = None
    if missing_since is not None:
        longest = max(longest, until - missing_since)
    return longest


# Each search goes out several times within its first seconds (the last send 5 s
# after the first); a round of the watch mode starts with the first send after
# a longer pause than that.
ROUND_GAP = 6.0


def search_intervals(sim, proto, since_wall, sport=None):
    """Intervals between the searches of `proto` the simulator received
    (from source port `sport` only, if given), each search counted by its
    first send; the first is the one that ends first after `since_wall`."""
    times = sorted(r['time'] for r in sim.requests(proto=proto, own=False)
                   if sport is None or r['sport'] == sport)
    firsts = []
    for t in times:
        if not firsts or t - firsts[-1] >= ROUND_GAP:
            firsts.append(t)
    return [b - a for a, b in zip(firsts, firsts[1:]) if b >= since_wall]


def fmt_intervals(values):
    if not values:
        return 'none'
    return '%.1f–%.1f s (%s)' % (min(values), max(values), ', '.join('%.1f' % v for v in values))


def scan_part(args, scan):
    failures = []
    with lanbed.Lan(devices=1) as lan:
        real = lan.device_addrs[0]
        sim = lan.simulator()
        proc = lan.client_popen([scan, '--watch', '--json'], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        watcher = ListWatcher(proc.stdout, real)
        errors = LineCollector(proc.stderr)
        watcher.start()
        errors.start()
        lanbed.wait_until(lambda: any(p for _t, _c, p in watcher.snapshot()), timeout=30,
                          message='the real device in the watch output')
        flood_wall = time.time()
        flood_start = time.monotonic()
        flooder = start_flood(lan, args)
        peak_kib = 0
        end = flood_start + args.seconds + args.after
        while time.monotonic() < end and proc.poll() is None:
            try:
                peak_kib = max(peak_kib, idle.status_kib(proc.pid, 'VmRSS'))
            except OSError:
                break
            time.sleep(0.5)
        flood = flood_result(flooder, args)
        stopped = proc.poll()
        end = time.monotonic()
        benchlib.stop(proc)
        watcher.join(timeout=10)
        errors.join(timeout=10)
        lists = watcher.snapshot()
        during = [entry for entry in lists if flood_start <= entry[0]]
        missing = longest_missing(lists, flood_start, end)
        flood_end = flood_start + flood['seconds']
        times = [flood_start] + [t for t, _c, _p in during if t <= flood_end] + [min(flood_end, end)]
        stall = max(b - a for a, b in zip(times, times[1:]))
        bcast = search_intervals(sim, 'broadcast', flood_wall)
        ssdp = search_intervals(sim, 'ssdp', flood_wall, sport=lanbed.SSDP_PORT)
        full = [line for _t, line in errors.snapshot() if LIST_FULL in line]
        other = [line for _t, line in errors.snapshot() if LIST_FULL not in line]
        largest = max((c for _t, c, _p in during), default=0)
        last = lists[-1] if lists else (0, 0, False)

    rows = [
        ('flood sent', '%s in %.1f s, %d send errors' % (
            ', '.join('%s %d' % kv for kv in sorted(flood['sent'].items()) if kv[1]), flood['seconds'],
            flood['errors'])),
        ('lists printed (from the flood on)', '%d' % len(during)),
        ('largest list', '%d devices' % largest),
        ('lists (s after the flood began: devices)', ', '.join(
            '%.1f: %d%s' % (t - flood_start, c, '' if p else ' (real device missing)') for t, c, p in during)),
        ('last list', '%d devices, real device %s' % (last[1], 'in it' if last[2] else 'MISSING')),
        ('real device missing, longest', '%.1f s' % missing),
        ('longest gap between lists during the flood', '%.1f s' % stall),
        ('broadcast searches, intervals', fmt_intervals(bcast)),
        ('SSDP searches from port 1900, intervals', fmt_intervals(ssdp)),
        ('"%s"' % LIST_FULL, '%d time(s)' % len(full)),
        ('scan resident memory, peak', '%.1f MiB' % (peak_kib / 1024.0)),
    ]
    print_table('scan: %s --watch --json' % scan, rows)
    for line in other[:10]:
        print('  scan said: ' + line)
    if stopped is not None:
        failures.append('the scan ended during the run (status %s)' % stopped)
    if missing > 0:
        failures.append('the real device was missing for %.1f s' % missing)
    if not bcast or any(abs(v - SEARCH_PERIOD) > PERIOD_TOLERANCE for v in bcast):
        failures.append('searches not %.0f s +- %.0f s apart' % (SEARCH_PERIOD, PERIOD_TOLERANCE))
    expect_full = (flood['sent']['alive'] + flood['sent']['broadcast']) > LIST_CAP
    if expect_full and len(full) != 1:
        failures.append('"%s" said %d times' % (LIST_FULL, len(full)))
    return failures


def free_display():
    for n in range(70, 200):
        if not os.path.exists('/tmp/.X%d-lock' % n) and not os.path.exists('/tmp/.X11-unix/X%d' % n):
            return n
    raise RuntimeError('no free X display number in 70..199')


class Window:
    """The window under Xvfb in the client namespace, with its countdown log."""

    def __init__(self, lan, app):
        self.lan = lan
        self.display = ':%d' % free_display()
        self.env = dict(os.environ, LANG='C.UTF-8', LC_ALL='C.UTF-8', DISPLAY=self.display)
        self.env.pop('QT_QPA_PLATFORM', None)
        self.xvfb = lan.client_popen(['Xvfb', self.display, '-ac', '-nolisten', 'tcp', '-screen', '0',
                                      '1280x800x24'], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        lanbed.wait_until(lambda: self.xdotool(['getmouselocation']) is not None, timeout=20,
                          interval=0.2, message='Xvfb to start')
        self.proc = lan.client_popen([app], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.log = LineCollector(self.proc.stderr)
        self.log.start()
        self.pid = self.proc.pid  # `ip netns exec` execs the program in its place
        try:
            self.wid = lanbed.wait_until(
                lambda: self.xdotool(['search', '--onlyvisible', '--pid', str(self.pid)]),
                timeout=30, interval=0.2, message='the window to show').split()[0]
        except lanbed.WaitTimeout:
            state = 'ended with status %s' % self.proc.poll() if self.proc.poll() is not None else 'running'
            print('the window did not show (%s); its last lines:' % state, file=sys.stderr)
            for _, line in self.log.snapshot()[-20:]:
                print('  ' + line, file=sys.stderr)
            raise

    def xdotool(self, argv):
        r = self.lan.client_run(['xdotool'] + argv, env=self.env, capture_output=True, text=True)
        return r.stdout.strip() or 'ok' if r.returncode == 0 else None

    def ticks(self):
        """The countdown's ticks so far: (time, devices the registry listed)."""
        return [(t, int(m.group(1))) for t, line in self.log.snapshot()
                for m in [re.search(r'vListDevice\.size\(\) = (\d+)', line)] if m]

    def wait_countdown_end(self):
        """Waits for the running countdown's last tick, then one tick more
        (the one that ends it)."""
        start = len(self.ticks()) - len(self.ticks()) % COUNTDOWN_TICKS
        lanbed.wait_until(lambda: len(self.ticks()) >= start + COUNTDOWN_TICKS, timeout=60, interval=0.2,
                          message='the countdown to end')
        time.sleep(1.5)

    def refresh(self):
        """F5; returns when the new countdown has ticked once."""
        before = len(self.ticks())
        self.xdotool(['windowfocus', '--sync', self.wid])
        self.xdotool(['key', '--clearmodifiers', 'F5'])
        lanbed.wait_until(lambda: len(self.ticks()) > before, timeout=10, interval=0.1,
                          message='Refresh to start a countdown')

    def rss_kib(self):
        return idle.status_kib(self.pid, 'VmRSS')


def window_part(args, app):
    failures = []
    with lanbed.Lan(devices=1) as lan:
        lan.simulator()
        win = Window(lan, app)
        win.wait_countdown_end()
        start_kib = win.rss_kib()
        win.refresh()
        flooder = start_flood(lan, args)
        peak_kib = start_kib
        while flooder.poll() is None:
            peak_kib = max(peak_kib, win.rss_kib())
            time.sleep(0.5)
        flood = flood_result(flooder, args)
        end_kib = win.rss_kib()
        peak_kib = max(peak_kib, end_kib)
        loaded = max((n for _t, n in win.ticks()), default=0)
        # Whatever the receive buffers still hold is drained within a second.
        time.sleep(2)
        win.refresh()
        win.wait_countdown_end()
        after_kib = win.rss_kib()
        win.refresh()
        win.wait_countdown_end()
        after2_kib = win.rss_kib()
        last_tick = win.ticks()[-1][1]
        running = win.proc.poll() is None

    rows = [
        ('flood sent', '%s in %.1f s' % (', '.join('%s %d' % kv for kv in sorted(flood['sent'].items())
                                                   if kv[1]), flood['seconds'])),
        ('most devices the countdown showed', '%d' % loaded),
        ('resident memory at start (after the first countdown)', '%.1f MiB' % (start_kib / 1024.0)),
        ('resident memory, peak', '%.1f MiB' % (peak_kib / 1024.0)),
        ('resident memory at the flood\'s end', '%.1f MiB' % (end_kib / 1024.0)),
        ('resident memory after Refresh', '%.1f MiB (%+.1f MiB from start)'
         % (after_kib / 1024.0, (after_kib - start_kib) / 1024.0)),
        ('resident memory after a second Refresh', '%.1f MiB (%+.1f MiB from start); %d device(s) listed'
         % (after2_kib / 1024.0, (after2_kib - start_kib) / 1024.0, last_tick)),
    ]
    print_table('window: %s under Xvfb' % app, rows)
    if not running:
        failures.append('the window ended during the run')
    if after_kib - start_kib > WINDOW_MEMORY_SLACK_KIB:
        failures.append('window memory after Refresh %.1f MiB above its start' % ((after_kib - start_kib) / 1024.0))
    return failures


def print_table(title, rows):
    print()
    print(title)
    width = max(len(k) for k, _v in rows)
    for key, value in rows:
        print('  %-*s  %s' % (width, key, value))
    sys.stdout.flush()


def main():
    if len(sys.argv) > 1 and sys.argv[1] == 'flooder':
        return flooder_main(sys.argv[2:])
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--part', choices=('scan', 'window', 'both'), default='both')
    parser.add_argument('--scan', default=os.path.join(HERE, '..', 'build', 'src', 'nasfinder-scan'))
    parser.add_argument('--app', default=os.path.join(HERE, '..', 'build', 'src', 'nasfinder'))
    parser.add_argument('--rate', type=float, default=5000.0, help='forged announcements a second (at most 20000)')
    parser.add_argument('--seconds', type=float, default=30.0, help='length of the flood (at most 600)')
    parser.add_argument('--after', type=float, default=30.0, help='seconds the scan is watched after the flood')
    parser.add_argument('--broadcast', type=float, default=0.0,
                        help='also forged broadcast replies a second, from ever-new source addresses')
    args = parser.parse_args()
    if not 0 < args.rate <= 20000 or not 0 <= args.broadcast <= 20000 or not 0 < args.seconds <= 600:
        parser.error('the flood is bounded: --rate and --broadcast up to 20000 a second, --seconds up to 600')

    print('flood: %g forged announcements/s%s for %g s; %d cores, load %.2f, %s' % (
        args.rate, ' and %g forged broadcast replies/s' % args.broadcast if args.broadcast else '', args.seconds,
        os.cpu_count() or 0, os.getloadavg()[0], time.strftime('%Y-%m-%d %H:%M')))
    failures = []
    if args.part in ('scan', 'both'):
        scan = benchlib.lan_and_program(args.scan, 'scan command', '--scan')
        if scan is None:
            return 2
        failures += scan_part(args, scan)
    if args.part in ('window', 'both'):
        app = benchlib.lan_and_program(args.app, 'window', '--app')
        if app is None:
            return 2
        for tool in ('Xvfb', 'xdotool'):
            if shutil.which(tool) is None:
                print('%s is not installed (apt-get install xvfb xdotool)' % tool, file=sys.stderr)
                return 2
        failures += window_part(args, app)
    print()
    if failures:
        print('FLOOD TARGETS MISSED: ' + '; '.join(failures))
        return 1
    print('flood targets met')
    return 0


if __name__ == '__main__':
    sys.exit(main())
