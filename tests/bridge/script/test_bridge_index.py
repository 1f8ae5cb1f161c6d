"""The browser index, search ordering and loading, through the HTTP service."""

import unittest

from VintrelleBridge import bridge
from livefake import BridgeCase, Browser, Item, folder, install_live, request


class Broken(object):
    """A root whose every access fails, as a half-initialised Live object might."""

    children = name = property(lambda self: 1 / 0)


class IndexTests(BridgeCase):
    COST = 0.001  # clock seconds per folder Live lists

    def make_browser(self):
        k = dict(clock=self.clock, cost=self.COST)

        def presets(device, n):
            return Item(device, device=True, children=[Item('%s Preset %02d' % (device, i), **k) for i in range(n)], **k)
        vendor = lambda uri: folder('Halvorsen Audio', Item('Frostline Synth', uri=uri, **k), **k)
        return Browser(
            instruments=folder('Instruments', presets('Operator', 30), presets('Wavetable', 30), Item('Simpler', **k), **k),
            audio_effects=folder('Audio Effects', *[folder('Group %d' % g, *[Item('Effect %d-%d' % (g, i), **k) for i in range(10)], **k)
                                                    for g in range(8)], **k),
            plugins=folder('Plug-Ins', folder('VST3', vendor('vst3:frost'), **k), folder('Audio Units', vendor('au:frost'), **k), **k),
            # The same item reached again from the user library keeps its first path.
            user_library=folder('User Library', Item('Simpler', **k), **k),
            user_folders=[folder('Sound Design', Item('Riser', **k), **k), folder('Field', Item('Rain', **k), **k)],
            max_for_live=Broken())

    def setUp(self):
        BridgeCase.setUp(self)
        self.service.index.budget = 0.005

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
        self.assertEqual(len(index.entries), 7 + 60 + 80)
        paths = dict((uri, entry[3]) for uri, entry in index.by_uri.items())
        self.assertEqual([paths[u] for u in ('query:Test#Operator Preset 00', 'query:Test#Simpler', 'vst3:frost',
                                             'query:Test#Effect 3-4', 'query:Test#Rain')],
                         ['Instruments/Operator', 'Instruments', 'Plug-Ins/VST3/Halvorsen Audio', 'Audio Effects/Group 3', 'Field'])
        self.assertNotIn('query:Test#Group 1', paths)  # folders are not loadable

    def test_search_before_the_first_walk_waits_for_it(self):
        data = self.assertSuccess(self.search('frostline'))
        self.assertEqual([(i['uri'], i['path']) for i in data['items']], [
            ('au:frost', 'Plug-Ins/Audio Units/Halvorsen Audio'), ('vst3:frost', 'Plug-Ins/VST3/Halvorsen Audio')])
        self.assertIs(data['complete'], True)

    def test_search_answers_from_a_partial_index_when_the_walk_is_too_slow(self):
        for item in self.browser.audio_effects._children:
            item.cost = 1.0
        client = self.connect()
        client.send(request('GET', '/v1/browser/search?query=preset'))
        data = self.assertSuccess(self.finish(client))
        self.assertEqual((bool(data['items']), data['complete']), (True, False))
        self.assertLess(self.clock() - 1000.0, bridge.SEARCH_WAIT + 2)

    def test_stale_index_is_refreshed_behind_the_old_one(self):
        self.tick(60)
        self.browser.instruments.add(Item('Late Arrival'))
        self.clock.advance(bridge.STALE_AFTER + 1)
        # The first search after the index went stale answers from it at once...
        data = self.assertSuccess(self.search('late arrival'))
        self.assertEqual((data['items'], data['complete'], self.service.index.building), ([], True, True))
        self.tick(60)
        # ...and a later one sees the new walk.
        self.assertEqual([i['name'] for i in self.assertSuccess(self.search('late arrival'))['items']], ['Late Arrival'])

    def test_unavailable_browser(self):
        install_live(lambda: 1 / 0)
        self.assertFailure(self.search('operator'), 503, 'browser_unavailable')
        self.assertFailure(self.post('/v1/load', {'uri': 'query:Test#Operator'}), 503, 'browser_unavailable')
        self.assertEqual(len([m for m in self.c_instance.messages if 'browser unavailable' in m]), 1)


