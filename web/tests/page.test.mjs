// The web page in Debian's Chromium, against the built page (tools/web.sh)
// and the native sq71 (build/native): the page's table, files and report
// must be the bytes sq71 makes of the same log, and its demo meter must read,
// stop and erase as the simulated meter does.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, writeFileSync, readFileSync, mkdirSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import { launch } from '../../tests/browser/harness.mjs';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const sq71Path = process.env.SQ71 ?? join(root, 'build/native/cli/sq71');
const sample = join(root, 'data/sample.ulg');
const temp = mkdtempSync(join(tmpdir(), 'sq71-web-'));
const sq71 = (...args) => execFileSync(sq71Path, args, { maxBuffer: 1 << 26 });

// The page's own static server, which a test can stop.
function serve() {
  const server = spawn('python3', ['-u', '-m', 'http.server', '0', '--bind', '127.0.0.1',
    '--directory', join(root, 'build/web')], { stdio: ['ignore', 'pipe', 'ignore'] });
  return new Promise((ready) => {
    server.stdout.on('data', (chunk) => {
      const port = /port (\d+)/.exec(String(chunk));
      if (port) ready({ url: `http://127.0.0.1:${port[1]}/`, stop: () => server.kill() });
    });
  });
}

let browser, server;
before(async () => { browser = await launch(); server = await serve(); });
after(async () => { await browser.close(); server.stop(); });

// A fresh page, ready, with downloads in place of the save dialog.
async function openPage({ width = 1280, url = server.url, context } = {}) {
  context ??= await browser.newContext({ acceptDownloads: true, viewport: { width, height: 900 } });
  await context.addInitScript(() => { delete window.showSaveFilePicker; });
  const page = await context.newPage();
  await page.goto(url);
  await page.waitForSelector('body[data-ready="true"]');
  return page;
}
const button = (page, name) => page.getByRole('button', { name, exact: true });

async function openLog(page, file) {
  const [chooser] = await Promise.all([page.waitForEvent('filechooser'), button(page, 'Open log').click()]);
  await chooser.setFiles(file);
}
const tableRows = async (page) => (await page.waitForSelector('#entries:not([aria-busy="true"])'), page).$$eval(
  '#entries .body [role=row]', (rows) => rows.map((row) => [...row.children].map((cell) => cell.textContent).join('\t')));
async function downloaded(page, name) {
  const [file] = await Promise.all([page.waitForEvent('download'), button(page, name).click()]);
  return readFileSync(await file.path());
}
const viewLines = (log) => new TextDecoder('windows-1252').decode(sq71('view', log)).split('\n').slice(0, -1);
const withoutTime = (html) => html.replace(/<span>Made<\/span><b>[^<]*<\/b>/, '');

function logFile(name, image) {
  const path = join(temp, name);
  writeFileSync(path, image);
  return path;
}

test('a log: rows, Save, Export CSV, Report with the stored settings, JSON, and a wrong file', async () => {
  const page = await openPage();
  await openLog(page, sample);
  assert.deepEqual(await tableRows(page), viewLines(sample));
  assert.deepEqual(await downloaded(page, 'Save log'), readFileSync(sample));
  assert.deepEqual(await downloaded(page, 'Export CSV'), sq71('export', sample, '-'));
  assert.deepEqual(await downloaded(page, 'JSON'), sq71('view', '--json', sample));

  // Settings outlive the page; the report takes them.
  await page.getByText('Settings').click();
  await page.getByLabel('Report title').fill('Roof <12> & "dish"');
  await page.getByLabel('Good margin (dB)').fill('4.5');
  await page.getByLabel('Good margin (dB)').blur();
  await page.reload();
  await page.waitForSelector('body[data-ready="true"]');
  await openLog(page, sample);
  const [tab] = await Promise.all([page.context().waitForEvent('page'), button(page, 'Report').click()]);
  await tab.waitForURL(/^blob:/);
  const html = await tab.evaluate(() => fetch(location.href).then((r) => r.text()));
  const expected = sq71('report', sample, '-o', '-', '--title', 'Roof <12> & "dish"', '--good', '4.5').toString();
  assert.equal(withoutTime(html), withoutTime(expected));

  const before = await tableRows(page);
  await openLog(page, logFile('short.ulg', Buffer.alloc(1000)));
  assert.match(await page.locator('#status').textContent(), /^Error - Invalid data file: short\.ulg$/);
  assert.deepEqual(await tableRows(page), before);
  await page.context().close();
});

// A seeded generator, so a failing log can be made again.
function random(seed) {
  let s = seed >>> 0;
  return () => ((s = (Math.imul(s ^ (s >>> 15), 2246822507) + 0x9e3779b9) >>> 0) / 2 ** 32);
}

function randomLog(seed) {
  const next = random(seed);
  const image = Buffer.alloc(65536, 0);
  const count = 1 + Math.floor(next() * 200);
  for (let i = 0; i < count; i++) {
    const r = image.subarray(i * 64, i * 64 + 64);
    for (let b = 0; b < 64; b++) r[b] = Math.floor(next() * 256);
    r[0] = Math.floor(next() * 4);
    r.writeUInt16LE(i, 1);
    r.writeUInt16LE(seed & 0xffff, 3);
    // Printable names: the table shows them as sq71 prints them.
    for (let b = 5; b < 21; b++) r[b] = next() < 0.3 ? 0xa0 + Math.floor(next() * 96) : 0x20 + Math.floor(next() * 95);
    if (next() < 0.2) r[5 + Math.floor(next() * 16)] = 0;
  }
  image.fill(255, count * 64, count * 64 + 64);
  return image;
}

