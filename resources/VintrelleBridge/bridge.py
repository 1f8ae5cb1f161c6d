"""VintrelleBridge: a small HTTP service inside Ableton Live.

Vintrelle asks this script, over loopback HTTP with a bearer token, to search
Live's browser and to load a browser item onto the selected track:

    GET  /v1/health                  {"configured": true, ...}
    GET  /v1/browser/search?query=Q  {"items": [{"name", "uri", "path"}], ...}
    POST /v1/load {"uri": U}         {"loaded": true, ...}

Every answer is {"ok": true, "data": {...}} or, with a status of 400 or more,
{"ok": false, "error": {"code": ..., "message": a sentence for the user}}.

Live's embedded Python copes badly with threads and its API may only be used
from Live's main thread, so nothing here starts a thread. Live calls
update_display() about every 100 ms; each call accepts and reads connections
without blocking, walks a little more of the browser within a time budget,
answers what can be answered and writes what it can. Request sizes and
per-connection deadlines are bounded so a slow or hostile client cannot hold
Live up.

The browser index is built over several ticks. A search that arrives before
the first walk has finished waits for it up to SEARCH_WAIT seconds, then
answers from what has been indexed so far with "complete": false. Later walks
(started when the index is older than STALE_AFTER) run behind the previous
complete index, which keeps answering meanwhile.

Standard library only; written for Python 3.7 and later (Live 11 and 12).
"""

import hmac
import json
import math
import os
import socket
import sys
import time
from urllib.parse import unquote_plus

DEFAULT_PORT = 45873
HOST = '127.0.0.1'
API_VERSION = 1

MAX_CONFIG_BYTES = 64 * 1024
MAX_CONFIG_NESTING = 1024
MAX_HEAD_BYTES = 8 * 1024
MAX_BODY_BYTES = 64 * 1024
MAX_CONNECTIONS = 64
ACCEPTS_PER_TICK = 32
HEAD_DEADLINE = 2.0      # seconds for the request line and headers to arrive
REQUEST_DEADLINE = 5.0   # seconds for a whole request to arrive
WRITE_DEADLINE = 5.0     # seconds for an answer to leave
LINGER = 1.0             # seconds to drain a client after answering it
REBIND_EVERY = 5.0

TICK_BUDGET = 0.02       # seconds of browser walking per tick
STALE_AFTER = 300.0
SEARCH_WAIT = 4.0
LOAD_WAIT = 15.0
RESULT_LIMIT = 100
MAX_QUERY = 200
MAX_NAME = 500
MAX_URI = 10000
MAX_INDEX = 200000
MAX_DEPTH = 24

# Browser roots worth offering, in the order their items win a uri seen twice.
# Roots missing from the running Live version are skipped.
ROOTS = ('instruments', 'audio_effects', 'midi_effects', 'plugins', 'drums',
         'sounds', 'max_for_live', 'packs', 'user_library', 'user_folders',
         'current_project')

MESSAGES = {
    'unauthorised': "The connection key does not match. Reinstall the connection in Vintrelle's Settings, then restart Ableton.",
    'bad_request': "The Ableton bridge could not read the request. Update Vintrelle and try again.",
    'empty_query': "Type a plug-in name to search for.",
    'long_query': "The search text is too long. Shorten it and search again.",
    'bad_body': "The load request did not name a browser item. Choose the plug-in again.",
    'not_found': "The Ableton bridge does not know this request. Reinstall the connection in Vintrelle's Settings.",
    'method': "The Ableton bridge does not accept this kind of request here.",
    'too_large': "The request to the Ableton bridge was too large.",
    'timeout': "The request took too long to arrive. Try again.",
    'busy': "The Ableton bridge is busy with other requests. Try again in a moment.",
    'browser_unavailable': "Ableton's browser is not ready yet. Wait until Ableton has finished starting, then try again.",
    'scanning': "Ableton is still reading its browser. Try again in a moment.",
    'item_not_found': "Ableton's browser no longer has this plug-in. Check that it is still installed, then find it again in Search.",
    'not_loadable': "Ableton cannot load this browser item onto a track. Choose an instrument, effect or preset instead.",
    'load_failed': "Ableton could not load this item. Select a track that can hold it, then try again.",
    'internal': "The Ableton bridge ran into a problem. Try again; if it keeps happening, restart Ableton.",
}

