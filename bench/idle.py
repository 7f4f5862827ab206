#!/usr/bin/env python3
"""Idle cost of the window: starts nasfinder in the test bed's client namespace
(under Xvfb, or Qt's offscreen platform), lets its search countdown run out,
then measures its CPU share over 60 s and prints its resident memory, and
what the start and the countdown cost up to then (--settle 14: "at 14 s").

    bench/idle.py [--app build/src/nasfinder] [--platform xvfb|offscreen]
                  [--settle 15] [--seconds 60] [--devices 4] [--known 1024]

CPU time since start is given twice: the sum over the window's live threads
(what ended is missing), and, where a cgroup can be made (as root), the
window's whole, ended threads included, less the processes it started.

The window keeps its known devices in a temporary folder of its own
(XDG_STATE_HOME); --known N fills it first with N devices that do not answer
(seen days ago, each with a MAC), as a user's store may hold them. The CPU time
and resident memory at the end of the settle time (start, search, countdown,
the known devices remembered and shown) are printed too.

Passes when the window uses under 0.1 % of one core while idle. Exit status 0
on a pass, 1 on a failure, 2 when the test bed or a display cannot be had.
"""
import argparse
import json
import os
import shutil
import signal
import tempfile
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tools', 'testbed'))
import benchlib  # noqa: E402
import lanbed  # noqa: E402

CLK_TCK = os.sysconf('SC_CLK_TCK')
LIMIT_PERCENT = 0.1


def children(pid):
    """Every descendant of pid."""
    parents = {}
    for entry in os.listdir('/proc'):
        if not entry.isdigit():
            continue
        try:
            with open('/proc/%s/stat' % entry) as f:
                ppid = int(f.read().rsplit(')', 1)[1].split()[1])
        except (OSError, ValueError, IndexError):
            continue
        parents.setdefault(ppid, []).append(int(entry))
    found, todo = [], [pid]
    while todo:
        p = todo.pop()
        for c in parents.get(p, []):
            found.append(c)
            todo.append(c)
    return found


def find_process(root_pid, exe):
    """The process running `exe` among root_pid and its descendants."""
    target = os.path.realpath(exe)
    for pid in [root_pid] + children(root_pid):
        try:
            if os.path.realpath('/proc/%d/exe' % pid) == target:
                return pid
        except OSError:
            continue
    return None


def cpu_ns(pid):
    """CPU time of every live thread in nanoseconds (schedstat), and of the
    process in clock ticks (stat, which also counts threads that ended)."""
    total = 0
    for tid in os.listdir('/proc/%d/task' % pid):
        try:
            with open('/proc/%d/task/%s/schedstat' % (pid, tid)) as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError):
            continue
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])
    return total, ticks