// Names made to become markup, split cells or steer the text.
const kHostile = ['"><svg onload=x>', '<img src=x a=">', '<script>x=1</sc', '\t\x1e\x1fcell\x1b[31m',
  '&lt;&amp;\x00tail', '%s%n{{x}}${x}', '</td></tr><tr>', "'\\x41\r\n\x7f"];

test('random logs and hostile names: rows as sq71 views them, names as text only', async () => {
  const page = await openPage();
  for (const seed of [1, 2, 3, 4, 5]) {
    const log = logFile(`random-${seed}.ulg`, randomLog(seed));
    await openLog(page, log);
    assert.deepEqual(await tableRows(page), viewLines(log), `seed ${seed}`);
  }
  const image = Buffer.from(readFileSync(sample));
  kHostile.forEach((name, i) => {
    image.fill(0, i * 64 + 5, i * 64 + 21);
    Buffer.from(name, 'latin1').copy(image, i * 64 + 5, 0, 16);
  });
  await openLog(page, logFile('hostile.ulg', image));
  const names = (await tableRows(page)).map((row) => row.split('\t')[1]);
  const shown = (name) => {
    const cut = name.split('\x00')[0].slice(0, 16);
    const escaped = [...cut].map((c) => (c < ' ' || c === '\x7f' ? `\\x${c.charCodeAt(0).toString(16).toUpperCase().padStart(2, '0')}` : c));
    return escaped.join('').padStart(16 + escaped.join('').length - cut.length, ' ');
  };
  assert.deepEqual(names.slice(0, kHostile.length),
    kHostile.map((n) => new TextDecoder('windows-1252').decode(Buffer.from(shown(n), 'latin1'))));
  // Blocks, rows and cells only, each cell one text.
  assert.deepEqual(await page.$$eval('#entries .body *', (all) => [...new Set(all.map((e) => e.getAttribute('role') ?? e.className))]),
    ['block', 'row', 'cell']);
  assert.equal(await page.$$eval('#entries .body [role=row]', (rows) => rows.every((row) => row.childElementCount === 22
    && [...row.children].every((cell) => cell.childElementCount === 0))), true);
  await page.context().close();
});

test('demo meter: a full read is the demo log, Cancel keeps what came or gives the old log back, Erase then Read is empty', async () => {
  const page = await openPage();
  await button(page, 'Demo meter').click();
  await button(page, 'Meters').click();
  assert.match(await page.getByRole('list', { name: 'Meters found' }).textContent(), /^0: SQ-71 Meter/);

  await button(page, 'Read').click();
  await page.waitForSelector('#status:text("Transfer Complete!")', { timeout: 60000 });
  assert.equal(await page.getByRole('progressbar').getAttribute('value'), '1024');
  const shots = join(root, 'build/web-test');
  mkdirSync(shots, { recursive: true });
  await page.screenshot({ path: join(shots, 'demo-read.png') });
  const full = await downloaded(page, 'Save log');
  assert.deepEqual(full, readFileSync(sample));

  // Cancelled twice: first the records that came are kept, then the log
  // held before the read comes back.
  for (const keep of [true, false]) {
    const previous = await downloaded(page, 'Save log');
    // Cancel is pressed as soon as the bar passes record 4: the demo log is
    // short, and the read would otherwise be over before a click came.
    await page.evaluate(() => {
      const bar = document.querySelector('progress');
      const observer = new MutationObserver(() => {
        if (bar.value > 4) { observer.disconnect(); document.getElementById('cancel').click(); }
      });
      observer.observe(bar, { attributes: true });
    });
    await button(page, 'Read').click();
    const dialog = page.getByRole('dialog');
    const came = Number(/record (\d+)/.exec(await dialog.textContent())[1]);
    await dialog.getByRole('button', { name: keep ? 'Keep' : 'Discard' }).click();
    await page.waitForSelector('#cancel', { state: 'hidden' });
    const log = await downloaded(page, 'Save log');
    if (keep) {
      assert.ok(came > 0 && came < 1024, `stopped at ${came}`);
      assert.deepEqual(log.subarray(0, came * 64), full.subarray(0, came * 64));
      assert.deepEqual(log.subarray(came * 64, came * 64 + 64), Buffer.alloc(64, 255));
      assert.equal((await tableRows(page)).length, came);
    } else {
      assert.deepEqual(log, previous);
    }
  }

  await button(page, 'Erase').click();
  const confirm = page.getByRole('dialog');
  assert.match(await confirm.textContent(), /Demo meter/);
  await confirm.getByRole('button', { name: 'Erase' }).click();
  await page.waitForSelector('#status:text("Meter log data erased")', { timeout: 20000 });
  await button(page, 'Read').click();
  await page.waitForSelector('#status:text("No logging data present")', { timeout: 20000 });
  assert.deepEqual(await tableRows(page), []);
  assert.deepEqual((await downloaded(page, 'Save log')).subarray(0, 64), Buffer.alloc(64, 255));
  await page.context().close();
});

test('offline after one visit, and no sideways scrolling at 360 px', async () => {
  const own = await serve();
  const page = await openPage({ url: own.url, width: 360 });
  await page.evaluate(() => navigator.serviceWorker.ready);
  await page.waitForFunction(() => navigator.serviceWorker.controller !== null);
  own.stop();
  await page.reload();
  await page.waitForSelector('body[data-ready="true"]');
  // Dropped on the page this time.
  const drop = await page.evaluateHandle((bytes) => {
    const data = new DataTransfer();
    data.items.add(new File([new Uint8Array(bytes)], 'dropped.ulg'));
    return data;
  }, [...readFileSync(sample)]);
  await page.dispatchEvent('body', 'drop', { dataTransfer: drop });
  assert.equal((await tableRows(page)).length, viewLines(sample).length);
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
  await page.context().close();
});
