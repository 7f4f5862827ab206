"""End-to-end tests of the discovery library through its real entry points,
inside an isolated LAN of the test bed: what goes on the wire, and what reaches
the device callback."""
import collections
import os
import re
import shutil
import socket
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tools', 'testbed'))
import lanbed  # noqa: E402
from probe import GOLDEN_MSEARCH, GOLDEN_SEARCH, Probe, read_log, wait_until  # noqa: E402

lanbed.skip_unless_available(sys.modules[__name__])

GROUP = '239.143.255.250'


def reply_packet(text, code=12, type_byte=1):
    text = text.encode('latin-1') if isinstance(text, str) else text
    return bytes([code, type_byte, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF]) + bytes(12) + text[:128].ljust(128, b'\0')


def ssdp_reply(ident='abcd', location='http://198.18.1.1:5000/desc.xml',
               server='VEXA/2.1, UPnP/1.0, TAVIK/nas1/N2/r5'):
    return ('HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nLOCATION: %s\r\nSERVER: %s\r\n'
            'ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\nUSN: uuid:%s::urn:schemas-upnp-org:device:'
            'HomeNasDevice:1\r\n\r\n' % (location, server, ident)).encode()


class LanCase(unittest.TestCase):
    devices = 1
    client_subnets = 1

    def setUp(self):
        self.lan = lanbed.Lan(devices=self.devices, client_subnets=self.client_subnets)
        self.lan.start()
        self.addCleanup(self.lan.close)
        self.log_dir = tempfile.mkdtemp(prefix='searchlib-log-') + '/'
        self.addCleanup(shutil.rmtree, self.log_dir, True)
        self.addCleanup(self.show_log_if_failed)

    def show_log_if_failed(self, lines=80):
        """A failed test prints the end of the library's log: a CI run keeps
        only what was printed."""
        result = getattr(getattr(self, '_outcome', None), 'result', None)
        failed = [test for test, _ in getattr(result, 'failures', []) + getattr(result, 'errors', [])]
        if any(test is self or getattr(test, 'test_case', None) is self for test in failed):
            sys.stderr.write('--- the last %d lines of the library\'s log:\n%s\n'
                             % (lines, '\n'.join(self.log()[-lines:])))

    @staticmethod
    def stop_process(proc):
        proc.kill()
        proc.communicate()

    def start_probe(self, multi=False, log=True, callback=True, interfaces=None):
        probe = Probe(self.lan)
        self.addCleanup(probe.close)
        if interfaces:
            probe.command('interfaces %s %s' % interfaces)
        probe.init(self.log_dir if log else None, multi=multi, callback=callback)
        return probe

    def log(self):
        return read_log(self.log_dir)

    def udp_no_ports(self):
        """Datagrams that reached the client namespace for a port without socket."""
        snmp = self.lan.client_run(['cat', '/proc/net/snmp'], capture_output=True, text=True, check=True).stdout
        names, values = [line.split() for line in snmp.splitlines() if line.startswith('Udp:')][:2]
        return int(values[names.index('NoPorts')])