class CpuGroup:
    """A cgroup of its own for the window, so that its CPU time counts every
    thread and process it ran, those that ended included (the threads' own
    counters go with them): cpuacct.usage (cgroup v1) or cpu.stat's
    usage_usec (v2), in nanoseconds. None where no writable hierarchy is had."""

    def __init__(self):
        self.path = self.usage = None
        for root, read in (('/sys/fs/cgroup/cpuacct', self._v1), ('/sys/fs/cgroup/unified', self._v2),
                           ('/sys/fs/cgroup', self._v2)):
            if not os.path.isdir(root) or (read == self._v2 and not os.path.exists(
                    os.path.join(root, 'cgroup.controllers'))):
                continue
            path = os.path.join(root, 'nasfinder-idle-%d' % os.getpid())
            try:
                os.mkdir(path)
            except OSError:
                continue
            self.path, self.usage = path, read
            return

    def _v1(self):
        with open(os.path.join(self.path, 'cpuacct.usage')) as f:
            return int(f.read())

    def _v2(self):
        with open(os.path.join(self.path, 'cpu.stat')) as f:
            for line in f:
                if line.startswith('usage_usec '):
                    return int(line.split()[1]) * 1000
        return None

    MARK = 'nasfinder-idle-start'

    def wrap(self, argv):
        """argv run inside the group: a shell stops itself until join() has
        moved it in (the test bed's namespace has a /sys of its own, without
        the cgroups), then execs argv."""
        if self.path is None:
            return argv
        return ['sh', '-c', 'kill -STOP $$; exec "$@"', self.MARK] + argv

    def join(self, root_pid):
        """Moves the stopped shell under root_pid into the group and lets it go on."""
        if self.path is None:
            return

        def stopped_shell():
            for pid in children(root_pid):
                try:
                    with open('/proc/%d/cmdline' % pid, 'rb') as f:
                        marked = self.MARK.encode() in f.read().split(b'\0')
                    with open('/proc/%d/stat' % pid) as f:
                        state = f.read().rsplit(')', 1)[1].split()[0]
                except OSError:
                    continue
                if marked and state == 'T':
                    return pid
            return None

        pid = lanbed.wait_until(stopped_shell, timeout=30, message='the window\'s start')
        with open(os.path.join(self.path, 'cgroup.procs'), 'w') as f:
            f.write(str(pid))
        os.kill(pid, signal.SIGCONT)

    def procs(self):
        with open(os.path.join(self.path, 'cgroup.procs')) as f:
            return [int(line) for line in f if line.strip()]

    def ns(self, pid):
        """The CPU time of process pid in nanoseconds, its ended threads
        included: the group's, less what the other processes in it (the
        broadcast helper, a session bus it launched) used."""
        if self.path is None:
            return None
        others = sum(cpu_ns(p)[0] for p in self.procs() if p != pid and os.path.exists('/proc/%d' % p))
        return self.usage() - others

    def remove(self):
        """Ends what the window left running (a session bus it launched) and
        removes the group."""
        if self.path is None:
            return
        for pid in self.procs():
            try:
                os.kill(pid, signal.SIGTERM)
            except OSError:
                pass
        try:
            lanbed.wait_until(lambda: not self.procs(), timeout=10, message='the window\'s processes to end')
            os.rmdir(self.path)
        except (lanbed.WaitTimeout, OSError) as e:
            print('cgroup %s left: %s' % (self.path, e), file=sys.stderr)


def status_kib(pid, key):
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith(key + ':'):
                return int(line.split()[1])
    return 0


