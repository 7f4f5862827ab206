"""An isolated LAN made of network namespaces, for tests that send broadcasts
and multicasts.

    import lanbed
    with lanbed.Lan(devices=3, client_subnets=1) as lan:
        sim = lan.simulator()
        lan.client_run([...])            # runs inside the client namespace
        sim.wait_for_requests(1, proto='broadcast')

Three namespaces are made per LAN, named after this process and a random
suffix: a bridge namespace holding a Linux bridge, a client namespace (eth0,
and eth1 for a second subnet) and a device namespace whose eth0 carries one
address per simulated device. All interfaces live inside these namespaces and
every address comes from 198.18.0.0/15, so nothing here can reach a real
network. Teardown kills whatever runs in the namespaces and deletes them, on a
normal exit, on an exception, on SIGINT/SIGTERM and at interpreter exit.

Standard library only.
"""

import atexit
import base64
import ipaddress
import json
import os
import random
import re
import shutil
import signal
import string
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
DEVSIM = os.path.join(HERE, 'devsim.py')

# Addresses: 198.18.0.0/15 is reserved for benchmarking and never routed,
# which is why everything the bed configures must stay inside it.
SAFE_NETWORK = ipaddress.ip_network('198.18.0.0/15')
PREFIX = 16
CLIENT_ADDR = '198.18.0.1'
CLIENT_ADDR2 = '198.19.0.1'
# The device namespace's leg in the second client subnet: gives the devices a
# connected route towards 198.19.0.0/16; devices still answer from their own
# 198.18.x.y addresses.
DEVICE_SUBNET2_ADDR = '198.19.0.254'
# Devices use 198.18.1.1 upwards, skipping .0 and .255 in every /24 so that no
# device has an address that looks like a network or broadcast address.
DEVICES_PER_24 = 254
MAX_DEVICES = DEVICES_PER_24 * 255

# Protocol constants of the device side.
SEARCH_CLIENT_PORT = 67
SEARCH_DEVICE_PORT = 68
SSDP_GROUP = '239.143.255.250'
SSDP_PORT = 1900
DEVICE_TYPE = 'urn:schemas-upnp-org:device:HomeNasDevice:1'
PACKET_LEN = 148
CODE_REQUEST = 11
CODE_REPLY = 12

NS_PREFIX = 'nfbed'
_NS_RE = re.compile(r'^' + NS_PREFIX + r'(\d+)-([a-z0-9]{6})-(br|cl|dv|pr|rt)$')


def search_packet():
    """The standard 148-byte broadcast search request (what a client sends)."""
    return bytes([CODE_REQUEST, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF]) + bytes(140)


def msearch_request():
    """An SSDP search for the device type, as a client sends it."""
    return ('M-SEARCH * HTTP/1.1\r\nHOST: %s:%d\r\nST: %s\r\nMAN: "ssdp:discover"\r\nMX: 3\r\n\r\n' %
            (SSDP_GROUP, SSDP_PORT, DEVICE_TYPE)).encode('ascii')


# The first port of the kernel's range for sockets that bind none: a datagram
# from it comes from no search socket of the finder (67, 1530-1690, 1900-1920).
EPHEMERAL_PORTS_START = 32768


def searches_heard(requests, device_addrs):
    """What the client sent, from a simulator's recorded requests
    (DeviceSim.requests(own=False)): 'broadcast' and 'ssdp', the searches sent
    to all devices (the broadcast address, the group); 'one', the searches
    sent from a search socket to one device's own address (a known device
    followed up, or --address); 'nudge', the SSDP searches sent to one device
    from a port of their own, which the finder sends to make the kernel learn
    a device's MAC; 'wake', the wake-up packets."""
    own = set(device_addrs)
    heard = {'broadcast': 0, 'ssdp': 0, 'one': 0, 'nudge': 0, 'wake': 0}
    for request in requests:
        if request['proto'] == 'wake':
            heard['wake'] += 1
        elif request['dst'] not in own:
            heard[request['proto']] += 1
        else:
            heard['one' if request['sport'] < EPHEMERAL_PORTS_START else 'nudge'] += 1
    return heard