REASONS = {
    100: 'Continue', 200: 'OK', 400: 'Bad Request', 401: 'Unauthorized',
    404: 'Not Found', 405: 'Method Not Allowed', 408: 'Request Timeout',
    409: 'Conflict', 413: 'Payload Too Large',
    431: 'Request Header Fields Too Large', 500: 'Internal Server Error',
    501: 'Not Implemented', 503: 'Service Unavailable',
}


def _checked_number(text):
    """A JSON number as Qt reads it: one that overflows a double, or whose non-zero
    digits round to zero, makes the whole document invalid."""
    value = float(text)
    digits = text.lower().partition('e')[0].strip('-+0.')
    if math.isinf(value) or (value == 0 and digits):
        raise ValueError('the number %s is out of range' % text[:20])
    return value


def _checked_integer(text):
    _checked_number(text)
    return int(text)


def _refuse_constant(name):
    raise ValueError('%s is not a JSON number' % name)


def _nesting(text):
    """How deeply arrays and objects nest, strings skipped."""
    depth = deepest = 0
    in_string = escaped = False
    for ch in text:
        if in_string:
            if escaped:
                escaped = False
            elif ch == '\\':
                escaped = True
            elif ch == '"':
                in_string = False
        elif ch == '"':
            in_string = True
        elif ch in '[{':
            depth += 1
            deepest = max(deepest, depth)
        elif ch in ']}':
            depth -= 1
    return deepest


def read_config(path):
    """Returns ((port, token), None) from config.json, or (None, why it is refused).

    Vintrelle reads the same file before every request and refuses exactly what
    this refuses, so both always agree on the port and the token: the JSON as
    Qt parses it (a UTF-8 byte order mark and raw control characters in strings
    are accepted; NaN, Infinity, numbers beyond a double and nesting deeper than
    1024 are not), a top-level object, a "port" that is absent (45873) or a whole
    number from 1 to 65535, and a non-empty string "token".
    """
    try:
        with open(path, 'rb') as f:
            raw = f.read(MAX_CONFIG_BYTES + 1)
    except OSError as e:
        return None, 'cannot read %s (%s)' % (path, e.strerror or e)
    if len(raw) > MAX_CONFIG_BYTES:
        return None, '%s is larger than %d bytes' % (path, MAX_CONFIG_BYTES)
    try:
        text = raw.decode('utf-8')
        if text.startswith('\ufeff'):
            text = text[1:]
        if _nesting(text) > MAX_CONFIG_NESTING:
            raise ValueError('nested deeper than %d' % MAX_CONFIG_NESTING)
        limit = sys.getrecursionlimit()
        sys.setrecursionlimit(limit + MAX_CONFIG_NESTING + 100)
        try:
            doc = json.loads(text, strict=False, parse_float=_checked_number,
                             parse_int=_checked_integer, parse_constant=_refuse_constant)
        finally:
            sys.setrecursionlimit(limit)
    except (ValueError, RecursionError) as e:
        return None, '%s is not valid JSON (%s)' % (path, e)
    if not isinstance(doc, dict):
        return None, '%s does not hold a JSON object' % path
    port = doc.get('port', DEFAULT_PORT)
    if isinstance(port, bool) or not isinstance(port, (int, float)) or not 1 <= port <= 65535 or port != int(port):
        return None, '"port" in %s is not a whole number from 1 to 65535' % path
    token = doc.get('token')
    if not isinstance(token, str) or not token:
        return None, '"token" in %s is not a non-empty string' % path
    return (int(port), token), None


class BridgeError(Exception):
    def __init__(self, status, code, message_key, data=None):
        Exception.__init__(self, code)
        self.status = status
        self.code = code
        self.message = MESSAGES[message_key]
        self.data = data


def _bad(message_key='bad_request'):
    return BridgeError(400, 'invalid_request', message_key)


def envelope(data=None, error=None):
    if error is None:
        return {'ok': True, 'data': data if data is not None else {}}
    doc = {'ok': False, 'error': {'code': error.code, 'message': error.message}}
    if error.data is not None:
        doc['data'] = error.data
    return doc


