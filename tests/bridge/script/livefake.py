"""A stand-in for the parts of Live the bridge script touches, and raw loopback clients that
tick the script while they wait for an answer."""

import json
import os
import shutil
import socket
import sys
import tempfile
import types
import unittest
from urllib.parse import quote

from VintrelleBridge import bridge

TOKEN = 'f00d' * 16


class Clock(object):
    now = 1000.0

    def __call__(self):
        return self.now

    def advance(self, seconds):
        self.now += seconds


class Item(object):
    """A browser item; listing its children costs `cost` seconds of `clock`."""

    def __init__(self, name, uri=None, loadable=None, children=(), device=False, clock=None, cost=0.0):
        self.name, self.uri, self._children, self.is_device = name, uri or 'query:Test#' + name, list(children), device
        self.is_folder = bool(children) and not device
        self.is_loadable = (not self.is_folder) if loadable is None else loadable
        self.clock, self.cost = clock, cost

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
    def __init__(self, **roots):
        self.__dict__.update(roots)
        self.loaded, self.refuse = [], False

    def load_item(self, item):
        if self.refuse:
            raise RuntimeError('refused')
        self.loaded.append(item.name)


class CInstance(object):
    def __init__(self):
        self.messages = []

    def log_message(self, message):
        self.messages.append(message)

    def song(self):
        return None


def install_live(get_browser):
    """Makes `import Live` give an application whose browser is get_browser()."""
    live = types.ModuleType('Live')
    live.Application = types.SimpleNamespace(get_application=lambda: types.SimpleNamespace(browser=get_browser()))
    sys.modules['Live'] = live


def write_config(path, doc):
    with open(path, 'w', encoding='utf-8') as f:
        f.write(doc if isinstance(doc, str) else json.dumps(doc))


class Response(object):
    def __init__(self, raw):
        head, _, self.body = raw.partition(b'\r\n\r\n')
        lines = head.decode('latin-1').split('\r\n')
        self.raw, self.status = raw, int(lines[0].split(' ')[1])
        self.headers = dict((k.lower(), v.strip()) for k, _, v in (l.partition(':') for l in lines[1:]))
        self.doc = json.loads(self.body.decode('utf-8'))
        self.data, self.error = self.doc.get('data'), self.doc.get('error')


class Client(object):
    """A raw loopback connection; reading never blocks the test."""

    def __init__(self, port):
        self.sock = socket.create_connection(('127.0.0.1', port), timeout=2)
        self.buf, self.eof, self.reset = b'', False, False

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
            self.eof, self.buf = not chunk, self.buf + chunk


def request(method, path, token=TOKEN, body=None, headers=()):
    lines = ['%s %s HTTP/1.1' % (method, path), 'Host: 127.0.0.1'] + (['Authorization: Bearer ' + token] if token is not None else [])
    lines += headers
    payload = body if isinstance(body, bytes) or body is None else json.dumps(body).encode('utf-8')
    if payload is not None:
        lines.append('Content-Length: %d' % len(payload))
    return ('\r\n'.join(lines) + '\r\n\r\n').encode('utf-8') + (payload or b'')


class BridgeCase(unittest.TestCase):
    """The script on a free loopback port with a fake clock and browser, ticked by hand."""

    def make_browser(self):
        return Browser(instruments=folder('Instruments', Item('Operator', device=True), Item('Wavetable', device=True)),
                       audio_effects=folder('Audio Effects', folder('Reverb & Resonance', Item('Reverb'))))

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='vintrelle-bridge-')
        self.addCleanup(shutil.rmtree, self.dir)
        config_path = os.path.join(self.dir, 'config.json')
        write_config(config_path, {'token': TOKEN})
        self.clock = Clock()
        self.browser, self.c_instance = self.make_browser(), CInstance()
        install_live(lambda: self.browser)
        self.surface = bridge.VintrelleBridge(self.c_instance, config_path=config_path, port=0, clock=self.clock)
        self.addCleanup(self.surface.disconnect)
        self.service = self.surface.service

    def tick(self, times=1):
        for _ in range(times):
            self.surface.update_display()

    def connect(self):
        client = Client(self.service.port)
        self.addCleanup(client.sock.close)
        return client

    def finish(self, client, ticks=40):
        """Ticks until the bridge has answered `client` and closed."""
        for _ in range(ticks):
            self.tick()
            client.pump()
            if client.eof:
                return Response(client.buf)
        self.fail('no complete answer after %d ticks (got %r)' % (ticks, client.buf[:200]))

    def exchange(self, raw):
        client = self.connect()
        client.send(raw)
        return self.finish(client)

    def post(self, path, body, **kw):
        return self.exchange(request('POST', path, body=body, **kw))

    def search(self, query, **kw):
        return self.exchange(request('GET', '/v1/browser/search?query=' + quote(query, safe=''), **kw))

    def assertFailure(self, response, status, code):
        self.assertEqual((response.status, response.doc['ok'], response.error['code']), (status, False, code), response.raw)
        self.assertTrue(response.error['message'].endswith('.'), response.error['message'])

    def assertSuccess(self, response):
        self.assertEqual((response.status, response.doc['ok']), (200, True), response.raw)
        return response.data
