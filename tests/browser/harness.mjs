// The browser of the HTML tests: Debian's Chromium, headless, driven by
// playwright-core (which never downloads a browser of its own).
import { chromium } from 'playwright-core';

export function launch() {
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--no-first-run'],
  });
}