def http_response(status, doc):
    body = json.dumps(doc, separators=(',', ':')).encode('ascii')
    head = ('HTTP/1.1 %d %s\r\n'
            'Content-Type: application/json; charset=utf-8\r\n'
            'Content-Length: %d\r\n'
            'Cache-Control: no-store\r\n'
            'Connection: close\r\n\r\n') % (status, REASONS.get(status, 'Error'), len(body))
    return head.encode('ascii') + body


class Request(object):
    __slots__ = ('method', 'path', 'query', 'headers', 'body')

    def __init__(self, method, target, headers):
        self.method = method
        self.path, _, self.query = target.partition('?')
        self.headers = headers
        self.body = b''


_SINGLE_HEADERS = ('authorization', 'content-length', 'transfer-encoding', 'host')


def parse_head(head):
    """Parses a request line and headers (CRLF separated, no final blank line)."""
    lines = head.split(b'\r\n')
    parts = lines[0].split(b' ')
    if len(parts) != 3 or parts[2] not in (b'HTTP/1.1', b'HTTP/1.0'):
        raise _bad()
    method, target = parts[0], parts[1]
    if not method.isalpha() or not method.isupper() or not target.startswith(b'/'):
        raise _bad()
    headers = {}
    for line in lines[1:]:
        name, sep, value = line.partition(b':')
        if not sep or not name or name != name.strip() or line[:1] in (b' ', b'\t'):
            raise _bad()
        key = name.lower().decode('latin-1')
        if key in headers and key in _SINGLE_HEADERS:
            raise _bad()
        headers[key] = value.strip(b' \t')
    try:
        return Request(method.decode('ascii'), target.decode('ascii'), headers)
    except UnicodeDecodeError:
        raise _bad()


def query_parameter(query, name):
    """The first value of a query parameter, '' when absent.

    Split on '&' only: older Pythons' parse_qsl also splits on ';', which a
    search text may contain unencoded.
    """
    for pair in query.split('&'):
        key, _, value = pair.partition('=')
        try:
            if unquote_plus(key, errors='strict') == name:
                return unquote_plus(value, errors='strict')
        except UnicodeDecodeError:
            raise _bad()
    return ''


def utf16_length(text):
    return len(text.encode('utf-16-le', 'surrogatepass')) // 2


def cut_utf16(text, limit):
    """Cuts text to at most limit UTF-16 units, the unit Vintrelle counts in."""
    if len(text) * 2 <= limit:
        return text
    units = 0
    for i, ch in enumerate(text):
        units += 2 if ord(ch) > 0xFFFF else 1
        if units > limit:
            return text[:i]
    return text


def _flag(item, name, default):
    try:
        return bool(getattr(item, name))
    except Exception:
        return default


class _Walk(object):
    """One walk over the browser, advanced a little at every tick."""

    def __init__(self, browser):
        self.browser = browser
        self.roots = list(ROOTS)
        self.stack = []   # [children, next position, folder path, depth]
        self.entries = []
        self.by_uri = {}
        self.done = False

    def step(self, clock, deadline):
        while not self.done and clock() < deadline:
            if not self.stack:
                if self.roots:
                    self._open_root(self.roots.pop(0))
                else:
                    self.done = True
                continue
            frame = self.stack[-1]
            if frame[1] >= len(frame[0]):
                self.stack.pop()
                continue
            item = frame[0][frame[1]]
            frame[1] += 1
            self._visit(item, frame[2], frame[3])

    def _open_root(self, name):
        try:
            root = getattr(self.browser, name, None)
            if root is None:
                return
            # user_folders is a list of folders; the other roots are one item each. Told by name:
            # asking a root for its children would make Live list them twice.
            tops = list(root) if name == 'user_folders' else [root]
            for top in reversed(tops):
                self._push(top, '', 0)
        except Exception:
            pass

    def _push(self, folder, parent_path, depth):
        if depth >= MAX_DEPTH:
            return
        try:
            name = folder.name
            children = list(folder.children)
        except Exception:
            return
        if children:
            path = parent_path + '/' + name if parent_path else name
            self.stack.append([children, 0, path, depth + 1])

    def _visit(self, item, path, depth):
        try:
            name = item.name
            uri = item.uri
            loadable = bool(item.is_loadable)
        except Exception:
            return
        if loadable and isinstance(uri, str) and uri and uri not in self.by_uri and utf16_length(uri) <= MAX_URI:
            name = cut_utf16(str(name), MAX_NAME)
            entry = (name.casefold(), name, uri, path, item)
            self.by_uri[uri] = entry
            self.entries.append(entry)
            if len(self.entries) >= MAX_INDEX:
                self.done = True
                return
        # Folders hold items; devices hold their presets. Other items are leaves,
        # and asking Live for their children costs time for nothing.
        if _flag(item, 'is_folder', True) or _flag(item, 'is_device', False):
            self._push(item, path, depth)


