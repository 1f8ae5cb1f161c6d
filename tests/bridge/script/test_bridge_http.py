"""The bridge's HTTP service over real loopback sockets, ticked by hand."""

import socket
import threading
import unittest
from unittest import mock

from VintrelleBridge import bridge
from livefake import TOKEN, BridgeCase, Item, request


class AuthenticationTests(BridgeCase):
    def test_token_is_required_on_every_route(self):
        cases = [
            ('missing header', None, ()),
            ('wrong token', 'not-the-token', ()),
            ('token with one more character', TOKEN + '0', ()),
            ('token prefix', TOKEN[:-1], ()),
            ('other scheme', None, ('Authorization: Basic ' + TOKEN,)),
            ('empty bearer', None, ('Authorization: Bearer ',)),
            ('non-ASCII token', 'f\u00f6\u00f6d', ()),
        ]
        for path, method in (('/v1/health', 'GET'), ('/v1/browser/search?query=op', 'GET'),
                             ('/v1/load', 'POST'), ('/v1/nowhere', 'GET')):
            for name, token, headers in cases:
                with self.subTest(path=path, case=name):
                    raw = request(method, path, token=token, headers=headers,
                                  body={'uri': 'query:Test#Operator'} if method == 'POST' else None)
                    self.assertFailure(self.exchange(raw), 401, 'unauthorised')
        self.assertEqual(self.browser.load_calls, [])

    def test_right_token_is_accepted_whatever_the_scheme_case(self):
        for scheme in ('Bearer', 'bearer', 'BEARER'):
            with self.subTest(scheme=scheme):
                raw = request('GET', '/v1/health', token=None, headers=('Authorization: %s %s' % (scheme, TOKEN),))
                data = self.assertSuccess(self.exchange(raw))
                self.assertIs(data['configured'], True)

    def test_token_is_compared_in_constant_time(self):
        calls = []
        real = bridge.hmac.compare_digest

        def spy(a, b):
            calls.append((a, b))
            return real(a, b)
        with mock.patch.object(bridge.hmac, 'compare_digest', spy):
            self.assertFailure(self.get('/v1/health', token='wrong'), 401, 'unauthorised')
            self.assertSuccess(self.get('/v1/health'))
        self.assertEqual(calls, [(b'wrong', TOKEN.encode()), (TOKEN.encode(), TOKEN.encode())])


