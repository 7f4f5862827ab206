"""Self-tests of the LAN test bed and the device simulator.

Plain python sockets in the client namespace play the discovery library's
part, so these need no C++ binary. Run: python3 -m unittest -v test_testbed
(root needed for the namespace tests; they skip without it).
"""

import base64
import json
import os
import select
import signal
import subprocess
import sys
import textwrap
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tools', 'testbed'))
TESTBED = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tools', 'testbed')
import devsim  # noqa: E402
import lanbed  # noqa: E402

# A stand-in client: binds, optionally joins the group, sends, then prints
# every datagram it gets as a JSON line until it has `expect` of them (then
# it still listens `linger` seconds for extras) or `timeout` runs out.
PROBE = textwrap.dedent(r'''
    import base64, json, select, socket, struct, sys, time
    cfg = json.loads(sys.argv[1])
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.setsockopt(socket.IPPROTO_IP, 8, 1)  # IP_PKTINFO
    s.setsockopt(socket.SOL_SOCKET, 33, 16 << 20)  # SO_RCVBUFFORCE
    s.bind((cfg['bind'][0], cfg['bind'][1]))
    if cfg.get('join'):
        s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                     socket.inet_aton(cfg['join']) + socket.inet_aton('0.0.0.0'))
    print(json.dumps({'ready': s.getsockname()[1]}), flush=True)
    for data, dst, port in cfg.get('send', []):
        s.sendto(base64.b64decode(data), (dst, port))
    got, end = 0, time.monotonic() + cfg.get('timeout', 5)
    while time.monotonic() < end:
        if not select.select([s], [], [], max(0.0, end - time.monotonic()))[0]:
            break
        data, anc, _f, addr = s.recvmsg(65535, socket.CMSG_SPACE(12))
        dst = socket.inet_ntoa(anc[0][2][8:12]) if anc else None
        print(json.dumps({'src': addr[0], 'sport': addr[1], 'dst': dst,
                          'data': base64.b64encode(data).decode()}), flush=True)
        got += 1
        if got == cfg.get('expect', 1):
            end = min(end, time.monotonic() + cfg.get('linger', 0))
''')


def b64(data):
    return base64.b64encode(data).decode()


def parse_probe_output(text):
    lines = [json.loads(l) for l in text.splitlines() if l.strip()]
    got = [l for l in lines if 'src' in l]
    for g in got:
        g['data'] = base64.b64decode(g['data'])
    return got


def run_probe(lan, bind, send=(), expect=1, timeout=5.0, linger=0.0, join=None):
    """Runs the stand-in client to completion; returns (its port, datagrams)."""
    cfg = {'bind': list(bind), 'send': [[b64(d), dst, port] for d, dst, port in send],
            'expect': expect, 'timeout': timeout, 'linger': linger, 'join': join}
    r = lan.client_run([sys.executable, '-c', PROBE, json.dumps(cfg)], capture_output=True,
                       text=True, timeout=timeout + 10)
    if r.returncode != 0:
        raise AssertionError('probe failed (%d): %s' % (r.returncode, r.stderr))
    port = json.loads(r.stdout.splitlines()[0])['ready']
    return port, parse_probe_output(r.stdout)


def start_probe(lan, bind, expect=1, timeout=5.0, join=None, send=()):
    """Starts the stand-in client; returns once it is bound (and joined)."""
    cfg = {'bind': list(bind), 'send': [[b64(d), dst, port] for d, dst, port in send],
            'expect': expect, 'timeout': timeout, 'join': join}
    p = lan.client_popen([sys.executable, '-c', PROBE, json.dumps(cfg)], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True)
    if not select.select([p.stdout], [], [], 10)[0]:
        p.kill()
        raise AssertionError('probe did not start')
    first = p.stdout.readline()
    if 'ready' not in first:
        p.wait()
        raise AssertionError('probe failed: %s' % p.stderr.read())
    return p


def finish_probe(p, timeout=15):
    out, err = p.communicate(timeout=timeout)
    return parse_probe_output(out)


