#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>/.

The seeds are real-shaped messages (what devices and the simulator send) and
the hostile shapes that the parsers must survive. The output is committed; run
this again after changing a seed here:

    tests/fuzz/make_corpus.py
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, 'corpus')
RESOURCES = os.path.join(HERE, '..', '..', 'src', 'resources')

CRLF = b'\r\n'


def http(lines, eol=CRLF):
    return eol.join(lines) + eol + eol


REPLY = [
    b'HTTP/1.1 200 OK',
    b'CACHE-CONTROL: max-age=1800',
    b'EXT:',
    b'LOCATION: http://198.18.1.1:5000/desc.xml',
    b'SERVER: VEXA/2.1, UPnP/1.0, TAVIK/nas0/P0',
    b'ST: urn:schemas-upnp-org:device:HomeNasDevice:1',
    b'USN: uuid:DEV0::urn:schemas-upnp-org:device:HomeNasDevice:1',
]


def notify(nts, sep=b' ', nt=b'upnp:rootdevice', extra=()):
    return http([
        b'NOTIFY * HTTP/1.1',
        b'HOST: 239.143.255.250:1900',
        b'CACHE-CONTROL: max-age=1800',
        b'LOCATION: http://198.18.1.9:5000/desc.xml',
        b'NT: ' + nt,
        b'NTS:' + sep + nts,
        b'SERVER: VEXA/3.0.1, UPnP/1.0, VORAN5/storage-9/X200/rev2',
        b'USN: uuid:7c1e52a0-93d4-4b8f-a1e6-5d2c0f9b3e71::upnp:rootdevice',
    ] + list(extra))