class EnvelopeTests(BridgeCase):
    def test_routes_answer_the_envelope_with_the_right_status(self):
        cases = [
            ('GET', '/v1/nowhere', None, 404, 'not_found'),
            ('GET', '/', None, 404, 'not_found'),
            ('POST', '/v1/health', {}, 405, 'method_not_allowed'),
            ('GET', '/v1/load', None, 405, 'method_not_allowed'),
            ('DELETE', '/v1/browser/search?query=x', None, 405, 'method_not_allowed'),
        ]
        for method, path, body, status, code in cases:
            with self.subTest(method=method, path=path):
                self.assertFailure(self.exchange(request(method, path, body=body)), status, code)

    def test_answers_are_closed_json_with_exact_length(self):
        response = self.get('/v1/health')
        self.assertEqual(response.headers['content-type'], 'application/json; charset=utf-8')
        self.assertEqual(response.headers['connection'], 'close')
        self.assertEqual(int(response.headers['content-length']), len(response.raw.partition(b'\r\n\r\n')[2]))
        self.assertEqual(self.assertSuccess(response)['configured'], True)

    def test_empty_query_is_an_invalid_request(self):
        # The client's connection check relies on exactly this answer.
        for path in ('/v1/browser/search?query=', '/v1/browser/search?query=%20%09',
                     '/v1/browser/search', '/v1/browser/search?other=op', '/v1/browser/search?query'):
            with self.subTest(path=path):
                self.assertFailure(self.get(path), 400, 'invalid_request')

    def test_query_is_decoded_from_the_url(self):
        self.browser.audio_effects.add(Item('Rock;Roll+Pad'))
        self.browser.audio_effects.add(Item('Dub Echo'))
        self.tick()
        for query, name in (('rock%3Broll%2Bpad', 'Rock;Roll+Pad'), ('rock;roll%2Bpad', 'Rock;Roll+Pad'),
                            ('dub%20echo', 'Dub Echo'), ('dub+echo', 'Dub Echo'), ('op&query=ignored', 'Operator')):
            with self.subTest(query=query):
                data = self.assertSuccess(self.get('/v1/browser/search?query=' + query))
                self.assertEqual([i['name'] for i in data['items']], [name])
        self.assertFailure(self.get('/v1/browser/search?query=%ff'), 400, 'invalid_request')
        self.assertFailure(self.get('/v1/browser/search?query=' + 'a' * (bridge.MAX_QUERY + 1)),
                           400, 'invalid_request')

    def test_malformed_requests(self):
        health = 'GET /v1/health HTTP/1.1\r\nAuthorization: Bearer %s\r\n' % TOKEN
        cases = [
            ('not http', b'HELLO\r\n\r\n', 400),
            ('unknown version', request('GET', '/v1/health').replace(b'HTTP/1.1', b'HTTP/2.0'), 400),
            ('absolute target', request('GET', 'http://127.0.0.1/v1/health'), 400),
            ('header without colon', (health + 'Broken header\r\n\r\n').encode(), 400),
            ('folded header', (health + 'X-A: 1\r\n  more\r\n\r\n').encode(), 400),
            ('two tokens', (health + 'Authorization: Bearer %s\r\n\r\n' % TOKEN).encode(), 400),
            ('length not a number', (health + 'Content-Length: -1\r\n\r\n').encode(), 400),
            ('chunked body', (health + 'Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n').encode(), 501),
        ]
        for name, raw, status in cases:
            with self.subTest(name):
                response = self.exchange(raw)
                self.assertEqual(response.status, status)
                self.assertIs(response.doc['ok'], False)
                self.assertEqual(response.error['code'], 'invalid_request')

    def test_malformed_load_bodies(self):
        for body in (b'', b'{', b'[]', b'"query:Test#Operator"', b'{"uri": 5}', b'{"uri": ""}',
                     b'{"url": "query:Test#Operator"}', b'\xff\xfe',
                     ('{"uri": "%s"}' % ('x' * (bridge.MAX_URI + 1))).encode()):
            with self.subTest(body=body[:40]):
                self.assertFailure(self.post('/v1/load', body), 400, 'invalid_request')
        self.assertEqual(self.browser.load_calls, [])


