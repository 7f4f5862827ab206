"""A flood of forged devices at 5,000 addresses of the client's own subnet
that nobody holds, new ones at every address again and again, so that the
list of `nasfinder-scan --watch` changes at every look and is remembered
each time. To learn a device's MAC the scan
sends one unicast datagram (a nudge) to an address the kernel has not
resolved: here it counts, per address, the nudges that leave the client in
one minute (an nftables set with a counter per destination, in the client's
namespace). None may be nudged twice in its minute, and no more than 64 go
out at a look.

Run by CTest with NASFINDER_SCAN naming the built scan."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tools', 'testbed'))
import lanbed  # noqa: E402

lanbed.skip_unless_available(sys.modules[__name__])

SCAN = os.environ.get('NASFINDER_SCAN', '')
FORGED = 5000
NUDGES_AT_ONCE = 64
MINUTE = 60.0

# Runs in the device namespace: NOTIFY alive of forged devices of an accepted
# vendor, `count` a round, each with a LOCATION at 198.18.128.0 + its number
# in the round (no interface holds these) and an identity never used before,
# sent from the device's own address at `rate` a second for `seconds`.
FORGER = r"""
import socket, struct, sys, time
source, count, rate, seconds = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
sock.bind(('0.0.0.0', 0))
info = [(socket.IPPROTO_IP, getattr(socket, 'IP_PKTINFO', 8), struct.pack('=i4s4s', 0, socket.inet_aton(source), bytes(4)))]
def forged(i, identity):
    address = '198.18.%d.%d' % (128 + i // 250, 1 + i % 250)
    return ('NOTIFY * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\n'
            'LOCATION: http://%s:5000/desc.xml\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\n'
            'SERVER: VEXA/2.1, UPnP/1.0, TAVIK/forged%d/P\r\nUSN: uuid:FORGED%d::upnp:rootdevice\r\n\r\n'
            % (address, identity, identity)).encode()
start = time.monotonic()
sent = 0
while time.monotonic() - start < seconds:
    wait = start + sent / rate - time.monotonic()
    if wait > 0:
        time.sleep(wait)
    sock.sendmsg([forged(sent % count, sent)], info, 0, ('239.143.255.250', 1900))
    sent += 1
"""


class NudgeFlood(unittest.TestCase):
    def setUp(self):
        if not SCAN or not os.access(SCAN, os.X_OK):
            self.skipTest('NASFINDER_SCAN does not name the built nasfinder-scan')
        lanbed.skip_unless_nft()
        self.lan = lanbed.Lan(devices=1)
        self.lan.start()
        self.addCleanup(self.lan.close)
        self.state = tempfile.mkdtemp(prefix='nudge-flood-state-')
        self.addCleanup(shutil.rmtree, self.state, True)

    def nft(self, *args):
        return self.lan.client_run(['nft'] + list(args), capture_output=True, text=True, check=True).stdout

    def nudges(self):
        """The nudges that left the client so far, by address."""
        listed = json.loads(self.nft('-j', 'list', 'set', 'ip', 'nudges', 'sent'))
        counts = {}
        for item in listed['nftables']:
            for elem in item.get('set', {}).get('elem', []):
                counts[elem['elem']['val']] = elem['elem']['counter']['packets']
        return counts

    def test_each_forged_address_is_nudged_at_most_once_a_minute(self):
        # Unicast SSDP searches to the forged addresses from a port of their
        # own: nothing else sends there so (the searches go to the group, no
        # --address is given, and the known devices that do not answer are
        # searched at their addresses from the search's own port 1900).
        self.nft('add', 'table', 'ip', 'nudges')
        self.nft('add', 'set', 'ip', 'nudges', 'sent',
                 '{ type ipv4_addr; flags dynamic; counter; size 65535; }')
        self.nft('add', 'chain', 'ip', 'nudges', 'out', '{ type filter hook output priority 0; }')
        self.nft('add', 'rule', 'ip', 'nudges', 'out', 'ip', 'daddr', '198.18.128.0/17', 'udp', 'dport', '1900',
                 'udp', 'sport', '>=', str(lanbed.EPHEMERAL_PORTS_START), 'update', '@sent', '{ ip daddr }')

        env = dict(os.environ, XDG_STATE_HOME=self.state)
        scan = self.lan.client_popen([SCAN, '--watch', '--json'], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE, env=env)
        self.addCleanup(lambda: scan.poll() is None and scan.kill())
        forger = self.lan.device_popen([sys.executable, '-c', FORGER, self.lan.device_addrs[0], str(FORGED),
                                        '500', str(MINUTE + 10)])
        self.addCleanup(lambda: forger.poll() is None and forger.kill())
        lanbed.wait_until(lambda: self.nudges(), timeout=30, message='the first nudges')
        start = time.monotonic()
        # Just short of a minute after the first nudges: an address nudged
        # twice in that time was nudged again within its minute.
        time.sleep(MINUTE - 2)
        counts = self.nudges()
        looked = time.monotonic() - start
        scan.send_signal(2)
        self.assertEqual(scan.wait(timeout=30), 0)
        err = scan.stderr.read().decode('utf-8', 'replace')
        scan.stderr.close()
        forger.kill()
        forger.wait()

        again = {address: n for address, n in counts.items() if n > 1}
        self.assertEqual(again, {}, 'nudged again within their minute')
        total = sum(counts.values())
        # The watch looks once a second at most, and sends at most 64 a look.
        self.assertLessEqual(total, NUDGES_AT_ONCE * (int(looked) + 3), err[-2000:])
        # Several looks nudged: the flood was remembered (how many depends on
        # how busy the machine is, as remembering waits for the store).
        self.assertGreater(total, 3 * NUDGES_AT_ONCE, err[-2000:])
        print('nudges in %.0f s: %d to %d addresses' % (looked, total, len(counts)), file=sys.stderr)


if __name__ == '__main__':
    unittest.main(verbosity=2)