def namespaces():
    r = subprocess.run([lanbed.IP or 'ip', 'netns', 'list'], capture_output=True, text=True)
    return {line.split()[0] for line in r.stdout.splitlines() if line.strip()}


def text_area(packet):
    return packet[20:148].rstrip(b'\0')


# ---------------------------------------------------------------------------
# Pure parts: no namespaces needed

class AddressPlanTest(unittest.TestCase):
    def test_device_addresses_skip_network_and_broadcast_looking_ones(self):
        self.assertEqual(lanbed.device_addr(0), '198.18.1.1')
        self.assertEqual(lanbed.device_addr(253), '198.18.1.254')
        self.assertEqual(lanbed.device_addr(254), '198.18.2.1')
        self.assertEqual(lanbed.device_addr(lanbed.MAX_DEVICES - 1), '198.18.255.254')
        addrs = {lanbed.device_addr(i) for i in range(10000)}
        self.assertEqual(len(addrs), 10000)
        self.assertTrue(all(lanbed.check_safe_addr(a) for a in addrs))
        with self.assertRaises(ValueError):
            lanbed.device_addr(lanbed.MAX_DEVICES)

    def test_addresses_outside_the_benchmark_range_are_refused(self):
        for bad in ('192.168.1.10', '10.0.0.1', '198.20.0.1', '127.0.0.1'):
            with self.assertRaises(ValueError, msg=bad):
                lanbed.check_safe_addr(bad)
        self.assertEqual(lanbed.check_safe_addr('198.19.7.7'), '198.19.7.7')

    def test_search_packet_golden_bytes(self):
        self.assertEqual(lanbed.search_packet(),
                         bytes.fromhex('0b010000ffffffff') + bytes(140))


class MessageBuilderTest(unittest.TestCase):
    IDENT = devsim.default_identity(7, 'ESKAL')

    def bc(self, **opts):
        return devsim.build_broadcast_reply(self.IDENT, devsim.merge_broadcast(devsim.BROADCAST_DEFAULTS, opts))

    def test_broadcast_reply_layout(self):
        pkt = self.bc()
        self.assertEqual(len(pkt), 148)
        self.assertEqual(pkt[:8], bytes([12, 1, 0, 0, 255, 255, 255, 255]))
        self.assertEqual(text_area(pkt), b'id=DEV7&host=nas7&vendor=ESKAL&product=P7')
        pkt = self.bc(code=11, type=4, fields={'vendor': None, 'uuid': 'X'})
        self.assertEqual(pkt[:2], bytes([11, 4]))
        self.assertEqual(text_area(pkt), b'id=DEV7&host=nas7&product=P7&uuid=X')

    def test_text_filling_the_area_has_no_terminator(self):
        self.assertEqual(self.bc(text='a' * 128)[20:], b'a' * 128)
        self.assertEqual(self.bc(text='b' * 200)[20:], b'b' * 128)
        self.assertEqual(len(self.bc(text='b' * 200)), 148)

    def test_raw_and_disabled_broadcast_replies(self):
        self.assertEqual(self.bc(raw=b'\x0c' * 147), b'\x0c' * 147)
        self.assertIsNone(devsim.build_broadcast_reply(
            self.IDENT, devsim.merge_broadcast(devsim.BROADCAST_DEFAULTS, False)))

    def test_ssdp_reply_defaults_and_options(self):
        opts = devsim.SSDP_DEFAULTS
        reply = devsim.build_ssdp_reply('198.18.1.8', self.IDENT, opts).decode()
        self.assertTrue(reply.startswith('HTTP/1.1 200 OK\r\n'))
        self.assertTrue(reply.endswith('\r\n\r\n'))
        self.assertIn('\r\nLOCATION: http://198.18.1.8:5000/desc.xml\r\n', reply)
        self.assertIn('\r\nSERVER: VEXA/2.1, UPnP/1.0, ESKAL/nas7/P7\r\n', reply)
        self.assertIn('\r\nUSN: uuid:DEV7::urn:schemas-upnp-org:device:HomeNasDevice:1\r\n', reply)
        reply = devsim.build_ssdp_reply('198.18.1.8', self.IDENT, devsim.merge_ssdp(
            opts, {'location': False, 'eol': '\n', 'headers': ['BOOTID.UPNP.ORG: 1']})).decode()
        self.assertNotIn('LOCATION', reply)
        self.assertNotIn('\r', reply)
        self.assertTrue(reply.endswith('\nBOOTID.UPNP.ORG: 1\n\n'))

    def test_notify_names_rootdevice_only_when_asked(self):
        opts = devsim.SSDP_DEFAULTS
        alive = devsim.build_notify('198.18.1.8', self.IDENT, opts).decode()
        self.assertTrue(alive.startswith('NOTIFY * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\n'))
        self.assertIn('\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\n', alive)
        other = devsim.build_notify('198.18.1.8', self.IDENT, opts, nts='ssdp:byebye', rootdevice=False,
                                    nts_sep='\t ', usn=False).decode()
        self.assertNotIn('rootdevice', other)
        self.assertNotIn('USN', other)
        self.assertIn('\r\nNTS:\t ssdp:byebye\r\n', other)

    def test_bad_settings_are_refused_with_the_key_named(self):
        for bad in ({'cod': 12}, {'code': 256}, {'to': 'group'}, {'fields': 'id=1'}):
            with self.assertRaises(devsim.ConfigError) as cm:
                devsim.merge_broadcast(devsim.BROADCAST_DEFAULTS, bad)
            self.assertTrue(any(k in str(cm.exception) for k in bad), str(cm.exception))
        with self.assertRaises(devsim.ConfigError):
            devsim.merge_ssdp(devsim.SSDP_DEFAULTS, {'headers': 'EXT:'})
        for bad in ({'aslep': True}, {'delay': -1}, {'mac': '02:00:00:00:00'}, {'mac': 'zz:00:00:00:00:00'}):
            with self.assertRaises(devsim.ConfigError) as cm:
                devsim.merge_sleep(devsim.SLEEP_DEFAULTS, bad)
            self.assertTrue(any(k in str(cm.exception) for k in bad), str(cm.exception))


