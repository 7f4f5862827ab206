#!/usr/bin/env python3
"""The pace of the searches of known devices at their own addresses, with a
store full of devices (1,024, --known) none of which answers, and one default
scan (multi-address, --json, --seconds 6 so that all five sends go out) that
follows them up at the four repeats of its search.

Two cases (--case):
  resolved  the devices are there, silent, and the client's kernel knows their
            MACs (as for devices seen a minute ago): for each send, how many
            searches of single devices followed it, when the first and the
            last arrived after the send (the kernel's time of arrival), and
            the most within any 1 ms (a batch of 64 devices is 128
            datagrams). All must arrive within 100 ms of their send time,
            never in one burst, and none after the first send.
  gone      nobody holds the devices' addresses any more, so the kernel asks
            the link for each one and holds its datagram meanwhile: the sends
            of the search must still go out on time (0, 0.5, 1.5, 3 and 5 s,
            each within 50 ms), and the client sends few such searches.

    bench/followups.py [--scan build/src/nasfinder-scan] [--known 1024] [--runs 1]
                       [--case resolved|gone|both] [--user] [--nice N]

Exit status 0 when every case held, 1 otherwise, 2 when the test bed cannot
be built.
"""
import argparse
import contextlib
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tools', 'testbed'))
import benchlib  # noqa: E402
import lanbed  # noqa: E402

WINDOW = 0.001
LIMIT = 0.100
SCHEDULE = (0.0, 0.5, 1.5, 3.0, 5.0)
LATE = 0.050


def out_datagrams(lan):
    out = lan.client_run(['cat', '/proc/net/snmp'], capture_output=True, text=True, check=True).stdout
    rows = [line.split()[1:] for line in out.splitlines() if line.startswith('Udp:')]
    return dict(zip(rows[0], (int(v) for v in rows[1])))['OutDatagrams']


def scan_with_store(lan, scan, known, args):
    argv = (['nice', '-n', str(args.nice)] if args.nice else []) + (benchlib.AS_USER if args.user else []) + \
        [scan, '--json', '--seconds', '6']
    with benchlib.run_state(known, benchlib.NOBODY if args.user else None) as env:
        r = lan.client_run(argv, capture_output=True, timeout=120, env=env)
    if r.returncode != 0:
        raise RuntimeError('nasfinder-scan exited with %d: %s' % (r.returncode, r.stderr.decode()[-500:]))


def sends_of(requests, own):
    """The arrival of each send of the search: its group search from port 1900,
    which leaves before the follow-ups of its send time."""
    return sorted(q['time'] for q in requests
                  if q['proto'] == 'ssdp' and q['dst'] not in own and q['sport'] == 1900)


def run_resolved(scan, args):
    n = args.known
    with lanbed.Lan(devices=n) as lan:
        sim = lan.simulator(broadcast=False, ssdp=False)
        # What the kernel keeps of devices seen a minute ago, as permanent
        # entries: the table's own limit (1,024 entries that may be dropped)
        # is not what is measured.
        lan.client_run(['ip', '-batch', '-'], check=True, text=True, input=''.join(
            'neigh replace %s lladdr %s dev eth0 nud permanent\n' % (a, sim.mac) for a in lan.device_addrs))
        scan_with_store(lan, scan, [benchlib.known_device(lan, sim, i) for i in range(n)], args)
        requests = sim.requests(own=False)
    own = set(lan.device_addrs)
    sends = sends_of(requests, own)
    followed = sorted(q['time'] for q in requests if q['dst'] in own and q['sport'] < lanbed.EPHEMERAL_PORTS_START)
    rows = []
    for i, at in enumerate(sends):
        until = sends[i + 1] if i + 1 < len(sends) else float('inf')
        mine = [t - at for t in followed if at - 0.002 <= t < until]
        burst = max((sum(1 for u in mine if t <= u < t + WINDOW) for t in mine), default=0)
        rows.append((at - sends[0], len(mine), mine[0] if mine else None, mine[-1] if mine else None, burst))
    return rows


