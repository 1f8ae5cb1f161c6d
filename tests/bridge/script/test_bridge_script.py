"""The VintrelleBridge Remote Script over real loopback sockets, with stand-ins for Live and a fake clock ticked by hand."""

import ast
import contextlib
import json
import os
import select
import socket
import subprocess
import sys
import tempfile
import time
import types
import unittest
from urllib.parse import quote

import VintrelleBridge
from VintrelleBridge import bridge

TOKEN = 'f00d' * 16
SCRIPT_DIR = os.path.dirname(os.path.abspath(VintrelleBridge.__file__))
CASES = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'data', 'bridge-config-cases.json')
MOON = '\U0001F319'  # two UTF-16 units


class Item(object):
    """A browser item; listing its children adds `cost` seconds to `meter.now`."""
    meter, cost = None, 0.0

    def __init__(self, name, uri=None, loadable=True, children=(), device=False):
        self.name, self.uri, self._children, self.is_device = name, uri or 'query:Test#' + name, list(children), device
        self.is_folder, self.is_loadable = bool(children) and not device, loadable

    @property
    def children(self):
        if self.meter is not None:
            self.meter.now += self.cost
        return list(self._children)


def folder(name, *children):
    return Item(name, loadable=False, children=children)


def request(method, path, token=TOKEN, body=None, headers=()):
    lines = ['%s %s HTTP/1.1' % (method, path), 'Host: 127.0.0.1'] + (['Authorization: Bearer ' + token] if token is not None else [])
    payload = body if isinstance(body, bytes) or body is None else json.dumps(body).encode('utf-8')
    lines += list(headers) + (['Content-Length: %d' % len(payload)] if payload is not None else [])
    return ('\r\n'.join(lines) + '\r\n\r\n').encode('utf-8') + (payload or b'')


class Client(object):
    """A raw loopback connection; pump() takes what has arrived without waiting and tells whether the bridge closed it."""

    def __init__(self, case, port=None):
        self.sock = socket.create_connection(('127.0.0.1', port or case.service.port), timeout=2)
        case.addCleanup(self.sock.close)
        self.send, self.buf, self.eof, self.reset = self.sock.sendall, b'', False, False

    def pump(self):
        while not self.eof and select.select([self.sock], [], [], 0)[0]:
            try:
                chunk = self.sock.recv(65536)
            except ConnectionResetError:
                chunk, self.reset = b'', True
            self.eof, self.buf = not chunk, self.buf + chunk
        return self.eof


