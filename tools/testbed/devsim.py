#!/usr/bin/env python3
"""Simulated storage devices: the device side of the broadcast search and of
SSDP, for any number of devices, each answering from its own address.

Runs inside the device namespace of the LAN test bed (lanbed.py starts it)
and is driven over stdin/stdout with one JSON object per line:

    request   {"id": 7, "op": "configure", "index": 2, "options": {...}}
    response  {"id": 7, "ok": true, "result": ...} | {"id": 7, "ok": false, "error": "..."}
    event     {"event": "request", "seq": 3, "proto": "ssdp", "src": ..., ...}

Bytes travel as {"b64": "..."}. The simulator exits at end of input.

This is an implementation of the device side written on its own: it shares
nothing with the discovery library, so that a misreading of the protocol in
one of them shows up as a failing test instead of cancelling out.

Standard library only.
"""

import argparse
import base64
import copy
import ipaddress
import errno
import json
import os
import random
import socket
import struct
import sys
import threading
import time

SEARCH_DEVICE_PORT = 68
SSDP_GROUP = '239.143.255.250'
SSDP_PORT = 1900
WAKE_PORT = 9
MAGIC_LEN = 102
DEVICE_TYPE = 'urn:schemas-upnp-org:device:HomeNasDevice:1'
PACKET_LEN = 148
TEXT_OFFSET = 20
TEXT_LEN = 128
CODE_REQUEST = 11
CODE_REPLY = 12

# Python 3.11 does not export these Linux constants.
IP_PKTINFO = getattr(socket, 'IP_PKTINFO', None) or 8
SO_TIMESTAMPNS = getattr(socket, 'SO_TIMESTAMPNS', None) or 35
SO_RCVBUFFORCE = getattr(socket, 'SO_RCVBUFFORCE', None) or 33
SO_SNDBUFFORCE = getattr(socket, 'SO_SNDBUFFORCE', None) or 32
# Thousands of searches or replies may arrive or leave in one burst; the
# default buffers hold only a few hundred datagrams.
SOCKET_BUFFER = 4 << 20

IDENTITY_KEYS = ('id', 'host', 'vendor', 'product')

# A device asleep answers nothing until a magic packet with its MAC reaches
# port 9; it answers again `delay` seconds later. `mac` None: the device
# namespace's own interface MAC, which every simulated device shares.
SLEEP_DEFAULTS = {'asleep': False, 'delay': 0.0, 'mac': None}

BROADCAST_DEFAULTS = {
    'enabled': True,
    'fields': {},       # extra or changed keys of the text area; a value None removes the key
    'text': None,       # the whole text area (str or bytes) instead of the fields
    'code': CODE_REPLY,
    'type': 1,
    'raw': None,        # the whole datagram, any length
    'to': 'unicast',    # or 'broadcast': to 255.255.255.255
    'port': None,       # destination port; default the requester's
    'repeat': 1,        # copies sent per search
    'subnet': None,     # answer only searchers in this network ('198.19.0.0/16'): a device of that LAN only
    'loss': 0.0,        # share of searches this device does not hear (0 to 1), each drawn on its own
    'all_loss': 0.0,    # besides, share of the searches sent to all devices that it does not hear
}

SSDP_DEFAULTS = {
    'enabled': True,
    'status': 'HTTP/1.1 200 OK',
    'location': None,   # None: default; False: header left out; text: the value
    'server': None,
    'usn': None,
    'st': DEVICE_TYPE,
    'standard': True,   # CACHE-CONTROL and EXT headers
    'headers': [],      # further header lines, as written
    'eol': '\r\n',
    'raw': None,        # the whole reply (str or bytes)
    'repeat': 1,
    'subnet': None,     # as for the broadcast search
    'loss': 0.0,        # as for the broadcast search
    'all_loss': 0.0,    # as for the broadcast search
}


class ConfigError(ValueError):
    pass


# ---------------------------------------------------------------------------
# Message builders (pure: settings in, bytes out)

def to_bytes(value):
    if isinstance(value, (bytes, bytearray)):
        return bytes(value)
    if isinstance(value, str):
        return value.encode('utf-8')
    raise ConfigError('expected text or bytes, got %r' % (value,))


def default_identity(index, vendor):
    return {'id': 'DEV%d' % index, 'host': 'nas%d' % index, 'vendor': vendor, 'product': 'P%d' % index}