# ---------------------------------------------------------------------------
# The LAN itself

@lanbed.skip_unless_available
class BroadcastSearchTest(unittest.TestCase):
    def test_search_is_recorded_and_each_device_answers_from_its_own_address(self):
        with lanbed.Lan(devices=3) as lan:
            sim = lan.simulator(vendors=['TAVIK', 'OMBRA'])
            port, got = run_probe(lan, ('0.0.0.0', 67), expect=3,
                                  send=[(lanbed.search_packet(), '255.255.255.255', 68)])
            self.assertEqual(port, 67)
            self.assertEqual(sorted(g['src'] for g in got), lan.device_addrs)
            for g in got:
                i = lan.device_addrs.index(g['src'])
                self.assertEqual((g['sport'], g['dst'], len(g['data'])), (68, '198.18.0.1', 148))
                self.assertEqual(g['data'][:2], bytes([12, 1]))
                self.assertEqual(text_area(g['data']), ('id=DEV%d&host=nas%d&vendor=%s&product=P%d' % (
                    i, i, ['TAVIK', 'OMBRA'][i % 2], i)).encode())
            [req] = sim.wait_for_requests(1, proto='broadcast')
            self.assertEqual((req['src'], req['sport'], req['dst']), ('198.18.0.1', 67, '255.255.255.255'))
            self.assertEqual(req['data'], lanbed.search_packet())
            self.assertEqual((req['replies'], req['own']), (3, False))

    def test_configured_replies(self):
        with lanbed.Lan(devices=4) as lan:
            sim = lan.simulator()
            sim.configure(0, broadcast=False)
            sim.configure(1, broadcast={'raw': b'\x0c' * 147})
            sim.configure(2, vendor='eskal', broadcast={'type': 4, 'code': 13, 'fields': {'uuid': 'X'}})
            sim.configure(3, broadcast={'to': 'broadcast'})
            _port, got = run_probe(lan, ('0.0.0.0', 67), expect=3, linger=0.2,
                                   send=[(lanbed.search_packet(), '255.255.255.255', 68)])
            by_src = {g['src']: g for g in got}
            self.assertEqual(sorted(by_src), lan.device_addrs[1:])
            self.assertEqual(by_src[lan.device_addrs[1]]['data'], b'\x0c' * 147)
            three = by_src[lan.device_addrs[2]]['data']
            self.assertEqual(three[:2], bytes([13, 4]))
            self.assertEqual(text_area(three), b'id=DEV2&host=nas2&vendor=eskal&product=P2&uuid=X')
            self.assertEqual(by_src[lan.device_addrs[3]]['dst'], '255.255.255.255')
            # reset brings the defaults back
            sim.configure([0, 1, 2], reset=True)
            self.assertEqual(text_area(sim.reply_packet(2)), b'id=DEV2&host=nas2&vendor=TAVIK&product=P2')

    def test_a_sleeping_device_answers_only_after_a_magic_packet_with_its_mac(self):
        with lanbed.Lan(devices=2) as lan:
            sim = lan.simulator()
            sim.configure(0, sleep={'asleep': True, 'delay': 1.0})
            mac = bytes.fromhex(sim.mac.replace(':', ''))
            search = (lanbed.search_packet(), '255.255.255.255', 68)
            _port, got = run_probe(lan, ('0.0.0.0', 67), expect=2, timeout=1.5, send=[search])
            self.assertEqual([g['src'] for g in got], [lan.device_addrs[1]])
            other = b'\xff' * 6 + bytes.fromhex('020000000001') * 16
            run_probe(lan, ('0.0.0.0', 0), expect=0, timeout=0.2, send=[
                (other, '255.255.255.255', 9), (b'\xff' * 6 + mac * 15, '255.255.255.255', 9),
                (b'\xff' * 6 + mac * 16, '255.255.255.255', 9)])
            wakes = sim.wait_for_requests(3, proto='wake')
            self.assertEqual([w['replies'] for w in wakes], [0, 0, 1])
            lanbed.wait_until(lambda: not sim.device(0)['sleep']['asleep'], 10.0, message='the device to wake')
            _port, got = run_probe(lan, ('0.0.0.0', 67), expect=2, send=[search])
            self.assertEqual(sorted(g['src'] for g in got), lan.device_addrs)

    def test_only_search_requests_are_answered_and_unicast_reaches_one_device(self):
        with lanbed.Lan(devices=3) as lan:
            sim = lan.simulator()
            not_search = bytes([12]) + bytes(147)
            _port, got = run_probe(lan, ('0.0.0.0', 67), expect=1, linger=0.2, send=[
                (not_search, '255.255.255.255', 68), (lanbed.search_packet()[:147], '255.255.255.255', 68),
                (lanbed.search_packet(), lan.device_addrs[1], 68)])
            self.assertEqual([g['src'] for g in got], [lan.device_addrs[1]])
            reqs = sim.wait_for_requests(3, proto='broadcast')
            self.assertEqual([(len(r['data']), r['replies']) for r in reqs], [(148, 0), (147, 0), (148, 1)])
            self.assertEqual(reqs[2]['dst'], lan.device_addrs[1])