class BroadcastSearch(LanCase):
    devices = 3

    def test_standard_search_on_the_wire_and_replies_become_records(self):
        sim = self.lan.simulator()
        sim.configure(0, id='0A1B', host='nas1', vendor='V1', product='N2')
        sim.configure(1, broadcast={'type': 4})
        sim.configure(2, broadcast=False, ssdp=False)
        probe = self.start_probe()
        probe.command('search')

        req = sim.wait_for_requests(1, proto='broadcast', own=False)[0]
        self.assertEqual(req['data'], GOLDEN_SEARCH)
        self.assertEqual((req['src'], req['sport']), (self.lan.client_addrs[0], 67))
        self.assertEqual(req['dst'], '255.255.255.255')

        reports = probe.wait_reports(2, port=67)
        by_ip = {r['ip']: r for r in reports}
        first = by_ip[self.lan.device_addrs[0]]
        self.assertEqual((first['id'], first['host'], first['factory'], first['product']),
                         ('0A1B', 'nas1', 'V1', 'N2'))
        self.assertEqual((first['type'], first['life'], first['extra'], first['osversion']), (1, 60, '', ''))
        self.assertEqual(by_ip[self.lan.device_addrs[1]]['type'], 4)
        self.assertNotIn(self.lan.device_addrs[2], by_ip)

    def test_callers_own_packet_goes_out_unchanged(self):
        sim = self.lan.simulator()
        probe = self.start_probe()
        packet = bytes([11, 7, 1, 2, 3, 4, 5, 6]) + bytes(range(12)) + b'custom=1'.ljust(128, b'\x01')
        probe.command('search-hex ' + packet.hex())
        req = sim.wait_for_requests(1, proto='broadcast', own=False)[0]
        self.assertEqual(req['data'], packet)

    def test_reply_edge_cases(self):
        sim = self.lan.simulator(devices=0)
        probe = self.start_probe()
        client = self.lan.client_addrs[0]
        src = self.lan.device_addrs[0]
        cases = [
            ('id=A&host=B', dict(id='A', host='B', factory='', product='')),
            ('id=C&product=' + 'p' * 40, dict(id='C', product='p' * 31)),
            ('host=h&id=lastpair-runs-to-end', dict(id='lastpair-runs-to-end', host='h')),
            ('uuid=X&id=Y', dict(id='X')),
        ]
        for n, (text, _) in enumerate(cases):
            sim.send(reply_packet(text, type_byte=n + 1), client, 67, src_ip=src)
            probe.wait_reports(n + 1, port=67)
        reports = probe.reports(port=67)
        for (text, expected), report in zip(cases, reports):
            for key, value in expected.items():
                self.assertEqual(report[key], value, text)
            self.assertTrue(report['terminated'])
        self.assertEqual([r['type'] for r in reports], [1, 2, 3, 4])

    def test_wrong_datagrams_are_dropped_and_repeats_reported_once_per_search(self):
        sim = self.lan.simulator(devices=0)
        probe = self.start_probe()
        client = self.lan.client_addrs[0]
        src = self.lan.device_addrs[0]
        good = reply_packet('id=D1&vendor=TAVIK')
        sim.send(good[:147], client, 67, src_ip=src)
        sim.send(good + b'\0', client, 67, src_ip=src)
        sim.send(reply_packet('id=Q', code=11), client, 67, src_ip=src)
        sim.send(good, client, 67, src_ip=src)
        sim.send(good, client, 67, src_ip=src)
        marker = reply_packet('id=MARK')
        sim.send(marker, client, 67, src_ip=src)
        probe.wait_reports(2, port=67)
        self.assertEqual([r['id'] for r in probe.reports()], ['D1', 'MARK'])
        log = self.log()
        # Only the 148-byte datagrams are looked at: code 11, twice the reply, the marker.
        self.assertEqual(sum('Handle Broadcast Recive Information  ' in line for line in log), 4)
        self.assertEqual(sum(('Recive IP : %s is not Device ' % src) in line for line in log), 1)
        self.assertEqual(sum('Handle Broadcast Recive Information Fail ' in line for line in log), 1)

        # A search forgets the last report: the same reply is reported again.
        probe.command('search')
        sim.send(marker, client, 67, src_ip=src)
        probe.wait_reports(3, port=67)
        self.assertEqual(probe.reports()[-1]['id'], 'MARK')

    def test_hand_over_log_lines_come_in_order(self):
        sim = self.lan.simulator(devices=0)
        probe = self.start_probe()
        sim.send(reply_packet('id=ORD'), self.lan.client_addrs[0], 67, src_ip=self.lan.device_addrs[0])
        probe.wait_reports(1)
        wait_until(lambda: any('Success Handle' in line for line in self.log()), what='last hand-over line')
        lines = [line for line in self.log() if line.startswith('Handle 67 : Search 67 Thread Find Device')]
        self.assertEqual(len(lines), 4)
        self.assertIn('wait for mutex', lines[0])
        self.assertIn('have Mutex', lines[1])
        self.assertIn('ID : ORD, IP : %s' % self.lan.device_addrs[0], lines[2])
        self.assertIn('Success Handle', lines[3])

    def test_exit_wakes_blocked_workers_and_nothing_is_reported_after(self):
        sim = self.lan.simulator(devices=0)
        probe = self.start_probe()
        probe.command('exit-wait')
        result = probe.events('exit-wait')[-1]
        self.assertTrue(result['all_stopped'], result)
        log = self.log()
        exit_lines = [i for i, line in enumerate(log) if 'Exit Search Device Tread , bExitSock : 1' in line]
        banner = [i for i, line in enumerate(log) if line == '------Exit Log System-------']
        self.assertEqual(len(exit_lines), 2)
        self.assertTrue(banner and banner[-1] > max(exit_lines))
        # Waits until the late reply has reached the client, not merely been
        # sent: it either finds port 67 closed or a worker that reports it.
        no_ports = self.udp_no_ports()
        sim.send(reply_packet('id=LATE'), self.lan.client_addrs[0], 67, src_ip=self.lan.device_addrs[0])
        wait_until(lambda: probe.reports() or self.udp_no_ports() > no_ports, what='the late reply to arrive')
        self.assertEqual(probe.reports(), [])

    def test_null_callback_drops_reports(self):
        sim = self.lan.simulator(devices=1)
        probe = self.start_probe(callback=False)
        probe.command('search')
        wait_until(lambda: any('Success Handle' in line for line in self.log()), what='a dropped report')
        self.assertIsNone(probe.proc.poll())
        self.assertEqual(probe.reports(), [])
        del sim


