"""The VintrelleBridge Remote Script over real loopback sockets, with stand-ins for Live and a fake clock ticked by hand."""

import ast, contextlib, json, os, pathlib, select, shutil, socket, subprocess, sys, tempfile, time, types, unittest
from urllib.parse import quote

from VintrelleBridge import bridge, create_instance

TOKEN, MOON = 'f00d' * 16, '\U0001F319'  # the moon takes two UTF-16 units
SCRIPT_DIR = pathlib.Path(bridge.__file__).resolve().parent
CASES = pathlib.Path(__file__).resolve().parent / '..' / '..' / 'data' / 'bridge-config-cases.json'


class Item(object):
    """A browser item, a folder when it has children and is no device; listing its children adds `cost` seconds to `meter.now`."""
    meter, cost, listed = None, 0.0, []

    def __init__(self, name, *children, uri=None, device=False):
        self.name, self.uri, self._children, self.is_device = name, uri or 'query:Test#' + name, list(children), device
        self.is_folder, self.is_loadable = (True, False) if children and not device else (False, True)

    @property
    def children(self):
        if self.meter is not None:
            self.meter.now += self.cost
        Item.listed.append(self.name)
        return list(self._children)


def request(method, path, token=TOKEN, body=None, headers=()):
    lines = ['%s %s HTTP/1.1' % (method, path), 'Host: 127.0.0.1'] + (['Authorization: Bearer ' + token] if token is not None else [])
    payload = body if isinstance(body, bytes) or body is None else json.dumps(body).encode('utf-8')
    lines += list(headers) + (['Content-Length: %d' % len(payload)] if payload is not None else [])
    return ('\r\n'.join(lines) + '\r\n\r\n').encode('utf-8') + (payload or b'')


class Client(object):
    """A raw loopback connection that sends `data`; pump() takes what has arrived without waiting and tells whether the bridge closed it."""
    def __init__(self, case, data=b'', port=None):
        self.sock = socket.create_connection(('127.0.0.1', port or case.service.port), timeout=2)
        case.addCleanup(self.sock.close)
        self.send, self.buf, self.eof = self.sock.sendall, b'', False
        self.send(data)

    def pump(self):
        while not self.eof and select.select([self.sock], [], [], 0)[0]:
            chunk = self.sock.recv(65536)  # a reset raises: the answer was lost
            self.eof, self.buf = not chunk, self.buf + chunk
        return self.eof


