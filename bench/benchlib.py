"""What the bench scripts share: the checks made before a run."""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tools', 'testbed'))
import lanbed  # noqa: E402


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