class BridgeTests(unittest.TestCase):
    """The script on a free loopback port; self.now is its clock."""

    def make_browser(self):
        names = ['Hybrid Reverb', 'Reverb Garden', 'reverb', 'Reverb', 'Convolution Reverb', 'Verb', 'Pad Reverberant', 'Rock;Roll+Pad',
                 'Dub Echo', MOON * (bridge.MAX_QUERY // 2), 'N' * 600, 'Moon ' + MOON * 300]
        too_long = [Item('Huge', uri='u:' + 'x' * (bridge.MAX_URI - 2)), Item('Huger', uri='u:' + MOON * (bridge.MAX_URI // 2))]
        presets = lambda device: Item(device, device=True, children=[Item('%s Preset %02d' % (device, i)) for i in range(30)])
        vendor = lambda uri: folder('Halvorsen Audio', Item('Frostline Synth', uri=uri))
        groups = [folder('Group %d' % g, *[Item('Effect %d-%d' % (g, i)) for i in range(10)]) for g in range(8)]
        broken = type('Broken', (), dict.fromkeys(('children', 'name'), property(lambda self: 1 / 0)))()  # every access fails
        browser = types.SimpleNamespace(loaded=[], instruments=folder('Instruments', presets('Operator'), presets('Wavetable'), Item('Simpler')),
                                        audio_effects=folder('Audio Effects', *[Item(n) for n in names] + too_long + groups),
                                        sounds=folder('Sounds', *[Item('Pad %03d' % i) for i in range(150, 0, -1)]),
                                        plugins=folder('Plug-Ins', folder('VST3', vendor('vst3:frost')), folder('Audio Units', vendor('au:frost'))),
                                        user_library=folder('User Library', Item('Simpler')),  # reached again: keeps its first path
                                        user_folders=[folder('Sound Design', Item('Riser')), folder('Field', Item('Rain'))], max_for_live=broken)
        browser.load_item = lambda item: browser.loaded.append(item.name)
        return browser

    def setUp(self):
        home = tempfile.TemporaryDirectory(prefix='vintrelle-bridge-')
        self.addCleanup(home.cleanup)
        self.home, self.now, self.browser = home.name, 1000.0, self.make_browser()
        self.surface, self.live = self.start({'token': TOKEN}, port=0)
        self.service = self.surface.service

    def start(self, config, **kw):
        """A bridge that reads `config` as its config.json, and Live's handle for it, which keeps what the bridge logs."""
        with open(os.path.join(self.home, 'config.json'), 'w', encoding='utf-8') as f:
            json.dump(config, f)
        sys.modules['Live'] = types.SimpleNamespace(Application=types.SimpleNamespace(get_application=lambda: self))  # its browser: self.browser
        live = types.SimpleNamespace(messages=[], song=lambda: None)
        live.log_message = live.messages.append
        surface = bridge.VintrelleBridge(live, config_path=f.name, clock=lambda: self.now, **kw)
        self.addCleanup(surface.disconnect)
        return surface, live

    def charge(self, cost):
        """Makes every folder Live lists cost `cost` clock seconds; the walk gets 5 ms a tick."""
        Item.meter, Item.cost = self, cost
        self.addCleanup(setattr, Item, 'meter', None)
        self.service.index.budget = 0.005

    def tick(self, times=1):
        for _ in range(times):
            self.surface.update_display()

    def finish(self, client, status=200, code=None):
        """Ticks until the bridge has answered `client`; checks the status, error (a sentence) and form of the answer; returns its data."""
        for _ in range(40):
            if not client.pump():
                self.tick()
        self.assertEqual((client.eof, client.reset), (True, False), 'no complete answer after 40 ticks (got %r)' % client.buf[:200])
        head, _, body = client.buf.partition(b'\r\n\r\n')
        lines, doc = head.decode('latin-1').split('\r\n'), json.loads(body.decode('utf-8'))
        headers = dict((k.lower(), v.strip()) for k, _, v in (line.partition(':') for line in lines[1:]))
        self.assertEqual((int(lines[0].split(' ')[1]), doc['ok'], doc.get('error', {}).get('code')), (status, code is None, code), client.buf)
        self.assertEqual((headers['content-type'], headers['connection'], int(headers['content-length'])),
                         ('application/json; charset=utf-8', 'close', len(body)))
        self.assertTrue(code is None or doc['error']['message'].endswith('.'), doc)
        return doc.get('data')

    def exchange(self, raw, *expected):
        client = Client(self)
        client.send(raw)
        return self.finish(client, *expected)

    def search(self, query, *expected):
        return self.exchange(request('GET', '/v1/browser/search?query=' + quote(query, safe='')), *expected)

    def test_config_json_read_as_the_program_reads_it(self):
        with open(CASES, encoding='utf-8') as f:
            cases = json.load(f)['cases']
        self.assertGreater(len(cases), 40)
        for number, case in enumerate(cases):
            with self.subTest(case['case']):
                path = os.path.join(self.home, 'case%d.json' % number)
                data = bytes.fromhex(case['hex']) if 'hex' in case else case.get('text', '').encode('utf-8', 'surrogatepass')
                if 'nest' in case:
                    data = b'{"token": "t", "x": ' + b'[' * (case['nest'] - 1) + b']' * (case['nest'] - 1) + b'}'
                if case.get('file') == 'folder':
                    os.mkdir(path)
                elif 'file' not in case:
                    with open(path, 'wb') as f:
                        f.write(data + b' ' * (case.get('padTo', 0) - len(data)))
                config, refusal = bridge.read_config(path)
                self.assertEqual((list(config) if config else None, refusal is None), (case['expect'], config is not None))
        self.assertTrue(self.start({'token': '\ud800'}, port=0)[0].service.listening)  # accepted by the program, so served
        # A refused file: nothing listens, and Live's log says why.
        surface, live = self.start({'port': 45873.5, 'token': TOKEN}, port=0)
        surface.update_display()
        self.assertEqual((surface.service.listening, len(live.messages)), (False, 1))
        self.assertIn('"port" in %s is not a whole number from 1 to 65535' % surface.service.config_path, live.messages[0])

    def test_busy_configured_port_is_retried_later_on_loopback_only(self):
        holder = socket.create_server(('127.0.0.1', 0))
        self.addCleanup(holder.close)
        port = holder.getsockname()[1]
        surface, live = self.start({'port': port, 'token': TOKEN})
        self.assertEqual((surface.service.listening, any('cannot listen' in m for m in live.messages)), (False, True))
        holder.close()
        self.now += bridge.REBIND_EVERY
        surface.update_display()
        self.assertEqual(surface.service._listener.getsockname(), ('127.0.0.1', port))

    def test_script_loads_in_live_and_answers_everything_live_calls(self):
        # Live 11 embeds Python 3.7; newer syntax would stop the script loading there.
        with self.assertRaises(SyntaxError):
            ast.parse('if (n := 1): pass', feature_version=(3, 7))  # the check itself can fail
        for name in ('__init__.py', 'bridge.py'):
            with open(os.path.join(SCRIPT_DIR, name), encoding='utf-8') as f:
                ast.parse(f.read(), filename=name, feature_version=(3, 7))
        surface = VintrelleBridge.create_instance(self.live)
        self.addCleanup(surface.disconnect)
        self.assertEqual(surface.service.config_path, os.path.join(SCRIPT_DIR, 'config.json'))  # where the installer writes it
        calls = [('connect_script_instances', [surface]), ('build_midi_map', None), ('receive_midi', (144, 60, 100)), ('lock_to_device', None),
                 ('unlock_from_device', None), ('restore_bank', 0), ('suggest_map_mode', 7, 0), ('suggest_needs_takeover', 7, 0)] + [
            (name,) for name in 'refresh_state port_settings_changed can_lock_to_devices suggest_input_port suggest_output_port song'.split()]
        for name, *args in calls + [('supports_pad_translation',), ('update_display',), ('disconnect',), ('update_display',)]:
            with self.subTest(name):
                getattr(surface, name)(*args)
        self.assertTrue(all(m.startswith('(VintrelleBridge) ') for m in self.live.messages))

    def test_refusals(self):
        header = lambda line: ('GET /v1/health HTTP/1.1\r\nAuthorization: Bearer %s\r\n%s\r\n\r\n' % (TOKEN, line)).encode()
        refusals = {  # the token is checked first, whatever the path and the size of the body
            (401, 'unauthorised'): [
                request('GET', '/v1/health', None), request('POST', '/v1/load', 'nope'), request('GET', '/v1/nowhere', TOKEN + '0'),
                request('GET', '/v1/nowhere', 'f\u00f6\u00f6d'), request('POST', '/v1/load', TOKEN[:-1], body={'uri': 'query:Test#Operator'}),
                request('GET', '/v1/health', None, headers=('Authorization: Basic ' + TOKEN,)),
                request('POST', '/v1/load', 'x', headers=('Content-Length: 99999999',))],
            (404, 'not_found'): [request('GET', '/v1/nowhere')],
            (405, 'method_not_allowed'): [request('POST', '/v1/health', body={}), request('GET', '/v1/load')],
            (431, 'request_too_large'): [request('GET', '/v1/health', headers=('X-Pad: ' + 'a' * bridge.MAX_HEAD_BYTES,)),
                                         b'GET /v1/health HTTP/1.1\r\nX-Pad: ' + b'a' * bridge.MAX_HEAD_BYTES],  # that never ends
            (413, 'request_too_large'): [request('POST', '/v1/load', headers=('Content-Length: %d' % (bridge.MAX_BODY_BYTES + 1),))],
            (501, 'invalid_request'): [header('Transfer-Encoding: chunked') + b'0\r\n\r\n'],
            (400, 'invalid_request'): [
                b'HELLO\r\n\r\n', request('GET', '/v1/health').replace(b'HTTP/1.1', b'HTTP/2.0'), request('GET', 'http://127.0.0.1/v1/health'),
                header('Authorization: Bearer ' + TOKEN), header('Broken header'), header('X-A: 1\r\n  more'), header('Content-Length: -1'),
                request('POST', '/v1/load', body=b'{"uri": ' + b'[' * 30000 + b']' * 30000 + b'}')]
            + [request('GET', '/v1/browser/search' + q) for q in ('?query=', '?query=%20%09', '?query=%ff', '?query=' + 'a' * (bridge.MAX_QUERY + 1),
                                                                  '?query=' + quote(MOON * (bridge.MAX_QUERY // 2) + 'a'))]
            + [request('POST', '/v1/load', body=body) for body in (b'', b'[]', b'{"uri": 5}', b'{"uri": ""}', b'\xff\xfe',
                                                                   ('{"uri": "%s"}' % ('x' * (bridge.MAX_URI + 1))).encode())]}
        for (status, code), raws in refusals.items():
            for raw in raws:
                with self.subTest(raw[:200]):
                    self.exchange(raw, status, code)
        self.assertEqual(self.browser.loaded, [])
        self.assertTrue(self.exchange(request('GET', '/v1/health', None, headers=('Authorization: bEARER ' + TOKEN,)))['configured'])

    def test_search_ranking_limits_and_query_decoding(self):
        rows = [('%20REVERB+', ['Reverb', 'reverb', 'Reverb Garden', 'Convolution Reverb', 'Hybrid Reverb', 'Pad Reverberant']),
                (';roll%2Bpad', ['Rock;Roll+Pad']), ('dub+echo&query=op', ['Dub Echo']), ('nnnnnnnnnn', ['N' * bridge.MAX_NAME]),
                ('huge', ['Huge']), (quote(MOON * (bridge.MAX_QUERY // 2)), [MOON * (bridge.MAX_QUERY // 2), 'Moon ' + MOON * 247]),  # UTF-16 units
                ('pad', ['Pad %03d' % i for i in range(1, bridge.RESULT_LIMIT + 1)], True), ('pad+14', ['Pad 14%d' % i for i in range(10)])]
        for query, names, *truncated in rows:
            with self.subTest(query=query):
                data = self.exchange(request('GET', '/v1/browser/search?query=' + query))
                self.assertEqual(([i['name'] for i in data['items']], data['truncated']), (names, truncated == [True]))

    def test_slow_requests_get_408_and_others_are_served_meanwhile(self):
        raw = request('POST', '/v1/load', body={'uri': 'query:Test#Operator'})
        slow_head, slow_body = Client(self), Client(self)
        slow_head.send(raw[:20])
        slow_body.send(raw[:raw.index(b'\r\n\r\n') + 7])
        self.tick(3)
        self.assertTrue(self.search('wave')['items'])
        self.now += bridge.HEAD_DEADLINE
        self.tick()
        for _ in range(3):  # still sending after its answer: drained, not reset
            slow_head.send(b'x' * 1000)
            self.tick()
        self.finish(slow_head, 408, 'request_timeout')
        self.assertFalse(slow_body.pump())  # its head came in time: the whole request has longer
        self.now += bridge.REQUEST_DEADLINE - bridge.HEAD_DEADLINE
        self.finish(slow_body, 408, 'request_timeout')
        self.assertEqual(self.browser.loaded, [])

    def test_full_table_evicts_idle_clients_and_refuses_only_beyond_real_work(self):
        idle = [Client(self) for _ in range(bridge.MAX_CONNECTIONS)]
        self.tick(3)
        # A newcomer takes the place of the oldest client that sent no head.
        self.assertEqual(self.search('operator')['items'][0]['name'], 'Operator')
        self.assertEqual([c.pump() for c in idle], [True] + [False] * (len(idle) - 1))
        # Authorised requests waiting for their bodies hold their places...
        waiting = [Client(self) for _ in range(bridge.MAX_CONNECTIONS)]
        for client in waiting:
            client.send(request('POST', '/v1/load', headers=('Content-Length: 40',)))
        self.tick(3)
        # ...so a newcomer is told the bridge is busy, an answer that survives all it still sends.
        refused, unsent = Client(self), memoryview(request('POST', '/v1/load', body=b'x' * (bridge.MAX_BODY_BYTES * 8)))
        refused.sock.setblocking(False)
        for _ in range(200):
            with contextlib.suppress(BlockingIOError):
                unsent = unsent[refused.sock.send(unsent):]
            self.tick()
        self.assertEqual(len(unsent), 0)
        self.finish(refused, 503, 'busy')
        for client in waiting:
            client.send(b'{"uri": "query:Test#Operator"}'.ljust(40))
        self.tick(3)
        self.assertEqual(self.browser.loaded, ['Operator'] * bridge.MAX_CONNECTIONS)

    def test_idle_and_trickling_clients_do_not_shut_out_a_search_in_the_simulator(self):
        proc = subprocess.Popen([sys.executable, os.environ['VINTRELLE_BRIDGE_SIMULATOR'], '--config', os.path.join(self.home, 'simulator.json'),
                                 '--port', '0'], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (proc.kill(), proc.wait(), proc.stdout.close()))
        ready = json.loads(proc.stdout.readline())
        # On the real clock, more clients than the bridge has places for: half idle, half sending a head byte by byte.
        clients = [Client(self, ready['port']) for _ in range(max(40, bridge.MAX_CONNECTIONS + 8) + 1)]
        searcher, head, start = clients.pop(), b'GET /v1/health HTTP/1.1\r\nX-Slow: ' + b'a' * 1000, time.monotonic()
        searcher.send(request('GET', '/v1/browser/search?query=operator', ready['token']))
        while not searcher.pump() and time.monotonic() - start < 20:
            for client in clients[::2]:
                with contextlib.suppress(OSError):  # dropped by the bridge
                    client.send(head[:1])
            head = head[1:]
            time.sleep(0.05)
        self.assertTrue(searcher.buf.startswith(b'HTTP/1.1 200 '), searcher.buf[:300])
        self.assertEqual(json.loads(searcher.buf.partition(b'\r\n\r\n')[2])['data']['items'][0]['name'], 'Operator')

    def test_load_outcomes(self):
        cases = [('indexed', 'query:Test#Verb', None, 200, None, ['Verb']),
                 ('added since the walk', 'u:Meld', lambda b: b.sounds._children.append(Item('Meld', uri='u:Meld')), 200, None, ['Meld']),
                 ('unknown after walking again', 'u:Gone', None, 404, 'item_not_found', []),
                 ('walk too slow', 'u:Gone', lambda b: vars(b.sounds).update(meter=self, cost=bridge.LOAD_WAIT + 1), 503, 'browser_scanning', []),
                 ('Live refuses', 'query:Test#Verb', lambda b: setattr(b, 'load_item', lambda item: 1 / 0), 500, 'load_failed', []),
                 ('not loadable now', 'query:Test#Pad 001', lambda b: setattr(b.sounds._children[-1], 'is_loadable', False), 409, 'not_loadable', [])]
        for name, uri, change, status, code, loaded in cases:
            with self.subTest(name):
                self.setUp()
                self.tick()
                if change:
                    change(self.browser)
                data = self.exchange(request('POST', '/v1/load', body={'uri': uri}), status, code)
                self.assertEqual((data['loaded'], self.browser.loaded), (not code, loaded))

    def test_walk_spreads_over_ticks_within_the_budget_and_refreshes_behind_the_old_index(self):
        self.charge(0.001)
        index, ticks = self.service.index, 0
        while index.generation == 0:
            start, ticks = self.now, ticks + 1
            self.tick()
            self.assertLessEqual(self.now - start, index.budget + 0.001 + 1e-9)  # one listing may start just before the budget runs out
            self.assertLess(ticks, 100)
        self.assertEqual(len(index.entries), 63 + 93 + 150 + 2 + 2)  # not Huger, nor Simpler twice
        paths = dict((entry[1], entry[3]) for entry in index.entries)
        self.assertEqual([paths[name] for name in ('Operator Preset 00', 'Simpler', 'Effect 3-4', 'Rain')],
                         ['Instruments/Operator', 'Instruments', 'Audio Effects/Group 3', 'Field'])
        self.assertNotIn('Group 1', paths)  # folders are not loadable
        self.browser.instruments._children.append(Item('Late Arrival'))
        self.now += bridge.STALE_AFTER + 1
        # The first search after the index went stale answers from it at once; a later one sees the new walk.
        data = self.search('late arrival')
        self.assertEqual((data['items'], data['complete'], self.service.index.building), ([], True, True))
        self.tick(60)
        self.assertEqual([i['name'] for i in self.search('late arrival')['items']], ['Late Arrival'])

    def test_search_waits_for_the_first_walk_or_answers_from_a_partial_one(self):
        self.charge(0.001)
        data = self.search('frostline')
        self.assertEqual([(i['uri'], i['path'], data['complete']) for i in data['items']],
                         [('au:frost', 'Plug-Ins/Audio Units/Halvorsen Audio', True), ('vst3:frost', 'Plug-Ins/VST3/Halvorsen Audio', True)])
        self.setUp()
        self.charge(1.0)
        data = self.search('preset')
        self.assertEqual((bool(data['items']), data['complete']), (True, False))
        self.assertLess(self.now - 1000.0, bridge.SEARCH_WAIT + 2)

    def test_unavailable_browser(self):
        sys.modules['Live'] = None  # import Live fails
        self.search('operator', 503, 'browser_unavailable')
        self.exchange(request('POST', '/v1/load', body={'uri': 'query:Test#Operator'}), 503, 'browser_unavailable')
        self.assertEqual(len([m for m in self.live.messages if 'browser unavailable' in m]), 1)


if __name__ == '__main__':
    unittest.main()
