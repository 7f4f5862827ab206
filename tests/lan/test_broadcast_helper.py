"""The broadcast helper's contract, spoken to as the library speaks to it: one
SOCK_SEQPACKET socket on its descriptor 3, a 16-byte header (kind, version,
port, address, interface, error; host byte order) and the datagram's bytes.
It runs in the client namespace of the test bed, where root may bind port 67.

Run by CTest with NASFINDER_BROADCAST_HELPER naming the built helper."""
import os
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tools', 'testbed'))
import lanbed  # noqa: E402
from probe import GOLDEN_SEARCH  # noqa: E402

lanbed.skip_unless_available(sys.modules[__name__])

HELPER = os.environ.get('NASFINDER_BROADCAST_HELPER', '')
HEADER = struct.Struct('=BBHIIi')
HELLO, DATAGRAM, SEND_FAILED, SEND = 1, 2, 3, 4
EPERM, EACCES = 1, 13


def ip(text):
    return struct.unpack('!I', socket.inet_aton(text))[0]


def reply_packet(text=b'id=H1&host=h1&vendor=TAVIK&product=P'):
    return bytes([12, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF]) + bytes(12) + text.ljust(128, b'\0')


# A DHCP client's DISCOVER as it reaches a server's port 67: BOOTREQUEST, a
# 236-byte fixed part, the magic cookie and the message type option.
DHCP_DISCOVER = (bytes([1, 1, 6, 0]) + b'\x12\x34\x56\x78' + bytes(20) + bytes.fromhex('02aabbccddee') +
                 bytes(10 + 64 + 128) + bytes.fromhex('63825363') + bytes([53, 1, 1, 255])).ljust(300, b'\0')


class Helper:
    """The helper started as the library starts it, with its channel on 3."""

    def __init__(self, lan, prefix=(), program=HELPER):
        self.channel, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        argv = list(prefix) + ['/bin/sh', '-c', 'exec "$0" 3<&"$1"', program, str(theirs.fileno())]
        # What it says to an administrator, read back by the tests.
        self.stderr = tempfile.TemporaryFile()
        self.proc = lan.client_popen(argv, pass_fds=(theirs.fileno(),), stdin=subprocess.DEVNULL,
                                     stderr=self.stderr, env={})
        theirs.close()

    def said(self):
        self.stderr.seek(0)
        return self.stderr.read().decode('utf-8', 'replace')

    def receive(self, timeout=10.0):
        ready, _, _ = select.select([self.channel], [], [], timeout)
        if not ready:
            return None
        message = self.channel.recv(4096)
        if not message:
            return ('closed',)
        kind, version, port, address, ifindex, error = HEADER.unpack(message[:HEADER.size])
        return kind, port, address, ifindex, error, message[HEADER.size:]

    def send(self, payload, address, port=68, ifindex=0, version=1):
        self.channel.send(HEADER.pack(SEND, version, port, address, ifindex, 0) + payload)

    def ended(self, timeout=10.0):
        deadline = time.monotonic() + timeout
        while self.proc.poll() is None and time.monotonic() < deadline:
            time.sleep(0.02)
        return self.proc.poll() is not None


