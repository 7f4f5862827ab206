#!/usr/bin/env python3
"""Writes the seed corpora of the scan output, known devices' file and language
file fuzz targets
into tests/fuzz/corpus/<target>/.

The seeds are real-shaped inputs and the hostile shapes that the code must
survive. The two search protocols take their seeds from the fixture pairs in
tests/fixtures/ instead, where each message has its expected result beside it.
The output is committed; run this again after changing a seed here:

    tests/fuzz/make_corpus.py
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, 'corpus')
RESOURCES = os.path.join(HERE, '..', '..', 'src', 'resources')


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


def read_fixture(folder, name):
    with open(os.path.join(HERE, '..', 'fixtures', folder, name), 'rb') as f:
        return f.read()


def store_seeds():
    device = (b'{"vendor": "TAVIK", "id": "DEV0", "host": "nas0", "product": "P0", "address": "198.18.1.1", '
              b'"interface": "eth0", "mac": "02:00:5e:10:00:01", "first_seen": "2026-12-07T20:40:08Z", '
              b'"last_seen": "2026-12-07T20:40:08Z"}')
    whole = b'{\n  "version": 1,\n  "devices": [\n    ' + device + b'\n  ]\n}\n'
    return {
        'store_one_device': whole,
        'store_empty': b'{"version": 1, "devices": []}',
        'store_torn': whole[:len(whole) // 2],
        'store_unknown_members': b'{"version": 2, "note": {"a": [1, -2.5e3, true, null, "\\u00e9"]}, '
        b'"devices": [' + device[:-1] + b', "colour": "blue", "ports": [9, 7]}]}',
        'store_escapes': b'{"devices": [{"vendor": "V", "id": "\\ud83d\\ude00\\n\\"", '
        b'"host": "b\xc3\xbcro\\u0000", "last_seen": "1970-01-01T00:00:00Z"}]}',
        'store_bad_time': b'{"devices": [{"vendor": "V", "id": "I", "last_seen": "0999-02-29T24:00:00Z"}]}',
        'store_deep': b'{"devices": [], "x": ' + b'[' * 40 + b']' * 40 + b'}',
        # Members given twice, where the library alone would keep the last.
        'store_twice': b'{"devices": [' + device[:-1] + b', "id": "DEV1"}], "devices": []}',
        'store_bidi': b'{"devices": [{"vendor": "V", "id": "\u202eI", "host": "\u2066h\u2069\u007f\u009b"}]}',
        # A store as version 1.1.0 wrote it, with members a newer one added.
        'store_written_by_1_1_0': read_fixture('store', 'written_by_1.1.0.json'),
    }


def write(target, seeds):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
    return len(seeds)


def main():
    counts = {
        'fuzz_scan_json': write('fuzz_scan_json', json_seeds()),
        'fuzz_language_file': write('fuzz_language_file', language_seeds()),
        'fuzz_known_store': write('fuzz_known_store', store_seeds()),
    }
    for target, n in counts.items():
        print('%-22s %d seeds' % (target, n))
    return 0


if __name__ == '__main__':
    sys.exit(main())