class BrowserIndex(object):
    """The loadable items of Live's browser, rebuilt incrementally."""

    def __init__(self, get_browser, clock, log):
        self._get_browser = get_browser
        self._clock = clock
        self._log = log
        self.budget = TICK_BUDGET
        self.stale_after = STALE_AFTER
        self.entries = None       # the last complete walk
        self.by_uri = {}
        self.completed_at = None
        self.generation = 0       # complete walks so far
        self._walk = None
        self._unavailable = False

    @property
    def building(self):
        return self._walk is not None

    @property
    def complete(self):
        return self.entries is not None

    def count(self):
        if self.entries is not None:
            return len(self.entries)
        return len(self._walk.entries) if self._walk else 0

    def start(self):
        """Starts a walk unless one is running; False when the browser is not there."""
        if self._walk is None:
            try:
                browser = self._get_browser()
            except Exception as e:
                browser = None
                if not self._unavailable:
                    self._log('browser unavailable: %r' % (e,))
            self._unavailable = browser is None
            if browser is None:
                return False
            self._walk = _Walk(browser)
        return True

    def refresh_if_stale(self):
        if self.completed_at is None or self._clock() - self.completed_at >= self.stale_after:
            return self.start()
        return True

    def step(self):
        if self._walk is None:
            return
        self._walk.step(self._clock, self._clock() + self.budget)
        if self._walk.done:
            self.entries = self._walk.entries
            self.by_uri = self._walk.by_uri
            self.completed_at = self._clock()
            self.generation += 1
            self._walk = None

    def lookup(self, uri):
        entry = self.by_uri.get(uri)
        if entry is None and self._walk is not None:
            entry = self._walk.by_uri.get(uri)
        return entry

    def search(self, query, limit):
        """Returns (items, truncated): exact names first, then prefixes, then the rest."""
        q = query.casefold()
        entries = self.entries if self.entries is not None else (self._walk.entries if self._walk else [])
        groups = ([], [], [])
        for entry in entries:
            folded = entry[0]
            if q in folded:
                groups[0 if folded == q else 1 if folded.startswith(q) else 2].append(entry)
        found = []
        for group in groups:
            group.sort(key=lambda e: (e[0], e[3], e[2]))
            found.extend(group)
        items = [{'name': e[1], 'uri': e[2], 'path': e[3]} for e in found[:limit]]
        return items, len(found) > limit


# Connection states.
READING, WAITING, WRITING, DRAINING = range(4)


class _Connection(object):
    def __init__(self, sock, now):
        self.sock = sock
        self.state = READING
        self.inbuf = bytearray()
        self.request = None       # head parsed, body still arriving
        self.head_end = 0
        self.body_length = 0
        self.continued = False
        self.out = b''
        self.sent = 0
        self.accepted = now
        self.deadline = now + HEAD_DEADLINE
        self.pending = None       # (kind, argument, give-up time, walk generation)


