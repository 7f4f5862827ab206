"""Every piece of advice to grant the capability for UDP port 67 names the
broadcast helper, never one of the programs: the programs hold no capability
by design, and granting one brings no broadcast search back. A newcomer
followed `nasfinder-scan --help`, which said to grant it to nasfinder-scan.

Reads the built programs' --help (run inside an empty network namespace,
through tools/testbed/netns-run.sh), the README, the manual pages, the
window's captions and the package's messages. NASFINDER_SCAN and, when the
window is built, NASFINDER_APP name the programs (CTest sets them)."""
import glob
import os
import re
import subprocess
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, '..', '..')
NETNS_RUN = os.path.join(ROOT, 'tools', 'testbed', 'netns-run.sh')
HELPER = 'nasfinder-broadcast'
# What a caption, a maintainer script or CMake puts in the helper's place.
PLACEHOLDERS = {'%1', '$helper', '${path}'}
# setcap, a capability to grant, and what it is granted to.
GRANT = re.compile(r'setcap\s+(cap_[a-z_]+[=+][a-z+=]*)\s+(\S+)')


def wrong_grants(text):
    """The setcap lines of text that grant the capability to anything but the
    helper: (line, target)."""
    found = []
    for line in text.replace('\\-', '-').splitlines():
        for match in GRANT.finditer(line):
            target = match.group(2).rstrip('.,;:)').strip('"\'`').rstrip('.,;:)')
            if not (target.endswith('/' + HELPER) or target == HELPER or target in PLACEHOLDERS):
                found.append((line.strip(), match.group(2)))
    return found


class SetcapAdvice(unittest.TestCase):
    def test_the_rule_catches_the_advice_that_was_given(self):
        self.assertEqual(wrong_grants('run as root or grant the binary\n'
                                      'cap_net_bind_service (setcap cap_net_bind_service=+ep nasfinder-scan).'),
                         [('cap_net_bind_service (setcap cap_net_bind_service=+ep nasfinder-scan).',
                           'nasfinder-scan).')])
        self.assertEqual(wrong_grants('.B setcap cap_net_bind_service=+ep /usr/bin/nasfinder'),
                         [('.B setcap cap_net_bind_service=+ep /usr/bin/nasfinder', '/usr/bin/nasfinder')])
        self.assertEqual(wrong_grants('.B setcap cap_net_bind_service=+ep /usr/libexec/nasfinder/nasfinder\\-broadcast\n'
                                      'sudo setcap cap_net_bind_service=+ep %1\n'
                                      'setcap -r "$prog" || true\n'), [])

    def test_the_documents_name_the_helper(self):
        files = ([os.path.join(ROOT, 'README.md'), os.path.join(ROOT, 'src', 'CMakeLists.txt')] +
                 glob.glob(os.path.join(ROOT, 'docs', 'man', '*.1')) +
                 glob.glob(os.path.join(ROOT, 'debian', '*')) +
                 glob.glob(os.path.join(ROOT, 'src', 'window', 'resources', 'XML_*.xml')))
        seen = 0
        for path in files:
            if not os.path.isfile(path):
                continue
            with open(path, encoding='utf-8') as f:
                text = f.read()
            seen += len(GRANT.findall(text.replace('\\-', '-')))
            self.assertEqual(wrong_grants(text), [], os.path.relpath(path, ROOT))
        self.assertGreater(seen, 15, 'the advice is given in these files')

    def test_the_programs_help_names_the_helper(self):
        programs = [p for p in (os.environ.get('NASFINDER_SCAN'), os.environ.get('NASFINDER_APP')) if p]
        if not programs:
            self.skipTest('NASFINDER_SCAN names no built program')
        for program in programs:
            # Each program starts its broadcast helper first thing, even for
            # --help: never on this machine's own network.
            r = subprocess.run(['sh', NETNS_RUN, program, '--help'], capture_output=True, text=True, timeout=60)
            if r.returncode == 77:
                self.skipTest('no network namespace for the programs here: ' + r.stderr.strip())
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(wrong_grants(r.stdout), [], program)
        scan_help = subprocess.run(['sh', NETNS_RUN, programs[0], '--help'], capture_output=True, text=True,
                                   timeout=60).stdout
        # The helper's own file, beside the scan in a build tree.
        self.assertIn('setcap cap_net_bind_service=+ep %s\n' %
                      os.path.join(os.path.dirname(os.path.realpath(programs[0])), HELPER), scan_help)


if __name__ == '__main__':
    unittest.main(verbosity=2)