def ssdp_seeds():
    seeds = {
        'reply_simulator': http(REPLY),
        'reply_full_example': http([
            b'HTTP/1.1 200 OK',
            b'LOCATION: http://192.168.1.20:5000/rootDesc.xml',
            b'SERVER: VEXA/2.1, UPnP/1.0, V1/nas1/N2/r5',
            b'USN: uuid:abcd::urn:schemas-upnp-org:device:HomeNasDevice:1',
        ]),
        'reply_real_headers': http([
            b'HTTP/1.1 200 OK',
            b'CACHE-CONTROL: max-age=120',
            b'DATE: Sat, 01 Jun 2024 10:00:00 GMT',
            b'EXT:',
            b'BOOTID.UPNP.ORG: 1717236000',
            b'CONFIGID.UPNP.ORG: 1337',
            b'ST: urn:schemas-upnp-org:device:HomeNasDevice:1',
            b'USN: uuid:0011328a-2c9b-4d69-9d41-6e692d444c16::urn:schemas-upnp-org:device:HomeNasDevice:1',
            b'SERVER: VEXA/4.2.0-r17, UPnP/1.1, ESKAL/backup-store-02/BX-400/fw-7.2.1-1234',
            b'LOCATION: http://198.18.7.42:49152/description.xml',
            b'SEARCHPORT.UPNP.ORG: 1901',
            b'X-DEVICE-STATE: ready; since=1717236000',
        ]),
        'notify_alive': notify(b'ssdp:alive'),
        'notify_byebye_tab': notify(b'ssdp:byebye', sep=b'\t \t'),
        'notify_update': notify(b'ssdp:update', extra=[b'NEXTBOOTID.UPNP.ORG: 2']),
        'notify_not_root': notify(b'ssdp:alive', nt=b'urn:schemas-upnp-org:device:HomeNasDevice:1'),
        'reply_lf_only': http(REPLY, eol=b'\n'),
        'reply_no_location': http([l for l in REPLY if not l.startswith(b'LOCATION')]),
        'reply_ipv6_location': http([b'HTTP/1.1 200 OK', b'LOCATION: http://[fe80::1]:5000/d.xml',
                                     b'SERVER: VEXA/2.1, UPnP/1.0, MIRDO/n/p', b'USN: uuid:v6::x']),
        'reply_location_no_port': http([b'HTTP/1.1 200 OK', b'LOCATION: http://198.18.0.5/desc.xml',
                                        b'SERVER: VEXA/2.1, UPnP/1.0, TELQUIN/a/b/c/d/e', b'USN: uuid:np::x']),
        'server_200_slashes': http([b'HTTP/1.1 200 OK', b'LOCATION: http://198.18.1.2:80/',
                                    b'SERVER: VEXA/' + b'/' * 200 + b', UPnP/1.0, ' + b'/' * 200,
                                    b'USN: uuid:slashes::x']),
        'location_at_end': b'HTTP/1.1 200 OK\r\nSERVER: VEXA/1, a, b/c/d\r\nUSN: uuid:e::f\r\nLOCATION:',
        'nul_in_middle': http(REPLY)[:60] + b'\x00' + http(REPLY)[61:],
        'headers_without_values': http([b'HTTP/1.1 200 OK', b'LOCATION:', b'SERVER:', b'USN:', b'NTS:',
                                        b'VEXA']),
        'usn_colons_next_line': http([b'HTTP/1.1 200 OK', b'SERVER: VEXA/2.1, UPnP/1.0, V1/h/p',
                                      b'USN: uuid:abcd', b'X: ::']),
        'msearch_with_vexa': http([b'M-SEARCH * HTTP/1.1', b'HOST: 239.143.255.250:1900',
                                   b'ST: urn:schemas-upnp-org:device:HomeNasDevice:1',
                                   b'MAN: "ssdp:discover"', b'MX: 3', b'USER-AGENT: VEXA/1.0',
                                   b'USN: uuid:me::x']),
        'long_items': http([b'HTTP/1.1 200 OK', b'LOCATION: http://' + b'9' * 80 + b':1/',
                            b'SERVER: VEXA/' + b'7' * 40 + b', UPnP/1.0, ' + b'V' * 40 + b'/' + b'H' * 40 +
                            b'/' + b'P' * 40 + b'/' + b'R' * 40,
                            b'USN: uuid:' + b'I' * 60 + b'::x']),
        'utf8_and_binary_texts': http([b'HTTP/1.1 200 OK', b'LOCATION: http://198.18.9.9:1/',
                                       'SERVER: VEXA/2.1, UPnP/1.0, TAVIK/\u5b58\u50a8\u5668/\u2067P\u2069'
                                       .encode('utf-8') + b'\xff\xfe\x1b[31m',
                                       b'USN: uuid:"\\\x01::x']),
        'lowercase_headers': http([b'HTTP/1.1 200 OK', b'location: http://198.18.1.3:80/',
                                   b'server: VEXA/2.1, UPnP/1.0, TAVIK/a/b', b'usn: uuid:lc::x']),
    }
    # A message of 1024 bytes that ends in the middle of a header, as the
    # receive loop cuts a longer datagram.
    long_msg = http(REPLY[:4] + [b'X-PADDING: ' + b'p' * 1200] + REPLY[4:])
    seeds['cut_at_1024_mid_header'] = long_msg[:1024]
    cut = http(REPLY[:1] + [b'X-PADDING: ' + b'p' * 820] + REPLY[1:])
    seeds['cut_at_1024_in_server'] = cut[:1024]
    return seeds


def packet(code=12, ptype=1, text=b'', raw_text=None):
    body = raw_text if raw_text is not None else text.ljust(128, b'\x00')[:128]
    return struct.pack('BB2s4s12s', code, ptype, b'\x00\x00', b'\xff' * 4, b'\x00' * 12) + body


