#!/usr/bin/env python3
"""A lossy link: the share of the devices that one default scan lists when a
fifth of the datagrams is lost each way.

30 simulated devices (--devices): a third answer only the broadcast search, a
third only SSDP, a third both. Each device misses each search it is sent with
the given probability on its own (the simulator draws per device and search:
loss applied in the device namespace would drop one search for all of them at
once), and the client's namespace drops the same share of the answers that
reach it, each at random (nftables `numgen random`; netem is not in this
kernel). nasfinder-scan runs there in its default mode (multi-address, 11 s,
--json) as root, --runs times, each in a fresh LAN.

    bench/lossy.py [--scan build/src/nasfinder-scan] [--runs 8] [--loss 20]
                   [--devices 30] [--seconds 11]

Prints each run's listed devices per class, then the share of each class and
of all over the runs. Exit status 0 when every device class reached 98 % and
all together 99 %, 1 otherwise, 2 when the test bed cannot be built.
"""
import argparse
import json
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tools', 'testbed'))
import benchlib  # noqa: E402
import lanbed  # noqa: E402

CLASSES = ('broadcast', 'ssdp', 'both')
GOAL_ALL = 99.0
GOAL_CLASS = 98.0


def device_class(i, n):
    """Devices in three equal thirds: broadcast only, SSDP only, both."""
    return CLASSES[min(3 * i // n, 2)]


def run_once(scan, args):
    n = args.devices
    loss = args.loss / 100.0
    with lanbed.Lan(devices=n) as lan:
        sim = lan.simulator(broadcast={'loss': loss}, ssdp={'loss': loss})
        classes = [device_class(i, n) for i in range(n)]
        sim.configure([i for i in range(n) if classes[i] == 'broadcast'], ssdp=False)
        sim.configure([i for i in range(n) if classes[i] == 'ssdp'], broadcast=False)
        lan.client_answer_loss(args.loss)
        r = lan.client_run([scan, '--json', '--seconds', str(args.seconds)], capture_output=True,
                           timeout=args.seconds + 60)
        if r.returncode != 0:
            raise RuntimeError('nasfinder-scan exited with %d: %s' % (r.returncode, r.stderr.decode()[-500:]))
        listed = {e['ip'] for e in json.loads(r.stdout.decode('utf-8'))}
        found = {c: 0 for c in CLASSES}
        for i, addr in enumerate(lan.device_addrs):
            if addr in listed:
                found[classes[i]] += 1
        total = {c: classes.count(c) for c in CLASSES}
        return found, total


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--scan', default=os.path.join(HERE, '..', 'build', 'src', 'nasfinder-scan'))
    parser.add_argument('--runs', type=int, default=8)
    parser.add_argument('--loss', type=int, default=20, help='percent lost each way (default 20)')
    parser.add_argument('--devices', type=int, default=30)
    parser.add_argument('--seconds', type=int, default=11, help="the scan's wait (its --seconds)")
    args = parser.parse_args()
    if args.devices < 3 or not 0 <= args.loss <= 100 or args.runs < 1:
        parser.error('at least 3 devices, a loss of 0 to 100 and at least one run')
    scan = benchlib.lan_and_program(args.scan, 'scan command', '--scan')
    if scan is None:
        return 2
    if lanbed.NFT is None:
        print('nftables (nft) is not installed: the answers cannot be dropped on the client', file=sys.stderr)
        return 2

    print('lossy: %s, %d devices (a third broadcast only, SSDP only, both), %d %% lost each way, '
          '%d runs of a %d-second scan, %s' % (scan, args.devices, args.loss, args.runs, args.seconds,
                                               time.strftime('%Y-%m-%d')))
    print('%4s %10s %10s %10s %10s' % ('run', 'broadcast', 'ssdp', 'both', 'all'))
    found_sum = {c: 0 for c in CLASSES}
    total_sum = {c: 0 for c in CLASSES}
    for run in range(1, args.runs + 1):
        found, total = run_once(scan, args)
        for c in CLASSES:
            found_sum[c] += found[c]
            total_sum[c] += total[c]
        print('%4d %10s %10s %10s %10s' % (
            run, *('%d/%d' % (found[c], total[c]) for c in CLASSES),
            '%d/%d' % (sum(found.values()), sum(total.values()))), flush=True)
    share = {c: 100.0 * found_sum[c] / total_sum[c] for c in CLASSES}
    share_all = 100.0 * sum(found_sum.values()) / sum(total_sum.values())
    print('%4s %9.1f%% %9.1f%% %9.1f%% %9.1f%%' % ('all', share['broadcast'], share['ssdp'], share['both'],
                                                  share_all))
    met = share_all >= GOAL_ALL and all(v >= GOAL_CLASS for v in share.values())
    print('goal (all >= %.0f %%, every class >= %.0f %%): %s' % (GOAL_ALL, GOAL_CLASS, 'met' if met else 'NOT met'))
    return 0 if met else 1


if __name__ == '__main__':
    sys.exit(main())