@lanbed.skip_unless_available
class SsdpTest(unittest.TestCase):
    def test_msearch_gets_one_reply_per_device_from_its_address_to_the_asking_port(self):
        with lanbed.Lan(devices=3) as lan:
            sim = lan.simulator()
            port, got = run_probe(lan, ('198.18.0.1', 0), expect=3, linger=0.2,
                                  send=[(lanbed.msearch_request(), lanbed.SSDP_GROUP, 1900)])
            self.assertEqual(sorted(g['src'] for g in got), lan.device_addrs)
            for g in got:
                self.assertEqual((g['sport'], g['dst']), (1900, '198.18.0.1'))
                self.assertEqual(g['data'], sim.ssdp_reply(lan.device_addrs.index(g['src'])))
            [req] = sim.wait_for_requests(lambda r: r['data'].startswith(b'M-SEARCH'), proto='ssdp')
            self.assertEqual((req['src'], req['sport'], req['dst']), ('198.18.0.1', port, lanbed.SSDP_GROUP))
            self.assertEqual(req['data'], lanbed.msearch_request())

    def test_reply_options_and_silent_devices(self):
        with lanbed.Lan(devices=4) as lan:
            sim = lan.simulator()
            sim.configure(0, ssdp=False)
            sim.configure(1, ssdp={'location': False, 'eol': '\n', 'headers': ['DATE: x']})
            sim.configure(2, ssdp={'raw': 'HTTP/1.1 200 OK\r\nSERVER: other\r\n\r\n'})
            _port, got = run_probe(lan, ('198.18.0.1', 0), expect=3, linger=0.2,
                                   send=[(lanbed.msearch_request(), lanbed.SSDP_GROUP, 1900),
                                         (b'NOTIFY * HTTP/1.1\r\n\r\n', lanbed.SSDP_GROUP, 1900)])
            by_src = {g['src']: g['data'] for g in got}
            self.assertEqual(sorted(by_src), lan.device_addrs[1:])
            one = by_src[lan.device_addrs[1]]
            self.assertNotIn(b'LOCATION', one)
            self.assertNotIn(b'\r', one)
            self.assertIn(b'\nDATE: x\n\n', one)
            self.assertEqual(by_src[lan.device_addrs[2]], b'HTTP/1.1 200 OK\r\nSERVER: other\r\n\r\n')
            reqs = sim.wait_for_requests(2, proto='ssdp')
            self.assertEqual([r['replies'] for r in reqs], [3, 0])

    def test_notify_reaches_a_group_member_in_the_client_namespace(self):
        with lanbed.Lan(devices=2) as lan:
            sim = lan.simulator()
            # Joined on the default interface: needs the client's 224.0.0.0/4 route.
            p = start_probe(lan, ('0.0.0.0', 1900), expect=3, join=lanbed.SSDP_GROUP)
            self.assertEqual(sim.notify(1, nts='ssdp:byebye', count=2)['sent'], 2)
            sim.notify(0, nts='ssdp:update', rootdevice=False, location=False)
            got = finish_probe(p)
            self.assertEqual([(g['src'], g['sport'], g['dst']) for g in got],
                             [(lan.device_addrs[1], 1900, lanbed.SSDP_GROUP)] * 2 +
                             [(lan.device_addrs[0], 1900, lanbed.SSDP_GROUP)])
            bye = got[0]['data'].decode()
            for line in ('NT: upnp:rootdevice', 'NTS: ssdp:byebye',
                         'LOCATION: http://198.18.1.2:5000/desc.xml',
                         'USN: uuid:DEV1::urn:schemas-upnp-org:device:HomeNasDevice:1'):
                self.assertIn('\r\n' + line + '\r\n', bye)
            update = got[2]['data'].decode()
            self.assertNotIn('rootdevice', update)
            self.assertNotIn('LOCATION', update)
            # The simulator hears its own announcements: recorded, marked, unanswered.
            own = sim.wait_for_requests(3, proto='ssdp', own=True)
            self.assertTrue(all(r['replies'] == 0 for r in own))


