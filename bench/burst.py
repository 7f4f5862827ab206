#!/usr/bin/env python3
"""Burst capacity: N simulated devices, each from its own address, answer one
search at the same instant; prints the share of them that nasfinder-scan lists.

The scan command runs in the test bed's client namespace with --json and
otherwise in its default mode (multi-address mode on: the SSDP search leaves
from the group member on port 1900 and from one command thread per local
address). "Reached" counts the devices in the JSON list it prints at the end,
which is the registry's list. The simulator holds its answers until every
search request of the scan has arrived, then sends them all back to back.
Cases: N = 2,000 and 10,000 with the diagnostic log off, N = 2,000 with it on.

    bench/burst.py [--scan build/src/nasfinder-scan] [--devices 2000,10000]
                   [--log-devices 2000] [--protocols broadcast,ssdp,both]
                   [--runs 1] [--seconds 11] [--no-multi] [--trace]
                   [--user] [--stock-rmem] [--known K]

--user runs the scan as a user would (uid 65534, holding only
cap_net_bind_service, so that it may bind port 67 but not force a receive
buffer past net.core.rmem_max). --stock-rmem sets the global
net.core.rmem_max to a stock kernel's 212992 for the run and puts the old value
back afterwards, also after a failure or a signal. --trace passes --verbose and
counts the registry's vendor lines (reports handed to it); without it the scan
runs without its trace, as a user runs it. Each run starts with a store of
known devices of its own: empty, or with --known K holding the first K
devices, as if they had answered a minute ago; "to one" counts the searches
then sent to one device's own address (a known device that has not answered
is followed up).

Exit status 0 when every case reached 100 %, 1 otherwise, 2 when the test bed
cannot be built.
"""
import argparse
import contextlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tools', 'testbed'))
import benchlib  # noqa: E402
import lanbed  # noqa: E402

RMEM_MAX = '/proc/sys/net/core/rmem_max'
STOCK_RMEM_MAX = 212992
NOBODY = benchlib.NOBODY
AS_USER = benchlib.AS_USER


def udp_counters(lan):
    """The client namespace's Udp counters from /proc/net/snmp."""
    out = lan.client_run(['cat', '/proc/net/snmp'], capture_output=True, text=True, check=True).stdout
    rows = [line.split()[1:] for line in out.splitlines() if line.startswith('Udp:')]
    return dict(zip(rows[0], (int(v) for v in rows[1])))


def _exit_on_signal(signum, _frame):
    # Unwinds instead of dying where the signal hits, so that the LAN is torn
    # down and net.core.rmem_max put back by the blocks that hold them.
    if signum == signal.SIGINT:
        raise KeyboardInterrupt
    raise SystemExit(128 + signum)


@contextlib.contextmanager
def stock_rmem():
    """net.core.rmem_max at a stock kernel's value while the block runs. The
    setting is global (not per network namespace), so it is put back whatever
    ends the block."""
    with open(RMEM_MAX) as f:
        old = f.read().strip()
    try:
        with open(RMEM_MAX, 'w') as f:
            f.write(str(STOCK_RMEM_MAX))
        yield int(old)
    finally:
        # A second Ctrl-C must not land between here and the write.
        ending = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}
        signal.pthread_sigmask(signal.SIG_BLOCK, ending)
        with open(RMEM_MAX, 'w') as f:
            f.write(old)
        signal.pthread_sigmask(signal.SIG_UNBLOCK, ending)
        print('net.core.rmem_max restored to %s' % old, file=sys.stderr)


def run_case(scan, protos, n, log, args):
    broadcast = 'broadcast' in protos
    ssdp = 'ssdp' in protos
    # The test bed's own signal handling ends the process from inside the
    # handler; this script unwinds instead (see _exit_on_signal).
    with contextlib.ExitStack() as stack:
        lan = stack.enter_context(lanbed.Lan(devices=n, handle_signals=False))
        sim = lan.simulator(hold=True, broadcast=broadcast, ssdp=ssdp)
        known = [benchlib.known_device(lan, sim, i) for i in range(min(args.known, n))]
        env = stack.enter_context(benchlib.run_state(known, NOBODY if args.user else None))
        before = udp_counters(lan)
        logdir = tempfile.mkdtemp(prefix='nasfinder-burst-log-') if log else None
        err = tempfile.TemporaryFile()
        argv = (AS_USER if args.user else []) + [scan, '--json', '--seconds', str(args.seconds)]
        if args.no_multi:
            argv.append('--no-multi')
        if args.trace:
            argv.append('--verbose')
        if logdir:
            if args.user:
                os.chown(logdir, NOBODY, NOBODY)
            argv += ['--log-dir', logdir]
        proc = lan.client_popen(argv, stdout=subprocess.PIPE, stderr=err, env=env)
        try:
            # Every search of the scan must be held before the answers go: one
            # broadcast request, and one SSDP request from the group member plus
            # one from the command thread of the client's one address.
            if broadcast:
                sim.wait_for_requests(1, proto='broadcast', own=False, timeout=30)
            if ssdp:
                sim.wait_for_requests(1 if args.no_multi else 2, proto='ssdp', own=False, timeout=30)
            released = sim.release()
            out, _ = proc.communicate(timeout=args.seconds + 120)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        after = udp_counters(lan)
        followed = benchlib.heard(lan, sim)['to one']
        err.seek(0)
        # The registry's trace has one line per report it is handed.
        reports = sum(1 for line in err if line.startswith(b'NewDeviceInfo.factory')) if args.trace else None
        err.close()
        if logdir:
            shutil.rmtree(logdir, ignore_errors=True)
        if proc.returncode != 0:
            raise RuntimeError('nasfinder-scan exited with %d' % proc.returncode)
        listed = json.loads(out.decode('utf-8'))
        wanted = set(lan.device_addrs[:n])
        reached = len({d['ip'] for d in listed if d['ip'] in wanted})
        return {
            'reached': reached,
            'reports': reports,
            'sent': released['sent'],
            'send_seconds': released['seconds'],
            'rcvbuf_errors': after.get('RcvbufErrors', 0) - before.get('RcvbufErrors', 0),
            'in_datagrams': after.get('InDatagrams', 0) - before.get('InDatagrams', 0),
            'followed': followed,
        }


