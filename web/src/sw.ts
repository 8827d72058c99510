// The page's service worker: every file of one build kept in a cache named
// after that build, and served from there first, so after one visit the page
// opens and works with no network. tools/web.sh writes the build's name and
// file list in place of the two markers.
declare const self: ServiceWorkerGlobalScope;
export {};

const BUILD = '@BUILD@';
const FILES: string[] = JSON.parse('@FILES@');

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(BUILD).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil((async () => {
    for (const name of await caches.keys()) if (name !== BUILD) await caches.delete(name);
    await self.clients.claim();
  })());
});

self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith((async () => {
    const cache = await caches.open(BUILD);
    const key = request.mode === 'navigate' ? './' : request;
    return (await cache.match(key, { ignoreSearch: true })) ?? fetch(request);
  })());
});
