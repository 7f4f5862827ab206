"""Checks the Debian packages that tools/package.sh left in dist/, without
installing them on this machine: their files, their control fields, what the
maintainer script does when setcap works and when it does not, and what
lintian, desktop-file-validate and appstreamcli say of them.

    python3 -m unittest -v tests/package/test_package.py   (after tools/package.sh)
"""

import glob
import os
import re
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DIST = os.path.join(ROOT, 'dist')


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, **kw)


def deb(name):
    found = sorted(glob.glob(os.path.join(DIST, '%s_*.deb' % name)))
    if not found:
        raise unittest.SkipTest('no %s package in dist/: run tools/package.sh first' % name)
    return found[-1]


def field(path, name):
    return run(['dpkg-deb', '-f', path, name]).stdout.strip()


def window_locales():
    """The locales of the window's language files other than English, as
    desktop entries name them."""
    names = os.listdir(os.path.join(ROOT, 'src', 'window', 'resources'))
    codes = [m.group(1) for m in map(re.compile(r'^XML_(\w+)\.xml$').match, names) if m]
    return sorted({'ch': 'zh_CN', 'tl': 'zh_TW'}.get(c, c) for c in codes if c != 'en')


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
            # The firewall's openings serve both programs: one package owns them.
            self.common: ['/usr/lib/firewalld/services/nasfinder.xml', '/etc/ufw/applications.d/nasfinder'],
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
        # One package of fonts for the Chinese, Japanese and Korean captions.
        self.assertIn('fonts-noto-cjk', field(self.window, 'Recommends'))
        scan_depends = field(self.scan, 'Depends')
        self.assertIn('libc6', scan_depends)
        self.assertNotIn('qt6', scan_depends)           # the server package needs no Qt
        # Without setcap at installation the capability is never granted:
        # installing it later grants nothing.
        for deps in (depends, scan_depends):
            self.assertIn('libcap2-bin', deps)
        with open(os.path.join(ROOT, 'LICENSE')) as f:
            self.assertEqual('MIT', f.readline().split()[0])

    def run_postinst(self, path, program, setcap_body, statoverride_body='exit 1'):
        """Runs the package's postinst with a stand-in setcap and dpkg-statoverride
        first on PATH (by default no override is registered)."""
        ctrl = os.path.join(self.extract(path), 'DEBIAN', 'postinst')
        bindir = os.path.join(self.tmp, 'bin-' + program)
        os.makedirs(bindir)
        log = os.path.join(self.tmp, 'setcap-' + program + '.log')
        for name, body in (('setcap', 'echo "$@" >> %s\n%s' % (log, setcap_body)),
                           ('dpkg-statoverride', statoverride_body)):
            with open(os.path.join(bindir, name), 'w') as f:
                f.write('#!/bin/sh\n%s\n' % body)
            os.chmod(os.path.join(bindir, name), 0o755)
        env = dict(os.environ, PATH=bindir + ':/usr/bin:/bin')
        r = run(['sh', ctrl, 'configure', ''], env=env)
        calls = ''
        if os.path.exists(log):
            with open(log) as f:
                calls = f.read()
        return r, calls

    def test_postinst_grants_the_capability_or_says_how_to_run(self):
        for path, program in ((self.window, 'nasfinder'), (self.scan, 'nasfinder-scan')):
            r, calls = self.run_postinst(path, program + '-ok', 'exit 0')
            self.assertEqual(0, r.returncode, r.stderr)
            self.assertEqual('cap_net_bind_service=+ep /usr/bin/%s\n' % program, calls)
            self.assertEqual('', r.stderr)
            r, calls = self.run_postinst(path, program + '-refused', 'echo "Operation not supported" >&2; exit 1')
            self.assertEqual(0, r.returncode, 'a refused setcap must not fail the installation')
            self.assertIn('cannot bind UDP port 67', r.stderr)
            self.assertIn('SSDP', r.stderr)
            # An administrator's statoverride for the program: the capability is
            # not granted again on upgrade.
            listing = 'root root 0755 /usr/bin/%s' % program
            r, calls = self.run_postinst(path, program + '-override', 'exit 0',
                                         '[ "$1 $2" = "--list /usr/bin/%s" ] && echo "%s"' % (program, listing))
            self.assertEqual((0, ''), (r.returncode, calls), r.stderr)

    def test_desktop_entry_and_metainfo_validate(self):
        root = self.extract(self.window)
        desktop = os.path.join(root, 'usr/share/applications/nasfinder.desktop')
        metainfo = os.path.join(root, 'usr/share/metainfo/nasfinder.metainfo.xml')
        r = run(['desktop-file-validate', desktop])
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        r = run(['appstreamcli', 'validate', '--no-net', metainfo])
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        # Every language the window speaks names and describes it in menus
        # and software centres too.
        with open(desktop, encoding='utf-8') as f:
            entry = f.read()
        with open(metainfo, encoding='utf-8') as f:
            summaries = f.read()
        for locale in window_locales():
            for key in ('GenericName', 'Comment'):
                self.assertIn('\n%s[%s]=' % (key, locale), entry)
            self.assertIn('<summary xml:lang="%s">' % locale, summaries)

    def test_lintian_reports_no_error(self):
        if not shutil.which('lintian'):
            self.skipTest('lintian is not installed')
        r = run(['lintian', '--tag-display-limit', '0', self.window, self.scan])
        errors = [line for line in r.stdout.splitlines() if line.startswith('E:')]
        self.assertEqual([], errors, r.stdout)


if __name__ == '__main__':
    unittest.main()
