#!/usr/bin/env python3
"""Soak: the scan command's watch mode in the test bed for 10 minutes while
simulated devices announce 1,000 times a second (alive and byebye mixed, with
hostile texts and damaged datagrams, see announce.py), and answer every search.

Prints, every sampling interval and at the end: resident memory, threads, CPU
share. Passes when the resident memory grows by less than 1 MiB after the first
minute, no thread of the process has died, the process is still running, and
at the end each of its receive loops (broadcast, SSDP group, command thread)
still takes a fresh device into the list.

    bench/soak.py [--scan build/src/nasfinder-scan] [--minutes 10] [--rate 1000]
                  [--devices 1000] [--answering 200] [--sample 5] [--events]

Exit status 0 on a pass, 1 on a failure, 2 when the test bed cannot be built.
"""
import argparse
import json
import os
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tools', 'testbed'))
import benchlib  # noqa: E402
import lanbed  # noqa: E402

CLK_TCK = os.sysconf('SC_CLK_TCK')
PAGE = os.sysconf('SC_PAGE_SIZE')


def proc_sample(pid):
    """RSS (bytes), CPU seconds, thread ids of a process."""
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime, stime
    with open('/proc/%d/statm' % pid) as f:
        rss = int(f.read().split()[1]) * PAGE
    tids = sorted(int(t) for t in os.listdir('/proc/%d/task' % pid))
    return rss, cpu, tids


class LineReader(threading.Thread):
    """Keeps the last line of a stream and counts the lines. With `tally`,
    lines that start with it are only counted (in `tallied`), blank lines are
    skipped, and the first other lines are kept to be shown."""

    def __init__(self, stream, tally=None):
        super().__init__(daemon=True)
        self.stream = stream
        self.lock = threading.Lock()
        self.last = b''
        self.count = 0
        self.tally = tally
        self.tallied = 0
        self.kept = []
        # The devices an --events watch said appeared or changed.
        self.events_ids = set()

    def run(self):
        for line in self.stream:
            with self.lock:
                if self.tally is None:
                    self.count += 1
                    self.last = line
                    if line.startswith(b'{"event"'):
                        self.events_ids.add(json.loads(line)['device']['id'])
                elif line.startswith(self.tally):
                    self.tallied += 1
                elif line.strip():
                    self.count += 1
                    self.last = line
                    if len(self.kept) < 50:
                        self.kept.append(line)

    def latest(self):
        with self.lock:
            return self.last, self.count


def mib(n):
    return n / (1024.0 * 1024.0)


def notify_bytes(addr, dev_id, vendor='TAVIK'):
    return ('NOTIFY * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nLOCATION: http://%s:5000/d.xml\r\n'
            'NT: upnp:rootdevice\r\nNTS: ssdp:alive\r\nSERVER: VEXA/2.1, UPnP/1.0, %s/canary/C\r\n'
            'USN: uuid:%s::upnp:rootdevice\r\n\r\n' % (addr, vendor, dev_id)).encode('ascii')


def reply_bytes(addr, dev_id):
    return ('HTTP/1.1 200 OK\r\nLOCATION: http://%s:5000/d.xml\r\nSERVER: VEXA/2.1, UPnP/1.0, TAVIK/canary/C\r\n'
            'USN: uuid:%s::x\r\n\r\n' % (addr, dev_id)).encode('ascii')


