#!/usr/bin/env python3
"""Burst capacity: N simulated devices, each from its own address, answer one
search at the same instant; prints the share of them that reached the device
registry, for the broadcast search and for the SSDP search.

The scan command runs in the test bed's client namespace with --json (its list
is the registry's list at the end of the scan) and --no-multi (so exactly one
SSDP search leaves, from the group member on port 1900). The simulator holds
its answers until the search has arrived, then sends all N back to back.
Cases: N = 2,000 and 10,000 with the diagnostic log off, N = 2,000 with it on.

    bench/burst.py [--scan build/src/nasfinder-scan] [--devices 2000,10000]
                   [--log-devices 2000] [--protocols broadcast,ssdp] [--runs 1]
                   [--seconds 11]

Exit status 0 when every case reached 100 %, 1 otherwise, 2 when the test bed
cannot be built.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tests', 'lan'))
import benchlib  # noqa: E402
import lanbed  # noqa: E402


def udp_counters(lan):
    """The client namespace's Udp counters from /proc/net/snmp."""
    out = lan.client_run(['cat', '/proc/net/snmp'], capture_output=True, text=True, check=True).stdout
    rows = [line.split()[1:] for line in out.splitlines() if line.startswith('Udp:')]
    return dict(zip(rows[0], (int(v) for v in rows[1])))


def run_case(scan, proto, n, log, seconds):
    with lanbed.Lan(devices=n) as lan:
        sim = lan.simulator(hold=True, broadcast=(proto == 'broadcast'), ssdp=(proto == 'ssdp'))
        before = udp_counters(lan)
        logdir = tempfile.mkdtemp(prefix='nasfinder-burst-log-') if log else None
        err = tempfile.TemporaryFile()
        argv = [scan, '--json', '--no-multi', '--verbose', '--seconds', str(seconds)]
        if logdir:
            argv += ['--log-dir', logdir]
        proc = lan.client_popen(argv, stdout=subprocess.PIPE, stderr=err)
        try:
            sim.wait_for_requests(1, proto=proto, own=False, timeout=30)
            released = sim.release()
            out, _ = proc.communicate(timeout=seconds + 120)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        after = udp_counters(lan)
        err.seek(0)
        # The registry prints one line per report it is handed.
        reports = sum(1 for line in err if line.startswith(b'NewDeviceInfo.factory'))
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
        }


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--scan', default=os.path.join(HERE, '..', 'build', 'src', 'nasfinder-scan'))
    parser.add_argument('--devices', default='2000,10000', help='N for the cases with the log off')
    parser.add_argument('--log-devices', default='2000', help='N for the cases with the log on ("" for none)')
    parser.add_argument('--protocols', default='broadcast,ssdp')
    parser.add_argument('--runs', type=int, default=1, help='runs of each case')
    parser.add_argument('--seconds', type=int, default=11, help="the scan's wait (its --seconds)")
    args = parser.parse_args()

    scan = benchlib.lan_and_program(args.scan, 'scan command', '--scan')
    if scan is None:
        return 2

    cases = [(p, int(n), False) for n in args.devices.split(',') if n for p in args.protocols.split(',')]
    cases += [(p, int(n), True) for n in args.log_devices.split(',') if n for p in args.protocols.split(',')]
    print('burst: %s, %d runs per case, scan waits %d s, %d cores, %s'
          % (scan, args.runs, args.seconds, os.cpu_count() or 0, time.strftime('%Y-%m-%d')))
    print('%-9s %6s %4s %4s %9s %8s %8s %8s %8s %9s' % ('protocol', 'N', 'log', 'run', 'reached', 'share',
                                                         'reports', 'udp in', 'dropped', 'sent in'))
    all_full = True
    for proto, n, log in cases:
        for run in range(1, args.runs + 1):
            r = run_case(scan, proto, n, log, args.seconds)
            share = 100.0 * r['reached'] / n
            all_full = all_full and r['reached'] == n
            print('%-9s %6d %4s %4d %9d %7.2f%% %8d %8d %8d %7.0fms' % (
                proto, n, 'on' if log else 'off', run, r['reached'], share, r['reports'], r['in_datagrams'],
                r['rcvbuf_errors'], 1000 * r['send_seconds']), flush=True)
    print('all cases 100 %%: %s' % ('yes' if all_full else 'NO'))
    print('(reached: devices in the final list; reports: reports the registry was handed; udp in: datagrams '
          'the client namespace received (UDP InDatagrams); dropped: its UDP RcvbufErrors, datagrams lost to a '
          'full receive buffer; sent in: time the simulator took to send all answers)')
    return 0 if all_full else 1


if __name__ == '__main__':
    sys.exit(main())