class SsdpSearch(LanCase):
    devices = 2

    def test_request_on_the_wire_and_reply_reported_with_1900(self):
        sim = self.lan.simulator(devices=1, vendors=['TAVIK'])
        sim.configure(0, broadcast=False)
        probe = self.start_probe()
        probe.command('search')
        req = sim.wait_for_requests(1, proto='ssdp', own=False)[0]
        self.assertEqual(req['data'], GOLDEN_MSEARCH)
        self.assertEqual((req['src'], req['sport'], req['dst']), (self.lan.client_addrs[0], 1900, GROUP))
        report = probe.wait_reports(1, port=1900)[0]
        self.assertEqual((report['type'], report['ip'], report['factory']), (1, self.lan.device_addrs[0], 'TAVIK'))
        self.assertEqual(report['osversion'], '2.1')

    def test_three_identical_announcements_give_two_reports(self):
        sim = self.lan.simulator(devices=1)
        probe = self.start_probe()
        sim.notify(0, nts='ssdp:alive', count=3)
        sim.notify(0, nts='ssdp:byebye', count=1)
        probe.wait_reports(3, port=1900)
        self.assertEqual([r['type'] for r in probe.reports()], [2, 2, 4])
        sim.notify(0, nts='ssdp:update', rootdevice=True)
        sim.notify(0, nts='ssdp:alive', rootdevice=False)
        probe.wait_reports(4, port=1900)
        probe.command('threads')
        self.assertEqual([r['type'] for r in probe.reports()], [2, 2, 4, 0])

    def hold_port_1900(self):
        holder = self.lan.client_popen([sys.executable, '-c', (
            'import socket,sys\n'
            's=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n'
            's.bind(("0.0.0.0",1900))\n'
            'print("bound",flush=True)\n'
            'sys.stdin.read()\n')], stdin=-1, stdout=-1, text=True)
        self.addCleanup(self.stop_process, holder)
        self.assertEqual(holder.stdout.readline().strip(), 'bound')

    def test_port_taken_moves_to_1901_without_multi_address_mode(self):
        self.lan.simulator(devices=0)
        self.hold_port_1900()
        probe = self.start_probe(multi=False)
        ssdp = probe.threads()['threads'][1]
        self.assertEqual((ssdp['port'], ssdp['running']), (1901, True))
        self.assertTrue(any('Test Create Search Device Work Thread, testCount = 1, port = 1901' in line
                            for line in self.log()))

    def test_port_taken_makes_no_retry_in_multi_address_mode(self):
        self.lan.simulator(devices=0)
        self.hold_port_1900()
        probe = self.start_probe(multi=True)
        ssdp = probe.threads()['threads'][1]
        self.assertEqual((ssdp['port'], ssdp['running']), (1900, False))
        self.assertFalse(any('Test Create Search Device Work Thread' in line and 'port = 190' in line
                             for line in self.log()))

    def test_reports_from_two_workers_never_overlap(self):
        sim = self.lan.simulator(devices=1)
        probe = self.start_probe()
        probe.command('slow 300')
        probe.command('search')
        probe.wait_reports(2)
        wait_until(lambda: sum('Success Handle' in line for line in self.log()) >= 2, what='both hand-overs')
        events = []
        for line in self.log():
            m = re.match(r'Handle (\d+) : Search \d+ Thread Find Device (and wait for mutex|have Mutex|ID|Success)', line)
            if m:
                events.append((int(m.group(1)), m.group(2)))
        first_port = next(p for p, what in events if what == 'have Mutex')
        second_port = 67 if first_port == 1900 else 1900
        i_first_done = events.index((first_port, 'Success'))
        i_second_have = events.index((second_port, 'have Mutex'))
        self.assertLess(i_first_done, i_second_have)
        # The second report had to wait: its first line came before the first's last.
        self.assertLess(events.index((second_port, 'and wait for mutex')), i_first_done)