class LimitTests(BridgeCase):
    def test_oversized_head_is_refused(self):
        raw = request('GET', '/v1/health', headers=('X-Padding: ' + 'a' * bridge.MAX_HEAD_BYTES,))
        self.assertFailure(self.exchange(raw), 431, 'request_too_large')

    def test_oversized_body_is_refused_from_its_declared_length(self):
        client = self.connect()
        client.send(request('POST', '/v1/load', headers=('Content-Length: %d' % (bridge.MAX_BODY_BYTES + 1),)))
        self.tick(3)
        client.pump()
        self.assertTrue(client.buf.startswith(b'HTTP/1.1 413 '), client.buf[:40])

    def test_answer_survives_a_body_the_bridge_did_not_read(self):
        # The client is still sending when the refusal goes out; the answer
        # must not be lost to a connection reset.
        client = self.connect()
        body = b'{"uri": "' + b'x' * (bridge.MAX_BODY_BYTES * 8) + b'"}'
        unsent = memoryview(request('POST', '/v1/load', body=body))
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
        self.assertEqual(len(unsent), 0)
        client.sock.shutdown(socket.SHUT_WR)
        for _ in range(5):
            self.tick()
            client.pump()
        self.assertFalse(client.reset)
        self.assertTrue(client.buf.startswith(b'HTTP/1.1 413 '), client.buf[:40])

    def test_expect_continue_gets_an_interim_answer(self):
        client = self.connect()
        body = b'{"uri": "query:Test#Operator"}'
        client.send(request('POST', '/v1/load', headers=('Expect: 100-continue', 'Content-Length: %d' % len(body))))
        self.tick(2)
        client.pump()
        self.assertEqual(client.buf, b'HTTP/1.1 100 Continue\r\n\r\n')
        client.send(body)
        for _ in range(10):
            self.tick()
            client.pump()
        final = client.buf[len(b'HTTP/1.1 100 Continue\r\n\r\n'):]
        self.assertTrue(final.startswith(b'HTTP/1.1 200 '), final[:40])
        self.assertEqual([i.name for i in self.browser.loaded], ['Operator'])

    def test_slow_client_neither_stalls_the_tick_nor_others_and_is_dropped(self):
        slow = self.connect()
        raw = request('POST', '/v1/load', body={'uri': 'query:Test#Operator'})
        slow.send(raw[:len(raw) // 2])
        self.tick(3)
        # Others are served while the slow one is half way through.
        self.assertSuccess(self.get('/v1/health'))
        self.assertTrue(self.search('wave').data['items'])
        slow.pump()
        self.assertEqual(slow.buf, b'')
        self.assertFalse(slow.eof)
        self.clock.advance(bridge.REQUEST_DEADLINE - 0.5)
        self.tick()
        slow.pump()
        self.assertFalse(slow.eof)
        self.clock.advance(1.0)
        self.tick()
        slow.pump()
        self.assertTrue(slow.eof)
        self.assertTrue(slow.buf.startswith(b'HTTP/1.1 408 '), slow.buf[:40])
        self.assertEqual(self.browser.load_calls, [])
        self.assertEqual(self.service.sockets(), [self.service._listener])

    def test_connections_beyond_the_limit_are_turned_away(self):
        idle = [self.connect() for _ in range(bridge.MAX_CONNECTIONS)]
        self.tick()
        extra = self.connect()
        for _ in range(3):
            self.tick()
            extra.pump()
        self.assertTrue(extra.eof)
        self.assertTrue(extra.buf.startswith(b'HTTP/1.1 503 '), extra.buf[:40])
        self.assertIn(b'"busy"', extra.buf)
        self.clock.advance(bridge.REQUEST_DEADLINE + 1)
        self.tick()
        for client in idle:
            client.pump()
            self.assertTrue(client.eof)
        self.assertSuccess(self.get('/v1/health'))

    def test_client_that_leaves_early_is_forgotten(self):
        client = self.connect()
        client.send(request('GET', '/v1/health')[:10])
        client.close()
        self.tick(3)
        self.assertEqual(self.service.sockets(), [self.service._listener])


class MainThreadTests(BridgeCase):
    def test_load_happens_inside_a_tick_on_the_main_thread_without_threads(self):
        threads = threading.active_count()
        self.tick()  # index the browser
        client = self.connect()
        client.send(request('POST', '/v1/load', body={'uri': 'query:Test#Operator'}))
        self.assertEqual(self.browser.load_calls, [])
        for _ in range(5):
            self.tick()
            client.pump()
        self.assertEqual(len(self.browser.load_calls), 1)
        item, inside_tick, main_thread = self.browser.load_calls[0]
        self.assertEqual(item.name, 'Operator')
        self.assertTrue(inside_tick)
        self.assertTrue(main_thread)
        self.assertEqual(threading.active_count(), threads)


class UnconfiguredTests(BridgeCase):
    config = {'port': 45873}

    def test_health_says_not_configured_and_nothing_else_works(self):
        data = self.assertSuccess(self.get('/v1/health', token=None))
        self.assertIs(data['configured'], False)
        self.assertFailure(self.search('op', token=''), 503, 'not_configured')
        self.assertFailure(self.post('/v1/load', {'uri': 'query:Test#Operator'}, token=''), 503, 'not_configured')
        self.assertEqual(self.browser.load_calls, [])


if __name__ == '__main__':
    unittest.main()