def broadcast_text(identity, opts):
    """The text area: key=value pairs joined by '&' (identity keys first)."""
    if opts['text'] is not None:
        return to_bytes(opts['text'])
    pairs = {k: identity.get(k) for k in IDENTITY_KEYS}
    pairs.update(opts['fields'])
    return '&'.join('%s=%s' % (k, v) for k, v in pairs.items() if v is not None).encode('utf-8')


def build_broadcast_reply(identity, opts):
    """The 148-byte reply packet; a text longer than the 128-byte area is cut
    and then carries no terminating NUL."""
    if not opts['enabled']:
        return None
    if opts['raw'] is not None:
        return to_bytes(opts['raw'])
    text = broadcast_text(identity, opts)[:TEXT_LEN]
    head = bytes([opts['code'] & 0xFF, opts['type'] & 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF]) + bytes(12)
    return head + text + bytes(TEXT_LEN - len(text))


def _header_value(setting, default):
    if setting is None:
        return default
    if setting is False:
        return None
    return str(setting)


def ssdp_values(addr, identity, opts):
    """LOCATION, SERVER and USN values of a device (None: header left out)."""
    ident = {k: ('' if identity.get(k) is None else identity[k]) for k in IDENTITY_KEYS}
    location = _header_value(opts['location'], 'http://%s:5000/desc.xml' % addr)
    server = _header_value(opts['server'], 'VEXA/2.1, UPnP/1.0, %s/%s/%s' %
                           (ident['vendor'], ident['host'], ident['product']))
    usn = _header_value(opts['usn'], 'uuid:%s::%s' % (ident['id'], DEVICE_TYPE))
    return location, server, usn


def build_ssdp_reply(addr, identity, opts):
    if not opts['enabled']:
        return None
    if opts['raw'] is not None:
        return to_bytes(opts['raw'])
    location, server, usn = ssdp_values(addr, identity, opts)
    lines = [opts['status']]
    if opts['standard']:
        lines += ['CACHE-CONTROL: max-age=1800', 'EXT:']
    if location is not None:
        lines.append('LOCATION: ' + location)
    if server is not None:
        lines.append('SERVER: ' + server)
    if opts['st'] is not None and opts['st'] is not False:
        lines.append('ST: ' + str(opts['st']))
    if usn is not None:
        lines.append('USN: ' + usn)
    lines += [str(h) for h in opts['headers']]
    eol = opts['eol']
    return (eol.join(lines) + eol + eol).encode('utf-8')


def build_notify(addr, identity, opts, nts='ssdp:alive', rootdevice=True, location=None, server=None,
                 usn=None, headers=None, eol=None, nts_sep=' ', raw=None):
    """A NOTIFY announcement. location/server/usn: None takes the device's
    setting, False leaves the header out, text is used as it stands."""
    if raw is not None:
        return to_bytes(raw)
    dev_location, dev_server, dev_usn = ssdp_values(addr, identity, opts)
    location = dev_location if location is None else _header_value(location, None)
    server = dev_server if server is None else _header_value(server, None)
    usn = dev_usn if usn is None else _header_value(usn, None)
    lines = ['NOTIFY * HTTP/1.1', 'HOST: %s:%d' % (SSDP_GROUP, SSDP_PORT), 'CACHE-CONTROL: max-age=1800']
    if location is not None:
        lines.append('LOCATION: ' + location)
    lines.append('NT: ' + ('upnp:rootdevice' if rootdevice else DEVICE_TYPE))
    lines.append('NTS:' + str(nts_sep) + str(nts))
    if server is not None:
        lines.append('SERVER: ' + server)
    if usn is not None:
        lines.append('USN: ' + usn)
    lines += [str(h) for h in (headers or [])]
    eol = eol if eol is not None else opts['eol']
    return (eol.join(lines) + eol + eol).encode('utf-8')


def is_search_request(data):
    return len(data) == PACKET_LEN and data[0] == CODE_REQUEST


def is_msearch(data):
    return data.startswith(b'M-SEARCH')


# ---------------------------------------------------------------------------
# Settings

def _check_int(name, value, lo, hi):
    if isinstance(value, bool) or not isinstance(value, int) or not lo <= value <= hi:
        raise ConfigError('%s must be an integer in %d..%d, not %r' % (name, lo, hi, value))


