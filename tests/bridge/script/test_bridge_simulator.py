"""The simulator process end to end, over real loopback HTTP."""

import http.client
import json
import os
import select
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from urllib.parse import quote

from VintrelleBridge import bridge

HERE = os.path.dirname(os.path.abspath(__file__))
SIMULATOR = os.environ.get('VINTRELLE_BRIDGE_SIMULATOR') or os.path.join(
    HERE, '..', '..', '..', 'tools', 'bridge-simulator', 'vintrelle-bridge-simulator.py')


class SimulatorTests(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='vintrelle-sim-')
        self.addCleanup(shutil.rmtree, self.dir)
        self.config = os.path.join(self.dir, 'Remote Scripts', 'VintrelleBridge', 'config.json')
        self.load_log = os.path.join(self.dir, 'loads.jsonl')

    def run_simulator(self):
        """Starts it on a free port and answers its ready line."""
        with open(os.path.join(self.dir, 'stderr.txt'), 'w+b') as stderr:
            proc = subprocess.Popen([sys.executable, SIMULATOR, '--config', self.config, '--load-log', self.load_log,
                                     '--port', '0'], stdout=subprocess.PIPE, stderr=stderr)
        self.addCleanup(lambda: (proc.poll() is None and proc.kill(), proc.wait(), proc.stdout.close()))
        self.assertTrue(select.select([proc.stdout], [], [], 20)[0], 'the simulator printed nothing in 20 s')
        return json.loads(proc.stdout.readline())

    def call(self, ready, method, path, body=None, token=None):
        conn = http.client.HTTPConnection('127.0.0.1', ready['port'], timeout=10)
        try:
            headers = {'Authorization': 'Bearer ' + (ready['token'] if token is None else token)}
            conn.request(method, path, body=None if body is None else json.dumps(body), headers=headers)
            response = conn.getresponse()
            return response.status, json.loads(response.read().decode('utf-8'))
        finally:
            conn.close()

    def test_search_and_load_with_a_new_config(self):
        ready = self.run_simulator()
        # A missing config.json is created with a fresh token, private to the user.
        self.assertRegex(ready['token'], r'^[0-9a-f]{64}$')
        self.assertEqual(stat.S_IMODE(os.stat(self.config).st_mode), 0o600)
        with open(self.config) as f:
            self.assertEqual(json.load(f), {'port': ready['port'], 'token': ready['token']})
        self.assertEqual(self.call(ready, 'GET', '/v1/health', token='nope')[0], 401)
        status, doc = self.call(ready, 'GET', '/v1/browser/search?query=' + quote('operator'))
        first = doc['data']['items'][0]
        self.assertEqual((status, first['name'], first['path']), (200, 'Operator', 'Instruments'))
        status, doc = self.call(ready, 'POST', '/v1/load', {'uri': first['uri']})
        self.assertEqual((status, doc['data']['loaded']), (200, True))
        with open(self.load_log) as f:
            self.assertEqual([json.loads(l) for l in f], [{'uri': first['uri'], 'name': 'Operator'}])

    def test_idle_and_trickling_clients_do_not_shut_out_an_authorised_search(self):
        ready = self.run_simulator()
        clients = [socket.create_connection(('127.0.0.1', ready['port'])) for _ in range(max(40, bridge.MAX_CONNECTIONS + 8))]
        for client in clients:
            self.addCleanup(client.close)
        trickling = clients[::2]
        answer = []
        search = threading.Thread(target=lambda: answer.append(self.call(ready, 'GET', '/v1/browser/search?query=operator')))
        search.start()
        head = b'GET /v1/health HTTP/1.1\r\nX-Slow: ' + b'a' * 1000
        start = time.monotonic()
        while search.is_alive() and time.monotonic() - start < 20:
            for client in trickling:
                try:
                    client.send(head[:1])
                except OSError:
                    pass  # dropped by the bridge
            head = head[1:]
            search.join(0.05)
        search.join()
        status, doc = answer[0]
        self.assertEqual(status, 200, doc)
        self.assertEqual(doc['data']['items'][0]['name'], 'Operator')


if __name__ == '__main__':
    unittest.main()