def fill_store(folder, count):
    """A store of `count` devices that will not answer, as the window writes it."""
    os.makedirs(os.path.join(folder, 'nasfinder'), mode=0o700)
    now = time.time()
    devices = []
    for i in range(count):
        seen = time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(now - 86400 * (1 + i % 30) - i))
        devices.append({'vendor': 'TAVIK', 'id': 'KNOWN%04d' % i, 'host': 'known-nas-%d' % i, 'product': 'P%d' % i,
                        'address': '198.18.%d.%d' % (100 + i // 250, 1 + i % 250), 'interface': 'eth0',
                        'mac': '02:00:5e:%02x:%02x:%02x' % (i >> 16 & 255, i >> 8 & 255, i & 255),
                        'first_seen': seen, 'last_seen': seen})
    path = os.path.join(folder, 'nasfinder', 'devices.json')
    with open(path, 'w') as f:
        json.dump({'version': 1, 'devices': devices}, f)
    os.chmod(path, 0o600)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--app', default=os.path.join(HERE, '..', 'build', 'src', 'nasfinder'))
    parser.add_argument('--platform', choices=('xvfb', 'offscreen'), default='xvfb')
    parser.add_argument('--settle', type=float, default=15.0, help='seconds before measuring (countdown: 11)')
    parser.add_argument('--seconds', type=float, default=60.0, help='length of the measurement')
    parser.add_argument('--devices', type=int, default=4, help='simulated devices that answer')
    parser.add_argument('--known', type=int, default=0, help='known devices in the store at start, none answering')
    args = parser.parse_args()

    app = benchlib.lan_and_program(args.app, 'window', '--app')
    if app is None:
        return 2
    state = tempfile.mkdtemp(prefix='nasfinder-idle-')
    if args.known:
        fill_store(state, args.known)
    env = dict(os.environ, LANG='C.UTF-8', LC_ALL='C.UTF-8', XDG_STATE_HOME=state, XDG_CONFIG_HOME=state)
    if args.platform == 'xvfb' and shutil.which('xvfb-run') is None:
        print('xvfb-run is not installed (apt-get install xvfb xauth), or use --platform offscreen',
              file=sys.stderr)
        return 2
    group = CpuGroup()
    if args.platform == 'xvfb':
        argv = ['xvfb-run', '-a', '-s', '-screen 0 1280x800x24'] + group.wrap([app])
        env.pop('QT_QPA_PLATFORM', None)
    else:
        argv = group.wrap([app])
        env['QT_QPA_PLATFORM'] = 'offscreen'

    try:
        with lanbed.Lan(devices=args.devices) as lan:
            lan.simulator(vendors=['TAVIK', 'ESKAL', 'KELDO'])
            log = open(os.devnull, 'wb')
            top = lan.client_popen(argv, env=env, stdout=log, stderr=log)
            started = time.monotonic()
            try:
                group.join(top.pid)
                pid = lanbed.wait_until(lambda: find_process(top.pid, app), timeout=30,
                                        message='the window process to start')
                print('idle: %s (pid %d) on %s in the test bed with %d devices, %d known; %d cores, %s'
                      % (app, pid, args.platform, args.devices, args.known, os.cpu_count() or 0,
                         time.strftime('%Y-%m-%d %H:%M')))
                settle = started + args.settle - time.monotonic()
                if settle > 0:
                    time.sleep(settle)
                if top.poll() is not None:
                    print('the window ended early (status %s)' % top.returncode, file=sys.stderr)
                    return 1
                ns0, ticks0 = cpu_ns(pid)
                group0 = group.ns(pid)
                t0 = time.monotonic()
                rss_settled = status_kib(pid, 'VmRSS')
                time.sleep(args.seconds)
                ns1, ticks1 = cpu_ns(pid)
                t1 = time.monotonic()
                rss = status_kib(pid, 'VmRSS')
                hwm = status_kib(pid, 'VmHWM')
                threads = len(os.listdir('/proc/%d/task' % pid))
            finally:
                benchlib.stop(top)
                log.close()
                shutil.rmtree(state, True)
    finally:
        group.remove()

    wall = t1 - t0
    share = 100.0 * (ns1 - ns0) / 1e9 / wall
    share_ticks = 100.0 * (ticks1 - ticks0) / CLK_TCK / wall
    print('at %.0f s after start: %.1f ms of CPU time since start (by clock ticks %.0f ms), resident memory '
          '%.1f MiB' % (t0 - started, ns0 / 1e6, 1000.0 * ticks0 / CLK_TCK, rss_settled / 1024.0))
    if group0 is not None:
        print('at %.0f s after start: %.1f ms of CPU time since start, ended threads included (a cgroup)'
              % (t0 - started, group0 / 1e6))
    print('measured %.0f s, from %.0f s after start' % (wall, t0 - started))
    print('CPU: %.4f %% of one core (%.1f ms of CPU time; by clock ticks %.3f %%)'
          % (share, (ns1 - ns0) / 1e6, share_ticks))
    print('resident memory: %.1f MiB (peak %.1f MiB), %d threads' % (rss / 1024.0, hwm / 1024.0, threads))
    passed = share < LIMIT_PERCENT
    print('idle under %.1f %%: %s' % (LIMIT_PERCENT, 'yes' if passed else 'NO'))
    return 0 if passed else 1


if __name__ == '__main__':
    sys.exit(main())