def _check_text(name, value, allow_bytes=False, allow_false=False):
    ok = value is None or isinstance(value, str) or (allow_bytes and isinstance(value, (bytes, bytearray)))
    if not ok and not (allow_false and value is False):
        raise ConfigError('%s must be text%s, not %r' % (name, ' or bytes' if allow_bytes else '', value))


def _check_subnet(name, value):
    if value is None:
        return None
    try:
        return str(ipaddress.ip_network(value))
    except (TypeError, ValueError):
        raise ConfigError('%s must be a network such as 198.19.0.0/16, not %r' % (name, value))


def _check_loss(name, value):
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not 0 <= value <= 1:
        raise ConfigError('%s must be a share from 0 to 1, not %r' % (name, value))
    return float(value)


def missed(opts, to_all):
    """Whether the device loses this search: each device draws on its own, as
    a device on a lossy link misses a datagram that its neighbours get. A
    search sent to all devices (the broadcast address, the group) may also be
    lost to `all_loss`: on Wi-Fi such a frame goes out once at the lowest
    rate, while one sent to the device's own address is acknowledged and
    retried."""
    if opts['loss'] > 0 and random.random() < opts['loss']:
        return True
    return to_all and opts['all_loss'] > 0 and random.random() < opts['all_loss']


def in_subnet(addr, subnet):
    return subnet is None or ipaddress.ip_address(addr) in ipaddress.ip_network(subnet)


def sent_to_all(dst):
    """Whether a search went to every device: the group, or a broadcast
    address (the limited one, or a subnet's, whose host part is all ones
    in the bed's subnets). None: the kernel did not say."""
    if dst is None or dst == '255.255.255.255' or ipaddress.ip_address(dst).is_multicast:
        return True
    return dst.endswith('.255')


def merge_broadcast(current, update):
    """Returns new broadcast settings; True/False switch the reply on or off."""
    new = copy.deepcopy(current)
    if isinstance(update, bool):
        new['enabled'] = update
        return new
    if not isinstance(update, dict):
        raise ConfigError('broadcast settings must be a dict or a bool, not %r' % (update,))
    for key, value in update.items():
        if key not in BROADCAST_DEFAULTS:
            raise ConfigError('unknown broadcast option %r (known: %s)' % (key, ', '.join(BROADCAST_DEFAULTS)))
        if key == 'enabled' and not isinstance(value, bool):
            raise ConfigError('broadcast enabled must be true or false')
        if key in ('code', 'type'):
            _check_int('broadcast ' + key, value, 0, 255)
        if key == 'repeat':
            _check_int('broadcast repeat', value, 0, 1000)
        if key == 'port' and value is not None:
            _check_int('broadcast port', value, 1, 65535)
        if key == 'subnet':
            value = _check_subnet('broadcast subnet', value)
        if key in ('loss', 'all_loss'):
            value = _check_loss('broadcast ' + key, value)
        if key == 'to' and value not in ('unicast', 'broadcast'):
            raise ConfigError("broadcast 'to' must be 'unicast' or 'broadcast', not %r" % (value,))
        if key in ('text', 'raw'):
            _check_text('broadcast ' + key, value, allow_bytes=True)
        if key == 'fields':
            if not isinstance(value, dict):
                raise ConfigError('broadcast fields must be a dict')
            fields = dict(new['fields'])
            for k, v in value.items():
                fields[str(k)] = None if v is None else str(v)
            value = fields
        new[key] = value
    return new


def merge_ssdp(current, update):
    new = copy.deepcopy(current)
    if isinstance(update, bool):
        new['enabled'] = update
        return new
    if not isinstance(update, dict):
        raise ConfigError('ssdp settings must be a dict or a bool, not %r' % (update,))
    for key, value in update.items():
        if key not in SSDP_DEFAULTS:
            raise ConfigError('unknown ssdp option %r (known: %s)' % (key, ', '.join(SSDP_DEFAULTS)))
        if key in ('enabled', 'standard') and not isinstance(value, bool):
            raise ConfigError('ssdp %s must be true or false' % key)
        if key in ('location', 'server', 'usn', 'st'):
            _check_text('ssdp ' + key, value, allow_false=True)
        if key in ('status', 'eol'):
            if not isinstance(value, str):
                raise ConfigError('ssdp %s must be text' % key)
        if key == 'raw':
            _check_text('ssdp raw', value, allow_bytes=True)
        if key == 'repeat':
            _check_int('ssdp repeat', value, 0, 1000)
        if key == 'subnet':
            value = _check_subnet('ssdp subnet', value)
        if key in ('loss', 'all_loss'):
            value = _check_loss('ssdp ' + key, value)
        if key == 'headers':
            if not isinstance(value, (list, tuple)) or not all(isinstance(h, str) for h in value):
                raise ConfigError('ssdp headers must be a list of header lines')
            value = list(value)
        new[key] = value
    return new


