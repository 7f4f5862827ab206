"""Checks the Debian packages that tools/package.sh left in dist/, without
installing them on this machine: their files, their control fields, what the
programs' maintainer scripts do, and what lintian, desktop-file-validate and
appstreamcli say of them. Then, in a throwaway root, nasfinder-common
installed for real with both answers to its question (may every user run the
broadcast helper, or only the group nasfinder?), reconfigured, upgraded, with
an administrator's own override and without file capabilities. Then whether
firewalld and ufw, as Debian ships them, read the firewall files of a build
from source (`cmake --install`).

    python3 -m unittest -v tests/package/test_package.py   (after tools/package.sh)
"""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DIST = os.path.join(ROOT, 'dist')
HELPER = '/usr/libexec/nasfinder/nasfinder-broadcast'
EXPORTER_UNIT = '/lib/systemd/system/nasfinder-exporter.service'
sys.path.insert(0, os.path.join(ROOT, 'tools', 'testbed'))
import lanbed  # noqa: E402  (the ports of a firewalld service file)


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
                        '/usr/share/doc/nasfinder-scan/copyright', EXPORTER_UNIT],
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
        # One package of fonts for the Chinese, Japanese and Korean captions.
        self.assertIn('fonts-noto-cjk', field(self.window, 'Recommends'))
        scan_depends = field(self.scan, 'Depends')
        self.assertIn('libc6', scan_depends)
        self.assertNotIn('qt6', scan_depends)           # the server package needs no Qt
        # Without setcap at installation the helper's capability is never
        # granted: installing it later grants nothing.
        self.assertIn('libcap2-bin', field(self.common, 'Depends'))
        # The exporter service grants its user node_exporter's folder with setfacl.
        self.assertIn('acl', field(self.scan, 'Depends').replace(',', ' ').split())
        with open(os.path.join(ROOT, 'LICENSE')) as f:
            self.assertEqual('MIT', f.readline().split()[0])

    def run_postinst(self, path, name, setcap_body, statoverride_body='exit 1', getcap_body='exit 0'):
        """Runs the package's postinst with stand-ins for setcap, getcap and
        dpkg-statoverride first on PATH (by default no override is registered
        and no file holds a capability), and for systemd's tools, which must
        not change this machine: what they were asked goes to
        self.systemd_calls."""
        ctrl = os.path.join(self.extract(path), 'DEBIAN', 'postinst')
        bindir = os.path.join(self.tmp, 'bin-' + name)
        os.makedirs(bindir)
        log = os.path.join(self.tmp, 'setcap-' + name + '.log')
        systemd_log = os.path.join(self.tmp, 'systemd-' + name + '.log')
        # As on a first installation: the unit was never installed, and
        # debhelper's own default for a new one is "was enabled".
        systemd_tools = [(tool, 'echo "%s $*" >> %s\ncase " $* " in *" debian-installed "*) exit 1;; esac'
                          % (tool, systemd_log))
                         for tool in ('deb-systemd-helper', 'deb-systemd-invoke', 'systemctl')]
        for tool, body in [('setcap', 'echo "$@" >> %s\n%s' % (log, setcap_body)),
                           ('getcap', getcap_body), ('dpkg-statoverride', statoverride_body)] + systemd_tools:
            with open(os.path.join(bindir, tool), 'w') as f:
                f.write('#!/bin/sh\n%s\n' % body)
            os.chmod(os.path.join(bindir, tool), 0o755)
        env = dict(os.environ, PATH=bindir + ':/usr/bin:/bin')
        r = run(['sh', ctrl, 'configure', '1.0.0'], env=env)
        calls = ''
        if os.path.exists(log):
            with open(log) as f:
                calls = f.read()
        self.systemd_calls = ''
        if os.path.exists(systemd_log):
            with open(systemd_log) as f:
                self.systemd_calls = f.read()
        return r, calls

    def test_the_exporter_service_is_shipped_disabled_and_as_systemd_reads_it(self):
        r, _ = self.run_postinst(self.scan, 'exporter', 'exit 0')
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertIn('nasfinder-exporter.service', self.systemd_calls)
        self.assertNotIn('deb-systemd-helper enable', self.systemd_calls)
        # Nor started where systemd runs (here it does not, so read it).
        with open(os.path.join(self.extract(self.scan), 'DEBIAN', 'postinst')) as f:
            self.assertNotRegex(f.read(), r'deb-systemd-invoke \S*\s*(start|restart)')
        if not shutil.which('systemd-analyze'):
            self.skipTest('systemd-analyze is not installed')
        root = self.extract(self.scan)
        r = run([os.path.join(ROOT, 'tools', 'verify-unit.sh'), root + EXPORTER_UNIT,
                 os.path.join(root, 'usr/bin/nasfinder-scan')])
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)

    def test_the_programs_postinst_grant_nothing(self):
        # The helper alone holds the capability (HelperGroup below); the
        # programs take back what an earlier version granted them.
        for path, program in ((self.window, 'nasfinder'), (self.scan, 'nasfinder-scan')):
            r, calls = self.run_postinst(path, program + '-clean', 'exit 0')
            self.assertEqual((0, '', ''), (r.returncode, calls, r.stderr))
            r, calls = self.run_postinst(path, program + '-old', 'exit 0',
                                         getcap_body='echo "$1 cap_net_bind_service=ep"')
            self.assertEqual((0, '-r /usr/bin/%s\n' % program), (r.returncode, calls), r.stderr)

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
        r = run(['lintian', '--tag-display-limit', '0', self.window, self.scan, self.common])
        errors = [line for line in r.stdout.splitlines() if line.startswith('E:')]
        self.assertEqual([], errors, r.stdout)


