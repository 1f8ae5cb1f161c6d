"""The browser index, search ordering and loading, through the HTTP service."""

import unittest

from VintrelleBridge import bridge
from livefake import BridgeCase, Browser, Item, Response, folder, install_live, request


class Broken(object):
    """A root whose every access fails, as a half-initialised Live object might."""

    @property
    def children(self):
        raise RuntimeError('not ready')

    @property
    def name(self):
        raise RuntimeError('not ready')


class IndexTests(BridgeCase):
    COST = 0.001  # clock seconds per folder Live lists

    def make_browser(self):
        k = dict(clock=self.clock, cost=self.COST)

        def presets(device, n):
            return Item(device, device=True, children=[Item('%s Preset %02d' % (device, i), **k) for i in range(n)], **k)
        plugins = folder('Plug-Ins',
                         folder('VST3', folder('Halvorsen Audio', Item('Frostline Synth', uri='vst3:frost', **k), **k), **k),
                         folder('Audio Units', folder('Halvorsen Audio', Item('Frostline Synth', uri='au:frost', **k), **k), **k),
                         **k)
        browser = Browser(
            instruments=folder('Instruments', presets('Operator', 30), presets('Wavetable', 30), Item('Simpler', **k), **k),
            audio_effects=folder('Audio Effects', *[folder('Group %d' % g, *[Item('Effect %d-%d' % (g, i), **k) for i in range(10)], **k)
                                                    for g in range(8)], **k),
            plugins=plugins,
            # The same item reached again from the user library keeps its first path.
            user_library=folder('User Library', Item('Simpler', **k), **k),
            user_folders=[folder('Sound Design', Item('Riser', **k), **k), folder('Field', Item('Rain', **k), **k)],
            max_for_live=Broken(),
        )
        return browser

    def setUp(self):
        BridgeCase.setUp(self)
        self.service.index.budget = 0.005

    def expected_uris(self):
        uris = {'query:Test#Operator', 'query:Test#Wavetable', 'query:Test#Simpler', 'vst3:frost', 'au:frost',
                'query:Test#Riser', 'query:Test#Rain'}
        uris |= {'query:Test#%s Preset %02d' % (d, i) for d in ('Operator', 'Wavetable') for i in range(30)}
        uris |= {'query:Test#Effect %d-%d' % (g, i) for g in range(8) for i in range(10)}
        return uris

    def test_walk_spreads_over_ticks_within_the_budget(self):
        index = self.service.index
        ticks = 0
        while index.generation == 0:
            start = self.clock()
            self.tick()
            ticks += 1
            # One folder listing may start just before the budget runs out.
            self.assertLessEqual(self.clock() - start, index.budget + self.COST + 1e-9)
            self.assertLess(ticks, 100)
        self.assertGreater(ticks, 2)
        self.assertEqual(set(index.by_uri), self.expected_uris())
        self.assertFalse(index.building)

    def test_paths_dedup_and_missing_roots(self):
        self.tick(60)
        index = self.service.index
        self.assertEqual(index.by_uri['query:Test#Operator Preset 00'][3], 'Instruments/Operator')
        self.assertEqual(index.by_uri['query:Test#Simpler'][3], 'Instruments')
        self.assertEqual(index.by_uri['vst3:frost'][3], 'Plug-Ins/VST3/Halvorsen Audio')
        self.assertEqual(index.by_uri['query:Test#Effect 3-4'][3], 'Audio Effects/Group 3')
        self.assertEqual(index.by_uri['query:Test#Rain'][3], 'Field')
        self.assertEqual(len(index.entries), len(self.expected_uris()))
        self.assertNotIn('query:Test#Group 1', index.by_uri)  # folders are not loadable

    def test_search_before_the_first_walk_waits_for_it(self):
        data = self.assertSuccess(self.search('frostline'))
        self.assertIs(data['complete'], True)
        self.assertEqual([(i['name'], i['uri'], i['path']) for i in data['items']], [
            ('Frostline Synth', 'au:frost', 'Plug-Ins/Audio Units/Halvorsen Audio'),
            ('Frostline Synth', 'vst3:frost', 'Plug-Ins/VST3/Halvorsen Audio'),
        ])

    def test_search_answers_from_a_partial_index_when_the_walk_is_too_slow(self):
        self.service.index.budget = 0.002
        for item in self.browser.audio_effects._children:
            item.cost = 1.0  # each group takes a second of clock
        client = self.connect()
        client.send(request('GET', '/v1/browser/search?query=preset'))
        for _ in range(40):
            self.tick()
            client.pump()
            if client.eof:
                break
        data = self.assertSuccess(Response(client.buf))
        self.assertIs(data['complete'], False)
        self.assertTrue(data['items'])
        self.assertLess(self.clock() - 1000.0, bridge.SEARCH_WAIT + 2)
        self.assertTrue(self.service.index.building)

    def test_stale_index_is_refreshed_behind_the_old_one(self):
        self.tick(60)
        late = Item('Late Arrival')
        self.browser.instruments.add(late)
        self.assertEqual(self.search('late arrival').data['items'], [])
        self.clock.advance(bridge.STALE_AFTER + 1)
        # The first search after the index went stale answers from it at once...
        data = self.assertSuccess(self.search('late arrival'))
        self.assertEqual((data['items'], data['complete']), ([], True))
        self.assertTrue(self.service.index.building)
        self.tick(60)
        # ...and a later one sees the new walk.
        self.assertEqual([i['name'] for i in self.search('late arrival').data['items']], ['Late Arrival'])
        self.assertEqual(self.service.index.generation, 2)

    def test_unavailable_browser(self):
        def missing():
            raise RuntimeError('no application yet')
        install_live(missing)
        self.assertFailure(self.search('operator'), 503, 'browser_unavailable')
        self.assertFailure(self.post('/v1/load', {'uri': 'query:Test#Operator'}), 503, 'browser_unavailable')
        self.assertEqual(len([m for m in self.c_instance.messages if 'browser unavailable' in m]), 1)


