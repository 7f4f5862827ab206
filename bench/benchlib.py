"""What the bench scripts share: the checks made before a run, and a folder of
their own for the known devices that every program run remembers."""
import atexit
import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tools', 'testbed'))
import lanbed  # noqa: E402

# The simulated devices of a run are nobody's known devices: the programs the
# benchmarks start keep them in a temporary folder, never in the user's.
if 'NASFINDER_BENCH_STATE' not in os.environ:
    os.environ['NASFINDER_BENCH_STATE'] = tempfile.mkdtemp(prefix='nasfinder-bench-state-')
    atexit.register(shutil.rmtree, os.environ['NASFINDER_BENCH_STATE'], True)
    os.environ['XDG_STATE_HOME'] = os.environ['NASFINDER_BENCH_STATE']


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