class SearchAndLoadTests(BridgeCase):
    def make_browser(self):
        names = ['Hybrid Reverb', 'Reverb Garden', 'reverb', 'Reverb', 'Convolution Reverb', 'Verb', 'Pad Reverberant']
        return Browser(audio_effects=folder('Audio Effects', *[Item(n, uri='u:' + n) for n in names]),
                       sounds=folder('Sounds', *[Item('Pad %03d' % i) for i in range(150, 0, -1)]))

    def test_exact_then_prefix_then_contains_alphabetically(self):
        for query in ('reverb', 'REVERB', ' Reverb '):
            with self.subTest(query=query):
                self.assertEqual([i['uri'] for i in self.assertSuccess(self.search(query))['items']], [
                    'u:Reverb', 'u:reverb', 'u:Reverb Garden', 'u:Convolution Reverb', 'u:Hybrid Reverb', 'u:Pad Reverberant'])

    def test_results_are_capped(self):
        data = self.assertSuccess(self.search('pad'))
        self.assertEqual((len(data['items']), data['truncated']), (bridge.RESULT_LIMIT, True))
        self.assertEqual((data['items'][0]['name'], data['items'][-1]['name']), ('Pad 001', 'Pad %03d' % bridge.RESULT_LIMIT))
        self.assertIs(self.assertSuccess(self.search('pad 14'))['truncated'], False)

    def test_long_names_are_cut_and_long_uris_left_out_in_utf16_units(self):
        moon = '\U0001F319'
        for name, uri in (('N' * 600, 'u:n'), ('Moon ' + moon * 300, 'u:moons'), ('Huge', 'u:' + 'x' * (bridge.MAX_URI - 2)),
                          ('Huger', 'u:' + moon * (bridge.MAX_URI // 2))):
            self.browser.sounds.add(Item(name, uri=uri))
        self.assertEqual([len(i['name']) for i in self.assertSuccess(self.search('n' * 10))['items']], [bridge.MAX_NAME])
        self.assertEqual([i['name'] for i in self.assertSuccess(self.search('moon'))['items']], ['Moon ' + moon * 247])
        self.assertEqual([i['name'] for i in self.assertSuccess(self.search('huge'))['items']], ['Huge'])

    def test_load_outcomes(self):
        def vanish(b):
            b.sounds._children[-1].is_loadable = False

        cases = [('indexed', 'u:Verb', None, 200, None, ['Verb']),
                 ('added since the walk', 'u:Meld', lambda b: b.sounds.add(Item('Meld', uri='u:Meld')), 200, None, ['Meld']),
                 ('unknown after walking again', 'u:Gone', None, 404, 'item_not_found', []),
                 ('Live refuses', 'u:Verb', lambda b: setattr(b, 'refuse', True), 500, 'load_failed', []),
                 ('no longer loadable', 'query:Test#Pad 001', vanish, 409, 'not_loadable', [])]
        for name, uri, change, status, code, loaded in cases:
            with self.subTest(name):
                self.setUp()
                self.tick()
                if change:
                    change(self.browser)
                response = self.post('/v1/load', {'uri': uri})
                if code:
                    self.assertFailure(response, status, code)
                self.assertEqual((response.status, response.data['loaded'], self.browser.loaded), (status, not code, loaded))

    def test_load_gives_up_when_the_walk_outlasts_its_wait(self):
        self.tick()
        slow = self.browser.sounds
        slow.clock, slow.cost = self.clock, bridge.LOAD_WAIT + 1
        response = self.post('/v1/load', {'uri': 'u:Gone'})
        self.assertFailure(response, 503, 'browser_scanning')
        self.assertEqual(response.data, {'loaded': False})


if __name__ == '__main__':
    unittest.main()