# Runs in fresh mount, network and PID namespaces: a throwaway root made of this
# machine's own with the unpacked firewall tools in a layer above it, and every
# write in a layer of memory that goes with the namespace. The packages are
# only unpacked (no maintainer script runs, no service starts), and the empty
# network namespace keeps whatever runs away from the machine's network.
#   sh -c SCRIPT sh WORK DEBS COMMAND DIR...   (DIRs are seen at their own paths)
THROWAWAY_ROOT = r"""
set -e
work=$1 debs=$2 command=$3
shift 3
mount -t tmpfs nasfinder-check "$work"
mkdir "$work/layer" "$work/upper" "$work/scratch" "$work/root"
for deb in "$debs"/*.deb; do [ -e "$deb" ] || continue; dpkg-deb -x "$deb" "$work/layer"; done
# /bin, /sbin and /lib are links into /usr here: a folder of the same name in
# the layer above would hide them.
for top in bin sbin lib lib32 lib64; do
  if [ -d "$work/layer/$top" ] && [ -L "/$top" ]; then
    mkdir -p "$work/layer/usr/$top"
    cp -a "$work/layer/$top/." "$work/layer/usr/$top/"
    rm -rf "${work:?}/layer/$top"
  fi
done
# What the maintainer scripts do on a first installation and the tools need:
# ufw's configuration from its templates, iptables chosen among its variants.
if [ -d "$work/layer/usr/share/ufw" ]; then
  cp "$work/layer/usr/share/ufw/ufw.conf" "$work/layer/usr/share/ufw/iptables/"*.rules "$work/layer/etc/ufw/"
fi
for cmd in iptables ip6tables iptables-restore ip6tables-restore iptables-save ip6tables-save; do
  variant=$(echo "$cmd" | sed 's/tables/tables-nft/')
  if [ ! -e "/usr/sbin/$cmd" ] && [ -e "$work/layer/usr/sbin/$variant" ]; then
    ln -s "$variant" "$work/layer/usr/sbin/$cmd"
  fi
done
mount -t overlay nasfinder-check -o "lowerdir=$work/layer:/,upperdir=$work/upper,workdir=$work/scratch" \
  "$work/root"
mount -t proc proc "$work/root/proc"
mount --rbind /dev "$work/root/dev"
mount -t tmpfs tmp "$work/root/tmp"
mount -t tmpfs run "$work/root/run"
for dir in "$@"; do
  mkdir -p "$work/root$dir"
  mount --bind "$dir" "$work/root$dir"
done
exec chroot "$work/root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 sh -c "$command"
"""


def throwaway_root(tmp, command, *dirs, debs=None):
    """Runs the shell command in a throwaway root (THROWAWAY_ROOT) with an
    empty network namespace; dirs are seen at their own paths."""
    work = tempfile.mkdtemp(dir=tmp)
    if debs is None:
        debs = tempfile.mkdtemp(dir=tmp)
    return run(['unshare', '--mount', '--net', '--pid', '--fork', '--kill-child', 'sh', '-c', THROWAWAY_ROOT,
                'sh', work, debs, command] + list(dirs), timeout=600)