@lanbed.skip_unless_available
class LanShapeTest(unittest.TestCase):
    def test_send_on_command_from_a_chosen_address_and_port(self):
        with lanbed.Lan(devices=3) as lan:
            sim = lan.simulator()
            p = start_probe(lan, ('0.0.0.0', 67), expect=2)
            sim.send(b'hello', '198.18.0.1', 67, src_ip=lan.device_addrs[2], src_port=4321)
            sim.send(bytes(148), '255.255.255.255', 67, src_ip=lan.device_addrs[0], src_port=68)
            got = finish_probe(p)
            self.assertEqual([(g['src'], g['sport'], g['dst'], g['data'][:5]) for g in got],
                             [(lan.device_addrs[2], 4321, '198.18.0.1', b'hello'),
                              (lan.device_addrs[0], 68, '255.255.255.255', bytes(5))])

    def test_second_client_subnet(self):
        with lanbed.Lan(devices=2, client_subnets=2) as lan:
            self.assertEqual(lan.client_addrs, ['198.18.0.1', '198.19.0.1'])
            sim = lan.simulator()
            out = lan.client_run([lanbed.IP, '-o', '-4', 'addr', 'show', 'dev', 'eth1'],
                                 capture_output=True, text=True).stdout
            self.assertIn('198.19.0.1/16', out)
            _port, got = run_probe(lan, ('198.19.0.1', 0), expect=2,
                                   send=[(lanbed.msearch_request(), lanbed.SSDP_GROUP, 1900)])
            self.assertEqual(sorted(g['src'] for g in got), lan.device_addrs)
            self.assertTrue(all(g['dst'] == '198.19.0.1' for g in got))
            [req] = sim.wait_for_requests(1, proto='ssdp')
            self.assertEqual(req['src'], '198.19.0.1')

    def test_routed_subnet_passes_unicast_only(self):
        with lanbed.RoutedLan(devices=2) as lan:
            self.assertEqual((lan.client_addrs, lan.device_addrs),
                             (['198.18.1.1'], ['198.18.20.10', '198.18.20.11']))
            sim = lan.simulator()
            # The group and the broadcast go first; had they crossed the router
            # they would be recorded before the unicast search that follows.
            _port, got = run_probe(lan, ('0.0.0.0', 0), expect=1, send=[
                (lanbed.msearch_request(), lanbed.SSDP_GROUP, 1900),
                (lanbed.search_packet(), '255.255.255.255', 68),
                (lanbed.msearch_request(), lan.device_addrs[1], 1900)])
            self.assertEqual([(g['src'], g['sport'], g['dst']) for g in got],
                             [(lan.device_addrs[1], 1900, '198.18.1.1')])
            [req] = sim.wait_for_requests(1, own=False)
            self.assertEqual((req['proto'], req['src'], req['dst']), ('ssdp', '198.18.1.1', lan.device_addrs[1]))
            self.assertEqual(len(sim.requests(own=False)), 1)

    def test_add_client_address_while_running(self):
        with lanbed.Lan(devices=2) as lan:
            sim = lan.simulator()
            self.assertEqual(lan.add_client_address('198.18.0.77'), '198.18.0.77')
            self.assertEqual(lan.client_addrs, ['198.18.0.1', '198.18.0.77'])
            _port, got = run_probe(lan, ('198.18.0.77', 0), expect=2,
                                   send=[(lanbed.msearch_request(), lanbed.SSDP_GROUP, 1900)])
            self.assertEqual(sorted(g['src'] for g in got), lan.device_addrs)
            self.assertEqual(sim.wait_for_requests(1)[0]['src'], '198.18.0.77')
            with self.assertRaises(ValueError):
                lan.add_client_address('192.168.0.5')
            self.assertEqual(lan.client_addrs, ['198.18.0.1', '198.18.0.77'])

    def test_held_replies_go_out_back_to_back_from_every_address(self):
        n = 10000  # the largest LAN the benchmarks use
        with lanbed.Lan(devices=n) as lan:
            sim = lan.simulator(hold=True)
            # Heard back through loopback, the simulator's own search is never answered.
            sim.send(lanbed.search_packet(), '255.255.255.255', 68, src_ip=lan.device_addrs[0])
            [own] = sim.wait_for_requests(1, own=True)
            self.assertEqual((own['replies'], own['held']), (0, False))
            p = start_probe(lan, ('0.0.0.0', 67), expect=n, timeout=20,
                            send=[(lanbed.search_packet(), '255.255.255.255', 68)])
            [req] = sim.wait_for_requests(1, own=False)
            self.assertEqual((req['held'], req['replies']), (True, n))
            result = sim.release()
            self.assertEqual((result['sent'], result['errors']), (n, 0))
            got = finish_probe(p, timeout=30)
            self.assertEqual(len({g['src'] for g in got}), n)
            self.assertEqual(sim.stats()['replies_sent'], n)


