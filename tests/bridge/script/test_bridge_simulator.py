"""The real script in the simulator process, with a real clock and real clients."""

import http.client
import json
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from VintrelleBridge import bridge

HERE = os.path.dirname(os.path.abspath(__file__))
SIMULATOR = os.environ.get('VINTRELLE_BRIDGE_SIMULATOR') or os.path.join(
    HERE, '..', '..', '..', 'tools', 'bridge-simulator', 'vintrelle-bridge-simulator.py')


class SimulatorTests(unittest.TestCase):
    def test_idle_and_trickling_clients_do_not_shut_out_an_authorised_search(self):
        folder = tempfile.mkdtemp(prefix='vintrelle-sim-')
        self.addCleanup(shutil.rmtree, folder)
        with open(os.path.join(folder, 'stderr.txt'), 'wb') as stderr:
            proc = subprocess.Popen([sys.executable, SIMULATOR, '--config', os.path.join(folder, 'config.json'), '--port', '0'],
                                    stdout=subprocess.PIPE, stderr=stderr)
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
        head = b'GET /v1/health HTTP/1.1\r\nX-Slow: ' + b'a' * 1000
        start = time.monotonic()
        while searching.is_alive() and time.monotonic() - start < 20:
            for client in clients[::2]:
                try:
                    client.send(head[:1])
                except OSError:
                    pass  # dropped by the bridge
            head = head[1:]
            searching.join(0.05)
        searching.join()
        status, doc = answer[0]
        self.assertEqual(status, 200, doc)
        self.assertEqual(doc['data']['items'][0]['name'], 'Operator')


if __name__ == '__main__':
    unittest.main()
