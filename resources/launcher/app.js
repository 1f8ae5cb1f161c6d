(function () {
  function show(id, text) {
    document.getElementById(id).textContent = text;
  }

  const stored = window.vintrelleStoredLibrary();
  if (stored === null) {
    show('library-status', 'No previous library is stored in this browser.');
  } else if (stored.error) {
    show('library-status', stored.error);
  } else {
    const categories = stored.state && Array.isArray(stored.state.categories) ? stored.state.categories.length : 0;
    show('library-status', 'A previous library with ' + categories + ' categories is stored here.');
  }

  // Only whether the bridge is configured is shown; its token stays out of the page.
  fetch('/launcher-config', { cache: 'no-store' })
    .then(function (response) {
      if (!response.ok) throw new Error('not configured');
      return response.json();
    })
    .then(function (config) {
      show('bridge-status', 'The Ableton connection is configured at ' + config.bridgeUrl + '.');
    })
    .catch(function () {
      show('bridge-status', 'The Ableton connection is not installed yet. Install it from Vintrelle\u2019s settings.');
    });
})();