@lanbed.skip_unless_available
class SimulatorControlTest(unittest.TestCase):
    def test_bad_commands_are_refused_and_the_simulator_keeps_running(self):
        with lanbed.Lan(devices=2) as lan:
            sim = lan.simulator()
            for bad in (lambda: sim.configure(5, host='x'), lambda: sim.configure(0, colour='red'),
                        lambda: sim.configure(0, broadcast={'code': 'x'}), lambda: sim.configure(0, ssdp={'loss': 1.5}),
                        lambda: sim.send(b'x', 'not-an-address', 1)):
                with self.assertRaises(lanbed.SimError):
                    bad()
            self.assertEqual(sim.device(0)['identity']['host'], 'nas0')
            self.assertEqual(sim.stats()['devices'], 2)

    def test_wait_and_clear(self):
        with lanbed.Lan(devices=1) as lan:
            sim = lan.simulator()
            with self.assertRaises(lanbed.WaitTimeout) as cm:
                sim.wait_for_requests(1, timeout=0.1)
            self.assertIn('0 received', str(cm.exception))
            run_probe(lan, ('0.0.0.0', 67), send=[(lanbed.search_packet(), '255.255.255.255', 68)])
            self.assertEqual(len(sim.wait_for_requests(1)), 1)
            sim.clear_requests()
            self.assertEqual(sim.requests(), [])
            sim.stop()
            self.assertEqual(sim._proc.returncode, 0)


