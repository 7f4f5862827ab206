"""What the bench scripts share: the checks made before a run, a folder of
their own for the known devices that every program run remembers (or one for
a single run, with a store written in it), and the scan run as a user."""
import atexit
import contextlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tools', 'testbed'))
import lanbed  # noqa: E402

# The simulated devices of a run are nobody's known devices: the programs the
# benchmarks start keep them in a temporary folder, never in the user's.
if 'NASFINDER_BENCH_STATE' not in os.environ:
    os.environ['NASFINDER_BENCH_STATE'] = tempfile.mkdtemp(prefix='nasfinder-bench-state-')
    atexit.register(shutil.rmtree, os.environ['NASFINDER_BENCH_STATE'], True)
    os.environ['XDG_STATE_HOME'] = os.environ['NASFINDER_BENCH_STATE']


def stop(proc, seconds=10):
    """Ends a program a run started: SIGTERM, and SIGKILL when it is still
    there after SECONDS."""
    if proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def lan_and_program(path, what, option):
    """The absolute path of the program to measure, or None (after saying why on
    standard error) when the simulated LAN cannot be built or the program is
    missing."""
    ok, why = lanbed.available()
    if not ok:
        print('cannot build the simulated LAN: ' + why, file=sys.stderr)
        return None
    path = os.path.abspath(path)
    if not os.access(path, os.X_OK):
        print('no %s at %s (build it, or pass %s)' % (what, path, option), file=sys.stderr)
        return None
    return path


# A user at stock privileges, who may bind port 67 and nothing else: no
# CAP_NET_ADMIN, so no SO_RCVBUFFORCE.
NOBODY = 65534
AS_USER = ['setpriv', '--reuid=%d' % NOBODY, '--regid=%d' % NOBODY, '--clear-groups',
           '--inh-caps=+net_bind_service', '--ambient-caps=+net_bind_service']


@contextlib.contextmanager
def user_copy(scan):
    """A copy of the scan, with the broadcast helper it starts from beside
    itself where the build has one, that uid 65534 can read and run (the build
    tree may not be), removed afterwards."""
    folder = tempfile.mkdtemp(prefix='nasfinder-bench-bin-')
    try:
        os.chmod(folder, 0o755)
        helper = os.path.join(os.path.dirname(scan), 'nasfinder-broadcast')
        for program in [scan] + ([helper] if os.path.exists(helper) else []):
            copy = os.path.join(folder, os.path.basename(program))
            shutil.copy(program, copy)
            os.chmod(copy, 0o755)
        yield os.path.join(folder, os.path.basename(scan))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def known_device(lan, sim, index):
    """Simulated device `index` as the store keeps a device that answered on
    the client's eth0 a minute ago."""
    identity = sim.device(index)['identity']
    seen = time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(time.time() - 60))
    return {'vendor': identity['vendor'].upper(), 'id': identity['id'], 'host': identity['host'],
            'product': identity['product'], 'address': lan.device_addrs[index], 'interface': 'eth0',
            'mac': sim.mac, 'first_seen': seen, 'last_seen': seen}


@contextlib.contextmanager
def run_state(known=(), owner=None):
    """An XDG_STATE_HOME for one run: empty, or holding a store of the known
    devices given (known_device entries), owned by uid `owner` when given;
    removed afterwards. Yields the environment to run the program with."""
    folder = tempfile.mkdtemp(prefix='nasfinder-bench-run-state-')
    try:
        if known:
            os.mkdir(os.path.join(folder, 'nasfinder'), 0o700)
            path = os.path.join(folder, 'nasfinder', 'devices.json')
            with open(path, 'w') as f:
                json.dump({'version': 1, 'devices': list(known)}, f, indent=2)
            os.chmod(path, 0o600)
        if owner is not None:
            for root, dirs, files in os.walk(folder):
                for name in [root] + [os.path.join(root, n) for n in dirs + files]:
                    os.chown(name, owner, owner)
        yield dict(os.environ, XDG_STATE_HOME=folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def heard(lan, sim):
    """The searches the devices heard from the client: to all of them (the
    broadcast address, the group), to one device's own address from a search
    socket, and the nudges that make the kernel learn a MAC."""
    counts = lanbed.searches_heard(sim.requests(own=False), lan.device_addrs)
    return {'to all': counts['broadcast'] + counts['ssdp'], 'to one': counts['one'], 'nudges': counts['nudge']}