# In the throwaway root: nasfinder-common installed for real, its question
# answered each way, reconfigured and upgraded. Each "== name: ..." line is
# the helper's owner, group and mode, its capability, its override and the
# group; "as nobody" lines are what running it as another user gives (126:
# not allowed; 2: it ran, and said that descriptor 3 is no channel). The
# helper never gets a channel here and binds nothing.
HELPER_GROUP_SCRIPT = r"""
deb=$1
helper=/usr/libexec/nasfinder/nasfinder-broadcast
export DEBIAN_FRONTEND=noninteractive
answer() { echo "nasfinder-common nasfinder-common/only-group-broadcasts boolean $1" | debconf-set-selections; }
state() {
  echo "== $1: $(stat -c '%U:%G %a' $helper 2>/dev/null || echo gone)" \
       "cap=[$(getcap $helper 2>/dev/null | sed 's/^[^ ]* //')]" \
       "override=[$(dpkg-statoverride --list $helper)] group=[$(getent group nasfinder | cut -d: -f1)]"
  # Through a shell of that user's: setpriv itself may still hold root's
  # capabilities when it starts the program, and then nothing is refused.
  setpriv --reuid=65534 --regid=65534 --clear-groups sh -c 'exec "$0" 3</dev/null 2>/dev/null' $helper
  echo "== $1 as nobody: $?"
  setpriv --reuid=65534 --regid=65534 --groups=$(getent group nasfinder | cut -d: -f3) \
    sh -c 'exec "$0" 3</dev/null 2>/dev/null' $helper
  echo "== $1 as nobody in nasfinder: $?"
}
answer false
dpkg -i "$deb" >/dev/null || echo "== install failed"
state "every user"
answer true
dpkg-reconfigure nasfinder-common
state "only the group"
dpkg -i "$deb" >/dev/null
state "upgraded"
answer false
dpkg-reconfigure nasfinder-common
state "every user again"
dpkg-statoverride --update --add root root 0700 $helper
answer true
dpkg-reconfigure nasfinder-common
state "an override of its own"
dpkg-statoverride --remove $helper
mkdir /tmp/standin
printf '#!/bin/sh\necho "Operation not supported" >&2\nexit 1\n' > /tmp/standin/setcap
chmod 755 /tmp/standin/setcap
PATH=/tmp/standin:$PATH dpkg -i "$deb" 2>&1 >/dev/null | sed 's/^/== said: /'
state "no capabilities here"
rm -r /tmp/standin
dpkg --purge nasfinder-common >/dev/null
echo "== purged: override=[$(dpkg-statoverride --list $helper)] group=[$(getent group nasfinder | cut -d: -f1)]"
"""


class HelperGroup(unittest.TestCase):
    """nasfinder-common asks (debconf, priority medium) whether only the
    members of the group nasfinder may run the broadcast helper, which holds
    UDP port 67 for as long as its user likes: then it is root:nasfinder 0750
    with its capability, through a dpkg-statoverride of the package's own."""

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest('the throwaway root needs root (namespaces and mounts)')
        for tool in ('unshare', 'dpkg-deb', 'debconf-set-selections', 'setpriv', 'getcap'):
            if not shutil.which(tool):
                self.skipTest('%s is not installed' % tool)
        self.common = deb('nasfinder-common')
        self.tmp = tempfile.mkdtemp(prefix='nasfinder-helper-group-', dir='/var/tmp')
        self.addCleanup(shutil.rmtree, self.tmp)

    def test_both_answers_reconfiguration_upgrade_and_an_override_of_the_administrators(self):
        scripts = tempfile.mkdtemp(dir=self.tmp)
        script = os.path.join(scripts, 'helper-group.sh')
        with open(script, 'w') as f:
            f.write(HELPER_GROUP_SCRIPT)
        r = throwaway_root(self.tmp, 'sh %s %s' % (script, self.common), DIST, scripts)
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        said = dict(line[3:].split(': ', 1) for line in r.stdout.splitlines()
                    if line.startswith('== ') and ': ' in line)
        self.assertNotIn('install failed', r.stdout, r.stderr)
        every = 'root:root 755 cap=[cap_net_bind_service=ep] override=[] group=[nasfinder]'
        group = ('root:nasfinder 750 cap=[cap_net_bind_service=ep] override=[root nasfinder 750 %s] '
                 'group=[nasfinder]' % HELPER)
        for name, state, nobody in (('every user', every, '2'),
                                    ('only the group', group, '126'),
                                    ('upgraded', group, '126'),
                                    ('every user again', every, '2'),
                                    ('an override of its own',
                                     'root:root 700 cap=[] override=[root root 700 %s] group=[nasfinder]' % HELPER,
                                     '126')):
            self.assertEqual(said.get(name), state, name + '\n' + r.stdout + r.stderr)
            self.assertEqual(said.get(name + ' as nobody'), nobody, name)
            # A member of the group may run it whenever anyone but root may.
            self.assertEqual(said.get(name + ' as nobody in nasfinder'), '126' if '700' in state else '2', name)
        # Where capabilities cannot be granted, the installation says so and
        # goes on.
        self.assertIn('could not grant cap_net_bind_service', r.stdout)
        self.assertEqual(said.get('no capabilities here'),
                         'root:nasfinder 750 cap=[] override=[root nasfinder 750 %s] group=[nasfinder]' % HELPER)
        # Purged: its own override goes with it; the group stays.
        self.assertEqual(said.get('purged'), 'override=[] group=[nasfinder]')