class BridgeTests(unittest.TestCase):
    """The script on a free loopback port; self.now is its clock."""
    def setUp(self):
        effects = [Item(n) for n in ('Hybrid Reverb', 'Reverb Garden', 'reverb', 'Reverb', 'Convolution Reverb', 'Pad Reverberant')] + [
            Item('Huge', uri='u:' + 'x' * (bridge.MAX_URI - 2)), Item('Huger', uri='u:' + MOON * (bridge.MAX_URI // 2))] + [
            Item('Group %d' % g, *[Item('Effect %d-%d' % (g, i)) for i in range(3)]) for g in range(8)]
        operator = Item('Operator', *[Item('Operator Preset %d' % i) for i in range(3)], device=True)
        broken = type('Broken', (), dict.fromkeys(('children', 'name'), property(lambda self: 1 / 0)))()  # every access fails
        self.browser = types.SimpleNamespace(  # Simpler reached again is skipped
            loaded=[], instruments=Item('Instruments', operator, Item('Simpler')), audio_effects=Item('Audio Effects', *effects), max_for_live=broken,
            sounds=Item('Sounds', Item('Pad')), user_library=Item('User Library', Item('Simpler')), user_folders=[Item('Field', Item('Rain'))])
        self.browser.load_item = lambda item: self.browser.loaded.append(item.name)
        self.home, self.now = tempfile.mkdtemp(prefix='vintrelle-bridge-'), 1000.0
        self.addCleanup(shutil.rmtree, self.home)
        self.surface, self.live = self.start({'token': TOKEN}, port=0)
        self.service, Item.meter, Item.listed = self.surface.service, None, []

    def start(self, config, **kw):
        """A bridge that reads `config` as its config.json, and Live's handle for it, which keeps what the bridge logs."""
        (path := pathlib.Path(self.home, 'config.json')).write_text(json.dumps(config), encoding='utf-8')
        sys.modules['Live'] = types.SimpleNamespace(Application=types.SimpleNamespace(get_application=lambda: self))  # its browser: self.browser
        live = types.SimpleNamespace(messages=[], song=lambda: None)
        live.log_message = live.messages.append
        surface = bridge.VintrelleBridge(live, config_path=str(path), clock=lambda: self.now, **kw)
        self.addCleanup(surface.disconnect)
        return surface, live

    def charge(self, cost):  # every folder Live lists costs `cost` clock seconds; the walk gets 5 ms a tick
        Item.meter, Item.cost, self.service.index.budget = self, cost, 0.005

    def tick(self, times=1):
        for _ in range(times):
            self.surface.update_display()

    def finish(self, client, status=200, code=None):
        """Ticks until the bridge has answered `client`; checks the status, error (a sentence) and form of the answer; returns its data."""
        for _ in range(40):
            if not client.pump():
                self.tick()
        self.assertTrue(client.eof, 'no complete answer after 40 ticks (got %r)' % client.buf[:200])
        head, _, body = client.buf.partition(b'\r\n\r\n')
        doc = json.loads(body.decode('utf-8'))
        self.assertEqual((int(head.split(b' ')[1]), doc['ok'], doc.get('error', {}).get('code')), (status, code is None, code), client.buf[:300])
        self.assertLessEqual({b'Content-Type: application/json; charset=utf-8', b'Connection: close', b'Content-Length: %d' % len(body)},
                             set(head.split(b'\r\n')))
        self.assertTrue(code is None or doc['error']['message'].endswith('.'), doc)
        return doc.get('data')

    def search(self, query, *expected):
        return self.finish(Client(self, request('GET', '/v1/browser/search?query=' + quote(query, safe=''))), *expected)

    def test_script_starts_in_live_from_config_json_read_as_the_program_reads_it_and_retries_a_busy_port(self):
        cases = json.loads(CASES.read_text(encoding='utf-8'))['cases']
        self.assertGreater(len(cases), 40)
        for number, case in enumerate(cases):
            with self.subTest(case['case']):
                path = pathlib.Path(self.home, 'case%d.json' % number)
                data = bytes.fromhex(case['hex']) if 'hex' in case else case.get('text', '').encode('utf-8', 'surrogatepass')
                data = b'{"token": "t", "x": %s%s}' % (b'[' * (case['nest'] - 1), b']' * (case['nest'] - 1)) if 'nest' in case else data
                if case.get('file') == 'folder':
                    path.mkdir()
                elif 'file' not in case:
                    path.write_bytes(data + b' ' * (case.get('padTo', 0) - len(data)))
                config, refusal = bridge.read_config(str(path))
                self.assertEqual((list(config) if config else None, refusal is None), (case['expect'], config is not None))
        self.assertTrue(self.start({'token': '\ud800'}, port=0)[0].service.listening)  # accepted by the program, so served
        surface, live = self.start({'port': 45873.5, 'token': TOKEN}, port=0)  # refused: nothing listens, and Live's log says why
        self.assertEqual(live.messages, ['(VintrelleBridge) not listening: "port" in %s is not a whole number from 1 to 65535. Reinstall the '
                                         "connection from Vintrelle's Settings, then restart Ableton." % surface.service.config_path])
        for name in ('__init__.py', 'bridge.py'):  # Live 11 embeds Python 3.7: newer syntax would stop the script loading there
            ast.parse((SCRIPT_DIR / name).read_text(encoding='utf-8'), filename=name, feature_version=(3, 7))
        self.assertEqual(create_instance(self.live).service.config_path, str(SCRIPT_DIR / 'config.json'))  # where the installer writes it
        with socket.create_server(('127.0.0.1', 0)) as holder:
            surface, live = self.start({'port': holder.getsockname()[1], 'token': TOKEN})
        self.assertEqual((surface.service.listening, any('cannot listen' in m for m in live.messages)), (False, True))
        self.now += bridge.REBIND_EVERY
        surface.update_display()
        self.assertEqual(surface.service._listener.getsockname(), ('127.0.0.1', surface.service.wanted_port))

    def test_answers_and_refusals(self):
        health = lambda token, *headers: request('GET', '/v1/health', token, headers=headers)
        search, load = lambda query: request('GET', '/v1/browser/search?query=' + quote(query)), lambda body: request('POST', '/v1/load', body=body)
        pad = 'X-Pad: ' + 'a' * bridge.MAX_HEAD_BYTES
        answers = {  # the token is checked first, whatever the path and the size of the body
            (200, None): [search(MOON * (bridge.MAX_QUERY // 2)), load({'uri': 'u:' + 'x' * (bridge.MAX_URI - 2)})],
            (401, 'unauthorised'): [health(None), health(None, 'Authorization: Basic ' + TOKEN), request('GET', '/v1/nowhere', 'nope'),
                                    request('POST', '/v1/load', 'x', headers=('Content-Length: 99999999',))],
            (404, 'not_found'): [request('GET', '/v1/nowhere')],
            (405, 'method_not_allowed'): [request('GET', '/v1/load')],
            (431, 'request_too_large'): [health(TOKEN, pad), health(TOKEN, pad)[:-4]],  # the second never ends
            (413, 'request_too_large'): [request('POST', '/v1/load', headers=('Content-Length: %d' % (bridge.MAX_BODY_BYTES + 1),))],
            (501, 'invalid_request'): [health(TOKEN, 'Transfer-Encoding: chunked') + b'0\r\n\r\n'],
            (400, 'invalid_request'): [
                b'HELLO\r\n\r\n', request('GET', 'http://127.0.0.1/v1/health'), health(TOKEN, 'Authorization: Bearer ' + TOKEN),
                health(TOKEN, 'X-A: 1\r\n  more'), health(TOKEN, 'Content-Length: -1'), search(' \t'), request('GET', '/v1/browser/search?query=%ff'),
                search(MOON * (bridge.MAX_QUERY // 2) + 'a'), load(b'[]'), load(b'{"uri": ""}'), load({'uri': 'u:' + 'x' * (bridge.MAX_URI - 1)}),
                load(b'{"uri": ' + b'[' * 30000 + b']' * 30000 + b'}')]}
        for (status, code), raws in answers.items():
            for raw in raws:
                with self.subTest(raw[:200]):
                    self.finish(Client(self, raw), status, code)
        self.assertEqual(self.browser.loaded, ['Huge'])

    def test_slow_requests_get_408_and_others_are_served_meanwhile(self):
        raw = request('POST', '/v1/load', body={'uri': 'query:Test#Operator'})
        slow_head, slow_body = Client(self, raw[:20]), Client(self, raw[:raw.index(b'\r\n\r\n') + 7])
        self.tick(3)
        self.assertTrue(self.search('preset')['items'])
        self.now += bridge.HEAD_DEADLINE
        self.tick()
        slow_head.send(b'x' * 3000)  # still sending after its answer: drained, not reset
        self.tick(3)
        self.finish(slow_head, 408, 'request_timeout')
        self.assertFalse(slow_body.pump())  # its head came in time: the whole request has longer
        self.now += bridge.REQUEST_DEADLINE - bridge.HEAD_DEADLINE
        self.finish(slow_body, 408, 'request_timeout')
        self.assertEqual(self.browser.loaded, [])

    def test_full_table_evicts_idle_clients_and_refuses_only_beyond_real_work(self):
        idle = [Client(self) for _ in range(bridge.MAX_CONNECTIONS)]
        self.tick(3)
        self.assertEqual(self.search('operator')['items'][0]['name'], 'Operator')  # in the place of the oldest client that sent no head
        self.assertEqual([c.pump() for c in idle], [True] + [False] * (len(idle) - 1))
        # Authorised requests waiting for their bodies hold their places.
        waiting = [Client(self, request('POST', '/v1/load', headers=('Content-Length: 40',))) for _ in range(bridge.MAX_CONNECTIONS)]
        self.tick(3)
        refused, unsent = Client(self), memoryview(request('POST', '/v1/load', body=b'x' * (bridge.MAX_BODY_BYTES * 8)))
        refused.sock.setblocking(False)
        for _ in range(200):  # the busy answer survives all the newcomer still sends
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
        clients = [Client(self, port=ready['port']) for _ in range(max(40, bridge.MAX_CONNECTIONS + 8))]  # more than it has places
        searcher = Client(self, request('GET', '/v1/browser/search?query=operator', ready['token']), ready['port'])
        head, start = b'GET /v1/health HTTP/1.1\r\nX-Slow: ' + b'a' * 1000, time.monotonic()
        while not searcher.pump() and time.monotonic() - start < 20:
            for client in clients[::2]:
                with contextlib.suppress(OSError):  # dropped by the bridge
                    client.send(head[:1])
            head = head[1:]
            time.sleep(0.05)
        status, _, body = searcher.buf.partition(b'\r\n\r\n')
        self.assertEqual((status[:13], json.loads(body)['data']['items'][0]['name']), (b'HTTP/1.1 200 ', 'Operator'), searcher.buf[:300])

    def test_load_outcomes(self):
        for uri, change, status, code, loaded in [
                ('u:Meld', lambda b: (self.tick(), b.sounds._children.append(Item('Meld', uri='u:Meld'))), 200, None, ['Meld']),  # added after a walk
                ('u:Gone', lambda b: None, 404, 'item_not_found', []),  # unknown after a walk
                ('u:Gone', lambda b: self.charge(bridge.LOAD_WAIT + 1), 503, 'browser_scanning', []),  # the walk takes too long
                ('query:Test#Pad', lambda b: (self.tick(), setattr(b.sounds._children[0], 'is_loadable', False)), 409, 'not_loadable', []),
                ('u:Gone', lambda b: sys.modules.update(Live=None), 503, 'browser_unavailable', [])]:  # import Live fails at every tick
            with self.subTest(code):
                self.setUp()
                change(self.browser)
                data = self.finish(Client(self, request('POST', '/v1/load', body={'uri': uri})), status, code)
                self.assertEqual((data['loaded'], self.browser.loaded), (not code, loaded))
        self.assertEqual(len([m for m in self.live.messages if 'browser unavailable' in m]), 1)

    def test_search_waits_for_the_first_walk_and_ranks_its_answer_or_answers_from_a_partial_walk(self):
        self.charge(0.001)
        data = self.search(' REVERB ')  # exact names first, then prefixes, then the rest; Huger and the second Simpler are not indexed
        self.assertEqual(([i['name'] for i in data['items']], data['complete'], len(self.service.index.entries)),
                         (['Reverb', 'reverb', 'Reverb Garden', 'Convolution Reverb', 'Hybrid Reverb', 'Pad Reverberant'], True, 38))
        self.assertEqual(sorted(Item.listed), sorted(set(Item.listed)))  # Live lists each folder once a walk
        self.setUp()
        self.charge(1.0)  # a walk that keeps to its budget is still going when the search stops waiting
        data = self.search('preset')
        self.assertEqual((bool(data['items']), data['complete']), (True, False))
        self.assertLess(self.now - 1000.0, bridge.SEARCH_WAIT + 2)