class BroadcastHelperContract(unittest.TestCase):
    def setUp(self):
        if not HELPER or not os.access(HELPER, os.X_OK):
            self.skipTest('NASFINDER_BROADCAST_HELPER does not name the built helper')
        self.lan = lanbed.Lan(devices=1)
        self.lan.start()
        self.addCleanup(self.lan.close)
        self.eth0 = int(self.lan.client_run(['cat', '/sys/class/net/eth0/ifindex'], capture_output=True,
                                            text=True, check=True).stdout)

    def test_sends_only_the_search_and_hands_back_only_replies(self):
        sim = self.lan.simulator()
        helper = Helper(self.lan)
        hello = helper.receive()
        self.assertEqual((hello[0], hello[1], hello[4]), (HELLO, 67, 0), hello)

        client = self.lan.client_addrs[0]
        # 148 bytes that are no search would pass a firewall's rules for DHCP
        # (port 67 to port 68) wherever they went.
        forged = b'A' * 148
        refused = [
            ('wrong size', GOLDEN_SEARCH[:147], ip('255.255.255.255'), 68, self.eth0, 1),
            ('wrong port', GOLDEN_SEARCH, ip('255.255.255.255'), 69, self.eth0, 1),
            ('a group', GOLDEN_SEARCH, ip('224.0.0.1'), 68, 0, 1),
            ('loopback', GOLDEN_SEARCH, ip('127.0.0.1'), 68, 0, 1),
            ('the subnet\'s broadcast', GOLDEN_SEARCH, ip('198.18.255.255'), 68, 0, 1),
            ('the subnet\'s network', GOLDEN_SEARCH, ip('198.18.0.0'), 68, 0, 1),
            ('no broadcast on lo', GOLDEN_SEARCH, ip('255.255.255.255'), 68, 1, 1),
            ('no such interface', GOLDEN_SEARCH, ip('255.255.255.255'), 68, 999, 1),
            ('no search, broadcast', forged, ip('255.255.255.255'), 68, 0, 1),
            ('no search, to a device', forged, ip(lanbed.device_addr(0)), 68, 0, 1),
            ('no search, to a routed host', forged, ip('198.19.60.5'), 68, 0, 1),
            ('no search, to a remote broadcast', forged, ip('198.19.60.255'), 68, 0, 1),
            ('no search, link-local', forged, ip('169.254.1.1'), 68, 0, 1),
            ('version 7', GOLDEN_SEARCH, ip('255.255.255.255'), 68, 0, 7),
        ]
        for name, payload, address, port, ifindex, version in refused:
            helper.send(payload, address, port, ifindex, version)
            answer = helper.receive()
            self.assertEqual((answer[0], answer[4]), (SEND_FAILED, EPERM), name)
        self.assertIn('not a search request (its first byte is not 11)', helper.said())
        self.assertIn('refused a message of version 7', helper.said())
        # Allowed: the broadcast out of eth0 and the unicast to the device.
        helper.send(GOLDEN_SEARCH, ip('255.255.255.255'), 68, self.eth0)
        helper.send(GOLDEN_SEARCH, ip(lanbed.device_addr(0)), 68)
        requests = sim.wait_for_requests(2, proto='broadcast', own=False)
        self.assertEqual({(r['src'], r['sport'], r['data']) for r in requests}, {(client, 67, GOLDEN_SEARCH)})
        self.assertEqual(len(sim.requests(proto='broadcast', own=False)), 2, 'only the allowed sends left')
        self.assertNotIn('off every local subnet', helper.said())
        # A device beyond a router (what --address searches) is searched as
        # before, and an administrator sees each such send: one line each.
        self.lan.client_run(['ip', 'route', 'add', '198.19.60.0/24', 'via', lanbed.device_addr(0)], check=True)
        for _ in range(2):
            helper.send(GOLDEN_SEARCH, ip('198.19.60.5'))
        line = 'nasfinder-broadcast: sending the search to 198.19.60.5:68, an address off every local subnet\n'
        lanbed.wait_until(lambda: helper.said().count(line) == 2, message='two lines on standard error')

        # The device's answers come back with their sender and arrival; a DHCP
        # request that reaches port 67 never does.
        sim.send(DHCP_DISCOVER, client, 67, src_port=68)
        sim.send(reply_packet(), client, 67, src_port=68)
        replies = []
        while True:
            message = helper.receive(timeout=2.0 if len(replies) >= 3 else 10.0)
            if message is None:
                break
            replies.append(message)
        self.assertGreaterEqual(len(replies), 3, replies)
        for kind, port, address, ifindex, error, payload in replies:
            self.assertEqual((kind, address, port, ifindex), (DATAGRAM, ip(lanbed.device_addr(0)), 68, self.eth0))
            self.assertEqual((len(payload), payload[0]), (148, 12))
        self.assertIn(reply_packet(), [r[5] for r in replies])

        # Its parent's end closes: it ends.
        helper.channel.close()
        self.assertTrue(helper.ended(), 'the helper outlived its parent')

    def test_without_the_privilege_it_says_why_and_ends(self):
        setpriv = shutil.which('setpriv')
        if setpriv is None:
            self.skipTest('setpriv (util-linux) is not installed')
        helper = Helper(self.lan, [setpriv, '--reuid=65534', '--regid=65534', '--clear-groups'],
                        lanbed.copies_for_any_user(HELPER)[0])
        hello = helper.receive()
        self.assertEqual((hello[0], hello[4]), (HELLO, EACCES), hello)
        self.assertTrue(helper.ended())
        self.assertEqual(helper.receive(timeout=1.0), ('closed',))


if __name__ == '__main__':
    unittest.main(verbosity=2)
