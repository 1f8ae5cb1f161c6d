#!/usr/bin/env python3
"""Runs the VintrelleBridge Remote Script outside Ableton Live.

The script module is imported from resources/VintrelleBridge (the files the
installer copies into Live) and runs against a stand-in for Live's browser
built from a JSON catalogue. Its tick is driven the way Live drives it, but
sooner when a socket has something to do.

When ready it prints one JSON line, {"port", "token", "config"}, to stdout.
Loads are appended to --load-log as JSON lines {"uri", "name", "path"}.
"""

import argparse
import json
import os
import secrets
import select
import signal
import sys
import tempfile
import types
from urllib.parse import quote

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_CONFIG = '~/Music/Ableton/User Library/Remote Scripts/VintrelleBridge/config.json'
DEFAULT_PORT = 45873
TICK = 0.1

# Part of the uri Live gives each browser root.
URI_TAGS = {
    'instruments': 'Synths', 'audio_effects': 'AudioFx', 'midi_effects': 'MidiFx',
    'plugins': 'Plugins', 'drums': 'Drums', 'sounds': 'Sounds', 'max_for_live': 'M4L',
    'packs': 'Packs', 'user_library': 'UserLibrary', 'user_folders': 'UserFolder',
    'current_project': 'CurrentProject', 'samples': 'Samples', 'clips': 'Clips',
}


class Item(object):
    """Stands in for Live.Browser.BrowserItem."""

    def __init__(self, name, uri, is_loadable, is_folder, is_device, children, refuses=False):
        self.name = name
        self.uri = uri
        self.is_loadable = is_loadable
        self.is_folder = is_folder
        self.is_device = is_device
        self.children = children
        self.refuses = refuses


def build_item(entry, root, trail):
    name = entry['name']
    kid_entries = entry.get('children', [])
    device = bool(entry.get('device', False))
    folder = bool(kid_entries) and not device
    loadable = bool(entry.get('loadable', not folder))
    uri = entry.get('uri') or 'query:%s#%s' % (URI_TAGS.get(root, root), ':'.join(quote(p) for p in trail + [name]))
    children = [build_item(k, root, trail + [name]) for k in kid_entries]
    return Item(name, uri, loadable, folder, device, children, bool(entry.get('refuse', False)))


class Browser(object):
    """Stands in for Live.Browser.Browser; records every load it accepts."""

    def __init__(self, catalogue, load_log):
        self.load_log = load_log
        for root, entry in catalogue.get('roots', {}).items():
            if isinstance(entry, list):
                setattr(self, root, [build_item(s, root, []) for s in entry])
            else:
                children = [build_item(k, root, []) for k in entry.get('children', [])]
                tag = URI_TAGS.get(root, root)
                setattr(self, root, Item(entry['name'], 'query:' + tag, False, True, False, children))

    def load_item(self, item):
        if not item.is_loadable or item.refuses:
            raise RuntimeError('Live refused to load %s' % item.name)
        if self.load_log:
            with open(self.load_log, 'a', encoding='utf-8') as f:
                f.write(json.dumps({'uri': item.uri, 'name': item.name}) + '\n')
                f.flush()
        print('loaded %s (%s)' % (item.name, item.uri), file=sys.stderr, flush=True)


class CInstance(object):
    """The part of Live's c_instance the script uses."""

    def log_message(self, message):
        print(message, file=sys.stderr, flush=True)

    def show_message(self, message):
        print(message, file=sys.stderr, flush=True)

    def song(self):
        return None


def install_fake_live(browser):
    application = types.SimpleNamespace(browser=browser)
    live = types.ModuleType('Live')
    live.Application = types.SimpleNamespace(get_application=lambda: application)
    sys.modules['Live'] = live


def write_config(path, doc):
    folder = os.path.dirname(path)
    os.makedirs(folder, exist_ok=True)
    fd, tmp = tempfile.mkstemp(prefix='.config-', dir=folder)
    try:
        with os.fdopen(fd, 'w', encoding='utf-8') as f:
            json.dump(doc, f, indent=2)
            f.write('\n')
        os.chmod(tmp, 0o600)
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise


def prepare_config(path, port, token):
    """Reads config.json, creating it with a fresh token when missing."""
    doc = None
    if os.path.exists(path):
        try:
            with open(path, encoding='utf-8') as f:
                doc = json.load(f)
        except (OSError, ValueError) as e:
            sys.exit('%s cannot be read (%s); fix or remove it' % (path, e))
        if not isinstance(doc, dict):
            sys.exit('%s does not hold a JSON object; fix or remove it' % path)
    changed = doc is None
    if doc is None:
        doc = {'port': DEFAULT_PORT, 'token': secrets.token_hex(32)}
    if token is not None and doc.get('token') != token:
        doc['token'] = token
        changed = True
    if port and doc.get('port') != port:
        doc['port'] = port
        changed = True
    if changed:
        write_config(path, doc)
    return doc


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--config', default=os.path.expanduser(DEFAULT_CONFIG),
                        help='config.json to read and write (default: the installed bridge\'s)')
    parser.add_argument('--catalogue', default=os.path.join(HERE, 'demo-catalogue.json'),
                        help='JSON catalogue of the browser (default: the demo catalogue)')
    parser.add_argument('--port', type=int, default=None,
                        help='port to listen on and write into config.json; 0 picks a free one')
    parser.add_argument('--token', default=None, help='token to write into config.json')
    parser.add_argument('--load-log', default=None, help='append one JSON line per load to this file')
    parser.add_argument('--resources', default=os.environ.get('VINTRELLE_RESOURCES') or
                        os.path.join(HERE, '..', '..', 'resources'),
                        help='folder holding VintrelleBridge/ (default: the source tree\'s)')
    args = parser.parse_args()
    if args.port is not None and not 0 <= args.port <= 65535:
        parser.error('--port must be 0 to 65535')
    if args.token is not None and not args.token:
        parser.error('--token must not be empty')

    sys.dont_write_bytecode = True  # keep the resources folder free of caches
    sys.path.insert(0, os.path.abspath(args.resources))
    from VintrelleBridge import bridge

    with open(args.catalogue, encoding='utf-8') as f:
        catalogue = json.load(f)
    install_fake_live(Browser(catalogue, args.load_log))

    config = os.path.abspath(args.config)
    doc = prepare_config(config, args.port, args.token)
    surface = bridge.VintrelleBridge(CInstance(), config_path=config, port=args.port)
    service = surface.service
    if not service.listening:
        surface.disconnect()
        sys.exit('the bridge is not listening; its log above says why')
    if args.port == 0:
        doc['port'] = service.port
        write_config(config, doc)

    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(True))
    signal.signal(signal.SIGINT, lambda *_: stopping.append(True))
    print(json.dumps({'port': service.port, 'token': service.token, 'config': config}), flush=True)

    while not stopping:
        select.select(service.sockets(), service.wants_write(), [], TICK)
        surface.update_display()
    surface.disconnect()


if __name__ == '__main__':
    main()
