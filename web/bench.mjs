// Figures of the web page (a benchmark: nothing is asserted), in Debian's
// Chromium against build/web/ served on localhost:
//  - what the first visit transfers: the page's own requests, and every file
//    the service worker keeps;
//  - navigation to a working page (the sq71-ready mark);
//  - opening and showing a log of 1,024 entries (sq71-open: the first rows
//    painted; sq71-open-all: every row in), and making its report
//    (sq71-report);
//  - a full read of the demo meter (sq71-read) beside `sq71 read --sim` on
//    the same model (the sample log at wire timing, 16 ms latency timer that
//    the read sets to 2 ms).
//   node web/bench.mjs [RUNS]
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, writeFileSync, readdirSync, statSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import { launch } from '../tests/browser/harness.mjs';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const runs = Number(process.argv[2] ?? 5);
const temp = mkdtempSync(join(tmpdir(), 'sq71-web-bench-'));
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const ms = (x) => `${x.toFixed(1)} ms`;

// A log of 1,024 entries: the sample's entries over and over, each its own ID.
const sample = execFileSync('cat', [join(root, 'data/sample.ulg')]);
const big = Buffer.alloc(65536);
for (let i = 0; i < 1024; i++) {
  sample.copy(big, i * 64, (i % 36) * 64, (i % 36) * 64 + 64);
  big.writeUInt16LE(i, 1);
  big.writeUInt16LE(7, 3);
}
const bigLog = join(temp, 'log-1024.ulg');
writeFileSync(bigLog, big);

const server = spawn('python3', ['-u', '-m', 'http.server', '0', '--bind', '127.0.0.1',
  '--directory', join(root, 'build/web')], { stdio: ['ignore', 'pipe', 'ignore'] });
const url = await new Promise((ready) => server.stdout.on('data', (chunk) => {
  const port = /port (\d+)/.exec(String(chunk));
  if (port) ready(`http://127.0.0.1:${port[1]}/`);
}));

const browser = await launch();
const measure = (page, name) => page.evaluate((n) => performance.getEntriesByName(n).at(-1).duration, name);
const figures = { ready: [], firstOpen: [], open: [], openAll: [], report: [], read: [] };
let pageBytes = 0;
for (let run = 0; run < runs; run++) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  const page = await context.newPage();
  let bytes = 0;
  page.on('requestfinished', async (request) => {
    const sizes = await request.sizes();
    bytes += sizes.responseBodySize + sizes.responseHeadersSize;
  });
  await page.goto(url);
  await page.waitForSelector('body[data-ready="true"]');
  figures.ready.push(await page.evaluate(() => performance.getEntriesByName('sq71-ready')[0].startTime));
  if (run === 0) pageBytes = bytes;

  await page.click('#demo');
  await page.click('#read');
  await page.waitForFunction(() => performance.getEntriesByName('sq71-read').length > 0, null, { timeout: 60000 });
  figures.read.push(await measure(page, 'sq71-read'));

  // Opened three times: the first open in a page also compiles what it runs.
  for (let open = 0; open < 3; open++) {
    const [chooser] = await Promise.all([page.waitForEvent('filechooser'), page.click('#open')]);
    await chooser.setFiles(bigLog);
    await page.waitForFunction((n) => performance.getEntriesByName('sq71-open-all').length > n, open);
    (open === 0 ? figures.firstOpen : figures.open).push(await measure(page, 'sq71-open'));
    figures.openAll.push(await measure(page, 'sq71-open-all'));
  }
  const [tab] = await Promise.all([context.waitForEvent('page'), page.click('#report')]);
  await page.waitForFunction(() => performance.getEntriesByName('sq71-report').length > 0);
  figures.report.push(await measure(page, 'sq71-report'));
  await tab.close();
  await context.close();
}
await browser.close();
server.kill();

// sq71 read on the same simulated meter.
const scenario = join(temp, 'demo.txt');
writeFileSync(scenario, 'timing = wire\nlatency_ms = 16\n\n[device]\nname = SQ-71 Meter\nlog = sample\n');
const cli = [];
for (let run = 0; run < runs; run++) {
  const started = process.hrtime.bigint();
  execFileSync(join(root, 'build/native/cli/sq71'), ['read', '--sim', scenario, '-q', '-o', join(temp, 'read.ulg')]);
  cli.push(Number(process.hrtime.bigint() - started) / 1e6);
}

const files = (dir) => readdirSync(dir).flatMap((name) => {
  const path = join(dir, name);
  return statSync(path).isDirectory() ? files(path) : [[name, statSync(path).size]];
});
const all = files(join(root, 'build/web'));
const size = (name) => all.find(([n]) => n === name)?.[1] ?? 0;
console.log(`first visit: the page's requests ${pageBytes} bytes; every file the service worker keeps ${all.reduce((s, [, n]) => s + n, 0)} bytes`);
console.log(`module: sq71.wasm ${size('sq71.wasm')} bytes, sq71.js ${size('sq71.js')} bytes; page script main.js ${size('main.js')} bytes, sw.js ${size('sw.js')} bytes`);
console.log(`navigation to a working page (median of ${runs}): ${ms(median(figures.ready))}`);
console.log(`open and show a 1,024-entry log: ${ms(median(figures.open))} to the first rows painted (goal < 100 ms; the first open in a fresh page ${ms(median(figures.firstOpen))}), ${ms(median(figures.openAll))} to all 1,024 rows in`);
console.log(`its report: ${ms(median(figures.report))} (goal < 300 ms)`);
console.log(`demo meter full read (sample log, 37 records): page ${ms(median(figures.read))}, sq71 read --sim ${ms(median(cli))} (whole process)`);
