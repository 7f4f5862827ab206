#!/usr/bin/env python3
"""Prints how long search_dll_exit takes to wake the search threads blocked in
their receive loops, over several runs, inside a simulated LAN.

    bench/wake_time.py [--runs N] [--probe build/tests/lan/searchlib_probe]
"""
import argparse
import os
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tools', 'testbed'))
import lanbed  # noqa: E402
import probe as probemod  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--runs', type=int, default=10)
    parser.add_argument('--probe', default=os.path.join(HERE, '..', 'build', 'tests', 'lan', 'searchlib_probe'))
    args = parser.parse_args()
    ok, why = lanbed.available()
    if not ok:
        print('cannot build the simulated LAN: ' + why, file=sys.stderr)
        return 2
    probemod.PROBE = os.path.abspath(args.probe)
    times = []
    with lanbed.Lan(devices=1, client_subnets=2) as lan:
        for _ in range(args.runs):
            p = probemod.Probe(lan)
            try:
                p.init(None, multi=True)
                p.command('search')
                p.command('exit-wait')
                result = p.events('exit-wait')[-1]
                if not result['all_stopped']:
                    print('a worker did not stop within 10 s', file=sys.stderr)
                    return 1
                times.append(result['micros'])
            finally:
                p.close()
    print('search threads per run: 4 (broadcast, SSDP, two command threads)')
    print('wake time after search_dll_exit, %d runs: median %.0f us, min %d us, max %d us'
          % (len(times), statistics.median(times), min(times), max(times)))
    return 0


if __name__ == '__main__':
    sys.exit(main())