class MultiAddressMode(LanCase):
    devices = 2
    client_subnets = 2

    def test_every_local_address_searches_from_its_own_port(self):
        sim = self.lan.simulator(devices=2)
        sim.configure(None, broadcast=False)
        probe = self.start_probe(multi=True)
        threads = probe.threads()
        self.assertEqual([(t['local_ip'], t['port']) for t in threads['threads']],
                         [('', 67), ('', 1900), (self.lan.client_addrs[0], 1530), (self.lan.client_addrs[1], 1550)])
        self.assertEqual(threads['next_port'], 1570)
        probe.command('search')
        reqs = sim.wait_for_requests(3, proto='ssdp', own=False)
        sources = {(r['src'], r['sport']) for r in reqs}
        self.assertIn((self.lan.client_addrs[0], 1530), sources)
        self.assertIn((self.lan.client_addrs[1], 1550), sources)
        for r in reqs:
            self.assertEqual(r['data'], GOLDEN_MSEARCH)
        # Each thread hears the replies to its own request: two devices each.
        for port in (1900, 1530, 1550):
            reports = probe.wait_reports(2, port=port)
            self.assertEqual(sorted(r['ip'] for r in reports), sorted(self.lan.device_addrs[:2]))

    def test_no_command_thread_past_the_last_port(self):
        # Port numbers are 16 bits: one that would pass 65535 (with the ports a
        # thread may move on to) must not wrap round to a low port.
        self.lan.simulator(devices=1)
        probe = Probe(self.lan)
        self.addCleanup(probe.close)
        probe.command('first-port 65500')
        probe.init(self.log_dir, multi=True)
        threads = probe.threads()
        self.assertEqual([(t['local_ip'], t['port']) for t in threads['threads']],
                         [('', 67), ('', 1900), (self.lan.client_addrs[0], 65500)])
        self.assertIn('no port left for local IP %s : next port 65520, last port 65535' % self.lan.client_addrs[1],
                      '\n'.join(self.log()))

    def test_new_address_gets_a_thread_before_the_next_search_sends(self):
        sim = self.lan.simulator(devices=1)
        probe = self.start_probe(multi=True)
        probe.command('search')
        sim.wait_for_requests(3, proto='ssdp', own=False)
        probe.command('search')
        self.assertEqual(probe.threads()['next_port'], 1570)  # nothing new: nothing made

        self.lan.add_client_address('198.18.0.2')
        sim.clear_requests()
        probe.command('search')
        threads = probe.threads()
        self.assertEqual(threads['threads'][-1]['local_ip'], '198.18.0.2')
        self.assertEqual(threads['threads'][-1]['port'], 1570)
        self.assertEqual(threads['next_port'], 1590)
        reqs = sim.wait_for_requests(lambda r: r['src'] == '198.18.0.2', proto='ssdp', own=False)
        self.assertEqual(reqs[0]['sport'], 1570)
        log = self.log()
        made = max(i for i, line in enumerate(log) if 'Init Search Device Work Thread Value, strIP : 198.18.0.2' in line)
        last_search = max(i for i, line in enumerate(log) if line.startswith('SendMessage : pdhcp is NULL'))
        first_send = min(i for i, line in enumerate(log) if i > last_search and 'Send' in line and 'Command' in line)
        self.assertLess(made, first_send)


LAN1, LAN2 = '198.18.0.0/16', '198.19.0.0/16'


def igmp_groups(lan):
    """Interfaces of the client namespace that are members of the SSDP group."""
    text = lan.client_run(['cat', '/proc/net/igmp'], capture_output=True, text=True, check=True).stdout
    members, dev = set(), None
    for line in text.splitlines()[1:]:
        if not line.startswith('\t'):
            dev = line.split()[1].rstrip(':')
        elif line.split()[0] == 'FAFF8FEF':  # 239.143.255.250, as the kernel prints it
            members.add(dev)
    return members