def parse_mac(text):
    parts = text.split(':') if isinstance(text, str) else []
    if len(parts) != 6 or not all(len(p) == 2 for p in parts):
        raise ConfigError('sleep mac must be six hex pairs joined by ":", not %r' % (text,))
    try:
        return bytes(int(p, 16) for p in parts)
    except ValueError:
        raise ConfigError('sleep mac must be six hex pairs joined by ":", not %r' % (text,))


def merge_sleep(current, update):
    if isinstance(update, bool):
        update = {'asleep': update}
    if not isinstance(update, dict):
        raise ConfigError('sleep must be True/False or a dict of options')
    new = dict(current)
    for key, value in update.items():
        if key not in SLEEP_DEFAULTS:
            raise ConfigError('unknown sleep option %r (known: %s)' % (key, ', '.join(SLEEP_DEFAULTS)))
        if key == 'asleep' and not isinstance(value, bool):
            raise ConfigError('sleep asleep must be True or False')
        if key == 'delay' and (isinstance(value, bool) or not isinstance(value, (int, float)) or
                               not 0 <= value <= 600):
            raise ConfigError('sleep delay must be 0 to 600 seconds')
        if key == 'mac' and value is not None:
            parse_mac(value)
            value = value.lower()
        new[key] = value
    return new


def magic_mac(data):
    """The MAC a Wake-on-LAN packet names, or None."""
    if len(data) < MAGIC_LEN or data[:6] != b'\xff' * 6:
        return None
    mac = data[6:12]
    return mac if data[6:MAGIC_LEN] == mac * 16 else None


def pktinfo(addr):
    """Ancillary data that makes one socket send from any local address."""
    info = struct.pack('=i4s4s', 0, socket.inet_aton(addr), bytes(4))
    return [(socket.IPPROTO_IP, IP_PKTINFO, info)]


class Device:
    def __init__(self, index, addr, vendor):
        self.index = index
        self.addr = addr
        self.identity = default_identity(index, vendor)
        self.broadcast = copy.deepcopy(BROADCAST_DEFAULTS)
        self.ssdp = copy.deepcopy(SSDP_DEFAULTS)
        self.sleep = dict(SLEEP_DEFAULTS)
        self.cmsg = pktinfo(addr)
        self._cache = {}

    def apply(self, options):
        """Validates every option first, so a refused change leaves the device as it was."""
        identity, broadcast, ssdp, sleep = dict(self.identity), self.broadcast, self.ssdp, self.sleep
        for key, value in options.items():
            if key in IDENTITY_KEYS:
                identity[key] = None if value is None else str(value)
            elif key == 'sleep':
                sleep = merge_sleep(sleep, value)
            elif key == 'broadcast':
                broadcast = merge_broadcast(broadcast, value)
            elif key == 'ssdp':
                ssdp = merge_ssdp(ssdp, value)
            else:
                raise ConfigError('unknown device option %r (known: %s, broadcast, ssdp, sleep)' %
                                  (key, ', '.join(IDENTITY_KEYS)))
        self.identity, self.broadcast, self.ssdp, self.sleep = identity, broadcast, ssdp, sleep
        self._cache = {}

    def broadcast_reply(self):
        if 'b' not in self._cache:
            self._cache['b'] = build_broadcast_reply(self.identity, self.broadcast)
        return self._cache['b']

    def ssdp_reply(self):
        if 's' not in self._cache:
            self._cache['s'] = build_ssdp_reply(self.addr, self.identity, self.ssdp)
        return self._cache['s']

    def describe(self):
        return {'index': self.index, 'addr': self.addr, 'identity': dict(self.identity),
                'broadcast': copy.deepcopy(self.broadcast), 'ssdp': copy.deepcopy(self.ssdp),
                'sleep': dict(self.sleep)}


# ---------------------------------------------------------------------------
# The running simulator