def broadcast_seeds():
    return {
        'reply_simulator': packet(text=b'id=DEV0&host=nas0&vendor=TAVIK&product=P0'),
        'reply_example': packet(text=b'id=0A1B&host=nas1&vendor=V1&product=N2'),
        'reply_byebye_type4': packet(ptype=4, text=b'id=DEV7&host=nas7&vendor=ESKAL&product=P7'),
        'reply_some_keys': packet(text=b'id=A&host=B'),
        'reply_long_product': packet(text=b'id=1&product=' + b'P' * 40 + b'&vendor=MIRDO'),
        'reply_uuid_first': packet(text=b'uuid=X&id=Y&host=h'),
        'reply_no_nul': packet(raw_text=b'id=' + b'x' * 125),
        'reply_empty_values': packet(text=b'id=&host=&vendor=&product=&&&'),
        'reply_nul_inside': packet(text=b'id=AB\x00host=hidden&vendor=TAVIK'),
        'reply_utf8_texts': packet(text='id=\u00e9\u00e8&host=\u5b58\u50a8&vendor=TELQUIN&product=\u2067x'
                                   .encode('utf-8')),
        'reply_binary': packet(text=bytes(range(1, 128))),
        'search_request': packet(code=11, ptype=1),
        'short_147': packet(text=b'id=short')[:147],
        'long_149': packet(text=b'id=long') + b'\x00',
        'dhcp_discover_like': bytes([1, 1, 6, 0]) + b'\x39\x03\xf3\x26' + b'\x00' * 228 +
        b'\x63\x82\x53\x63\x35\x01\x01\xff',
        'empty': b'',
    }


def record(id_=b'', ip=b'', host=b'', product=b'', extra=b'', osv=b'', factory=b'', rtype=1, life=60):
    def field(v):
        return v[:32].ljust(32, b'\x00')
    return b''.join(field(v) for v in (id_, ip, host, product, extra, osv, factory)) + \
        struct.pack('<i4xq', rtype, life)


def json_seeds():
    return {
        'record_simulator': record(b'DEV0', b'198.18.1.1', b'nas0', b'P0', b'', b'2.1', b'TAVIK'),
        'record_full': record(b'abcd', b'192.168.1.20', b'nas1', b'N2', b'r5', b'2.1', b'V1', rtype=2),
        'record_cjk': record(b'id', b'198.18.1.2', '\u5b58\u50a8\u5668\u4e00\u53f7'.encode('utf-8'),
                             '\ud55c\uae00'.encode('utf-8'), factory=b'ESKAL'),
        'record_quotes_controls': record(b'"\\/\b\f\n\r\t', b'\x01\x02\x1f\x7f', b'\x1b[2J\x1b]0;x\x07',
                                         '\u0085\u009b'.encode('utf-8'), factory=b'MIRDO'),
        'record_bidi': record(b'a', b'b', '\u202eevil\u202c\u2066x\u2069'.encode('utf-8'), factory=b'TELQUIN'),
        'record_invalid_utf8': record(b'\xff\xfe', b'\xc0\xaf', b'\xed\xa0\x80', b'\xf4\x90\x80\x80',
                                      b'\xe2\x82', b'\xf0\x9f\x98', b'\x80\xbf', rtype=-1),
        'record_unterminated': b'A' * 224 + struct.pack('<i4xq', 4, 60),
        'record_split_sequence': record(b'x' * 30 + '\u00e9'.encode('utf-8'), b'y' * 31 + b'\xc3'),
        'text_plain': b'nas-storage-01',
        'text_utf8_mixed': 'caf\u00e9 \u5b58 \U0001F600 \u0000 end'.encode('utf-8'),
    }