class SourceInstall(unittest.TestCase):
    """`cmake --install` puts the firewalld service and the ufw profile where
    the real firewall-offline-cmd and ufw find them, whatever the prefix."""
    SERVICE = os.path.join(ROOT, 'src', 'firewall', 'nasfinder.xml')

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest('the throwaway root needs root (namespaces and mounts)')
        for tool in ('unshare', 'apt-get', 'dpkg-deb', 'cmake'):
            if not shutil.which(tool):
                self.skipTest('%s is not installed' % tool)
        self.tmp = tempfile.mkdtemp(prefix='nasfinder-source-install-', dir='/var/tmp')
        self.addCleanup(shutil.rmtree, self.tmp)

    def download_firewall_tools(self):
        """The Debian packages of firewalld and ufw and whatever of theirs this
        machine lacks, downloaded into a folder of the test, not installed."""
        debs = os.path.join(self.tmp, 'debs')
        os.makedirs(os.path.join(debs, 'partial'))
        argv = ['apt-get', 'install', '--download-only', '-y', '-q', '--no-install-recommends',
                '-o', 'Dir::Cache::archives=' + debs, 'firewalld', 'ufw']
        env = dict(os.environ, DEBIAN_FRONTEND='noninteractive')
        r = run(argv, env=env)
        if r.returncode != 0:
            # Package lists that are missing or out of date (a fresh machine).
            run(['apt-get', 'update', '-q'], env=env)
            r = run(argv, env=env)
        if r.returncode != 0:
            self.skipTest('cannot download firewalld and ufw to check the firewall files with: %s' %
                          r.stderr.strip()[-500:])
        return debs

    def test_firewalld_and_ufw_read_the_files_of_a_source_install(self):
        debs = self.download_firewall_tools()
        ports = lanbed.udp_ports_of_service(self.SERVICE)
        rows = (('default prefix', [], '/usr/lib/firewalld/services/nasfinder.xml'),
                # firewalld also reads its configuration folder, for a service
                # an administrator adds.
                ('other prefix, service folder chosen',
                 ['-DCMAKE_INSTALL_PREFIX=/opt/nasfinder',
                  '-DNASFINDER_FIREWALLD_SERVICES_DIR=/etc/firewalld/services'],
                 '/etc/firewalld/services/nasfinder.xml'))
        for i, (name, options, service) in enumerate(rows):
            with self.subTest(name):
                build = os.path.join(self.tmp, 'build-%d' % i)
                r = run(['cmake', '-S', ROOT, '-B', build, '-DNASFINDER_BUILD_WINDOW=OFF',
                         '-DNASFINDER_BUILD_BENCH=OFF', '-DNASFINDER_BUILD_TESTS=OFF'] + options)
                self.assertEqual(0, r.returncode, r.stdout + r.stderr)
                work = os.path.join(self.tmp, 'root-%d' % i)
                os.mkdir(work)
                command = ('cmake --install %s --component firewall && '
                           'firewall-offline-cmd --info-service=nasfinder && ufw app info nasfinder' % build)
                r = run(['unshare', '--mount', '--net', '--pid', '--fork', '--kill-child', 'sh', '-c',
                         THROWAWAY_ROOT, 'sh', work, debs, command, ROOT, build], timeout=300)
                self.assertEqual(0, r.returncode, r.stdout + r.stderr)
                # "Up-to-date" where this machine has the same file already.
                for path in (service, '/etc/ufw/applications.d/nasfinder'):
                    self.assertRegex(r.stdout, r'\n-- (Installing|Up-to-date): %s\n' % re.escape(path))
                # firewalld: "  ports: 67/udp 1530-1690/udp ..."; ufw: one "  1530:1690/udp" a line.
                offered = r.stdout.partition('ports:')[2].split('\n', 1)[0].split()
                self.assertEqual(sorted(p + '/udp' for p in ports), sorted(offered), r.stdout)
                for port in ports:
                    self.assertIn('\n  %s/udp\n' % port.replace('-', ':'), r.stdout)


if __name__ == '__main__':
    unittest.main()
