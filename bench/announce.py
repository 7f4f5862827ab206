#!/usr/bin/env python3
"""Announcement storm for bench/soak.py; runs inside the test bed's device
namespace (never elsewhere: it sends to the SSDP group and to the client).

Sends RATE datagrams a second until stopped or SECONDS have passed: NOTIFY
alive and byebye announcements of COUNT devices (each from its own address
and port 1900), mixed with hostile datagrams: damaged announcements, texts with
invalid UTF-8, control characters and direction overrides, oversized and
random datagrams, also to the client's broadcast port 67 and command port 1530.
Prints one JSON line with what it sent when it ends.

    announce.py --client 198.18.0.1 --count 1000 --rate 1000 [--seconds S] [--seed N]
"""
import argparse
import json
import os
import random
import signal
import socket
import struct
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tools', 'testbed'))
import lanbed  # noqa: E402

GROUP = '239.143.255.250'
IP_PKTINFO = getattr(socket, 'IP_PKTINFO', 8)
ACCEPTED = ['TAVIK', 'VORAN5', 'eskal', 'MiRdO', 'TELQUIN']
REFUSED = ['KELDO', 'TAVIK5', '']


def pktinfo(addr):
    return [(socket.IPPROTO_IP, IP_PKTINFO, struct.pack('=i4s4s', 0, socket.inet_aton(addr), bytes(4)))]


def notify(addr, dev_id, nts, server, location=True, root=True, extra=(), eol='\r\n'):
    lines = ['NOTIFY * HTTP/1.1', 'HOST: %s:1900' % GROUP, 'CACHE-CONTROL: max-age=1800']
    if location:
        lines.append('LOCATION: http://%s:5000/desc.xml' % addr)
    lines.append('NT: ' + ('upnp:rootdevice' if root else 'urn:schemas-upnp-org:device:HomeNasDevice:1'))
    lines.append('NTS: ' + nts)
    lines.append('SERVER: ' + server)
    lines.append('USN: uuid:%s::upnp:rootdevice' % dev_id)
    lines += list(extra)
    return (eol.join(lines) + eol + eol).encode('utf-8', 'surrogateescape')


def b(text):
    return text.encode('utf-8', 'surrogateescape') if isinstance(text, str) else text