def _jsonable(value):
    if isinstance(value, (bytes, bytearray)):
        return {'b64': base64.b64encode(bytes(value)).decode('ascii')}
    if isinstance(value, dict):
        return {k: _jsonable(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_jsonable(v) for v in value]
    return value


def _from_json(value):
    if isinstance(value, dict):
        if set(value) == {'b64'}:
            return base64.b64decode(value['b64'])
        return {k: _from_json(v) for k, v in value.items()}
    if isinstance(value, list):
        return [_from_json(v) for v in value]
    return value


def log(*parts):
    print('devsim:', *parts, file=sys.stderr, flush=True)


class Simulator:
    def __init__(self, ifname):
        self.ifname = ifname
        self.lock = threading.Lock()      # devices, hold state, pending replies, counters
        self.out_lock = threading.Lock()  # stdout and the request sequence
        self.devices = []
        self.vendors = ['TAVIK']
        self.by_addr = {}
        self.local = set()
        self.holding = False
        self.pending = []
        self.seq = 0
        self.counters = {'requests': 0, 'answered': 0, 'replies_sent': 0, 'send_errors': 0}
        self.ifindex = socket.if_nametoindex(ifname)
        self.bsock = self._socket(SEARCH_DEVICE_PORT)
        self.ssock = self._socket(SSDP_PORT)
        mreqn = struct.pack('=4s4si', socket.inet_aton(SSDP_GROUP), bytes(4), self.ifindex)
        self.ssock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreqn)
        self.tx = self._socket(0)
        self.wsock = self._socket(WAKE_PORT)
        try:
            with open('/sys/class/net/%s/address' % ifname) as f:
                self.mac = f.read().strip().lower()
        except OSError:
            self.mac = None

    def _socket(self, port):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        s.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
        # Each datagram's arrival as the kernel saw it: a burst is read later
        # than it came, one datagram at a time.
        s.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
        for opt in (SO_RCVBUFFORCE, SO_SNDBUFFORCE):
            try:
                s.setsockopt(socket.SOL_SOCKET, opt, SOCKET_BUFFER)
            except OSError:
                pass  # without CAP_NET_ADMIN the default buffers must do
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                     struct.pack('=4s4si', bytes(4), bytes(4), self.ifindex))
        s.bind(('0.0.0.0', port))
        return s

    # -- output ----------------------------------------------------------------

    def write(self, msg):
        line = json.dumps(_jsonable(msg)).encode('utf-8') + b'\n'
        with self.out_lock:
            self._write_locked(line)

    def _write_locked(self, line):
        try:
            sys.stdout.buffer.write(line)
            sys.stdout.buffer.flush()
        except (BrokenPipeError, OSError, ValueError):
            os._exit(0)  # whoever drove us is gone

    def record(self, proto, src, sport, dst, data, own, replies, held, arrived=None):
        with self.out_lock:
            self.seq += 1
            msg = {'event': 'request', 'seq': self.seq, 'proto': proto, 'src': src, 'sport': sport,
                   'dst': dst, 'data': data, 'own': own, 'replies': replies, 'held': held,
                   'time': time.time() if arrived is None else arrived}
            self._write_locked(json.dumps(_jsonable(msg)).encode('utf-8') + b'\n')

    # -- receiving and answering ----------------------------------------------

    def serve(self, sock, proto):
        space = socket.CMSG_SPACE(12) + socket.CMSG_SPACE(16)
        while True:
            try:
                data, anc, _flags, addr = sock.recvmsg(65535, space)
            except InterruptedError:
                continue
            except OSError as e:
                if e.errno == errno.EBADF:
                    return
                log('receive error on', proto, e)
                time.sleep(0.05)
                continue
            dst = arrived = None
            for level, kind, payload in anc:
                if level == socket.IPPROTO_IP and kind == IP_PKTINFO and len(payload) >= 12:
                    dst = socket.inet_ntoa(payload[8:12])
                elif level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(payload) >= 16:
                    seconds, nanoseconds = struct.unpack('=qq', payload[:16])
                    arrived = seconds + nanoseconds / 1e9
            src, sport = addr[0], addr[1]
            own = src in self.local
            replies, held = 0, False
            # Our own NOTIFYs and broadcasts come back through loopback: they
            # are recorded, never answered.
            if not own:
                try:
                    replies, held = self.answer(sock, proto, data, src, sport, dst)
                except Exception as e:  # one bad datagram must not silence the device
                    log('answering failed:', repr(e))
            self.record(proto, src, sport, dst, data, own, replies, held, arrived)

    def wake(self, data):
        """A magic packet wakes every sleeping device whose MAC it names,
        each after its delay. Returns how many it woke."""
        mac = magic_mac(data)
        if mac is None:
            return 0
        text = ':'.join('%02x' % b for b in mac)
        woken = 0
        with self.lock:
            for d in self.devices:
                if d.sleep['asleep'] and (d.sleep['mac'] or self.mac) == text:
                    woken += 1
                    timer = threading.Timer(d.sleep['delay'], self._wake_up, args=(d,))
                    timer.daemon = True
                    timer.start()
        return woken

    def _wake_up(self, device):
        with self.lock:
            device.sleep = dict(device.sleep, asleep=False)

    def answer(self, sock, proto, data, src, sport, dst):
        if proto == 'wake':
            return self.wake(data), False
        if proto == 'broadcast':
            if not is_search_request(data):
                return 0, False
        elif not is_msearch(data):
            return 0, False
        if src == '0.0.0.0':
            return 0, False  # a sender without an address cannot be answered by unicast
        with self.lock:
            self.counters['answered'] += 1
            # A search sent to one device's own address is answered by that
            # device alone; to the group or a broadcast address, by all; to
            # any other address, by none, as no device holds it.
            target = self.by_addr.get(dst)
            if target is None and not sent_to_all(dst):
                return 0, False
            devices = [target] if target is not None else self.devices
            plan = []
            for d in devices:
                if d.sleep['asleep']:
                    continue
                if proto == 'broadcast':
                    payload = d.broadcast_reply()
                    if payload is None or not in_subnet(src, d.broadcast['subnet']) or \
                            missed(d.broadcast, target is None):
                        continue
                    port = d.broadcast['port'] or sport
                    dest = ('255.255.255.255', port) if d.broadcast['to'] == 'broadcast' else (src, port)
                    plan.extend([(payload, d.cmsg, dest)] * d.broadcast['repeat'])
                else:
                    payload = d.ssdp_reply()
                    if payload is None or not in_subnet(src, d.ssdp['subnet']) or missed(d.ssdp, target is None):
                        continue
                    plan.extend([(payload, d.cmsg, (src, sport))] * d.ssdp['repeat'])
            if self.holding:
                self.pending.append((sock, plan))
                return len(plan), True
        sent, _errors = self.blast(sock, plan)
        return sent, False

    def blast(self, sock, plan):
        """Sends back to back; the loop is kept bare because thousands of
        devices are meant to answer at the same instant."""
        sent = errors = 0
        sendmsg = sock.sendmsg
        for payload, cmsg, dest in plan:
            try:
                sendmsg([payload], cmsg, 0, dest)
                sent += 1
            except OSError as e:
                errors += 1
                if errors <= 3:
                    log('send to %s:%d failed: %s' % (dest[0], dest[1], e))
        with self.lock:
            self.counters['replies_sent'] += sent
            self.counters['send_errors'] += errors
        return sent, errors

    # -- control operations -----------------------------------------------------

    def _indices(self, index):
        if index is None:
            return list(range(len(self.devices)))
        items = index if isinstance(index, list) else [index]
        for i in items:
            if isinstance(i, bool) or not isinstance(i, int) or not 0 <= i < len(self.devices):
                raise ConfigError('device index %r out of range (%d devices)' % (i, len(self.devices)))
        return items

    def op_ping(self):
        return {}

    def op_setup(self, local):
        self.local = set(local)
        return {}

    def op_set_devices(self, addrs, vendors=None, options=None):
        vendors = vendors or ['TAVIK']
        if not all(isinstance(v, str) for v in vendors):
            raise ConfigError('vendors must be a list of names')
        options = options or {}
        bad = [k for k in options if k not in ('broadcast', 'ssdp', 'sleep')]
        if bad:
            raise ConfigError('set_devices takes only broadcast, ssdp and sleep options, not %s' % ', '.join(bad))
        devices = [Device(i, a, vendors[i % len(vendors)]) for i, a in enumerate(addrs)]
        for d in devices:
            d.apply(options)
        with self.lock:
            self.devices = devices
            self.vendors = list(vendors)
            self.by_addr = {d.addr: d for d in devices}
            self.local |= set(addrs)
        return {'count': len(devices)}

    def op_configure(self, index, reset=False, options=None):
        options = options or {}
        with self.lock:
            targets = self._indices(index)
            # Check on a scratch device first: all or nothing.
            probe = Device(0, '198.18.1.1', 'X')
            probe.apply(options)
            for i in targets:
                d = self.devices[i]
                if reset:
                    self.devices[i] = d = Device(d.index, d.addr, self.vendors[d.index % len(self.vendors)])
                    self.by_addr[d.addr] = d
                d.apply(options)
        return {'count': len(targets)}

    def op_device(self, index):
        with self.lock:
            return self.devices[self._indices(index)[0]].describe()

    def op_reply(self, index, proto):
        with self.lock:
            d = self.devices[self._indices(index)[0]]
            return d.broadcast_reply() if proto == 'broadcast' else d.ssdp_reply()

    def op_send(self, data, dst, dport, src=None, sport=None):
        data = to_bytes(data)
        cmsg = pktinfo(src) if src else []
        if sport is None:
            sock, temp = self.tx, False
        elif sport == SEARCH_DEVICE_PORT:
            sock, temp = self.bsock, False
        elif sport == SSDP_PORT:
            sock, temp = self.ssock, False
        else:
            sock, temp = self._socket(sport), True
        try:
            n = sock.sendmsg([data], cmsg, 0, (dst, dport))
        finally:
            if temp:
                sock.close()
        return {'sent': n}

    def op_notify(self, index, count=1, raw=None, **kw):
        with self.lock:
            d = self.devices[self._indices(index)[0]]
            message = build_notify(d.addr, d.identity, d.ssdp, raw=raw, **kw)
            cmsg = d.cmsg
        _check_int('count', count, 0, 100000)
        sent, errors = self.blast(self.ssock, [(message, cmsg, (SSDP_GROUP, SSDP_PORT))] * count)
        if errors:
            raise OSError('%d of %d NOTIFY sends failed' % (errors, count))
        return {'sent': sent}

    def op_hold(self):
        with self.lock:
            self.holding = True
        return {}

    def op_release(self):
        with self.lock:
            self.holding = False
            pending, self.pending = self.pending, []
        start = time.perf_counter()
        sent = errors = 0
        for sock, plan in pending:
            s, e = self.blast(sock, plan)
            sent += s
            errors += e
        return {'sent': sent, 'errors': errors, 'seconds': time.perf_counter() - start}

    def op_stats(self):
        with self.lock:
            result = dict(self.counters)
            result['devices'] = len(self.devices)
            result['holding'] = self.holding
            result['pending'] = sum(len(p) for _s, p in self.pending)
        with self.out_lock:
            result['requests'] = self.seq
        return result

    def op_clear(self):
        with self.out_lock:
            return {'upto': self.seq}

    def op_stop(self):
        return {}

    def run(self):
        for sock, proto in ((self.bsock, 'broadcast'), (self.ssock, 'ssdp'), (self.wsock, 'wake')):
            threading.Thread(target=self.serve, args=(sock, proto), name='serve-' + proto, daemon=True).start()
        self.write({'event': 'ready', 'pid': os.getpid(), 'ifname': self.ifname, 'mac': self.mac})
        for line in sys.stdin.buffer:
            if not line.strip():
                continue
            rid = None
            try:
                msg = json.loads(line)
                if not isinstance(msg, dict):
                    raise ConfigError('a command must be a JSON object')
                rid = msg.pop('id', None)
                op = msg.pop('op', None)
                handler = getattr(self, 'op_%s' % op, None) if isinstance(op, str) else None
                if handler is None:
                    raise ConfigError('unknown operation %r' % (op,))
                result = handler(**_from_json(msg))
                self.write({'id': rid, 'ok': True, 'result': result})
            except (ConfigError, ValueError, TypeError, KeyError, OSError) as e:
                self.write({'id': rid, 'ok': False, 'error': '%s: %s' % (type(e).__name__, e)})
                continue
            if op == 'stop':
                break


def main(argv=None):
    parser = argparse.ArgumentParser(description='Simulated storage devices (run inside the device namespace).')
    parser.add_argument('--dev', default='eth0', help='interface of the devices (default eth0)')
    args = parser.parse_args(argv)
    try:
        sim = Simulator(args.dev)
    except OSError as e:
        print(json.dumps({'event': 'fatal', 'error': 'cannot open the device sockets: %s' % e}), flush=True)
        return 1
    sim.run()
    sys.stdout.flush()
    # The receive threads stay blocked in recvmsg; nothing of theirs needs saving.
    os._exit(0)


if __name__ == '__main__':
    sys.exit(main())
