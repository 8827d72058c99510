// Figures of a real meter's read in the page (a benchmark: nothing is
// asserted): a full log of 1,024 records read through the tests' fake
// USBDevice (the FT232R's USB model, latency timer set to 2 ms by the read)
// and through their fake SerialPort (the serial driver's 16 ms latency
// timer), each beside `sq71 read --sim` on a scenario of the same chip and
// log, and the wire floor: 1,024 exchanges of an 8-byte request and a 72-byte
// reply at 115200 baud.
//   node web/bench_meters.mjs [RUNS]
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, writeFileSync, readFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import { launch } from '../tests/browser/harness.mjs';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const runs = Number(process.argv[2] ?? 3);
const temp = mkdtempSync(join(tmpdir(), 'sq71-meter-bench-'));
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const floor = 1024 * (8 + 72) * 10 / 115200;

// 1,024 records: the sample's entries over and over, each its own ID.
const sample = readFileSync(join(root, 'data/sample.ulg'));
const full = Buffer.alloc(65536);
for (let i = 0; i < 1024; i++) {
  sample.copy(full, i * 64, (i % 36) * 64, (i % 36) * 64 + 64);
  full.writeUInt16LE(i, 1);
}
writeFileSync(join(temp, 'full.ulg'), full);
const scenario = (fixed) => `timing = wire\nlatency_ms = 16\nlatency_timer = ${fixed ? 'fixed' : 'settable'}\n` +
  `[device]\nlog = ${join(temp, 'full.ulg')}\n`;

const server = spawn('python3', ['-u', '-m', 'http.server', '0', '--bind', '127.0.0.1',
  '--directory', join(root, 'build/web')], { stdio: ['ignore', 'pipe', 'ignore'] });
const url = await new Promise((ready) => server.stdout.on('data', (chunk) => {
  const port = /port (\d+)/.exec(String(chunk));
  if (port) ready(`http://127.0.0.1:${port[1]}/`);
}));
const browser = await launch();

async function pageRead(way) {
  const context = await browser.newContext({ serviceWorkers: 'block' });
  await context.route('**/fake/*', (route) => route.fulfill({
    path: join(root, 'build/web-module/web', new URL(route.request().url()).pathname.slice(6)) }));
  await context.addInitScript({ path: join(root, 'web/tests/fake_devices.js') });
  const page = await context.newPage();
  await page.goto(url);
  await page.waitForSelector('body[data-ready="true"]');
  await page.evaluate(([way, s, log]) => (way === 'usb' ? sq71Fakes.plugUsb : sq71Fakes.plugSerial)(s, { log }),
    [way, scenario(way === 'serial').replace(/log = .*/, 'log = sample'), [...full]]);
  await page.getByLabel('Connect by').selectOption(way === 'usb' ? 'webusb' : 'webserial');
  await page.getByRole('button', { name: 'Connect meter', exact: true }).click();
  await page.waitForSelector('#read:not([disabled])');
  await page.getByRole('button', { name: 'Read', exact: true }).click();
  await page.waitForSelector('#status:text("Transfer Complete!")', { timeout: 120000 });
  const took = await page.evaluate(() => performance.getEntriesByName('sq71-read').at(-1).duration / 1000);
  await context.close();
  return took;
}

function nativeRead(fixed) {
  const file = join(temp, `scenario-${fixed}.txt`);
  writeFileSync(file, scenario(fixed));
  const started = process.hrtime.bigint();
  execFileSync(join(root, 'build/native/cli/sq71'), ['read', '--sim', file, '-q', '-o', join(temp, 'out.ulg')]);
  return Number(process.hrtime.bigint() - started) / 1e9;
}

const rows = [
  ['page, fake WebUSB FT232R, 2 ms latency', () => pageRead('usb')],
  ['sq71 read --sim, latency set to 2 ms', () => nativeRead(false)],
  ['page, fake serial port, 16 ms latency', () => pageRead('serial')],
  ['sq71 read --sim, latency fixed at 16 ms', () => nativeRead(true)],
];
console.log(`1,024 records; wire floor ${floor.toFixed(2)} s; median of ${runs}; load average ${execFileSync('cat', ['/proc/loadavg']).toString().split(' ')[0]}`);
console.log('| read | seconds | x floor |\n|---|---|---|');
for (const [name, run] of rows) {
  const times = [];
  for (let i = 0; i < runs; i++) times.push(await run());
  const t = median(times);
  console.log(`| ${name} | ${t.toFixed(2)} | ${(t / floor).toFixed(2)} |`);
}
await browser.close();
server.kill();