def run_all(scan, cases, args):
    print('%-15s %6s %4s %4s %9s %8s %8s %8s %8s %8s %9s %7s' % (
        'protocol', 'N', 'log', 'run', 'reached', 'share', 'reports', 'sent', 'udp in', 'dropped', 'sent in',
        'to one'))
    all_full = True
    for protos, n, log in cases:
        for run in range(1, args.runs + 1):
            r = run_case(scan, protos, n, log, args)
            share = 100.0 * r['reached'] / n
            all_full = all_full and r['reached'] == n
            print('%-15s %6d %4s %4d %9d %7.2f%% %8s %8d %8d %8d %7.0fms %7d' % (
                '+'.join(protos), n, 'on' if log else 'off', run, r['reached'], share,
                '-' if r['reports'] is None else r['reports'], r['sent'], r['in_datagrams'],
                r['rcvbuf_errors'], 1000 * r['send_seconds'], r['followed']), flush=True)
    return all_full


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--scan', default=os.path.join(HERE, '..', 'build', 'src', 'nasfinder-scan'))
    parser.add_argument('--devices', default='2000,10000', help='N for the cases with the log off')
    parser.add_argument('--log-devices', default='2000', help='N for the cases with the log on ("" for none)')
    parser.add_argument('--protocols', default='broadcast,ssdp',
                        help='cases, comma-separated: broadcast, ssdp, or both (devices answering both)')
    parser.add_argument('--runs', type=int, default=1, help='runs of each case')
    parser.add_argument('--seconds', type=int, default=11, help="the scan's wait (its --seconds)")
    parser.add_argument('--no-multi', action='store_true', help='run the scan with --no-multi')
    parser.add_argument('--trace', action='store_true',
                        help='run the scan with --verbose and count the reports the registry was handed')
    parser.add_argument('--user', action='store_true',
                        help='run the scan as uid 65534 holding only cap_net_bind_service')
    parser.add_argument('--known', type=int, default=0, metavar='K',
                        help='the store of known devices of each run holds the first K devices (default none: '
                             'each run starts with an empty store)')
    parser.add_argument('--stock-rmem', action='store_true',
                        help='net.core.rmem_max at %d for the run (restored afterwards)' % STOCK_RMEM_MAX)
    args = parser.parse_args()

    scan = benchlib.lan_and_program(args.scan, 'scan command', '--scan')
    if scan is None:
        return 2
    kinds = {'broadcast': ('broadcast',), 'ssdp': ('ssdp',), 'both': ('broadcast', 'ssdp')}
    protocols = [p for p in args.protocols.split(',') if p]
    unknown = [p for p in protocols if p not in kinds]
    if unknown:
        parser.error('unknown protocol %s (broadcast, ssdp or both)' % ', '.join(unknown))
    cases = [(kinds[p], int(n), False) for n in args.devices.split(',') if n for p in protocols]
    cases += [(kinds[p], int(n), True) for n in args.log_devices.split(',') if n for p in protocols]
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, _exit_on_signal)

    with contextlib.ExitStack() as stack:
        rmem = stack.enter_context(stock_rmem()) if args.stock_rmem else None
        if args.user:
            scan = stack.enter_context(benchlib.user_copy(scan))
        with open(RMEM_MAX) as f:
            now = f.read().strip()
        print('burst: %s, %d runs per case, scan waits %d s, %s, %s, net.core.rmem_max %s%s, %d cores, %s'
              % (scan, args.runs, args.seconds, 'no-multi' if args.no_multi else 'multi-address',
                 'as uid %d with cap_net_bind_service only' % NOBODY if args.user else 'as root',
                 now, ' (was %d)' % rmem if rmem is not None else '', os.cpu_count() or 0,
                 time.strftime('%Y-%m-%d')))
        all_full = run_all(scan, cases, args)
    print('all cases 100 %%: %s' % ('yes' if all_full else 'NO'))
    print('(reached: devices in the final JSON list; reports: reports the registry was handed (--trace); sent: '
          'answers the simulator sent; udp in: datagrams the client namespace received (UDP InDatagrams); '
          'dropped: its UDP RcvbufErrors, datagrams lost to a full receive buffer; sent in: time the simulator '
          'took to send all answers; to one: searches the devices heard sent to one device\'s own address, '
          'the known devices that had not answered being followed up)')
    return 0 if all_full else 1


if __name__ == '__main__':
    sys.exit(main())
