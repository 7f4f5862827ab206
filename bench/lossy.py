#!/usr/bin/env python3
"""A lossy link: the share of the devices that one default scan lists when a
share of the datagrams is lost each way, with the store of known devices
empty (cold) or knowing every device (warm), and the datagrams each search
sends.

30 simulated devices (--devices): a third answer only the broadcast search, a
third only SSDP, a third both. Each device misses each search it is sent with
the given probability on its own (the simulator draws per device and search:
loss applied in the device namespace would drop one search for all of them at
once), and the client's namespace drops the same share of the answers that
reach it, each at random (nftables `numgen random`; netem is not in this
kernel). nasfinder-scan runs there in its default mode (multi-address, 11 s,
--json), --runs times, each in a fresh LAN with a store of its own: empty
(cold), or holding every device as if it had answered a minute ago (warm),
when the scan searches each known device that has not answered at its own
address at every repeat. --store both runs a cold and a warm scan in turn
each run, so that both see the same machine. --user runs the scan as uid
65534 holding only cap_net_bind_service, from a copy beside the broadcast
helper, as a user runs it.

    bench/lossy.py [--scan build/src/nasfinder-scan] [--runs 8] [--loss 20]
                   [--devices 30] [--seconds 11] [--store cold|warm|both] [--user]

Prints each run's listed devices per class and the searches the devices
heard (to all of them: the broadcast and the group; to one: a device's own
address; the nudges after the search that make the kernel learn a MAC),
then the share of each class and of all over the runs, and the datagrams
per search. Exit status 0 when, for each store, every device class
reached 98 % and all together 99 %, 1 otherwise, 2 when the test bed cannot
be built.
"""
import argparse
import contextlib
import json
import os
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


def run_once(scan, args, warm):
    n = args.devices
    loss = args.loss / 100.0
    with lanbed.Lan(devices=n) as lan:
        sim = lan.simulator(broadcast={'loss': loss}, ssdp={'loss': loss})
        classes = [device_class(i, n) for i in range(n)]
        sim.configure([i for i in range(n) if classes[i] == 'broadcast'], ssdp=False)
        sim.configure([i for i in range(n) if classes[i] == 'ssdp'], broadcast=False)
        lan.client_answer_loss(args.loss)
        known = [benchlib.known_device(lan, sim, i) for i in range(n)] if warm else []
        argv = (benchlib.AS_USER if args.user else []) + [scan, '--json', '--seconds', str(args.seconds)]
        with benchlib.run_state(known, benchlib.NOBODY if args.user else None) as env:
            r = lan.client_run(argv, capture_output=True, timeout=args.seconds + 60, env=env)
        if r.returncode != 0:
            raise RuntimeError('nasfinder-scan exited with %d: %s' % (r.returncode, r.stderr.decode()[-500:]))
        listed = {e['ip'] for e in json.loads(r.stdout.decode('utf-8'))}
        found = {c: 0 for c in CLASSES}
        for i, addr in enumerate(lan.device_addrs):
            if addr in listed:
                found[classes[i]] += 1
        total = {c: classes.count(c) for c in CLASSES}
        return found, total, benchlib.heard(lan, sim)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--scan', default=os.path.join(HERE, '..', 'build', 'src', 'nasfinder-scan'))
    parser.add_argument('--runs', type=int, default=8)
    parser.add_argument('--loss', type=int, default=20, help='percent lost each way (default 20)')
    parser.add_argument('--devices', type=int, default=30)
    parser.add_argument('--seconds', type=int, default=11, help="the scan's wait (its --seconds)")
    parser.add_argument('--store', choices=('cold', 'warm', 'both'), default='cold',
                        help='the store of known devices each scan starts with: empty, knowing every device, '
                             'or one scan of each per run (default cold)')
    parser.add_argument('--user', action='store_true',
                        help='run the scan as uid %d holding only cap_net_bind_service' % benchlib.NOBODY)
    args = parser.parse_args()
    if args.devices < 3 or not 0 <= args.loss <= 100 or args.runs < 1:
        parser.error('at least 3 devices, a loss of 0 to 100 and at least one run')
    scan = benchlib.lan_and_program(args.scan, 'scan command', '--scan')
    if scan is None:
        return 2
    if lanbed.NFT is None:
        print('nftables (nft) is not installed: the answers cannot be dropped on the client', file=sys.stderr)
        return 2
    stores = ['cold', 'warm'] if args.store == 'both' else [args.store]

    with contextlib.ExitStack() as stack:
        if args.user:
            scan = stack.enter_context(benchlib.user_copy(scan))
        print('lossy: %s, %s, %d devices (a third broadcast only, SSDP only, both), %d %% lost each way, '
              '%d runs of a %d-second scan with a %s store, %s' % (
                  scan, 'as uid %d with cap_net_bind_service only' % benchlib.NOBODY if args.user else 'as root',
                  args.devices, args.loss, args.runs, args.seconds, ' and a '.join(stores),
                  time.strftime('%Y-%m-%d')))
        print('%4s %5s %10s %10s %10s %10s %7s %7s %7s' % ('run', 'store', 'broadcast', 'ssdp', 'both', 'all',
                                                           'to all', 'to one', 'nudges'))
        found_sum = {s: {c: 0 for c in CLASSES} for s in stores}
        total_sum = {s: {c: 0 for c in CLASSES} for s in stores}
        heard_sum = {s: {'to all': 0, 'to one': 0, 'nudges': 0} for s in stores}
        for run in range(1, args.runs + 1):
            for store in stores:
                found, total, heard = run_once(scan, args, store == 'warm')
                for c in CLASSES:
                    found_sum[store][c] += found[c]
                    total_sum[store][c] += total[c]
                for k in heard:
                    heard_sum[store][k] += heard[k]
                print('%4d %5s %10s %10s %10s %10s %7d %7d %7d' % (
                    run, store, *('%d/%d' % (found[c], total[c]) for c in CLASSES),
                    '%d/%d' % (sum(found.values()), sum(total.values())), heard['to all'], heard['to one'],
                    heard['nudges']), flush=True)
    met = True
    for store in stores:
        share = {c: 100.0 * found_sum[store][c] / total_sum[store][c] for c in CLASSES}
        share_all = 100.0 * sum(found_sum[store].values()) / sum(total_sum[store].values())
        missed = {c: total_sum[store][c] - found_sum[store][c] for c in CLASSES}
        print('%4s %5s %9.1f%% %9.1f%% %9.1f%% %9.1f%% %7.1f %7.1f %7.1f   (missed: %s)' % (
            'all', store, share['broadcast'], share['ssdp'], share['both'], share_all,
            heard_sum[store]['to all'] / args.runs, heard_sum[store]['to one'] / args.runs,
            heard_sum[store]['nudges'] / args.runs,
            ', '.join('%s %d' % (c, missed[c]) for c in CLASSES)))
        met = met and share_all >= GOAL_ALL and all(v >= GOAL_CLASS for v in share.values())
    print('(to all, to one: datagrams a search sent, per run: to all devices (the broadcast and the SSDP group, '
          'from every search socket), and to one device\'s own address; nudges: the SSDP searches sent after '
          'the search, from a port of their own, to devices whose MAC the kernel has not learnt)')
    print('goal (all >= %.0f %%, every class >= %.0f %%): %s' % (GOAL_ALL, GOAL_CLASS, 'met' if met else 'NOT met'))
    return 0 if met else 1


if __name__ == '__main__':
    sys.exit(main())