def language_seeds():
    seeds = {}
    for name in ('XML_ch', 'XML_tl', 'XML_en'):
        path = os.path.join(RESOURCES, name + '.xml')
        if os.path.exists(path):
            with open(path, 'rb') as f:
                seeds[name.lower()] = f.read()
    en = seeds.get('xml_en', b'<LanguageCFG><NODE><KEY KeyString="List1" String="Host" Size="11"/></NODE>'
                             b'</LanguageCFG>')
    seeds.update({
        'empty': b'',
        'binary': bytes(range(256)),
        'truncated': en[:len(en) * 2 // 3],
        'billion_laughs': b'<?xml version="1.0"?>\n<!DOCTYPE lolz [\n <!ENTITY lol "lol">\n' +
        b''.join(b' <!ENTITY lol%d "%s">\n' % (i, (b'&lol%d;' % (i - 1) if i > 1 else b'&lol;') * 10)
                 for i in range(1, 10)) +
        b']>\n<LanguageCFG><NODE><KEY KeyString="List1" String="&lol9;"/></NODE></LanguageCFG>\n',
        'external_entity': b'<?xml version="1.0"?>\n<!DOCTYPE LanguageCFG [\n'
        b' <!ENTITY xxe SYSTEM "file:///etc/passwd">\n]>\n'
        b'<LanguageCFG><NODE><KEY KeyString="List1" String="&xxe;"/></NODE></LanguageCFG>\n',
        'parameter_entity': b'<?xml version="1.0"?>\n<!DOCTYPE x [<!ENTITY % p SYSTEM "http://198.18.0.1/x.dtd"> %p;]>'
        b'<LanguageCFG/>',
        'nested_200': b'<LanguageCFG>' + b'<NODE>' * 200 + b'<KEY KeyString="deep" String="d"/>' +
        b'</NODE>' * 200 + b'</LanguageCFG>',
        'key_outside_node': b'<LanguageCFG><KEY KeyString="lost" String="x"/><NODE/></LanguageCFG>',
        'two_keys_one_node': b'<LanguageCFG><NODE><KEY KeyString="Refresh" String="a" Font="F" Size="9"/>'
        b'<KEY KeyString="Refresh" String="b"/></NODE></LanguageCFG>',
        'duplicate_keys': b'<LanguageCFG><NODE><KEY KeyString="List2" String="first"/></NODE>'
        b'<NODE><KEY KeyString="List2" String="second"/></NODE></LanguageCFG>',
        'sizes': b'<LanguageCFG><NODE><KEY KeyString="a" Size=" 13.5pt"/></NODE>'
        b'<NODE><KEY KeyString="b" Size="1e999"/></NODE><NODE><KEY KeyString="c" Size="-.5e-3x"/></NODE>'
        b'<NODE><KEY KeyString="d" Size="nan"/></NODE><NODE><KEY KeyString="e" Size="12e"/></NODE>'
        b'</LanguageCFG>',
        'char_refs_cdata_comments': b'<?xml version="1.0" encoding="UTF-8"?><!-- c --><?pi x?>'
        b'<LanguageCFG><NODE><![CDATA[<KEY KeyString="no"/>]]><KEY KeyString="&#x5b58;&lt;&amp;"'
        b' String="&#10;&#x1F600;&quot;"/></NODE></LanguageCFG>',
        'utf16': '<?xml version="1.0" encoding="UTF-16"?><LanguageCFG><NODE><KEY KeyString="u" '
        'String="\u5b58"/></NODE></LanguageCFG>'.encode('utf-16'),
        'latin1_declared': b'<?xml version="1.0" encoding="ISO-8859-1"?><LanguageCFG><NODE>'
        b'<KEY KeyString="l" String="caf\xe9"/></NODE></LanguageCFG>',
        'no_root_element': b'<Other><NODE><KEY KeyString="List1" String="x"/></NODE></Other>',
        'two_roots_ends': b'<LanguageCFG><LanguageCFG/></LanguageCFG>',
        'mismatched_tags': b'<LanguageCFG><NODE><KEY KeyString="k"/></KEY></LanguageCFG>',
        'namespaced': b'<x:LanguageCFG xmlns:x="urn:x"><x:NODE><KEY x:KeyString="n" KeyString="m"/>'
        b'</x:NODE></x:LanguageCFG>',
    })
    return seeds


def write(target, seeds):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
    return len(seeds)


def main():
    counts = {
        'fuzz_ssdp_parser': write('fuzz_ssdp_parser', ssdp_seeds()),
        'fuzz_broadcast_reply': write('fuzz_broadcast_reply', broadcast_seeds()),
        'fuzz_scan_json': write('fuzz_scan_json', json_seeds()),
        'fuzz_language_file': write('fuzz_language_file', language_seeds()),
    }
    for target, n in counts.items():
        print('%-22s %d seeds' % (target, n))
    return 0


if __name__ == '__main__':
    sys.exit(main())