class Storm:
    def __init__(self, client, count, seed):
        self.client = client
        self.rng = random.Random(seed)
        self.addrs = [lanbed.device_addr(i) for i in range(count)]
        self.sent = {}
        self.errors = 0
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        # The device simulator shares this namespace; it must not hear the storm.
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
        # An ephemeral port: port 1900 here belongs to the simulator, and the
        # client's parser does not look at the source port.
        self.sock.bind(('0.0.0.0', 0))

    def send(self, kind, data, addr, dest):
        try:
            self.sock.sendmsg([data], pktinfo(addr), 0, dest)
            self.sent[kind] = self.sent.get(kind, 0) + 1
        except OSError:
            self.errors += 1

    def hostile_texts(self):
        r = self.rng
        return [
            '\x1b[2J\x1b]0;pwned\x07',
            '"},{"injected":1',
            '\\u0000\\"',
            '\u202eevil\u202c',
            '\u5b58\u50a8\u5668\u4e00\u53f7\u673a\u5668',
            '\udcff\udcfe\udcc0\udcaf',  # lone bytes FF FE C0 AF
            'x' * r.randint(32, 80),
            '\t\r',
        ]

    def one(self):
        r = self.rng
        i = r.randrange(len(self.addrs))
        addr = self.addrs[i]
        dev = 'DEV%d' % i
        roll = r.random()
        if roll < 0.40:
            vendor = r.choice(ACCEPTED) if r.random() < 0.9 else r.choice(REFUSED)
            server = 'VEXA/2.1, UPnP/1.0, %s/nas%d/P%d' % (vendor, i, i % 7)
            return self.send('alive', notify(addr, dev, 'ssdp:alive', server), addr, (GROUP, 1900))
        if roll < 0.75:
            server = 'VEXA/2.1, UPnP/1.0, TAVIK/nas%d/P%d' % (i, i % 7)
            return self.send('byebye', notify(addr, dev, 'ssdp:byebye', server), addr, (GROUP, 1900))
        return self.hostile(i, addr, dev)

    def hostile(self, i, addr, dev):
        r = self.rng
        texts = self.hostile_texts()
        choice = r.randrange(14)
        if choice == 0:
            server = 'VEXA/2.1, UPnP/1.0, TAVIK/' + '/' * 200
            data = notify(addr, dev, 'ssdp:alive', server)
        elif choice == 1:
            data = bytearray(notify(addr, dev, 'ssdp:alive', 'VEXA/2.1, UPnP/1.0, TAVIK/n/p'))
            for _ in range(3):
                data[r.randrange(len(data))] = 0
            data = bytes(data)
        elif choice == 2:
            data = b'NOTIFY * HTTP/1.1\r\nNTS: ssdp:alive\r\nNT: upnp:rootdevice\r\nSERVER: VEXA/1, a, TAVIK/h/p' \
                   b'\r\nUSN: uuid:%s::x\r\nLOCATION:' % dev.encode()
        elif choice == 3:
            data = b'NOTIFY * HTTP/1.1\r\nLOCATION:\r\nSERVER:\r\nUSN:\r\nNTS:\r\nNT: rootdevice VEXA\r\n\r\n'
        elif choice == 4:
            pad = ['X-PADDING: ' + 'p' * r.randint(900, 1800)]
            server = 'VEXA/2.1, UPnP/1.0, TAVIK/nas%d/big' % i
            data = notify(addr, dev, 'ssdp:alive', server, extra=pad)
        elif choice == 5:
            # Random bytes of any length up to 2,000, to any of the client's ports.
            data = bytes(r.getrandbits(8) for _ in range(r.randint(0, 2000)))
            dest = r.choice([(GROUP, 1900), (self.client, 67), (self.client, 1530), (self.client, 1900)])
            return self.send('hostile', data, addr, dest)
        elif choice == 6:
            host, product = r.choice(texts), r.choice(texts)
            server = 'VEXA/%s, UPnP/1.0, %s/%s/%s/%s' % (r.choice(texts), r.choice(ACCEPTED), host, product,
                                                        r.choice(texts))
            data = notify(addr, dev, 'ssdp:alive', server)
        elif choice == 7:
            data = notify(addr, dev, 'ssdp:update', 'VEXA/2.1, UPnP/1.0, TAVIK/nas%d/P' % i)
        elif choice == 8:
            data = notify(addr, dev, 'ssdp:alive', 'VEXA/2.1, UPnP/1.0, TAVIK/nas%d/P' % i, root=False)
        elif choice == 9:
            data = notify(addr, dev, 'ssdp:alive', 'VEXA/2.1, UPnP/1.0, TAVIK/n/p').replace(b'::upnp', b'upnp')
        elif choice == 10:
            data = notify(addr, 'GONE%d' % r.randrange(10 ** 6), 'ssdp:byebye', 'VEXA/2.1, UPnP/1.0, TAVIK/n/p')
        elif choice == 11:
            data = notify(addr, dev, 'ssdp:alive', 'VEXA/2.1, UPnP/1.0, TAVIK/n/p', eol='\n')
        elif choice == 12:
            # A broadcast-protocol reply with a hostile text, straight to the client.
            text = b'id=%s&host=%s&vendor=%s&product=%s' % (
                dev.encode(), b(r.choice(texts))[:40], b(r.choice(ACCEPTED)), b(r.choice(texts))[:40])
            if r.random() < 0.3:
                text = bytes(r.getrandbits(8) for _ in range(128))
            length = 148 if r.random() < 0.8 else r.choice([0, 1, 147, 149, 600, 1500])
            packet = (bytes([12, r.choice([1, 2, 4, 0, 255]), 0, 0]) + b'\xff' * 4 + bytes(12) +
                      text[:128].ljust(128, b'\x00'))
            data = (packet + bytes(r.getrandbits(8) for _ in range(max(0, length - 148))))[:length]
            return self.send('hostile', data, addr, (self.client, 67))
        else:
            # A hostile search reply to the command thread's port.
            server = 'VEXA/2.1, UPnP/1.0, %s/%s/%s' % (r.choice(ACCEPTED), r.choice(texts), r.choice(texts))
            data = ('HTTP/1.1 200 OK\r\nLOCATION: http://%s:5000/d.xml\r\nSERVER: %s\r\nUSN: uuid:%s::x\r\n\r\n'
                    % (addr, server, dev)).encode('utf-8', 'surrogateescape')
            return self.send('hostile', data, addr, (self.client, 1530))
        return self.send('hostile', data, addr, (GROUP, 1900))


def paced(step, rate, seconds, stop):
    """Calls step() `rate` times a second until `stop` is not empty or
    `seconds` have passed (0: no limit); returns (calls, seconds taken)."""
    start = time.monotonic()
    sent = 0
    batch = max(1, int(rate / 100))  # paced in 10 ms steps
    while not stop:
        now = time.monotonic()
        if seconds and now - start >= seconds:
            break
        due = int((now - start) * rate)
        while sent < due and not stop:
            for _ in range(min(batch, due - sent)):
                step()
                sent += 1
        time.sleep(0.005)
    return sent, time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--client', required=True)
    parser.add_argument('--count', type=int, default=1000)
    parser.add_argument('--rate', type=float, default=1000.0)
    parser.add_argument('--seconds', type=float, default=0, help='0: until SIGTERM')
    parser.add_argument('--seed', type=int, default=1)
    args = parser.parse_args()
    lanbed.check_safe_addr(args.client)

    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    storm = Storm(args.client, args.count, args.seed)
    sent, elapsed = paced(storm.one, args.rate, args.seconds, stop)
    print(json.dumps({'sent': storm.sent, 'total': sent, 'errors': storm.errors, 'seconds': elapsed,
                      'rate': sent / elapsed if elapsed else 0}), flush=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
