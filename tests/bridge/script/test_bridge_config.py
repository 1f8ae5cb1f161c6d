"""config.json, Live's entry points and the language level of the script."""

import ast
import json
import os
import socket
import tempfile
import unittest

import VintrelleBridge
from VintrelleBridge import bridge
from livefake import TOKEN, Browser, CInstance, Item, folder, install_live, write_config

SCRIPT_DIR = os.path.dirname(os.path.abspath(VintrelleBridge.__file__))
CASES = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'data', 'bridge-config-cases.json')


def create_case(case, path):
    """Puts a case of the shared table at `path`, as the program's tests do."""
    if case.get('file') == 'folder':
        os.mkdir(path)
    if 'file' in case:
        return
    data = bytes.fromhex(case['hex']) if 'hex' in case else case.get('text', '').encode('utf-8', 'surrogatepass')
    if 'nest' in case:
        data = b'{"token": "t", "x": ' + b'[' * (case['nest'] - 1) + b']' * (case['nest'] - 1) + b'}'
    with open(path, 'wb') as f:
        f.write(data + b' ' * (case.get('padTo', 0) - len(data)))


def free_port():
    with socket.socket() as probe:
        probe.bind(('127.0.0.1', 0))
        return probe.getsockname()[1]


class ConfigTests(unittest.TestCase):
    def setUp(self):
        folder_ = tempfile.TemporaryDirectory(prefix='vintrelle-config-')
        self.addCleanup(folder_.cleanup)
        self.dir, self.path = folder_.name, os.path.join(folder_.name, 'config.json')
        install_live(lambda: Browser(instruments=folder('Instruments', Item('Operator'))))

    def surface(self, **kw):
        c_instance = CInstance()
        surface = bridge.VintrelleBridge(c_instance, config_path=self.path, **kw)
        self.addCleanup(surface.disconnect)
        return surface, c_instance.messages

    def test_the_program_s_cases(self):
        with open(CASES, encoding='utf-8') as f:
            cases = json.load(f)['cases']
        self.assertGreater(len(cases), 40)
        for number, case in enumerate(cases):
            with self.subTest(case['case']):
                path = os.path.join(self.dir, 'case%d.json' % number)
                create_case(case, path)
                config, refusal = bridge.read_config(path)
                self.assertEqual((list(config) if config else None, refusal is None), (case['expect'], config is not None))

    def test_refused_file_means_no_service_and_says_why(self):
        write_config(self.path, {'port': 45873.5, 'token': TOKEN})
        surface, messages = self.surface(port=0)
        surface.update_display()
        self.assertFalse(surface.service.listening)
        self.assertEqual(len(messages), 1)
        self.assertIn('"port" in %s is not a whole number from 1 to 65535' % self.path, messages[0])

    def test_listens_on_the_configured_port_on_loopback_only(self):
        port = free_port()
        write_config(self.path, {'port': port, 'token': TOKEN})
        self.assertEqual(self.surface()[0].service._listener.getsockname(), ('127.0.0.1', port))

    def test_busy_port_is_retried_later(self):
        holder = socket.socket()
        holder.bind(('127.0.0.1', 0))
        holder.listen(1)
        write_config(self.path, {'token': TOKEN})
        clock = [0.0]
        surface, messages = self.surface(port=holder.getsockname()[1], clock=lambda: clock[0])
        self.assertFalse(surface.service.listening)
        self.assertTrue(any('cannot listen' in m for m in messages))
        holder.close()
        surface.update_display()
        self.assertFalse(surface.service.listening)  # not before the retry delay
        clock[0] += bridge.REBIND_EVERY
        surface.update_display()
        self.assertTrue(surface.service.listening)

    def test_create_instance_answers_everything_live_calls(self):
        c_instance = CInstance()
        surface = VintrelleBridge.create_instance(c_instance)
        self.addCleanup(surface.disconnect)
        # Beside the script, where the installer writes it.
        self.assertEqual(surface.service.config_path, os.path.join(SCRIPT_DIR, 'config.json'))
        calls = [('connect_script_instances', [surface]), ('refresh_state',), ('port_settings_changed',), ('build_midi_map', None),
                 ('receive_midi', (144, 60, 100)), ('can_lock_to_devices',), ('lock_to_device', None), ('unlock_from_device', None),
                 ('restore_bank', 0), ('suggest_input_port',), ('suggest_output_port',), ('suggest_map_mode', 7, 0),
                 ('suggest_needs_takeover', 7, 0), ('supports_pad_translation',), ('update_display',), ('song',),
                 ('disconnect',), ('update_display',)]
        for name, *args in calls:
            with self.subTest(name):
                getattr(surface, name)(*args)
        self.assertTrue(c_instance.messages and all(m.startswith('(VintrelleBridge) ') for m in c_instance.messages))

    def test_script_files_parse_as_python_3_7(self):
        # Live 11 embeds Python 3.7; newer syntax would stop the script loading there.
        with self.assertRaises(SyntaxError):
            ast.parse('if (n := 1): pass', feature_version=(3, 7))  # the check itself can fail
        for name in ('__init__.py', 'bridge.py'):
            with open(os.path.join(SCRIPT_DIR, name), encoding='utf-8') as f:
                ast.parse(f.read(), filename=name, feature_version=(3, 7))


if __name__ == '__main__':
    unittest.main()