class OrderingTests(BridgeCase):
    def make_browser(self):
        names = ['Hybrid Reverb', 'Reverb Garden', 'reverb', 'Reverb', 'Convolution Reverb', 'Verb', 'Pad Reverberant']
        pads = [Item('Pad %03d' % i) for i in range(150, 0, -1)]
        return Browser(audio_effects=folder('Audio Effects', *[Item(n, uri='u:' + n) for n in names]),
                       sounds=folder('Sounds', *pads))

    def test_exact_then_prefix_then_contains(self):
        for query in ('reverb', 'REVERB', ' Reverb '):
            with self.subTest(query=query):
                items = self.assertSuccess(self.search(query))['items']
                self.assertEqual([i['uri'] for i in items], [
                    'u:Reverb', 'u:reverb',                      # exact, either case
                    'u:Reverb Garden',                           # prefix
                    'u:Convolution Reverb', 'u:Hybrid Reverb', 'u:Pad Reverberant',  # contains
                ])

    def test_results_are_capped(self):
        data = self.assertSuccess(self.search('pad'))
        self.assertEqual(len(data['items']), bridge.RESULT_LIMIT)
        self.assertIs(data['truncated'], True)
        self.assertEqual(data['items'][0]['name'], 'Pad 001')
        self.assertEqual(data['items'][-1]['name'], 'Pad %03d' % bridge.RESULT_LIMIT)
        data = self.assertSuccess(self.search('pad 14'))
        self.assertEqual([i['name'] for i in data['items']], ['Pad %d' % i for i in range(140, 150)])
        self.assertIs(data['truncated'], False)

    def test_long_names_are_cut_and_long_uris_left_out(self):
        # Lengths count UTF-16 units, as the client does: an emoji counts two.
        self.browser.sounds.add(Item('N' * 600, uri='u:long-name'))
        self.browser.sounds.add(Item('Moon ' + '\U0001F319' * 300, uri='u:moons'))
        self.browser.sounds.add(Item('Huge', uri='u:' + 'x' * (bridge.MAX_URI - 2)))
        self.browser.sounds.add(Item('Huger', uri='u:' + '\U0001F319' * (bridge.MAX_URI // 2)))
        self.tick()
        items = self.assertSuccess(self.search('n' * 10))['items']
        self.assertEqual([len(i['name']) for i in items], [bridge.MAX_NAME])
        items = self.assertSuccess(self.search('moon'))['items']
        self.assertEqual([i['name'] for i in items], ['Moon ' + '\U0001F319' * ((bridge.MAX_NAME - 5) // 2)])
        self.assertEqual([i['name'] for i in self.assertSuccess(self.search('huge'))['items']], ['Huge'])


class LoadTests(BridgeCase):
    def test_loads_an_indexed_item(self):
        data = self.assertSuccess(self.post('/v1/load', {'uri': 'query:Test#Operator'}))
        self.assertEqual(data, {'loaded': True, 'name': 'Operator', 'uri': 'query:Test#Operator', 'path': 'Instruments'})
        self.assertEqual([i.name for i in self.browser.loaded], ['Operator'])

    def test_item_added_since_the_walk_is_found_by_walking_again(self):
        self.tick()
        self.browser.instruments.add(Item('Meld'))
        data = self.assertSuccess(self.post('/v1/load', {'uri': 'query:Test#Meld'}))
        self.assertIs(data['loaded'], True)
        self.assertEqual(self.service.index.generation, 2)

    def test_unknown_uri_is_not_loaded(self):
        self.tick()
        response = self.post('/v1/load', {'uri': 'query:Test#Gone'})
        self.assertFailure(response, 404, 'item_not_found')
        self.assertEqual(response.data, {'loaded': False})
        self.assertIn('Search', response.error['message'])
        self.assertEqual(self.browser.load_calls, [])
        self.assertEqual(self.service.index.generation, 2)  # it looked again before saying so

    def test_refused_load_is_reported(self):
        self.browser.refuse = True
        response = self.post('/v1/load', {'uri': 'query:Test#Operator'})
        self.assertFailure(response, 500, 'load_failed')
        self.assertEqual(response.data, {'loaded': False})
        self.assertEqual(len(self.browser.load_calls), 1)

    def test_item_no_longer_loadable(self):
        self.tick()
        self.browser.instruments._children[0].is_loadable = False
        response = self.post('/v1/load', {'uri': 'query:Test#Operator'})
        self.assertFailure(response, 409, 'not_loadable')
        self.assertEqual(self.browser.load_calls, [])

    def test_load_gives_up_when_the_walk_outlasts_its_wait(self):
        self.tick()
        slow = self.browser.audio_effects._children[0]
        slow.clock, slow.cost = self.clock, bridge.LOAD_WAIT + 1
        response = self.post('/v1/load', {'uri': 'query:Test#Gone'})
        self.assertFailure(response, 503, 'browser_scanning')
        self.assertEqual(response.data, {'loaded': False})
        self.assertTrue(self.service.index.building)


if __name__ == '__main__':
    unittest.main()
