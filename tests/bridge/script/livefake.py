"""A stand-in for the parts of Live the bridge script touches, and an HTTP client
that drives the script's tick while it waits for an answer."""

import json
import os
import shutil
import socket
import sys
import tempfile
import threading
import types
import unittest

from VintrelleBridge import bridge

TOKEN = 'f00d' * 16


class Clock(object):
    def __init__(self):
        self.now = 1000.0

    def __call__(self):
        return self.now

    def advance(self, seconds):
        self.now += seconds


class Item(object):
    """A browser item; reading its children costs `cost` seconds of the clock."""

    def __init__(self, name, uri=None, loadable=None, children=(), device=False, clock=None, cost=0.0):
        self.name = name
        self.uri = uri if uri is not None else 'query:Test#' + name
        self._children = list(children)
        self.is_device = device
        self.is_folder = bool(children) and not device
        self.is_loadable = (not self.is_folder) if loadable is None else loadable
        self.clock = clock
        self.cost = cost

    @property
    def children(self):
        if self.clock is not None:
            self.clock.advance(self.cost)
        return list(self._children)

    def add(self, item):
        self._children.append(item)
        self.is_folder = not self.is_device


def folder(name, *children, **kw):
    return Item(name, loadable=False, children=children, **kw)


class Browser(object):
    """Roots are set as attributes; load_item records calls and can refuse."""

    def __init__(self, **roots):
        for name, root in roots.items():
            setattr(self, name, root)
        self.loaded = []
        self.load_calls = []      # (item, called inside a tick, called on the main thread)
        self.refuse = False
        self.probe = None

    def load_item(self, item):
        inside = self.probe is not None and self.probe.inside
        self.load_calls.append((item, inside, threading.current_thread() is threading.main_thread()))
        if self.refuse:
            raise RuntimeError('refused')
        self.loaded.append(item)


class CInstance(object):
    def __init__(self):
        self.messages = []

    def log_message(self, message):
        self.messages.append(message)

    def show_message(self, message):
        self.messages.append(message)

    def song(self):
        return None


def install_live(get_browser):
    """Makes `import Live` give an application whose browser is get_browser()."""
    class Application(object):
        @property
        def browser(self):
            return get_browser()
    live = types.ModuleType('Live')
    live.Application = types.SimpleNamespace(get_application=Application)
    sys.modules['Live'] = live


class TickProbe(object):
    """Wraps a surface's update_display to know whether code runs inside a tick."""

    def __init__(self, surface):
        self.inside = False
        self._tick = surface.update_display
        surface.update_display = self

    def __call__(self):
        self.inside = True
        try:
            self._tick()
        finally:
            self.inside = False


class Response(object):
    def __init__(self, raw):
        self.raw = raw
        head, _, body = raw.partition(b'\r\n\r\n')
        lines = head.decode('latin-1').split('\r\n')
        self.status = int(lines[0].split(' ')[1])
        self.headers = dict((k.lower(), v.strip()) for k, _, v in (l.partition(':') for l in lines[1:]))
        self.doc = json.loads(body.decode('utf-8'))

    @property
    def data(self):
        return self.doc.get('data')

    @property
    def error(self):
        return self.doc.get('error')


class Client(object):
    """A raw loopback connection; never blocks the test once connected."""

    def __init__(self, port):
        self.sock = socket.create_connection(('127.0.0.1', port), timeout=2)
        self.buf = b''
        self.eof = False
        self.reset = False

    def send(self, data):
        self.sock.settimeout(2)
        self.sock.sendall(data)

    def pump(self):
        self.sock.setblocking(False)
        while not self.eof:
            try:
                chunk = self.sock.recv(65536)
            except BlockingIOError:
                return
            except ConnectionResetError:
                self.reset = self.eof = True
                return
            if not chunk:
                self.eof = True
            self.buf += chunk

    def close(self):
        self.sock.close()


def request(method, path, token=TOKEN, body=None, headers=()):
    lines = ['%s %s HTTP/1.1' % (method, path), 'Host: 127.0.0.1']
    if token is not None:
        lines.append('Authorization: Bearer ' + token)
    lines.extend(headers)
    payload = b''
    if body is not None:
        payload = body if isinstance(body, bytes) else json.dumps(body).encode('utf-8')
        lines.append('Content-Length: %d' % len(payload))
    return ('\r\n'.join(lines) + '\r\n\r\n').encode('latin-1') + payload


class BridgeCase(unittest.TestCase):
    """A surface on a free loopback port with a fake clock and browser."""

    config = {'token': TOKEN}

    def make_browser(self):
        return Browser(instruments=folder('Instruments', Item('Operator', device=True), Item('Wavetable', device=True)),
                       audio_effects=folder('Audio Effects', folder('Reverb & Resonance', Item('Reverb'))))

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='vintrelle-bridge-')
        self.addCleanup(shutil.rmtree, self.dir)
        self.config_path = os.path.join(self.dir, 'config.json')
        if self.config is not None:
            with open(self.config_path, 'w') as f:
                json.dump(self.config, f)
        self.clock = Clock()
        self.browser = self.make_browser()
        install_live(lambda: self.browser)
        self.c_instance = CInstance()
        self.surface = bridge.VintrelleBridge(self.c_instance, config_path=self.config_path, port=0, clock=self.clock)
        self.addCleanup(self.surface.disconnect)
        self.service = self.surface.service
        self.port = self.service.port
        self.probe = TickProbe(self.surface)
        self.browser.probe = self.probe

    def tick(self, times=1):
        for _ in range(times):
            self.surface.update_display()

    def connect(self):
        client = Client(self.port)
        self.addCleanup(client.close)
        return client

    def exchange(self, raw, ticks=40):
        """Sends raw bytes and ticks until the bridge has answered and closed."""
        client = self.connect()
        client.send(raw)
        for _ in range(ticks):
            self.tick()
            client.pump()
            if client.eof:
                client.close()
                return Response(client.buf)
        self.fail('no complete answer after %d ticks (got %r)' % (ticks, client.buf[:200]))

    def get(self, path, **kw):
        return self.exchange(request('GET', path, **kw))

    def post(self, path, body, **kw):
        return self.exchange(request('POST', path, body=body, **kw))

    def search(self, query, **kw):
        from urllib.parse import quote
        return self.get('/v1/browser/search?query=' + quote(query, safe=''), **kw)

    def assertFailure(self, response, status, code):
        self.assertEqual(response.status, status, response.raw)
        self.assertIs(response.doc['ok'], False)
        self.assertEqual(response.error['code'], code)
        self.assertIsInstance(response.error['message'], str)
        self.assertTrue(response.error['message'].endswith('.'), response.error['message'])

    def assertSuccess(self, response):
        self.assertEqual(response.status, 200, response.raw)
        self.assertIs(response.doc['ok'], True)
        self.assertIsInstance(response.data, dict)
        return response.data
