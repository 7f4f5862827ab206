"""Checks the Debian packages that tools/package.sh left in dist/, without
installing them on this machine: their files, their control fields, what the
maintainer script does when setcap works and when it does not, and what
lintian, desktop-file-validate and appstreamcli say of them.

    python3 -m unittest -v tests/package/test_package.py   (after tools/package.sh)
"""

import glob
import os
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DIST = os.path.join(ROOT, 'dist')
HELPER = '/usr/libexec/nasfinder/nasfinder-broadcast'


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, **kw)


def deb(name):
    found = sorted(glob.glob(os.path.join(DIST, '%s_*.deb' % name)))
    if not found:
        raise unittest.SkipTest('no %s package in dist/: run tools/package.sh first' % name)
    return found[-1]


def field(path, name):
    return run(['dpkg-deb', '-f', path, name]).stdout.strip()


def contents(path):
    listing = run(['dpkg-deb', '-c', path]).stdout.splitlines()
    return {line.split()[-1].lstrip('.') for line in listing if line.split()}


class Packages(unittest.TestCase):
    def setUp(self):
        self.window = deb('nasfinder')
        self.scan = deb('nasfinder-scan')
        self.common = deb('nasfinder-common')
        self.tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.tmp)

    def extract(self, path):
        where = tempfile.mkdtemp(dir=self.tmp)
        subprocess.run(['dpkg-deb', '-R', path, where], check=True)
        return where

    def test_each_package_holds_its_program_and_its_documents(self):
        expected = {
            self.window: ['/usr/bin/nasfinder', '/usr/share/applications/nasfinder.desktop',
                          '/usr/share/metainfo/nasfinder.metainfo.xml',
                          '/usr/share/icons/hicolor/scalable/apps/nasfinder.svg',
                          '/usr/share/man/man1/nasfinder.1.gz', '/usr/share/doc/nasfinder/copyright'],
            self.scan: ['/usr/bin/nasfinder-scan', '/usr/share/man/man1/nasfinder-scan.1.gz',
                        '/usr/share/doc/nasfinder-scan/copyright'],
            # The firewall's openings and the broadcast helper serve both
            # programs: one package owns them.
            self.common: ['/usr/lib/firewalld/services/nasfinder.xml', '/etc/ufw/applications.d/nasfinder',
                          HELPER],
        }
        for path, files in expected.items():
            have = contents(path)
            for f in files:
                self.assertIn(f, have, path)
        for program in (self.window, self.scan):
            self.assertIn('nasfinder-common (= ', field(program, 'Depends'), program)
        self.assertNotIn('/usr/bin/nasfinder', contents(self.scan))
        self.assertNotIn('/usr/bin/nasfinder-scan', contents(self.window))

    def test_control_fields(self):
        depends = field(self.window, 'Depends')
        self.assertIn('xdg-utils', depends)
        self.assertIn('libqt6widgets6', depends)      # computed, not written by hand
        self.assertIn('fonts-noto-cjk', field(self.window, 'Recommends'))
        scan_depends = field(self.scan, 'Depends')
        self.assertIn('libc6', scan_depends)
        self.assertNotIn('qt6', scan_depends)           # the server package needs no Qt
        # Without setcap at installation the helper's capability is never
        # granted: installing it later grants nothing.
        self.assertIn('libcap2-bin', field(self.common, 'Depends'))
        with open(os.path.join(ROOT, 'LICENSE')) as f:
            self.assertEqual('MIT', f.readline().split()[0])

    def run_postinst(self, path, name, setcap_body, statoverride_body='exit 1', getcap_body='exit 0'):
        """Runs the package's postinst with stand-ins for setcap, getcap and
        dpkg-statoverride first on PATH (by default no override is registered
        and no file holds a capability)."""
        ctrl = os.path.join(self.extract(path), 'DEBIAN', 'postinst')
        bindir = os.path.join(self.tmp, 'bin-' + name)
        os.makedirs(bindir)
        log = os.path.join(self.tmp, 'setcap-' + name + '.log')
        for tool, body in (('setcap', 'echo "$@" >> %s\n%s' % (log, setcap_body)),
                           ('getcap', getcap_body), ('dpkg-statoverride', statoverride_body)):
            with open(os.path.join(bindir, tool), 'w') as f:
                f.write('#!/bin/sh\n%s\n' % body)
            os.chmod(os.path.join(bindir, tool), 0o755)
        env = dict(os.environ, PATH=bindir + ':/usr/bin:/bin')
        r = run(['sh', ctrl, 'configure', '1.0.0'], env=env)
        calls = ''
        if os.path.exists(log):
            with open(log) as f:
                calls = f.read()
        return r, calls

    def test_postinst_grants_the_capability_to_the_helper_alone(self):
        r, calls = self.run_postinst(self.common, 'ok', 'exit 0')
        self.assertEqual((r.returncode, r.stderr), (0, ''))
        self.assertEqual('cap_net_bind_service=+ep %s\n' % HELPER, calls)
        r, calls = self.run_postinst(self.common, 'refused', 'echo "Operation not supported" >&2; exit 1')
        self.assertEqual(r.returncode, 0, 'a refused setcap must not fail the installation')
        self.assertIn('cannot bind UDP port 67', r.stderr)
        self.assertIn('SSDP', r.stderr)
        # An administrator's statoverride for the helper: the capability is
        # not granted again on upgrade.
        r, calls = self.run_postinst(self.common, 'override', 'exit 0',
                                     '[ "$1 $2" = "--list %s" ] && echo "root root 0755 %s"' % (HELPER, HELPER))
        self.assertEqual((0, ''), (r.returncode, calls), r.stderr)
        # The programs grant nothing, and take back what an earlier version
        # granted them.
        for path, program in ((self.window, 'nasfinder'), (self.scan, 'nasfinder-scan')):
            r, calls = self.run_postinst(path, program + '-clean', 'exit 0')
            self.assertEqual((0, '', ''), (r.returncode, calls, r.stderr))
            r, calls = self.run_postinst(path, program + '-old', 'exit 0',
                                         getcap_body='echo "$1 cap_net_bind_service=ep"')
            self.assertEqual((0, '-r /usr/bin/%s\n' % program), (r.returncode, calls), r.stderr)

    def test_desktop_entry_and_metainfo_validate(self):
        root = self.extract(self.window)
        r = run(['desktop-file-validate', os.path.join(root, 'usr/share/applications/nasfinder.desktop')])
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        r = run(['appstreamcli', 'validate', '--no-net',
                 os.path.join(root, 'usr/share/metainfo/nasfinder.metainfo.xml')])
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)

    def test_lintian_reports_no_error(self):
        if not shutil.which('lintian'):
            self.skipTest('lintian is not installed')
        r = run(['lintian', '--tag-display-limit', '0', self.window, self.scan, self.common])
        errors = [line for line in r.stdout.splitlines() if line.startswith('E:')]
        self.assertEqual([], errors, r.stdout)


if __name__ == '__main__':
    unittest.main()