def run_gone(scan, args):
    with lanbed.Lan(devices=2) as lan:
        sim = lan.simulator(broadcast=False, ssdp=False)
        seen = time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(time.time() - 60))
        known = [{'vendor': 'TAVIK', 'id': 'GONE%d' % i, 'address': '198.18.%d.%d' % (100 + i // 250, 1 + i % 250),
                  'interface': 'eth0', 'first_seen': seen, 'last_seen': seen} for i in range(args.known)]
        before = out_datagrams(lan)
        scan_with_store(lan, scan, known, args)
        sent = out_datagrams(lan) - before
        requests = sim.requests(own=False)
    sends = sends_of(requests, set(lan.device_addrs))
    heard = lanbed.searches_heard(requests, lan.device_addrs)
    return [s - sends[0] for s in sends], sent - heard['broadcast'] - heard['ssdp']


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--scan', default=os.path.join(HERE, '..', 'build', 'src', 'nasfinder-scan'))
    parser.add_argument('--known', type=int, default=1024, help='known devices, none answering (default 1024)')
    parser.add_argument('--runs', type=int, default=1)
    parser.add_argument('--case', choices=('resolved', 'gone', 'both'), default='both')
    parser.add_argument('--nice', type=int, default=0, metavar='N',
                        help='run the scan at this niceness (-15: ahead of whatever else the machine runs)')
    parser.add_argument('--user', action='store_true',
                        help='run the scan as uid %d holding only cap_net_bind_service' % benchlib.NOBODY)
    args = parser.parse_args()
    if not 1 <= args.known <= 1024 or args.runs < 1:
        parser.error("1 to 1,024 known devices and at least one run")
    scan = benchlib.lan_and_program(args.scan, 'scan command', '--scan')
    if scan is None:
        return 2
    ok = True
    with contextlib.ExitStack() as stack:
        if args.user:
            scan = stack.enter_context(benchlib.user_copy(scan))
        print('followups: %s, %s, niceness %d, %d known devices none of which answers, %d runs, %s' % (
            scan, 'as uid %d with cap_net_bind_service only' % benchlib.NOBODY if args.user else 'as root',
            args.nice, args.known, args.runs, time.strftime('%Y-%m-%d')))
        if args.case in ('resolved', 'both'):
            print('resolved: %4s %8s %9s %9s %9s %12s' % ('run', 'send at', 'followed', 'first', 'last', 'most in 1ms'))
            for run in range(1, args.runs + 1):
                for i, (at, count, first, last, burst) in enumerate(run_resolved(scan, args)):
                    print('          %4d %7.3fs %9d %9s %9s %12d' % (
                        run, at, count, '-' if first is None else '%.1fms' % (1000 * first),
                        '-' if last is None else '%.1fms' % (1000 * last), burst), flush=True)
                    ok = ok and (count == 0 if i == 0 else count == 2 * args.known and last <= LIMIT)
        if args.case in ('gone', 'both'):
            print('gone:     %4s %-40s %s' % ('run', 'sends at (s)', 'searches of single devices sent'))
            for run in range(1, args.runs + 1):
                sends, single = run_gone(scan, args)
                print('          %4d %-40s %d' % (run, ' '.join('%.3f' % s for s in sends), single), flush=True)
                ok = ok and len(sends) == len(SCHEDULE) and all(
                    abs(s - want) <= LATE for s, want in zip(sends, SCHEDULE))
    print('(resolved: followed: searches of single devices, both protocols, that arrived after this send and '
          'before the next; first, last: their arrival after the send; most in 1ms: the most within any 1 ms (a '
          'batch of 64 devices is 128 datagrams). '
          'gone: when each send of the search arrived, and the datagrams the client sent besides them)')
    print('every case held: %s' % ('yes' if ok else 'NO'))
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
