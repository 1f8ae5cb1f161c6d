"""The simulator process end to end, over real loopback HTTP."""

import http.client
import json
import os
import select
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import unittest
from urllib.parse import quote

HERE = os.path.dirname(os.path.abspath(__file__))
SIMULATOR = os.environ.get('VINTRELLE_BRIDGE_SIMULATOR') or os.path.join(
    HERE, '..', '..', '..', 'tools', 'bridge-simulator', 'vintrelle-bridge-simulator.py')


class SimulatorTests(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='vintrelle-sim-')
        self.addCleanup(shutil.rmtree, self.dir)
        self.config = os.path.join(self.dir, 'Remote Scripts', 'VintrelleBridge', 'config.json')
        self.load_log = os.path.join(self.dir, 'loads.jsonl')

    def start(self, *args):
        env = dict(os.environ, PYTHONDONTWRITEBYTECODE='1')
        # stderr goes to a file: a pipe nobody reads could fill and stall the simulator.
        stderr_path = os.path.join(self.dir, 'stderr.txt')
        with open(stderr_path, 'wb') as stderr:
            proc = subprocess.Popen([sys.executable, SIMULATOR, '--config', self.config, '--load-log', self.load_log]
                                    + list(args), stdout=subprocess.PIPE, stderr=stderr, env=env)

        def stop():
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            proc.stdout.close()
        self.addCleanup(stop)
        ready, _, _ = select.select([proc.stdout], [], [], 20)
        self.assertTrue(ready, 'the simulator printed nothing in 20 s')
        line = proc.stdout.readline()
        if not line:
            proc.wait(10)
            with open(stderr_path) as f:
                self.fail('the simulator stopped: %s' % f.read())
        return proc, json.loads(line)

    def call(self, ready, method, path, body=None, token=None):
        conn = http.client.HTTPConnection('127.0.0.1', ready['port'], timeout=10)
        try:
            headers = {'Authorization': 'Bearer ' + (ready['token'] if token is None else token)}
            if body is not None:
                headers['Content-Type'] = 'application/json'
                body = json.dumps(body)
            conn.request(method, path, body=body, headers=headers)
            response = conn.getresponse()
            return response.status, json.loads(response.read().decode('utf-8'))
        finally:
            conn.close()

    def test_search_and_load_with_a_new_config(self):
        proc, ready = self.start('--port', '0')
        # A missing config.json is created with a fresh token, private to the user.
        self.assertEqual(ready['config'], self.config)
        self.assertRegex(ready['token'], r'^[0-9a-f]{64}$')
        self.assertEqual(stat.S_IMODE(os.stat(self.config).st_mode), 0o600)
        with open(self.config) as f:
            self.assertEqual(json.load(f), {'port': ready['port'], 'token': ready['token']})

        self.assertEqual(self.call(ready, 'GET', '/v1/health')[1]['data']['configured'], True)
        status, doc = self.call(ready, 'GET', '/v1/browser/search?query=')
        self.assertEqual((status, doc['error']['code']), (400, 'invalid_request'))
        self.assertEqual(self.call(ready, 'GET', '/v1/health', token='nope')[0], 401)

        status, doc = self.call(ready, 'GET', '/v1/browser/search?query=' + quote('operator'))
        self.assertEqual(status, 200)
        first = doc['data']['items'][0]
        self.assertEqual((first['name'], first['path']), ('Operator', 'Instruments'))
        status, doc = self.call(ready, 'GET', '/v1/browser/search?query=' + quote('frostline'))
        self.assertEqual(sorted(i['path'] for i in doc['data']['items']),
                         ['Plug-Ins/Audio Units/Halvorsen Audio', 'Plug-Ins/VST3/Halvorsen Audio'])

        status, doc = self.call(ready, 'POST', '/v1/load', {'uri': first['uri']})
        self.assertEqual((status, doc['data']['loaded']), (200, True))
        with open(self.load_log) as f:
            self.assertEqual([json.loads(l) for l in f], [{'uri': first['uri'], 'name': 'Operator'}])

        status, doc = self.call(ready, 'POST', '/v1/load', {'uri': 'query:Synths#Nothing'})
        self.assertEqual((status, doc['ok'], doc['data']['loaded']), (404, False, False))

        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(10), 0)

    def test_existing_config_keeps_its_token_and_other_keys(self):
        os.makedirs(os.path.dirname(self.config))
        with open(self.config, 'w') as f:
            json.dump({'token': 'kept-token', 'note': 'mine'}, f)
        proc, ready = self.start('--port', '0')
        self.assertEqual(ready['token'], 'kept-token')
        with open(self.config) as f:
            self.assertEqual(json.load(f), {'token': 'kept-token', 'note': 'mine', 'port': ready['port']})
        self.assertEqual(self.call(ready, 'GET', '/v1/health')[0], 200)
        proc.send_signal(signal.SIGINT)
        self.assertEqual(proc.wait(10), 0)

    def test_unusable_config_stops_it(self):
        os.makedirs(os.path.dirname(self.config))
        with open(self.config, 'w') as f:
            f.write('[]')
        proc = subprocess.run([sys.executable, SIMULATOR, '--config', self.config, '--port', '0'],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20,
                              env=dict(os.environ, PYTHONDONTWRITEBYTECODE='1'))
        self.assertNotEqual(proc.returncode, 0)
        self.assertEqual(proc.stdout, b'')
        self.assertIn(b'JSON object', proc.stderr)
        with open(self.config) as f:
            self.assertEqual(f.read(), '[]')


if __name__ == '__main__':
    unittest.main()
