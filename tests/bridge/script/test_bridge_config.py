"""config.json handling, Live's entry points and the language level of the script."""

import ast
import json
import os
import shutil
import socket
import tempfile
import unittest
from unittest import mock

import VintrelleBridge
from VintrelleBridge import bridge
from livefake import TOKEN, Browser, CInstance, Item, folder, install_live

SCRIPT_DIR = os.path.dirname(os.path.abspath(VintrelleBridge.__file__))


class ReadConfigTests(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='vintrelle-config-')
        self.addCleanup(shutil.rmtree, self.dir)
        self.path = os.path.join(self.dir, 'config.json')

    def read(self, text):
        with open(self.path, 'w', encoding='utf-8') as f:
            f.write(text)
        return bridge.read_config(self.path)

    def test_absent_file(self):
        self.assertEqual(bridge.read_config(self.path), (45873, None))

    def test_ports(self):
        cases = [
            ('{"token": "t"}', 45873), ('{"port": 1, "token": "t"}', 1), ('{"port": 65535, "token": "t"}', 65535),
            ('{"port": 45000.0, "token": "t"}', 45000), ('{"port": 0, "token": "t"}', 45873),
            ('{"port": 65536, "token": "t"}', 45873), ('{"port": -1, "token": "t"}', 45873),
            ('{"port": "45000", "token": "t"}', 45873), ('{"port": true, "token": "t"}', 45873),
            ('{"port": null, "token": "t"}', 45873), ('{"port": NaN, "token": "t"}', 45873),
            ('{"port": Infinity, "token": "t"}', 45873), ('{"port": 1e400, "token": "t"}', 45873),
        ]
        for text, port in cases:
            with self.subTest(text):
                self.assertEqual(self.read(text), (port, 't'))

    def test_tokens(self):
        cases = [('{"port": 5000}', None), ('{"token": ""}', None), ('{"token": 12}', None),
                 ('{"token": ["t"]}', None), ('{"token": "k\u00e9y"}', 'k\u00e9y'), ('{"token": "%s", "extra": 1}' % TOKEN, TOKEN)]
        for text, token in cases:
            with self.subTest(text):
                self.assertEqual(self.read(text)[1], token)

    def test_unusable_files(self):
        for text in ('', 'not json', '[1, 2]', '"token"', '{"token": "t"', '\ufeff{"token": "t"}',
                     '{"token": "t", "pad": "%s"}' % ('x' * bridge.MAX_CONFIG_BYTES)):
            with self.subTest(text[:30]):
                self.assertEqual(self.read(text), (45873, None))
        os.mkdir(os.path.join(self.dir, 'folder.json'))
        self.assertEqual(bridge.read_config(os.path.join(self.dir, 'folder.json')), (45873, None))


class SurfaceConfigTests(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='vintrelle-config-')
        self.addCleanup(shutil.rmtree, self.dir)
        self.path = os.path.join(self.dir, 'config.json')
        install_live(lambda: Browser(instruments=folder('Instruments', Item('Operator'))))

    def surface(self, **kw):
        s = bridge.VintrelleBridge(CInstance(), config_path=self.path, **kw)
        self.addCleanup(s.disconnect)
        return s

    def test_listens_on_the_configured_port_on_loopback_only(self):
        probe = socket.socket()
        probe.bind(('127.0.0.1', 0))
        port = probe.getsockname()[1]
        probe.close()
        with open(self.path, 'w') as f:
            json.dump({'port': port, 'token': TOKEN}, f)
        service = self.surface().service
        self.assertTrue(service.configured)
        self.assertEqual(service.port, port)
        self.assertEqual(service._listener.getsockname(), ('127.0.0.1', port))

    def test_absent_port_means_the_default(self):
        with open(self.path, 'w') as f:
            json.dump({'token': TOKEN}, f)
        service = self.surface(port=0).service
        self.assertEqual(service.config_port, 45873)
        self.assertTrue(service.configured)

    def test_missing_token_means_not_configured(self):
        with open(self.path, 'w') as f:
            json.dump({'port': 45873}, f)
        self.assertFalse(self.surface(port=0).service.configured)
        os.remove(self.path)
        self.assertFalse(self.surface(port=0).service.configured)

    def test_busy_port_is_retried_later(self):
        holder = socket.socket()
        holder.bind(('127.0.0.1', 0))
        holder.listen(1)
        port = holder.getsockname()[1]
        clock = [0.0]
        c_instance = CInstance()
        surface = bridge.VintrelleBridge(c_instance, config_path=self.path, port=port, clock=lambda: clock[0])
        self.addCleanup(surface.disconnect)
        self.assertFalse(surface.service.listening)
        self.assertTrue(any('cannot listen' in m for m in c_instance.messages))
        holder.close()
        surface.update_display()
        self.assertFalse(surface.service.listening)  # not before the retry delay
        clock[0] += bridge.REBIND_EVERY
        surface.update_display()
        self.assertTrue(surface.service.listening)
        self.assertEqual(surface.service.port, port)


class LiveEntryPointTests(unittest.TestCase):
    def test_create_instance_answers_everything_live_calls(self):
        install_live(lambda: Browser(instruments=folder('Instruments', Item('Operator'))))
        c_instance = CInstance()
        with mock.patch.object(bridge, 'DEFAULT_PORT', 0):  # never take the real port here
            surface = VintrelleBridge.create_instance(c_instance)
        self.addCleanup(surface.disconnect)
        # Beside the script, where the installer writes it.
        self.assertEqual(surface.service.config_path, os.path.join(SCRIPT_DIR, 'config.json'))
        calls = [('connect_script_instances', ([surface],)), ('refresh_state', ()), ('port_settings_changed', ()),
                 ('build_midi_map', (None,)), ('receive_midi', ((144, 60, 100),)), ('can_lock_to_devices', ()),
                 ('lock_to_device', (None,)), ('unlock_from_device', (None,)), ('restore_bank', (0,)),
                 ('suggest_input_port', ()), ('suggest_output_port', ()), ('suggest_map_mode', (7, 0)),
                 ('suggest_needs_takeover', (7, 0)), ('supports_pad_translation', ()), ('update_display', ()),
                 ('song', ()), ('disconnect', ())]
        for name, args in calls:
            with self.subTest(name):
                getattr(surface, name)(*args)
        self.assertIs(surface.can_lock_to_devices(), False)
        self.assertEqual(surface.suggest_input_port(), '')
        self.assertFalse(surface.service.listening)  # disconnect closed the socket
        surface.service._next_bind = 0  # as if the retry delay had passed
        surface.update_display()
        self.assertFalse(surface.service.listening)  # a late tick does not reopen it
        self.assertTrue(any('VintrelleBridge' in m for m in c_instance.messages))

    def test_script_files_parse_as_python_3_7(self):
        # Live 11 embeds Python 3.7; newer syntax would stop the script loading there.
        with self.assertRaises(SyntaxError):
            ast.parse('if (n := 1): pass', feature_version=(3, 7))  # the check itself can fail
        for name in ('__init__.py', 'bridge.py'):
            with self.subTest(name):
                with open(os.path.join(SCRIPT_DIR, name), encoding='utf-8') as f:
                    ast.parse(f.read(), filename=name, feature_version=(3, 7))


if __name__ == '__main__':
    unittest.main()