class TwoNetworks(LanCase):
    """Multi-address mode on a client with two networks: device 0 answers only
    the broadcast search of the first, 1 of the second; 2 and 3 likewise for SSDP."""
    devices = 4
    client_subnets = 2

    def setUp(self):
        super().setUp()
        self.sim = self.lan.simulator()
        for i, subnet in enumerate((LAN1, LAN2)):
            self.sim.configure(i, broadcast={'subnet': subnet}, ssdp=False)
            self.sim.configure(i + 2, broadcast=False, ssdp={'subnet': subnet})

    def search_and_settle(self, probe, broadcasts, heard_on=0, expect=()):
        """One search; returns once every reply it drew has been handled: the
        ids in `expect` (the answers come on two sockets, in either order),
        then a marker behind the broadcast answers."""
        probe.command('search')
        self.sim.wait_for_requests(broadcasts, proto='broadcast', own=False)
        wait_until(lambda: not collections.Counter(expect) - collections.Counter(r['id'] for r in probe.reports()),
                   what='the answers %s' % (sorted(expect),))
        marker = reply_packet('id=MARK')
        self.sim.send(marker, self.lan.client_addrs[heard_on], 67, src_ip=self.lan.device_addrs[0])
        wait_until(lambda: any(r['id'] == 'MARK' for r in probe.reports()), what='the marker')
        return [r for r in probe.reports() if r['id'] != 'MARK']

    def test_broadcast_and_group_reach_every_network_once(self):
        # Broadcast went out only by the interface holding the 255.255.255.255
        # route, so a device of the second network was never listed.
        probe = self.start_probe(multi=True)
        reports = self.search_and_settle(probe, 2, expect=('DEV0', 'DEV1', 'DEV2', 'DEV3'))
        sources = sorted((r['src'], r['sport']) for r in self.sim.requests(proto='broadcast', own=False))
        self.assertEqual(sources, [(self.lan.client_addrs[0], 67), (self.lan.client_addrs[1], 67)])
        self.assertEqual(sorted(r['id'] for r in reports if r['port'] == 67), ['DEV0', 'DEV1'])
        self.assertEqual({r['id'] for r in reports if r['port'] != 67}, {'DEV2', 'DEV3'})
        self.assertEqual(igmp_groups(self.lan), {'eth0', 'eth1'})

    def test_network_joined_after_start_is_searched_and_joined(self):
        self.lan.set_client_link(1, up=False)
        probe = self.start_probe(multi=True)
        self.search_and_settle(probe, 1)
        self.assertEqual(igmp_groups(self.lan), {'eth0'})
        self.lan.set_client_link(1, up=True)
        self.sim.clear_requests()
        probe.command('search')
        req = self.sim.wait_for_requests(lambda r: r['src'] == self.lan.client_addrs[1], proto='broadcast', own=False)
        self.assertEqual(req[0]['sport'], 67)
        self.assertEqual(igmp_groups(self.lan), {'eth0', 'eth1'})

    def test_chosen_interface_alone_sends_and_is_heard(self):
        for include, exclude in (('eth1', '-'), ('-', 'eth0'), (self.lan.client_addrs[1], '-')):
            with self.subTest(include=include, exclude=exclude):
                self.sim.clear_requests()
                probe = self.start_probe(multi=True, interfaces=(include, exclude))
                self.assertEqual([(t['local_ip'], t['port']) for t in probe.threads()['threads']],
                                 [('', 67), ('', 1900), (self.lan.client_addrs[1], 1530)])
                expect = ['DEV1', 'DEV3', 'DEV3']
                reports = self.search_and_settle(probe, 1, heard_on=1, expect=expect)
                self.assertEqual(sorted(r['id'] for r in reports), expect)
                sent = self.sim.requests(own=False)
                self.assertEqual({r['src'] for r in sent}, {self.lan.client_addrs[1]})
                self.assertEqual(igmp_groups(self.lan), {'eth1'})
                # A reply that arrives on the other interface is not read.
                self.sim.send(reply_packet('id=OTHER'), self.lan.client_addrs[0], 67,
                              src_ip=self.lan.device_addrs[0])
                wait_until(lambda: any('Drop Datagram from' in line and 'not searched' in line
                                       for line in self.log()), what='the drop')
                self.assertNotIn('OTHER', [r['id'] for r in probe.reports()])
                probe.close()
                for name in os.listdir(self.log_dir):
                    os.remove(os.path.join(self.log_dir, name))


if __name__ == '__main__':
    unittest.main()
