#!/usr/bin/env python3
"""The pace of the searches of known devices at their own addresses: a store
full of devices (1,024, --known) none of which answers, and one default scan
(multi-address, --json, --seconds 6 so that all five sends go out) that
follows each of them up at the four repeats of its search.

From the simulator's record of every datagram it received, with its arrival
time, the script prints for each send of the search how many searches of
single devices followed it, when the first and the last of them arrived
after the send, and the most that arrived within any 5 ms: the follow-ups of
a send time must all arrive within 100 ms of it and never in one burst.

    bench/followups.py [--scan build/src/nasfinder-scan] [--known 1024] [--runs 1] [--user]

Exit status 0 when every repeat followed up every device, within 100 ms, and
the first send none; 1 otherwise; 2 when the test bed cannot be built.
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

WINDOW = 0.005
LIMIT = 0.100


def run_once(scan, args):
    n = args.known
    with lanbed.Lan(devices=n) as lan:
        sim = lan.simulator(broadcast=False, ssdp=False)
        known = [benchlib.known_device(lan, sim, i) for i in range(n)]
        argv = (benchlib.AS_USER if args.user else []) + [scan, '--json', '--seconds', '6']
        with benchlib.run_state(known, benchlib.NOBODY if args.user else None) as env:
            r = lan.client_run(argv, capture_output=True, timeout=120, env=env)
        if r.returncode != 0:
            raise RuntimeError('nasfinder-scan exited with %d: %s' % (r.returncode, r.stderr.decode()[-500:]))
        requests = sim.requests(own=False)
    own = set(lan.device_addrs)
    sends = sorted(q['time'] for q in requests if q['proto'] == 'broadcast' and q['dst'] not in own)
    followed = sorted(q['time'] for q in requests
                      if q['dst'] in own and q['sport'] < lanbed.EPHEMERAL_PORTS_START)
    rows = []
    for i, at in enumerate(sends):
        until = sends[i + 1] if i + 1 < len(sends) else float('inf')
        mine = [t - at for t in followed if at <= t < until]
        burst = max((sum(1 for u in mine if t <= u < t + WINDOW) for t in mine), default=0)
        rows.append((at - sends[0], len(mine), mine[0] if mine else None, mine[-1] if mine else None, burst))
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--scan', default=os.path.join(HERE, '..', 'build', 'src', 'nasfinder-scan'))
    parser.add_argument('--known', type=int, default=1024, help='known devices, none answering (default 1024)')
    parser.add_argument('--runs', type=int, default=1)
    parser.add_argument('--user', action='store_true',
                        help='run the scan as uid %d holding only cap_net_bind_service' % benchlib.NOBODY)
    args = parser.parse_args()
    if not 1 <= args.known <= 1024 or args.runs < 1:
        parser.error('1 to 1,024 known devices and at least one run')
    scan = benchlib.lan_and_program(args.scan, 'scan command', '--scan')
    if scan is None:
        return 2
    ok = True
    with contextlib.ExitStack() as stack:
        if args.user:
            scan = stack.enter_context(benchlib.user_copy(scan))
        print('followups: %s, %s, %d known devices none of which answers, %d runs, %s' % (
            scan, 'as uid %d with cap_net_bind_service only' % benchlib.NOBODY if args.user else 'as root',
            args.known, args.runs, time.strftime('%Y-%m-%d')))
        print('%4s %8s %9s %9s %9s %12s' % ('run', 'send at', 'followed', 'first', 'last', 'most in 5ms'))
        for run in range(1, args.runs + 1):
            for i, (at, count, first, last, burst) in enumerate(run_once(scan, args)):
                print('%4d %7.3fs %9d %9s %9s %12d' % (
                    run, at, count, '-' if first is None else '%.1fms' % (1000 * first),
                    '-' if last is None else '%.1fms' % (1000 * last), burst), flush=True)
                # The first send of a search follows nobody up; each repeat every device.
                ok = ok and (count == 0 if i == 0 else count == 2 * args.known and last <= LIMIT)
    print('(followed: searches of single devices, both protocols, that arrived after this send and before the '
          'next; first, last: their arrival after the send; most in 5ms: the most within any 5 ms)')
    print('every repeat followed every device up within %d ms, the first send none: %s' % (
        LIMIT * 1000, 'yes' if ok else 'NO'))
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
