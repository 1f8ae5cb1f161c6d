// Reads the library that the older web-based version kept in this origin's storage, without
// changing it: the application migrates it itself.
window.vintrelleStoredLibrary = function () {
  for (const key of ['vintrelle-launcher-v2', 'vintrelle-launcher-v1']) {
    const text = localStorage.getItem(key);
    if (text === null) continue;
    try {
      return { key, state: JSON.parse(text) };
    } catch (error) {
      return { key, error: 'The stored library could not be read.' };
    }
  }
  return null;
};