def broadcast_bytes(dev_id):
    text = ('id=%s&host=canary&vendor=TAVIK&product=C' % dev_id).encode('ascii')
    return bytes([12, 1, 0, 0]) + b'\xff' * 4 + bytes(12) + text.ljust(128, b'\x00')


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--scan', default=os.path.join(HERE, '..', 'build', 'src', 'nasfinder-scan'))
    parser.add_argument('--minutes', type=float, default=10.0)
    parser.add_argument('--rate', type=float, default=1000.0, help='announcements a second')
    parser.add_argument('--devices', type=int, default=1000, help='devices that announce')
    parser.add_argument('--answering', type=int, default=200, help='devices that answer the searches')
    parser.add_argument('--sample', type=float, default=5.0, help='seconds between samples')
    parser.add_argument('--events', action='store_true',
                        help="the watch's events (--events), a line per change, instead of its JSON lists")
    args = parser.parse_args()

    scan = benchlib.lan_and_program(args.scan, 'scan command', '--scan')
    if scan is None:
        return 2

    duration = args.minutes * 60.0
    warmup = min(60.0, duration / 2)
    failures = []
    # Three spare addresses for the canaries at the end.
    with lanbed.Lan(devices=args.devices + 3) as lan:
        client = lan.client_addrs[0]
        sim = lan.simulator(devices=min(args.answering, args.devices))
        scan_proc = lan.client_popen([scan, '--watch', '--events' if args.events else '--json', '--verbose'], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        pid = scan_proc.pid
        # `ip netns exec` enters the namespace, then execs the command in place.
        try:
            lanbed.wait_until(lambda: os.path.realpath('/proc/%d/exe' % pid) == os.path.realpath(scan),
                              timeout=10, message='the scan command to start')
        except AssertionError:
            print('could not find the scan process (pid %d)' % pid, file=sys.stderr)
            return 1
        out = LineReader(scan_proc.stdout)
        # The registry's line for every report; anything else is kept to show.
        err = LineReader(scan_proc.stderr, tally=b'NewDeviceInfo.factory')
        out.start()
        err.start()
        storm = lan.device_popen([sys.executable, os.path.join(HERE, 'announce.py'), '--client', client,
                                  '--count', str(args.devices), '--rate', str(args.rate),
                                  '--seconds', str(duration)], stdout=subprocess.PIPE, stderr=subprocess.PIPE)

        print('soak: %s --watch %s, %.1f min, %g announcements/s from %d devices, %d answering searches, '
              '%d cores, %s' % (scan, '--events' if args.events else '--json', args.minutes, args.rate, args.devices, args.answering, os.cpu_count() or 0,
                                time.strftime('%Y-%m-%d %H:%M')))
        print('%7s %9s %7s %8s %9s %8s' % ('time', 'rss MiB', 'threads', 'cpu %', 'outputs', 'listed'))
        start = time.monotonic()
        base = None      # (t, rss, cpu, tids) at the end of the first minute
        first = None
        peak_after = 0
        samples = []
        next_sample = start
        while True:
            now = time.monotonic()
            if now - start >= duration or scan_proc.poll() is not None:
                break
            if now < next_sample:
                time.sleep(min(0.5, next_sample - now))
                continue
            next_sample += args.sample
            rss, cpu, tids = proc_sample(pid)
            t = now - start
            if first is None:
                first = (t, rss, cpu, tids)
            last_line, outputs = out.latest()
            try:
                listed = len(json.loads(last_line)) if last_line and not args.events else 0
            except ValueError:
                listed = -1
            prev = samples[-1] if samples else (t, rss, cpu, tids)
            share = 100.0 * (cpu - prev[2]) / (t - prev[0]) if t > prev[0] else 0.0
            samples.append((t, rss, cpu, tids))
            if base is None and t >= warmup:
                base = (t, rss, cpu, tids)
            if base is not None:
                peak_after = max(peak_after, rss)
            print('%6.0fs %9.2f %7d %7.1f%% %9d %8d' % (t, mib(rss), len(tids), share, outputs, listed), flush=True)

        if scan_proc.poll() is not None:
            failures.append('the scan command ended (status %s)' % scan_proc.returncode)
            storm.terminate()
            end = samples[-1] if samples else None
        else:
            end_t = time.monotonic() - start
            rss, cpu, tids = proc_sample(pid)
            end = (end_t, rss, cpu, tids)
        storm_out, storm_err = storm.communicate(timeout=60)

        if end is not None and base is not None:
            growth = end[1] - base[1]
            peak_growth = max(peak_after, end[1]) - base[1]
            dead = sorted(set(base[3]) - set(end[3]))
            print('resident memory: %.2f MiB at %.0f s, %.2f MiB at the end (growth %+.0f KiB, peak %+.0f KiB)'
                  % (mib(base[1]), base[0], mib(end[1]), growth / 1024.0, peak_growth / 1024.0))
            print('threads: %d after the first minute, %d at the end, %d gone' % (len(base[3]), len(end[3]),
                                                                                   len(dead)))
            print('CPU: %.1f %% of one core after the first minute, %.1f %% over the whole run'
                  % (100.0 * (end[2] - base[2]) / (end[0] - base[0]), 100.0 * end[2] / end[0]))
            if growth >= 1024 * 1024:
                failures.append('resident memory grew by %.0f KiB after the first minute' % (growth / 1024.0))
            if dead:
                failures.append('threads ended during the run: %s' % dead)
        try:
            storm_stats = json.loads(storm_out.decode().strip().splitlines()[-1])
            print('announcer: %d datagrams in %.0f s (%.0f/s): %s, send errors %d' % (
                storm_stats['total'], storm_stats['seconds'], storm_stats['rate'],
                ', '.join('%s %d' % kv for kv in sorted(storm_stats['sent'].items())), storm_stats['errors']))
            if storm_stats['rate'] < 0.9 * args.rate:
                failures.append('the announcer reached only %.0f/s' % storm_stats['rate'])
        except (ValueError, IndexError, KeyError):
            failures.append('the announcer gave no statistics: %s' % storm_err.decode(errors='replace')[-500:])

        # Every receive loop must still work: a fresh device through each.
        if scan_proc.poll() is None:
            spare = lan.device_addrs[args.devices:]
            canaries = {'CANARY-SSDP': spare[0], 'CANARY-BCAST': spare[1], 'CANARY-CMD': spare[2]}
            deadline = time.monotonic() + 30
            seen = set()
            while time.monotonic() < deadline and len(seen) < len(canaries):
                sim.send(notify_bytes(canaries['CANARY-SSDP'], 'CANARY-SSDP'), '239.143.255.250', 1900,
                         src_ip=canaries['CANARY-SSDP'], src_port=1900)
                sim.send(broadcast_bytes('CANARY-BCAST'), client, 67, src_ip=canaries['CANARY-BCAST'])
                sim.send(reply_bytes(canaries['CANARY-CMD'], 'CANARY-CMD'), client, 1530,
                         src_ip=canaries['CANARY-CMD'])
                time.sleep(1.5)
                last_line, _ = out.latest()
                try:
                    ids = out.events_ids if args.events else {d['id'] for d in json.loads(last_line)}
                    seen |= set(ids) & set(canaries)
                except ValueError:
                    pass
            print('receive loops alive (a fresh device through each): %s'
                  % ', '.join('%s %s' % (c, 'yes' if c in seen else 'NO') for c in sorted(canaries)))
            if len(seen) < len(canaries):
                failures.append('no fresh device came through: %s' % sorted(set(canaries) - seen))
        _, outputs = out.latest()
        with err.lock:
            reports = err.tallied
        print('watch outputs: %d lists printed; reports handed to the registry: %d' % (outputs, reports))
        if err.kept:
            print('other lines on standard error (first %d):' % len(err.kept))
            for line in err.kept[:10]:
                print('  ' + line.decode(errors='replace').rstrip())
        benchlib.stop(scan_proc)

    if failures:
        print('SOAK FAILED: ' + '; '.join(failures))
        return 1
    print('soak passed')
    return 0


if __name__ == '__main__':
    sys.exit(main())
