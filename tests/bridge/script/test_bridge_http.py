"""The bridge's HTTP service over real loopback sockets: ticked by hand, and in the simulator."""

import http.client
import json
import os
import select
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from VintrelleBridge import bridge
from livefake import TOKEN, BridgeCase, Item, request

HEALTH = 'GET /v1/health HTTP/1.1\r\nAuthorization: Bearer %s\r\n' % TOKEN


class HttpTests(BridgeCase):
    def test_token_is_required_before_anything_else(self):
        cases = [('missing', None, ()), ('wrong', 'not-the-token', ()), ('one more character', TOKEN + '0', ()),
                 ('prefix', TOKEN[:-1], ()), ('other scheme', None, ('Authorization: Basic ' + TOKEN,)),
                 ('empty bearer', None, ('Authorization: Bearer ',)), ('non-ASCII', 'f\u00f6\u00f6d', ()),
                 ('body too large', 'x', ('Content-Length: 99999999',))]
        for name, token, headers in cases:
            for method, path in (('GET', '/v1/health'), ('POST', '/v1/load'), ('GET', '/v1/nowhere')):
                with self.subTest(name, path=path):
                    self.assertFailure(self.exchange(request(method, path, token, headers=headers)), 401, 'unauthorised')
        raw = request('GET', '/v1/health', None, headers=('Authorization: bEARER ' + TOKEN,))
        self.assertIs(self.assertSuccess(self.exchange(raw))['configured'], True)
        self.assertEqual(self.browser.loaded, [])

    def test_refusals(self):
        deep = b'{"uri": ' + b'[' * 30000 + b']' * 30000 + b'}'
        cases = [
            ('unknown path', request('GET', '/v1/nowhere'), 404, 'not_found'),
            ('POST health', request('POST', '/v1/health', body={}), 405, 'method_not_allowed'),
            ('GET load', request('GET', '/v1/load'), 405, 'method_not_allowed'),
            ('not http', b'HELLO\r\n\r\n', 400, 'invalid_request'),
            ('unknown version', request('GET', '/v1/health').replace(b'HTTP/1.1', b'HTTP/2.0'), 400, 'invalid_request'),
            ('absolute target', request('GET', 'http://127.0.0.1/v1/health'), 400, 'invalid_request'),
            ('header without colon', (HEALTH + 'Broken header\r\n\r\n').encode(), 400, 'invalid_request'),
            ('folded header', (HEALTH + 'X-A: 1\r\n  more\r\n\r\n').encode(), 400, 'invalid_request'),
            ('two tokens', (HEALTH + 'Authorization: Bearer %s\r\n\r\n' % TOKEN).encode(), 400, 'invalid_request'),
            ('length not a number', (HEALTH + 'Content-Length: -1\r\n\r\n').encode(), 400, 'invalid_request'),
            ('chunked body', (HEALTH + 'Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n').encode(), 501, 'invalid_request'),
            ('head too large', request('GET', '/v1/health', headers=('X-Pad: ' + 'a' * bridge.MAX_HEAD_BYTES,)), 431, 'request_too_large'),
            ('body too large', request('POST', '/v1/load', headers=('Content-Length: %d' % (bridge.MAX_BODY_BYTES + 1),)), 413, 'request_too_large'),
            ('deeply nested body', request('POST', '/v1/load', body=deep), 400, 'invalid_request'),
        ]
        cases += [('query ' + q[:30], request('GET', '/v1/browser/search' + q), 400, 'invalid_request')
                  for q in ('?query=', '?query=%20%09', '', '?other=op', '?query', '?query=%ff',
                            '?query=' + 'a' * (bridge.MAX_QUERY + 1), '?query=' + '%F0%9F%8C%99' * (bridge.MAX_QUERY // 2 + 1))]
        cases += [('load body %r' % body[:20], request('POST', '/v1/load', body=body), 400, 'invalid_request')
                  for body in (b'', b'{', b'[]', b'"query:Test#Operator"', b'{"uri": 5}', b'{"uri": ""}', b'{"url": "x"}',
                               b'\xff\xfe', ('{"uri": "%s"}' % ('x' * (bridge.MAX_URI + 1))).encode())]
        for name, raw, status, code in cases:
            with self.subTest(name):
                self.assertFailure(self.exchange(raw), status, code)
        self.assertEqual(self.browser.loaded, [])

    def test_query_is_decoded_from_the_url(self):
        self.browser.audio_effects.add(Item('Rock;Roll+Pad'))
        self.browser.audio_effects.add(Item('Dub Echo'))
        self.browser.audio_effects.add(Item('\U0001F319' * (bridge.MAX_QUERY // 2)))
        for query, name in (('rock%3Broll%2Bpad', 'Rock;Roll+Pad'), ('rock;roll%2Bpad', 'Rock;Roll+Pad'),
                            ('dub%20echo', 'Dub Echo'), ('dub+echo', 'Dub Echo'), ('op&query=ignored', 'Operator'),
                            ('%F0%9F%8C%99' * (bridge.MAX_QUERY // 2), '\U0001F319' * (bridge.MAX_QUERY // 2))):
            with self.subTest(query=query):
                data = self.assertSuccess(self.exchange(request('GET', '/v1/browser/search?query=' + query)))
                self.assertEqual([i['name'] for i in data['items']], [name])

    def test_answer_is_closed_json_of_its_exact_length(self):
        response = self.exchange(request('GET', '/v1/health'))
        self.assertEqual((response.headers['content-type'], response.headers['connection']),
                         ('application/json; charset=utf-8', 'close'))
        self.assertEqual(int(response.headers['content-length']), len(response.body))

    def test_refusal_reaches_a_client_still_sending(self):
        # Closing with unread data would reset the connection and lose the answer.
        client = self.connect()
        unsent = memoryview(request('POST', '/v1/load', body=b'{"uri": "' + b'x' * (bridge.MAX_BODY_BYTES * 8) + b'"}'))
        client.sock.setblocking(False)
        for _ in range(200):
            try:
                unsent = unsent[client.sock.send(unsent):]
            except BlockingIOError:
                pass
            self.tick()
            client.pump()
            if not unsent:
                break
        client.sock.shutdown(socket.SHUT_WR)
        self.assertTrue(self.finish(client).raw.startswith(b'HTTP/1.1 413 '))
        self.assertFalse(client.reset)

    def test_slow_requests_get_408_and_others_are_served_meanwhile(self):
        raw = request('POST', '/v1/load', body={'uri': 'query:Test#Operator'})
        head_end = raw.index(b'\r\n\r\n') + 4
        slow_head, slow_body = self.connect(), self.connect()
        slow_head.send(raw[:20])
        slow_body.send(raw[:head_end + 3])
        self.tick(3)
        self.assertTrue(self.assertSuccess(self.search('wave'))['items'])
        self.clock.advance(bridge.HEAD_DEADLINE)
        self.tick()
        # Still sending after the answer: it must be drained, not answered by a reset.
        slow_head.send(raw[20:40])
        self.assertFailure(self.finish(slow_head), 408, 'request_timeout')
        self.assertFalse(slow_head.reset)
        slow_body.pump()
        self.assertFalse(slow_body.eof)  # its head came in time: the whole request has longer
        self.clock.advance(bridge.REQUEST_DEADLINE - bridge.HEAD_DEADLINE)
        self.assertFailure(self.finish(slow_body), 408, 'request_timeout')
        self.assertEqual(self.browser.loaded, [])

    def test_full_table_evicts_idle_clients_and_refuses_only_beyond_real_work(self):
        idle = [self.connect() for _ in range(bridge.MAX_CONNECTIONS)]
        self.tick(3)
        # A newcomer takes the place of the oldest client that sent no head.
        self.assertEqual(self.assertSuccess(self.search('operator'))['items'][0]['name'], 'Operator')
        for client in idle:
            client.pump()
        self.assertEqual([c.eof for c in idle], [True] + [False] * (len(idle) - 1))
        # Authorised requests waiting for their bodies hold their places...
        waiting = [self.connect() for _ in range(bridge.MAX_CONNECTIONS)]
        for client in waiting:
            client.send(request('POST', '/v1/load', headers=('Content-Length: 40',)))
        self.tick(3)
        # ...so a newcomer is told the bridge is busy, an answer that survives what it sent.
        refused = self.connect()
        refused.send(request('POST', '/v1/load', body={'uri': 'x' * 1000}))
        self.assertFailure(self.finish(refused), 503, 'busy')
        self.assertFalse(refused.reset)
        for client in waiting:
            client.send(b'{"uri": "query:Test#Operator"}'.ljust(40))
        self.tick(3)
        self.assertEqual(self.browser.loaded, ['Operator'] * bridge.MAX_CONNECTIONS)

    def test_client_that_leaves_early_is_forgotten(self):
        client = self.connect()
        client.send(request('GET', '/v1/health')[:10])
        client.sock.close()
        self.tick(3)
        self.assertEqual(self.service.sockets(), [self.service._listener])


class SimulatorTests(unittest.TestCase):
    """The real script in the simulator process, with a real clock and real clients."""

    def test_idle_and_trickling_clients_do_not_shut_out_an_authorised_search(self):
        folder = tempfile.TemporaryDirectory(prefix='vintrelle-sim-')
        self.addCleanup(folder.cleanup)
        proc = subprocess.Popen([sys.executable, os.environ['VINTRELLE_BRIDGE_SIMULATOR'], '--config',
                                 os.path.join(folder.name, 'config.json'), '--port', '0'], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (proc.kill(), proc.wait(), proc.stdout.close()))
        self.assertTrue(select.select([proc.stdout], [], [], 20)[0], 'the simulator printed nothing in 20 s')
        ready = json.loads(proc.stdout.readline())
        # More clients than the bridge has places for: half idle, half sending a head byte by byte.
        clients = [socket.create_connection(('127.0.0.1', ready['port'])) for _ in range(max(40, bridge.MAX_CONNECTIONS + 8))]
        for client in clients:
            self.addCleanup(client.close)
        answer = []

        def search():
            conn = http.client.HTTPConnection('127.0.0.1', ready['port'], timeout=10)
            conn.request('GET', '/v1/browser/search?query=operator', headers={'Authorization': 'Bearer ' + ready['token']})
            response = conn.getresponse()
            answer.append((response.status, json.loads(response.read().decode('utf-8'))))
            conn.close()
        searching = threading.Thread(target=search)
        searching.start()
        head, start = b'GET /v1/health HTTP/1.1\r\nX-Slow: ' + b'a' * 1000, time.monotonic()
        while searching.is_alive() and time.monotonic() - start < 20:
            for client in clients[::2]:
                try:
                    client.send(head[:1])
                except OSError:
                    pass  # dropped by the bridge
            head = head[1:]
            searching.join(0.05)
        searching.join()
        self.assertEqual(answer[0][0], 200, answer[0][1])
        self.assertEqual(answer[0][1]['data']['items'][0]['name'], 'Operator')


if __name__ == '__main__':
    unittest.main()