class BridgeService(object):
    """The HTTP service; tick() does all of its work."""

    def __init__(self, config_path, get_browser, log=None, port=None, clock=None):
        self._clock = clock or time.monotonic
        self._log = log or (lambda message: None)
        self._get_browser = get_browser
        self.config_path = config_path
        config, refusal = read_config(config_path)
        self.config_port, self.token = config or (None, None)
        # Lone surrogates become '?', as they do in the header Vintrelle sends.
        self._token_bytes = self.token.encode('utf-8', 'replace') if self.token else None
        self.wanted_port = self.config_port if port is None else port
        self.index = BrowserIndex(get_browser, self._clock, self._log)
        self.port = None
        self._listener = None
        self._next_bind = 0.0
        self._connections = []
        self._closed = config is None
        if config is None:
            self._log('not listening: %s. Reinstall the connection from Vintrelle\'s Settings, then restart Ableton.' % refusal)
        else:
            self._bind()

    @property
    def configured(self):
        return self.token is not None

    @property
    def listening(self):
        return self._listener is not None

    def sockets(self):
        """Sockets worth waiting on for reading: the listener and connections being read."""
        socks = [c.sock for c in self._connections if c.state in (READING, DRAINING)]
        if self._listener is not None:
            socks.append(self._listener)
        return socks

    def wants_write(self):
        return [c.sock for c in self._connections if c.state == WRITING]

    def close(self):
        self._closed = True
        for conn in self._connections:
            self._close(conn)
        self._connections = []
        if self._listener is not None:
            self._listener.close()
            self._listener = None

    def _bind(self):
        self._next_bind = self._clock() + REBIND_EVERY
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            # Windows lets SO_REUSEADDR steal a port in use; ask for exclusivity there.
            if hasattr(socket, 'SO_EXCLUSIVEADDRUSE'):
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_EXCLUSIVEADDRUSE, 1)
            else:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sock.bind((HOST, self.wanted_port))
            sock.listen(128)
            sock.setblocking(False)
        except OSError as e:
            sock.close()
            self._log('cannot listen on %s:%d (%s); retrying' % (HOST, self.wanted_port, e))
            return
        self._listener = sock
        self.port = sock.getsockname()[1]
        self._log('listening on %s:%d' % (HOST, self.port))

    def tick(self):
        if self._closed:
            return
        try:
            self._tick()
        except Exception as e:  # never let a fault escape into Live's timer
            self._log('tick failed: %r' % (e,))

    def _tick(self):
        now = self._clock()
        if self._listener is None and now >= self._next_bind:
            self._bind()
        if self.index.entries is None and not self.index.building:
            self.index.start()
        self._accept(now)
        for conn in list(self._connections):
            if conn.sock is not None and conn.state in (READING, DRAINING):
                self._read(conn, now)
        self.index.step()
        now = self._clock()
        for conn in list(self._connections):
            if conn.state == WAITING:
                self._answer_pending(conn, now)
            if conn.state == WRITING:
                self._write(conn, now)
            if conn.sock is not None and now >= conn.deadline:
                self._expire(conn, now)
        self._connections = [c for c in self._connections if c.sock is not None]

    # Connections ---------------------------------------------------------

    def _accept(self, now):
        if self._listener is None:
            return
        for _ in range(ACCEPTS_PER_TICK):
            if len(self._connections) >= 2 * MAX_CONNECTIONS:
                return  # the rest wait in the listen queue
            try:
                sock, _ = self._listener.accept()
            except OSError:
                return
            sock.setblocking(False)
            conn = _Connection(sock, now)
            full = len(self._connections) >= MAX_CONNECTIONS and not self._evict()
            self._connections.append(conn)
            if full:
                self._reply(conn, now, 503, envelope(error=BridgeError(503, 'busy', 'busy')))
            else:
                # Read at once: a head that has already arrived protects it from eviction.
                self._read(conn, now)

    def _evict(self):
        """Makes room for a newcomer by closing the oldest connection whose request
        head has not arrived, else the oldest one already answered. Neither holds an
        authorised request, so idle or trickling clients cannot shut one out."""
        for evictable in (lambda c: c.state == READING and c.request is None,
                          lambda c: c.state == DRAINING):
            for conn in self._connections:
                if conn.sock is not None and evictable(conn):
                    self._close(conn)
                    self._connections.remove(conn)
                    return True
        return False

    def _close(self, conn):
        if conn.sock is not None:
            try:
                conn.sock.close()
            except OSError:
                pass
            conn.sock = None

    def _expire(self, conn, now):
        if conn.state == READING:
            self._reply(conn, now, 408, envelope(error=BridgeError(408, 'request_timeout', 'timeout')))
        else:
            self._close(conn)

    def _read(self, conn, now):
        budget = MAX_HEAD_BYTES + MAX_BODY_BYTES + 65536
        while budget > 0:
            try:
                chunk = conn.sock.recv(65536)
            except (BlockingIOError, InterruptedError):
                return
            except OSError:
                self._close(conn)
                return
            if not chunk:
                self._close(conn)
                return
            budget -= len(chunk)
            if conn.state == DRAINING:
                continue
            conn.inbuf += chunk
            try:
                request = self._parse(conn)
            except BridgeError as e:
                self._reply(conn, now, e.status, envelope(error=e))
                return
            if request is not None:
                self._dispatch(conn, request, now)
                return

    def _parse(self, conn):
        """Returns the request once it has arrived whole, else None."""
        if conn.request is None:
            end = conn.inbuf.find(b'\r\n\r\n')
            if end < 0:
                if len(conn.inbuf) > MAX_HEAD_BYTES:
                    raise BridgeError(431, 'request_too_large', 'too_large')
                return None
            if end + 4 > MAX_HEAD_BYTES:
                raise BridgeError(431, 'request_too_large', 'too_large')
            request = parse_head(bytes(conn.inbuf[:end]))
            # Refused at once, before any body: an unauthorised caller holds no place for long.
            if not self._authorised(request):
                raise BridgeError(401, 'unauthorised', 'unauthorised')
            if 'transfer-encoding' in request.headers:
                raise BridgeError(501, 'invalid_request', 'bad_request')
            length = request.headers.get('content-length', b'0')
            if not length.isdigit():
                raise _bad()
            if int(length) > MAX_BODY_BYTES:
                raise BridgeError(413, 'request_too_large', 'too_large')
            conn.request = request
            conn.deadline = conn.accepted + REQUEST_DEADLINE
            conn.head_end = end + 4
            conn.body_length = int(length)
        request = conn.request
        if len(conn.inbuf) < conn.head_end + conn.body_length:
            if not conn.continued and request.headers.get('expect', b'').lower() == b'100-continue':
                conn.continued = True
                try:
                    conn.sock.send(b'HTTP/1.1 100 Continue\r\n\r\n')
                except OSError:
                    pass
            return None
        request.body = bytes(conn.inbuf[conn.head_end:conn.head_end + conn.body_length])
        return request

    def _reply(self, conn, now, status, doc):
        conn.out = http_response(status, doc)
        conn.sent = 0
        conn.state = WRITING
        conn.pending = None
        conn.deadline = now + WRITE_DEADLINE
        self._write(conn, now)

    def _write(self, conn, now):
        try:
            conn.sent += conn.sock.send(conn.out[conn.sent:])
        except (BlockingIOError, InterruptedError):
            return
        except OSError:
            self._close(conn)
            return
        if conn.sent >= len(conn.out):
            # Half-close and drain what the client still sends: closing with
            # unread data would reset the connection and lose the answer.
            try:
                conn.sock.shutdown(socket.SHUT_WR)
            except OSError:
                self._close(conn)
                return
            conn.state = DRAINING
            conn.deadline = now + LINGER

    # Requests ------------------------------------------------------------

    def _authorised(self, request):
        value = request.headers.get('authorization', b'')
        scheme, _, credentials = value.partition(b' ')
        # Compare even when the scheme is wrong, so timing tells nothing.
        same = hmac.compare_digest(credentials.strip(b' '), self._token_bytes)
        return same and scheme.lower() == b'bearer'

    def _dispatch(self, conn, request, now):
        try:
            status, doc = 200, envelope(self._route(conn, request, now))
        except BridgeError as e:
            status, doc = e.status, envelope(error=e)
        except Exception as e:
            self._log('request failed: %r' % (e,))
            status, doc = 500, envelope(error=BridgeError(500, 'internal_error', 'internal'))
        if conn.state != WAITING:
            self._reply(conn, now, status, doc)

    def _route(self, conn, request, now):
        routes = {'/v1/health': 'GET', '/v1/browser/search': 'GET', '/v1/load': 'POST'}
        if request.path not in routes:
            raise BridgeError(404, 'not_found', 'not_found')
        if request.method != routes[request.path]:
            raise BridgeError(405, 'method_not_allowed', 'method')
        if request.path == '/v1/health':
            return self._health()
        if request.path == '/v1/browser/search':
            return self._search(conn, request, now)
        return self._load(conn, request, now)

    def _health(self):
        return {'configured': self.configured, 'version': API_VERSION,
                'indexing': self.index.building, 'indexedItems': self.index.count()}

    def _search(self, conn, request, now):
        query = query_parameter(request.query, 'query').strip()
        if not query:
            raise BridgeError(400, 'invalid_request', 'empty_query')
        if utf16_length(query) > MAX_QUERY:
            raise BridgeError(400, 'invalid_request', 'long_query')
        if not self.index.refresh_if_stale() and not self.index.complete:
            raise BridgeError(503, 'browser_unavailable', 'browser_unavailable')
        if not self.index.complete:
            self._wait(conn, ('search', query, now + SEARCH_WAIT, 0))
            return None
        return self._search_answer(query)

    def _search_answer(self, query):
        items, truncated = self.index.search(query, RESULT_LIMIT)
        return {'items': items, 'truncated': truncated, 'complete': self.index.complete}

    def _load(self, conn, request, now):
        try:
            body = json.loads(request.body.decode('utf-8'))
        except (ValueError, RecursionError):
            raise BridgeError(400, 'invalid_request', 'bad_body')
        uri = body.get('uri') if isinstance(body, dict) else None
        if not isinstance(uri, str) or not uri or utf16_length(uri) > MAX_URI:
            raise BridgeError(400, 'invalid_request', 'bad_body')
        self.index.refresh_if_stale()
        entry = self.index.lookup(uri)
        if entry is not None:
            return self._load_entry(entry)
        # Not indexed (yet): wait for a walk that finishes after this request.
        if not self.index.start():
            raise BridgeError(503, 'browser_unavailable', 'browser_unavailable', {'loaded': False})
        self._wait(conn, ('load', uri, now + LOAD_WAIT, self.index.generation + 1))
        return None

    def _load_entry(self, entry):
        item = entry[4]
        if not _flag(item, 'is_loadable', False):
            raise BridgeError(409, 'not_loadable', 'not_loadable', {'loaded': False})
        try:
            browser = self._get_browser()
            browser.load_item(item)
        except Exception as e:
            self._log('load_item failed for %s: %r' % (entry[2], e))
            raise BridgeError(500, 'load_failed', 'load_failed', {'loaded': False})
        return {'loaded': True, 'name': entry[1], 'uri': entry[2], 'path': entry[3]}

    def _wait(self, conn, pending):
        conn.state = WAITING
        conn.pending = pending
        conn.deadline = pending[2] + WRITE_DEADLINE

    def _answer_pending(self, conn, now):
        kind, argument, give_up, generation = conn.pending
        try:
            if kind == 'search':
                if not self.index.complete and now < give_up and self.index.building:
                    return
                data = self._search_answer(argument)
            else:
                entry = self.index.lookup(argument)
                if entry is None:
                    if self.index.generation >= generation:
                        raise BridgeError(404, 'item_not_found', 'item_not_found', {'loaded': False})
                    if now < give_up:
                        if not self.index.building:
                            self.index.start()
                        return
                    raise BridgeError(503, 'browser_scanning', 'scanning', {'loaded': False})
                data = self._load_entry(entry)
            status, doc = 200, envelope(data)
        except BridgeError as e:
            status, doc = e.status, envelope(error=e)
        self._reply(conn, now, status, doc)