@lanbed.skip_unless_available
class TeardownTest(unittest.TestCase):
    def test_namespaces_and_processes_are_gone_after_exit_and_after_an_exception(self):
        with lanbed.Lan(devices=1) as lan:
            names = {lan.bridge_ns, lan.client_ns, lan.device_ns}
            self.assertLessEqual(names, namespaces())
            sleeper = lan.client_popen(['sleep', '600'])
            lan.simulator()
        self.assertFalse(names & namespaces())
        self.assertIsNotNone(sleeper.poll())

        with self.assertRaises(ZeroDivisionError):
            with lanbed.Lan(devices=1) as lan:
                names = {lan.bridge_ns, lan.client_ns, lan.device_ns}
                lan.simulator()
                1 / 0
        self.assertFalse(names & namespaces())

    def test_a_signal_tears_down_before_the_process_ends(self):
        child = textwrap.dedent('''
            import sys, time
            sys.path.insert(0, %r)
            import lanbed
            with lanbed.Lan(devices=2) as lan:
                lan.simulator()
                lan.client_popen(['sleep', '600'])
                print(lan.bridge_ns, lan.client_ns, lan.device_ns, flush=True)
                time.sleep(600)
        ''' % TESTBED)
        for sig in (signal.SIGTERM, signal.SIGINT):
            p = subprocess.Popen([sys.executable, '-c', child], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True)
            names = set(p.stdout.readline().split())
            self.assertEqual(len(names), 3, p.stderr.read() if p.poll() is not None else '')
            self.assertLessEqual(names, namespaces())
            p.send_signal(sig)
            # Torn down, the process still dies of the signal it got.
            self.assertEqual(p.wait(20), -sig)
            p.stdout.close()
            p.stderr.close()
            self.assertFalse(names & namespaces())

    def test_namespaces_left_by_a_killed_run_are_removed_by_the_next_one(self):
        # SIGKILL leaves no chance to clean up; the next LAN sweeps up what
        # belongs to processes that no longer exist.
        child = textwrap.dedent('''
            import sys, time
            sys.path.insert(0, %r)
            import lanbed
            lan = lanbed.Lan(devices=1).start()
            lan.client_popen(['sleep', '600'])
            print(lan.bridge_ns, lan.client_ns, lan.device_ns, flush=True)
            time.sleep(600)
        ''' % TESTBED)
        p = subprocess.Popen([sys.executable, '-c', child], stdout=subprocess.PIPE, text=True)
        names = set(p.stdout.readline().split())
        p.stdout.close()
        p.kill()
        p.wait()
        self.assertEqual(len(names), 3)
        self.assertLessEqual(names, namespaces())
        with lanbed.Lan(devices=1):
            self.assertFalse(names & namespaces())


if __name__ == '__main__':
    unittest.main()