def device_addr(index):
    """Address of simulated device `index` (0-based): 198.18.1.1, 198.18.1.2, ..."""
    if not 0 <= index < MAX_DEVICES:
        raise ValueError('device index %r out of range 0..%d' % (index, MAX_DEVICES - 1))
    return '198.18.%d.%d' % (1 + index // DEVICES_PER_24, 1 + index % DEVICES_PER_24)


def check_safe_addr(addr):
    """Refuse any address outside 198.18.0.0/15: the bed must never be
    configured with an address that could belong to a real network."""
    ip = ipaddress.ip_address(addr)
    if ip not in SAFE_NETWORK:
        raise ValueError('address %s is outside %s; the LAN test bed uses no other addresses' %
                         (addr, SAFE_NETWORK))
    return str(ip)


class LanError(RuntimeError):
    """The LAN could not be built or used."""


class LanUnavailable(LanError):
    """Namespaces cannot be made here (no root, no `ip`)."""


class SimError(RuntimeError):
    """The device simulator failed or refused a command."""


class WaitTimeout(AssertionError):
    """A wait with a deadline ran out. An AssertionError, so that a test that
    does not get what it waited for fails rather than errors."""


def copies_for_any_user(*programs):
    """Copies of built programs, side by side in one folder that every user
    can reach (mode 0755 under /var/tmp), for runs as another user: a build
    tree in root's home (mode 0700) is out of that user's reach, and so are a
    program's neighbours there (the broadcast helper beside the scan). No file
    capability is copied. Their paths, in order; the folder goes at exit."""
    folder = tempfile.mkdtemp(prefix='nasfinder-user-', dir='/var/tmp')
    os.chmod(folder, 0o755)
    atexit.register(shutil.rmtree, folder, True)
    copies = []
    for program in programs:
        copy = os.path.join(folder, os.path.basename(program))
        shutil.copyfile(program, copy)
        os.chmod(copy, 0o755)
        copies.append(copy)
    return copies


def wait_until(condition, timeout=10.0, interval=0.01, message='condition'):
    """Polls `condition()` until it returns a true value and returns that
    value; raises WaitTimeout after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise WaitTimeout('timed out after %.1f s waiting for %s' % (timeout, message))
        time.sleep(interval)


# ---------------------------------------------------------------------------
# Availability

def _find_ip():
    found = shutil.which('ip')
    if found:
        return found
    # CTest or sudo may hand us a PATH without the sbin directories.
    for cand in ('/usr/sbin/ip', '/sbin/ip', '/usr/bin/ip', '/bin/ip'):
        if os.access(cand, os.X_OK):
            return cand
    return None


IP = _find_ip()
_available = None


def _caps_effective():
    try:
        with open('/proc/self/status') as f:
            for line in f:
                if line.startswith('CapEff:'):
                    return int(line.split()[1], 16)
    except OSError:
        pass
    return 0


def available(refresh=False):
    """(True, '') when network namespaces can be made here, else (False, reason)."""
    global _available
    if _available is not None and not refresh:
        return _available
    if not sys.platform.startswith('linux'):
        _available = (False, 'LAN test bed unavailable: network namespaces need Linux')
        return _available
    if IP is None:
        _available = (False, "LAN test bed unavailable: the 'ip' command (iproute2) is not installed")
        return _available
    caps = _caps_effective()
    cap_net_admin, cap_sys_admin = 1 << 12, 1 << 21
    if os.geteuid() != 0 and (caps & cap_net_admin == 0 or caps & cap_sys_admin == 0):
        _available = (False, 'LAN test bed unavailable: making network namespaces needs root '
                      '(or CAP_SYS_ADMIN and CAP_NET_ADMIN); running as uid %d' % os.geteuid())
        return _available
    # Rights on paper are not enough in some containers: make one and remove it.
    probe = '%s%d-%s-pr' % (NS_PREFIX, os.getpid(), _suffix())
    r = subprocess.run([IP, 'netns', 'add', probe], capture_output=True, text=True)
    if r.returncode != 0:
        _available = (False, 'LAN test bed unavailable: cannot create a network namespace: %s' %
                      r.stderr.strip())
        return _available
    subprocess.run([IP, 'netns', 'del', probe], capture_output=True)
    _available = (True, '')
    return _available


def skip_unless_available(target=None):
    """Skips LAN tests where the bed cannot run, with the reason.

    - on a TestCase class or test function: used as a decorator;
    - on a TestCase instance (`skip_unless_available(self)` in setUp): raises SkipTest;
    - on a module (`skip_unless_available(sys.modules[__name__])`): every test
      of the module is skipped through its setUpModule;
    - with no argument: raises SkipTest when unavailable.
    """
    ok, reason = available()
    if target is None or isinstance(target, unittest.TestCase):
        if not ok:
            raise unittest.SkipTest(reason)
        return target
    if isinstance(target, type(sys)):
        if not ok:
            def setUpModule():
                raise unittest.SkipTest(reason)
            target.setUpModule = setUpModule
        return target
    return unittest.skipUnless(ok, reason)(target)


# ---------------------------------------------------------------------------
# Teardown bookkeeping shared by all LANs of this process

_registry_lock = threading.RLock()
_live = []
_prev_handlers = {}
_HANDLED_SIGNALS = (signal.SIGINT, signal.SIGTERM)


def _suffix():
    return ''.join(random.SystemRandom().choice(string.ascii_lowercase + string.digits) for _ in range(6))


def close_all():
    """Tears down every LAN this process still has."""
    with _registry_lock:
        lans = list(_live)
    for lan in lans:
        lan.close()


def _on_signal(signum, frame):
    close_all()
    prev = _prev_handlers.get(signum, signal.SIG_DFL)
    _restore_handlers(force=True)
    if callable(prev):
        prev(signum, frame)  # default SIGINT handler raises KeyboardInterrupt
    elif prev == signal.SIG_IGN:
        return
    else:
        signal.signal(signum, signal.SIG_DFL)
        os.kill(os.getpid(), signum)


def _install_handlers():
    if threading.current_thread() is not threading.main_thread():
        return
    for sig in _HANDLED_SIGNALS:
        if sig in _prev_handlers:
            continue
        current = signal.getsignal(sig)
        if current is _on_signal:
            continue
        _prev_handlers[sig] = current
        signal.signal(sig, _on_signal)


def _restore_handlers(force=False):
    if threading.current_thread() is not threading.main_thread():
        return
    with _registry_lock:
        if _live and not force:
            return
        for sig, prev in list(_prev_handlers.items()):
            # Someone may have installed a handler of their own since: keep it.
            if signal.getsignal(sig) is _on_signal:
                signal.signal(sig, prev if prev is not None else signal.SIG_DFL)
            del _prev_handlers[sig]


atexit.register(close_all)


def _ns_pids(ns):
    r = subprocess.run([IP, 'netns', 'pids', ns], capture_output=True, text=True)
    if r.returncode != 0:
        return []
    return [int(p) for p in r.stdout.split() if p.isdigit()]


def _kill_ns_processes(namespaces, grace=2.0, procs=()):
    """SIGTERM everything running in the namespaces, then SIGKILL what is left.
    A namespace only goes away with its last process, so this comes first."""
    me = os.getpid()
    for sig, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, grace)):
        pids = [p for ns in namespaces for p in _ns_pids(ns) if p != me]
        if not pids:
            return
        for pid in pids:
            try:
                os.kill(pid, sig)
            except (ProcessLookupError, PermissionError):
                pass
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline:
            # Our own children are reaped through Popen, which keeps their
            # exit status; zombies are not listed by `ip netns pids`.
            for p in procs:
                p.poll()
            if not [p for ns in namespaces for p in _ns_pids(ns) if p != me]:
                return
            time.sleep(0.02)


def cleanup_stale():
    """Removes LAN namespaces left behind by runs whose process no longer
    exists (a SIGKILL gives no chance to clean up). Namespaces of live
    processes, ours included, are left alone."""
    if IP is None:
        return []
    r = subprocess.run([IP, 'netns', 'list'], capture_output=True, text=True)
    stale = []
    for line in r.stdout.splitlines():
        name = line.split()[0] if line.split() else ''
        m = _NS_RE.match(name)
        if not m:
            continue
        pid = int(m.group(1))
        try:
            os.kill(pid, 0)
            continue  # owner still alive
        except ProcessLookupError:
            stale.append(name)
        except PermissionError:
            continue
    if stale:
        _kill_ns_processes(stale)
        for name in stale:
            subprocess.run([IP, 'netns', 'del', name], capture_output=True)
    return stale


def _find_nft():
    found = shutil.which('nft')
    if found:
        return found
    for cand in ('/usr/sbin/nft', '/sbin/nft'):
        if os.access(cand, os.X_OK):
            return cand
    return None


NFT = _find_nft()


def skip_unless_nft():
    """Raises SkipTest when nftables' `nft` is missing: the firewall and the
    loss of answers on the client are nftables rules in its namespace."""
    if NFT is None:
        raise unittest.SkipTest('nftables (nft) is not installed; tools/deps.sh lists it with the test packages')


def udp_ports_of_service(path):
    """The UDP ports of a firewalld service file, as nftables writes them
    ('67', '1900-1920'), read from its own <port> elements."""
    import xml.etree.ElementTree as ET
    ports = []
    for port in ET.parse(path).getroot().iter('port'):
        if port.get('protocol') == 'udp':
            ports.append(port.get('port'))
    return ports


# ---------------------------------------------------------------------------
# The LAN

class Lan:
    """A client namespace and a device namespace joined by a bridge.

    devices:        number of device addresses (198.18.1.1, 198.18.1.2, ...)
    client_subnets: 1 (eth0 198.18.0.1/16) or 2 (plus eth1 198.19.0.1/16)
    ipv6:           leave IPv6 on in the namespaces (off by default: keeps
                    the link quiet and DAD out of the way)
    handle_signals: install SIGINT/SIGTERM handlers that tear down and then
                    re-raise (off for callers that manage signals themselves)
    """

    def __init__(self, devices=4, client_subnets=1, ipv6=False, handle_signals=True):
        if not isinstance(devices, int) or not 0 <= devices <= MAX_DEVICES:
            raise ValueError('devices must be an integer in 0..%d' % MAX_DEVICES)
        if client_subnets not in (1, 2):
            raise ValueError('client_subnets must be 1 or 2')
        self.devices = devices
        self.client_subnets = client_subnets
        self.ipv6 = ipv6
        self.handle_signals = handle_signals
        base = '%s%d-%s' % (NS_PREFIX, os.getpid(), _suffix())
        self.name = base
        self.bridge_ns = base + '-br'
        self.client_ns = base + '-cl'
        self.device_ns = base + '-dv'
        self.client_addrs = [CLIENT_ADDR] + ([CLIENT_ADDR2] if client_subnets == 2 else [])
        self.device_addrs = [device_addr(i) for i in range(devices)]
        self._created = []
        self._procs = []
        self._sims = []
        self._state = 'new'
        self._lock = threading.RLock()

    # -- lifecycle ---------------------------------------------------------

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    @property
    def running(self):
        return self._state == 'running'

    def start(self):
        with self._lock:
            if self._state != 'new':
                raise LanError('a Lan can be started once')
            ok, reason = available()
            if not ok:
                raise LanUnavailable(reason)
            self._state = 'starting'
            with _registry_lock:
                _live.append(self)
            if self.handle_signals:
                _install_handlers()
        try:
            cleanup_stale()
            self._setup()
            self._state = 'running'
        except BaseException:
            self.close()
            raise
        return self

    def _add_namespaces(self, *names):
        """Makes the namespaces; returns the settings each gets before its
        interfaces exist, which then take them as their defaults."""
        for ns in names:
            self._ip(['netns', 'add', ns])
            self._created.append(ns)
        # New namespaces inherit the host's IPv4 settings; a strict reverse-path
        # filter would drop device replies that reach the second client subnet
        # (or come through a router) from 198.18.x.y, so it is switched off.
        sysctl = ['net/ipv4/conf/all/rp_filter=0', 'net/ipv4/conf/default/rp_filter=0']
        if not self.ipv6:
            sysctl += ['net/ipv6/conf/all/disable_ipv6=1', 'net/ipv6/conf/default/disable_ipv6=1']
        return sysctl

    def _setup(self):
        sysctl = self._add_namespaces(self.bridge_ns, self.client_ns, self.device_ns)
        self._sysctl(self.bridge_ns, sysctl)
        # Two client interfaces share one bridge: without these, either one
        # would answer ARP for the other's address and traffic of one subnet
        # could arrive on the other interface.
        self._sysctl(self.client_ns, sysctl + ['net/ipv4/conf/all/arp_ignore=1',
                                               'net/ipv4/conf/all/arp_announce=2'])
        # Thousands of device replies may leave before the client's MAC is
        # known; the neighbour queue must hold them all rather than drop them.
        self._sysctl(self.device_ns, sysctl + ['net/ipv4/neigh/default/unres_qlen_bytes=16777216'])

        br = ['link set lo up',
              'link add br0 type bridge mcast_snooping 0 stp_state 0',
              'link set br0 up',
              'link add vc0 type veth peer name eth0 netns %s' % self.client_ns,
              'link add vd0 type veth peer name eth0 netns %s' % self.device_ns]
        ports = ['vc0', 'vd0']
        if self.client_subnets == 2:
            br.append('link add vc1 type veth peer name eth1 netns %s' % self.client_ns)
            ports.append('vc1')
        for p in ports:
            br += ['link set %s master br0' % p, 'link set %s up' % p]
        self._batch(self.bridge_ns, br)

        cl = ['link set lo up', 'link set eth0 up',
              'addr add %s/%d dev eth0' % (CLIENT_ADDR, PREFIX)]
        if self.client_subnets == 2:
            cl += ['link set eth1 up', 'addr add %s/%d dev eth1' % (CLIENT_ADDR2, PREFIX)]
        # A real host's default route covers these; without them joining a
        # group on the default interface fails (ENODEV) and a send to
        # 255.255.255.255 from 0.0.0.0 fails (ENETUNREACH).
        cl += ['route add 224.0.0.0/4 dev eth0', 'route add 255.255.255.255/32 dev eth0']
        self._batch(self.client_ns, cl)

        dv = ['link set lo up', 'link set eth0 up']
        dv += ['addr add %s/%d dev eth0' % (a, PREFIX) for a in self.device_addrs]
        if not self.device_addrs:
            dv.append('route add 198.18.0.0/%d dev eth0' % PREFIX)  # still reach the client
        dv += ['addr add %s/%d dev eth0' % (DEVICE_SUBNET2_ADDR, PREFIX),
               'route add 224.0.0.0/4 dev eth0', 'route add 255.255.255.255/32 dev eth0']
        self._batch(self.device_ns, dv)
        self._wait_links(ports)

    def _wait_links(self, ports, timeout=10.0):
        def ready():
            r = self._ip(['-d', '-j', 'link', 'show', 'master', 'br0'], ns=self.bridge_ns)
            try:
                links = json.loads(r.stdout or '[]')
            except ValueError:
                return False
            states = {l.get('ifname'): (l.get('operstate'),
                                        l.get('linkinfo', {}).get('info_slave_data', {}).get('state'))
                      for l in links}
            return all(states.get(p) == ('UP', 'forwarding') for p in ports)
        wait_until(ready, timeout, message='the bridge ports to forward')

    def close(self):
        """Kills everything running in the namespaces and deletes them.
        Safe to call more than once and from a signal handler."""
        blocked = False
        try:
            # A second Ctrl-C must not cut the teardown short: it is held
            # back until the namespaces are gone, then delivered.
            signal.pthread_sigmask(signal.SIG_BLOCK, _HANDLED_SIGNALS)
            blocked = True
        except (AttributeError, OSError, ValueError):
            pass
        try:
            self._close_locked()
        finally:
            if blocked:
                signal.pthread_sigmask(signal.SIG_UNBLOCK, _HANDLED_SIGNALS)

    def _close_locked(self):
        with self._lock:
            if self._state in ('closed', 'closing'):
                return
            self._state = 'closing'
            try:
                for sim in list(self._sims):
                    sim._terminate()
                for p in self._procs:
                    if p.poll() is None:
                        try:
                            p.terminate()
                        except OSError:
                            pass
                if IP is not None and self._created:
                    _kill_ns_processes(self._created, procs=self._procs)
                    for ns in self._created:
                        subprocess.run([IP, 'netns', 'del', ns], capture_output=True)
                for p in self._procs:
                    try:
                        p.wait(timeout=2)
                    except subprocess.TimeoutExpired:
                        p.kill()
                        p.wait()
            finally:
                self._state = 'closed'
                with _registry_lock:
                    if self in _live:
                        _live.remove(self)
                _restore_handlers()

    # -- commands inside the namespaces -------------------------------------

    def _ip(self, args, ns=None, input=None, check=True):
        argv = [IP] + (['-n', ns] if ns else []) + list(args)
        r = subprocess.run(argv, input=input, capture_output=True, text=True)
        if check and r.returncode != 0:
            raise LanError('%s failed (%d): %s' % (' '.join(argv[:6]), r.returncode, r.stderr.strip()))
        return r

    def _batch(self, ns, commands):
        self._ip(['-batch', '-'], ns=ns, input='\n'.join(commands) + '\n')

    def _sysctl(self, ns, settings):
        if not settings:
            return
        # Written through /proc inside the namespace: `sysctl` itself is not
        # on every minimal machine. Keys the kernel lacks are skipped.
        script = ' ; '.join('echo %s > /proc/sys/%s 2>/dev/null' % (v, k)
                            for k, v in (s.split('=', 1) for s in settings))
        subprocess.run([IP, 'netns', 'exec', ns, 'sh', '-c', script], capture_output=True)

    def _require_running(self):
        if self._state not in ('running', 'starting'):
            raise LanError('the LAN is not running (state %s)' % self._state)

    def exec_argv(self, ns, argv):
        """argv prefixed so that it runs inside namespace `ns`."""
        if isinstance(argv, str):
            raise TypeError('argv must be a list of strings, not one string')
        return [IP, 'netns', 'exec', ns] + [os.fspath(a) for a in argv]

    def client_argv(self, argv):
        return self.exec_argv(self.client_ns, argv)

    def device_argv(self, argv):
        return self.exec_argv(self.device_ns, argv)

    def _popen(self, ns, argv, **kw):
        self._require_running()
        p = subprocess.Popen(self.exec_argv(ns, argv), **kw)
        self._procs.append(p)
        return p

    def client_popen(self, argv, **kw):
        """subprocess.Popen of argv inside the client namespace. The process is
        killed at teardown if it still runs."""
        return self._popen(self.client_ns, argv, **kw)

    def client_run(self, argv, **kw):
        """subprocess.run of argv inside the client namespace."""
        self._require_running()
        return subprocess.run(self.client_argv(argv), **kw)

    def set_client_link(self, index, up):
        """Takes the client's interface eth<index> down or up. Up, it returns
        once the bridge forwards on its port again: the bridge enables the port
        only when the kernel's link watch has seen the carrier, which a busy
        machine delays, and drops what the client sends until then."""
        self._require_running()
        self._ip(['link', 'set', 'eth%d' % index, 'up' if up else 'down'], ns=self.client_ns)
        if up:
            self._wait_links(['vc%d' % index])

    def device_popen(self, argv, **kw):
        return self._popen(self.device_ns, argv, **kw)

    def device_run(self, argv, **kw):
        self._require_running()
        return subprocess.run(self.device_argv(argv), **kw)

    def add_client_address(self, addr, prefix=PREFIX, dev='eth0'):
        """Adds an address to a client interface while the LAN runs (as when a
        host gets a new address); it is listed in client_addrs."""
        self._require_running()
        addr = check_safe_addr(addr)
        self._ip(['addr', 'add', '%s/%d' % (addr, prefix), 'dev', dev], ns=self.client_ns)
        self.client_addrs.append(addr)
        return addr

    def remove_client_address(self, addr, prefix=PREFIX, dev='eth0'):
        self._require_running()
        addr = check_safe_addr(addr)
        self._ip(['addr', 'del', '%s/%d' % (addr, prefix), 'dev', dev], ns=self.client_ns)
        if addr in self.client_addrs:
            self.client_addrs.remove(addr)

    def _nft(self, script):
        if NFT is None:
            raise LanError('nftables (nft) is not installed')
        r = subprocess.run(self.client_argv([NFT, '-f', '-']), input=script, capture_output=True, text=True)
        if r.returncode != 0:
            raise LanError('nft failed (%d): %s\n%s' % (r.returncode, r.stderr.strip(), script))

    def client_firewall(self, udp_ports=()):
        """A desktop firewall on the client, as firewalld's default zone and an
        enabled ufw behave: what arrives is dropped unless it is loopback,
        ICMP, IGMP, tied by connection tracking to something the client sent,
        or UDP to one of `udp_ports` (numbers or 'first-last' ranges). Called
        again, it replaces the rules."""
        accept = ('udp dport { %s } accept' % ', '.join(str(p) for p in udp_ports)) if udp_ports else ''
        self._nft('table inet bedfirewall\ndelete table inet bedfirewall\n'
                  'table inet bedfirewall {\n chain input {\n  type filter hook input priority 0; policy drop;\n'
                  '  iif lo accept\n  meta l4proto { icmp, igmp } accept\n'
                  '  ct state established,related accept\n  %s\n }\n}\n' % accept)

    def client_answer_loss(self, percent):
        """Drops `percent` % of the UDP datagrams that reach the client from the
        LAN, each drawn on its own (netem is not in this kernel; nftables'
        random numbers are). 0 removes the loss."""
        if not 0 <= percent <= 100:
            raise ValueError('percent must be in 0..100')
        rule = 'iifname != "lo" meta l4proto udp numgen random mod 100 < %d drop' % percent if percent else ''
        self._nft('table inet bedloss\ndelete table inet bedloss\n'
                  'table inet bedloss {\n chain input {\n  type filter hook input priority -10; policy accept;\n'
                  '  %s\n }\n}\n' % rule)

    def simulator(self, devices=None, vendors=None, hold=False, **options):
        """Starts the device simulator in the device namespace; see DeviceSim."""
        self._require_running()
        sim = DeviceSim(self, devices=devices, vendors=vendors, hold=hold, **options)
        self._sims.append(sim)
        return sim

    def summary(self):
        devs = ('%d devices %s-%s' % (len(self.device_addrs), self.device_addrs[0], self.device_addrs[-1])
                if self.device_addrs else 'no devices')
        return 'client %s (netns %s), %s (netns %s)' % (
            ', '.join(self.client_addrs), self.client_ns, devs, self.device_ns)


# ---------------------------------------------------------------------------
# A routed subnet

ROUTED_PREFIX = 24
ROUTED_CLIENT_ADDR = '198.18.1.1'
ROUTED_CLIENT_LEG = '198.18.1.254'   # the router's address in the client's /24
ROUTED_DEVICE_LEG = '198.18.20.254'  # ... and in the devices' /24
ROUTED_FIRST_DEVICE = 10             # devices are 198.18.20.10 upwards
ROUTED_MAX_DEVICES = 200


def routed_device_addr(index):
    """Address of device `index` (0-based) beyond the router: 198.18.20.10, .11, ..."""
    if not 0 <= index < ROUTED_MAX_DEVICES:
        raise ValueError('routed device index %r out of range 0..%d' % (index, ROUTED_MAX_DEVICES - 1))
    return '198.18.20.%d' % (ROUTED_FIRST_DEVICE + index)


class RoutedLan(Lan):
    """The client and the devices on two /24s, with a router between them, as
    for a device on another floor, another VLAN or beyond a VPN:

     client ns                 router ns (ip_forward=1)                  device ns
     eth0 198.18.1.1/24 ── eth0 198.18.1.254/24   eth1 198.18.20.254/24 ── eth0 198.18.20.10/24, .11, ...

    Unicast crosses the router both ways; the limited broadcast and the SSDP
    group do not (nothing routes multicast). Both ends keep the stand-ins for a
    default route of Lan (224.0.0.0/4 and 255.255.255.255/32 on eth0), so the
    searches leave as on a real host and stay on their own link. Everything
    else of Lan (client_run, simulator, teardown, ...) works the same;
    `router_ns` names the third namespace, and there is no bridge namespace.

    devices: number of device addresses, 198.18.20.10 upwards (1..200)
    """

    def __init__(self, devices=2, ipv6=False, handle_signals=True):
        if not isinstance(devices, int) or not 1 <= devices <= ROUTED_MAX_DEVICES:
            raise ValueError('devices must be an integer in 1..%d' % ROUTED_MAX_DEVICES)
        super().__init__(devices=0, ipv6=ipv6, handle_signals=handle_signals)
        self.devices = devices
        self.bridge_ns = None
        self.router_ns = self.name + '-rt'
        self.client_addrs = [ROUTED_CLIENT_ADDR]
        self.device_addrs = [routed_device_addr(i) for i in range(devices)]

    def _setup(self):
        sysctl = self._add_namespaces(self.router_ns, self.client_ns, self.device_ns)
        self._sysctl(self.router_ns, sysctl + ['net/ipv4/ip_forward=1'])
        self._sysctl(self.client_ns, sysctl)
        self._sysctl(self.device_ns, sysctl + ['net/ipv4/neigh/default/unres_qlen_bytes=16777216'])
        for a in [ROUTED_CLIENT_ADDR, ROUTED_CLIENT_LEG, ROUTED_DEVICE_LEG] + self.device_addrs:
            check_safe_addr(a)

        self._batch(self.router_ns, [
            'link set lo up',
            'link add eth0 type veth peer name eth0 netns %s' % self.client_ns,
            'link add eth1 type veth peer name eth0 netns %s' % self.device_ns,
            'addr add %s/%d dev eth0' % (ROUTED_CLIENT_LEG, ROUTED_PREFIX),
            'addr add %s/%d dev eth1' % (ROUTED_DEVICE_LEG, ROUTED_PREFIX),
            'link set eth0 up', 'link set eth1 up'])
        # Only the bed's own range goes to the router: nothing else has a route.
        self._batch(self.client_ns, [
            'link set lo up', 'link set eth0 up',
            'addr add %s/%d dev eth0' % (ROUTED_CLIENT_ADDR, ROUTED_PREFIX),
            'route add %s via %s' % (SAFE_NETWORK, ROUTED_CLIENT_LEG),
            'route add 224.0.0.0/4 dev eth0', 'route add 255.255.255.255/32 dev eth0'])
        self._batch(self.device_ns, ['link set lo up', 'link set eth0 up'] +
                    ['addr add %s/%d dev eth0' % (a, ROUTED_PREFIX) for a in self.device_addrs] +
                    ['route add %s via %s' % (SAFE_NETWORK, ROUTED_DEVICE_LEG),
                     'route add 224.0.0.0/4 dev eth0', 'route add 255.255.255.255/32 dev eth0'])
        ends = [(self.router_ns, 'eth0'), (self.router_ns, 'eth1'), (self.client_ns, 'eth0'),
                (self.device_ns, 'eth0')]

        def ready():
            for ns, dev in ends:
                r = self._ip(['-j', 'link', 'show', 'dev', dev], ns=ns, check=False)
                try:
                    if json.loads(r.stdout or '[]')[0].get('operstate') != 'UP':
                        return False
                except (ValueError, IndexError):
                    return False
            return True
        wait_until(ready, 10.0, message='the routed links to come up')

    def summary(self):
        return 'client %s (netns %s), router %s|%s (netns %s), %d devices %s-%s (netns %s)' % (
            ROUTED_CLIENT_ADDR, self.client_ns, ROUTED_CLIENT_LEG, ROUTED_DEVICE_LEG, self.router_ns,
            len(self.device_addrs), self.device_addrs[0], self.device_addrs[-1], self.device_ns)


# ---------------------------------------------------------------------------
# The device simulator's client

def _enc(value):
    """JSON-safe form: bytes travel as {"b64": ...}."""
    if isinstance(value, (bytes, bytearray)):
        return {'b64': base64.b64encode(bytes(value)).decode('ascii')}
    if isinstance(value, dict):
        return {k: _enc(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_enc(v) for v in value]
    return value


def _dec(value):
    if isinstance(value, dict):
        if set(value) == {'b64'}:
            return base64.b64decode(value['b64'])
        return {k: _dec(v) for k, v in value.items()}
    if isinstance(value, list):
        return [_dec(v) for v in value]
    return value


class DeviceSim:
    """Controls devsim.py running in the device namespace.

    Device i answers from lan.device_addrs[i]. Its identity (id, host,
    vendor, product) feeds both protocols' default replies; `broadcast` and
    `ssdp` options change or disable each reply (see devsim.py for the keys).
    Requests are dicts: proto ('broadcast' | 'ssdp'), src, sport, dst, data
    (bytes), own (sent by the simulator itself, heard back through multicast
    or broadcast loopback), replies (number of replies sent for it), time.
    """

    def __init__(self, lan, devices=None, vendors=None, hold=False, startup_timeout=20.0, **options):
        self.lan = lan
        n = len(lan.device_addrs) if devices is None else devices
        if not 0 <= n <= len(lan.device_addrs):
            raise ValueError('the LAN has %d device addresses; %r devices asked' % (len(lan.device_addrs), n))
        self._err = tempfile.TemporaryFile()
        self._cv = threading.Condition()
        self._wlock = threading.Lock()
        self._responses = {}
        self._requests = []
        self._ready = None
        self._dead = False
        self._next_id = 0
        self._proc = lan.device_popen([sys.executable, '-u', DEVSIM, '--dev', 'eth0'],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=self._err)
        self._reader = threading.Thread(target=self._read, name='devsim-reader', daemon=True)
        self._reader.start()
        with self._cv:
            self._cv.wait_for(lambda: self._ready is not None or self._dead, startup_timeout)
            ready = self._ready
        if not ready or ready.get('event') != 'ready':
            detail = ready.get('error') if ready else 'no answer within %.0f s' % startup_timeout
            tail = self._stderr_tail()
            self._terminate()
            raise SimError('device simulator did not start: %s%s' % (detail, tail))
        # The device namespace's eth0 MAC: what the client's neighbour table
        # learns for every simulated device, and what wakes a sleeping one.
        self.mac = ready.get('mac')
        local = list(lan.device_addrs) + [DEVICE_SUBNET2_ADDR]
        self._call('setup', local=local)
        self.set_devices(n, vendors=vendors, **options)
        if hold:
            self.hold()

    # -- plumbing ------------------------------------------------------------

    def _read(self):
        try:
            for raw in self._proc.stdout:
                try:
                    msg = json.loads(raw)
                except ValueError:
                    continue
                with self._cv:
                    if 'event' in msg:
                        if msg['event'] == 'request':
                            req = _dec(msg)
                            del req['event']
                            self._requests.append(req)
                        elif msg['event'] in ('ready', 'fatal'):
                            self._ready = msg
                    elif 'id' in msg:
                        self._responses[msg['id']] = msg
                    self._cv.notify_all()
        finally:
            with self._cv:
                self._dead = True
                self._cv.notify_all()

    def _stderr_tail(self, limit=2000):
        try:
            self._err.seek(0)
            text = self._err.read().decode('utf-8', 'replace')
        except (OSError, ValueError):
            return ''
        return ('\n--- simulator stderr ---\n' + text[-limit:]) if text.strip() else ''

    def _call(self, op, timeout=30.0, **args):
        with self._wlock:
            self._next_id += 1
            rid = self._next_id
            line = json.dumps(dict(_enc(args), id=rid, op=op)).encode() + b'\n'
            try:
                self._proc.stdin.write(line)
                self._proc.stdin.flush()
            except (BrokenPipeError, OSError, ValueError):
                pass  # reported below as a dead simulator
        with self._cv:
            self._cv.wait_for(lambda: rid in self._responses or self._dead, timeout)
            resp = self._responses.pop(rid, None)
        if resp is None:
            if self._dead or self._proc.poll() is not None:
                raise SimError('device simulator exited (status %s) during %r%s' %
                               (self._proc.poll(), op, self._stderr_tail()))
            raise SimError('device simulator gave no answer to %r within %.0f s' % (op, timeout))
        if not resp.get('ok'):
            raise SimError('%s: %s' % (op, resp.get('error')))
        return _dec(resp.get('result'))

    def _terminate(self):
        try:
            self._proc.stdin.close()  # the simulator exits at end of input
        except OSError:
            pass
        try:
            self._proc.wait(timeout=2)
        except subprocess.TimeoutExpired:
            self._proc.kill()
            self._proc.wait()
        self._reader.join(timeout=2)
        for f in (self._proc.stdout, self._err):
            try:
                f.close()
            except OSError:
                pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    # -- devices -------------------------------------------------------------

    @property
    def addrs(self):
        return list(self.lan.device_addrs[:self.count])

    def set_devices(self, n=None, vendors=None, **options):
        """Replaces the device list by n devices with default identities;
        vendors cycle through `vendors` (default ["TAVIK"]). `options`
        (id/host/vendor/product are not allowed here; broadcast, ssdp) apply
        to every device."""
        n = len(self.lan.device_addrs) if n is None else n
        if not 0 <= n <= len(self.lan.device_addrs):
            raise ValueError('the LAN has %d device addresses; %r devices asked' % (len(self.lan.device_addrs), n))
        self._call('set_devices', addrs=self.lan.device_addrs[:n],
                   vendors=list(vendors) if vendors else None, options=options)
        self.count = n

    def configure(self, index, reset=False, **options):
        """Changes device `index` (an int, a list of ints, or None for all).
        Options: id, host, vendor, product; broadcast=False/True/{...};
        ssdp=False/True/{...}; sleep=False/True/{asleep, delay, mac}.
        reset=True first restores the defaults."""
        return self._call('configure', index=index, reset=reset, options=options)

    def device(self, index):
        """The current settings of a device."""
        return self._call('device', index=index)

    def reply_packet(self, index):
        """The bytes device `index` sends in answer to a broadcast search (None if disabled)."""
        return self._call('reply', index=index, proto='broadcast')

    def ssdp_reply(self, index):
        """The bytes device `index` sends in answer to an M-SEARCH (None if disabled)."""
        return self._call('reply', index=index, proto='ssdp')

    # -- sending -------------------------------------------------------------

    def send(self, data, dst_ip, dst_port, src_ip=None, src_port=None):
        """Sends one datagram from the device namespace: unicast, broadcast or
        to the group. src_ip picks the source address (a device's), src_port
        the source port (default: an ephemeral one)."""
        if isinstance(data, str):
            data = data.encode('utf-8')
        return self._call('send', data=data, dst=dst_ip, dport=int(dst_port), src=src_ip,
                          sport=None if src_port is None else int(src_port))

    def notify(self, device_index, nts='ssdp:alive', rootdevice=True, count=1, location=None,
               server=None, usn=None, raw=None, headers=None, eol=None, nts_sep=' '):
        """Sends NOTIFY announcements to the group from the device's address
        and port 1900. location/server/usn: None = the device's setting,
        False = leave the header out, text = that value."""
        return self._call('notify', index=device_index, nts=nts, rootdevice=rootdevice, count=count,
                          location=location, server=server, usn=usn, raw=raw, headers=headers,
                          eol=eol, nts_sep=nts_sep)

    def hold(self):
        """From now on, replies are queued instead of sent."""
        self._call('hold')

    def release(self):
        """Sends every queued reply back to back and stops holding.
        Returns {'sent', 'errors', 'seconds'}."""
        return self._call('release', timeout=300)

    def stats(self):
        return self._call('stats')

    # -- requests ------------------------------------------------------------

    @staticmethod
    def _match(req, proto, own, predicate):
        if proto is not None and req['proto'] != proto:
            return False
        if own is not None and bool(req['own']) != own:
            return False
        return predicate is None or predicate(req)

    def requests(self, proto=None, own=None):
        """Every datagram received so far (own=False leaves out the
        simulator's own sends heard back)."""
        self._call('ping')  # every request event written before the answer has been read
        with self._cv:
            return [dict(r) for r in self._requests if self._match(r, proto, own, None)]

    def wait_for_requests(self, what=1, timeout=10.0, proto=None, own=None, count=None):
        """Waits until enough requests have arrived and returns the matching ones.
        `what` is a count, or a predicate on one request (then `count`,
        default 1, matching requests are awaited). Raises WaitTimeout."""
        predicate = what if callable(what) else None
        need = count if count is not None else (1 if predicate else int(what))

        def matching():
            return [r for r in self._requests if self._match(r, proto, own, predicate)]
        with self._cv:
            self._cv.wait_for(lambda: len(matching()) >= need or self._dead, timeout)
            found = [dict(r) for r in matching()]
            seen = list(self._requests)
        if len(found) >= need:
            return found
        if self._dead:
            raise SimError('device simulator exited while waiting for requests%s' % self._stderr_tail())
        lines = ['%s %s:%s -> %s, %d bytes %r' % (r['proto'], r['src'], r['sport'], r.get('dst'),
                                                    len(r['data']), r['data'][:24]) for r in seen[-20:]]
        raise WaitTimeout('timed out after %.1f s waiting for %d request(s)%s%s; %d matched, %d received:\n  %s'
                          % (timeout, need, ' of proto %s' % proto if proto else '',
                             ' matching the predicate' if predicate else '', len(found), len(seen),
                             '\n  '.join(lines) or '(none)'))

    def clear_requests(self):
        upto = self._call('clear')['upto']
        with self._cv:
            self._requests = [r for r in self._requests if r['seq'] > upto]

    def stop(self):
        """Stops the simulator (the LAN stays)."""
        if self._proc.poll() is None and not self._dead:
            try:
                self._call('stop', timeout=5)
            except SimError:
                pass
        self._terminate()
        if self in self.lan._sims:
            self.lan._sims.remove(self)


if __name__ == '__main__':
    ok, why = available()
    print('available' if ok else why)
    sys.exit(0 if ok else 2)