class VintrelleBridge(object):
    """The control surface that Live creates; it only hosts the service."""

    def __init__(self, c_instance, config_path=None, port=None, clock=None):
        self._c_instance = c_instance
        if config_path is None:
            config_path = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'config.json')
        self.service = BridgeService(config_path, self._browser, log=self.log_message,
                                     port=port, clock=clock)

    def _browser(self):
        return self.application().browser

    def application(self):
        import Live  # only present inside Live (or a stand-in)
        return Live.Application.get_application()

    def song(self):
        return self._c_instance.song()

    def log_message(self, *parts):
        try:
            self._c_instance.log_message('(VintrelleBridge) ' + ' '.join(str(p) for p in parts))
        except Exception:
            pass

    # Live -> script

    def update_display(self):
        self.service.tick()

    def disconnect(self):
        self.service.close()

    def connect_script_instances(self, instanciated_scripts):
        pass

    def refresh_state(self):
        pass

    def port_settings_changed(self):
        pass

    def build_midi_map(self, midi_map_handle):
        pass

    def receive_midi(self, midi_bytes):
        pass

    def can_lock_to_devices(self):
        return False

    def lock_to_device(self, device):
        pass

    def unlock_from_device(self, device):
        pass

    def restore_bank(self, bank_index):
        pass

    def suggest_input_port(self):
        return ''

    def suggest_output_port(self):
        return ''

    def suggest_map_mode(self, cc_no, channel):
        return -1

    def suggest_needs_takeover(self, cc_no, channel):
        return True

    def supports_pad_translation(self):
        return False
