// The page: opens a log and shows its entries, saves, exports and reports it,
// and reads, erases and lists a meter (the demo meter, or a real one over Web
// Serial or WebUSB), all through the core compiled to WebAssembly. Calls into the module run one at a time (a Read's calls
// suspend while the simulated chip waits): every call goes through serial().
import createSq71, { Sq71Module } from './sq71.js';
import { Meters, SerialLike, SerialPortLike, UsbDeviceLike, UsbLike, isFtdiPort, kFt232rProduct, kFtdiVendor } from './meters.js';

const kLogSize = 65536;
const kMsgNoLogData = 26;
const kMsgInvalidBinaryFile = 4;
const kMsgConfirmErase = 23;
const kMsgNoDevices = 13;
const kDemoName = 'Demo meter';
// The module's numbers for the meters it reads.
const kDemo = 0;
const kWebUsb = 1;
const kWebSerial = 2;

const $ = <T extends HTMLElement>(id: string) => document.getElementById(id) as T;
const ui = {
  open: $<HTMLButtonElement>('open'), file: $<HTMLInputElement>('file'),
  save: $<HTMLButtonElement>('save'), csv: $<HTMLButtonElement>('csv'),
  report: $<HTMLButtonElement>('report'), json: $<HTMLButtonElement>('json'),
  demo: $<HTMLButtonElement>('demo'), read: $<HTMLButtonElement>('read'),
  cancel: $<HTMLButtonElement>('cancel'), erase: $<HTMLButtonElement>('erase'),
  meters: $<HTMLButtonElement>('meters'), connect: $<HTMLButtonElement>('connect'),
  via: $<HTMLSelectElement>('via'), trace: $<HTMLButtonElement>('trace'),
  saveTrace: $<HTMLButtonElement>('save-trace'), progress: $<HTMLProgressElement>('progress'),
  meterName: $('meter-name'), meterList: $<HTMLUListElement>('meter-list'),
  status: $('status'), logName: $('log-name'), table: $('entries'),
  body: $('entries').querySelector<HTMLElement>('.body')!,
  ask: $<HTMLDialogElement>('ask'), askText: $('ask-text'), askDetail: $('ask-detail'),
  askYes: $<HTMLButtonElement>('ask-yes'), askNo: $<HTMLButtonElement>('ask-no'),
  title: $<HTMLInputElement>('title'), good: $<HTMLInputElement>('good'),
  marginal: $<HTMLInputElement>('marginal'), version: $('version'),
};

// ---- the module, one call at a time ----

let module: Sq71Module;
let queue: Promise<unknown> = Promise.resolve();
function serial<T>(job: () => T | Promise<T>): Promise<T> {
  const run = queue.then(job);
  queue = run.catch(() => undefined);
  return run;
}
// A call that may suspend; `then` runs on its result before the next call.
function callAsync<T = number>(name: string, then?: (result: number) => T): Promise<T> {
  return serial(async () => {
    const result = await Promise.resolve(module.ccall(name, 'number', [], [], { async: true }));
    return then ? then(result) : (result as T);
  });
}
// The bytes of a text the module hands out (valid until its next call).
function bytesAt(pointer: number): Uint8Array<ArrayBuffer> {
  return module.HEAPU8.slice(pointer, pointer + module._sq71_size());
}
// Names are the meter's bytes, shown as the Windows program shows them.
const ansi = new TextDecoder('windows-1252');
const messageText = (n: number) => module.UTF8ToString(module._sq71_message_text(n));

// ---- what the page shows ----

function say(text: string, error = false) {
  ui.status.textContent = text;
  ui.status.classList.toggle('error', error);
}

let logName = '';
// The day the log was written (YYYY-MM-DD, local): the installation's date.
let logDate = '';
const day = (d: Date) => `${d.getFullYear()}-${String(d.getMonth() + 1).padStart(2, '0')}-${String(d.getDate()).padStart(2, '0')}`;
let entryCount = 0;
// Counts the logs opened, so a Read that a newly opened log stopped leaves it be.
let opened = 0;

// The table's rows, every cell text only, in blocks of rows.
const kBlockRows = 32;

// One row of 22 empty cells, cloned for every row (cheaper than making each).
const rowTemplate = (() => {
  const line = document.createElement('div');
  line.className = 'row';
  line.setAttribute('role', 'row');
  for (let i = 0; i < 22; i++) {
    const cell = document.createElement('span');
    cell.setAttribute('role', 'cell');
    line.append(cell);
  }
  return line;
})();

function rowElement(row: string) {
  const line = rowTemplate.cloneNode(true) as HTMLElement;
  const texts = row.split('\x1f');
  let cell = line.firstElementChild;
  for (let i = 0; cell !== null; i++, cell = cell.nextElementSibling) cell.textContent = texts[i];
  return line;
}

// The first blocks are made at once, the rest a few per task after the page
// has been painted, so a long log shows at once; the table is aria-busy until
// every row is in, and a newer log stops the older one's rows.
const kFirstBlocks = 2;
const kBlocksPerTask = 8;
let showing = 0;

function showEntries() {
  entryCount = module._sq71_entry_count();
  const rows = new TextDecoder().decode(bytesAt(module._sq71_rows())).split('\x1e').slice(0, -1);
  // A new body in place of the old one: taking out a thousand rows one by
  // one would cost more than making the new ones.
  const body = document.createElement('div');
  body.className = 'body';
  body.setAttribute('role', 'rowgroup');
  const block = (first: number) => {
    const element = document.createElement('div');
    element.className = 'block';
    const part = rows.slice(first, first + kBlockRows);
    element.style.setProperty('--rows', String(part.length));
    element.append(...part.map(rowElement));
    return element;
  };
  const more = (first: number, blocks: number) => {
    const end = Math.min(rows.length, first + blocks * kBlockRows);
    for (let at = first; at < end; at += kBlockRows) body.append(block(at));
    return end;
  };
  const shown = more(0, kFirstBlocks);
  ui.body.replaceWith(body);
  ui.body = body;
  ui.logName.textContent = logName;
  for (const button of [ui.save, ui.csv, ui.report, ui.json]) button.disabled = false;
  if (entryCount === 0) say(messageText(kMsgNoLogData), true);

  const generation = ++showing;
  const rest = (first: number) => {
    if (generation !== showing) return;
    if (first >= rows.length) {
      ui.table.setAttribute('aria-busy', 'false');
      performance.mark('sq71-rows-in');
      return;
    }
    setTimeout(() => rest(more(first, kBlocksPerTask)));
  };
  rest(shown);
}

// Resolves once the browser has painted what the page changed.
function painted() {
  return new Promise<void>((done) => requestAnimationFrame(() => setTimeout(done)));
}

// ---- files ----

function baseName(name: string) {
  return name.replace(/\.[^./\\]*$/, '') || 'log';
}

// Open (to the first rows painted, and to every row in), Report (to its
// bytes) and Read leave User Timing measures (sq71-open, sq71-open-all,
// sq71-report, sq71-read) for the benchmark; sq71-ready marks a working page.
async function openFile(file: File) {
  const started = performance.now();
  // Busy from the moment a file is given until its rows are in.
  ui.table.setAttribute('aria-busy', 'true');
  const refuse = (text: string) => {
    say(text, true);
    ui.table.setAttribute('aria-busy', 'false');
  };
  let bytes: Uint8Array | null = null;
  if (file.size === kLogSize) {
    try {
      bytes = new Uint8Array(await file.arrayBuffer());
    } catch {
      refuse(messageText(kMsgInvalidBinaryFile));
      return;
    }
  }
  const outcome = await serial(() => {
    if (bytes !== null) module.HEAPU8.set(bytes.subarray(0, kLogSize), module._sq71_scratch());
    return module._sq71_load(bytes !== null ? bytes.length : file.size);
  });
  if (outcome >= 0) {
    refuse(`${messageText(outcome)}: ${file.name}`);
    return;
  }
  logName = file.name;
  logDate = day(new Date(file.lastModified));
  opened++;
  say('');
  await serial(showEntries);
  await painted();
  performance.measure('sq71-open', { start: started });
  if (ui.table.getAttribute('aria-busy') === 'true') {
    await new Promise((done) => new MutationObserver((_, observer) => {
      observer.disconnect();
      done(undefined);
    }).observe(ui.table, { attributes: true, attributeFilter: ['aria-busy'] }));
  }
  performance.measure('sq71-open-all', { start: started });
}

function download(bytes: Uint8Array<ArrayBuffer>, name: string, type: string) {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

interface SaveFilePicker {
  showSaveFilePicker(options: object): Promise<FileSystemFileHandle>;
}

async function saveLog() {
  const bytes = await serial(() => module.HEAPU8.slice(module._sq71_image(), module._sq71_image() + kLogSize));
  const name = `${baseName(logName)}.ulg`;
  const picker = window as unknown as Partial<SaveFilePicker>;
  if (picker.showSaveFilePicker) {
    try {
      const handle = await picker.showSaveFilePicker({
        suggestedName: name, types: [{ description: 'Meter log', accept: { 'application/octet-stream': ['.ulg'] } }],
      });
      const stream = await handle.createWritable();
      await stream.write(bytes);
      await stream.close();
      say(`Saved ${handle.name}`);
    } catch (error) {
      if ((error as DOMException).name !== 'AbortError') say(`${messageText(20)}: ${String(error)}`, true);
    }
    return;
  }
  download(bytes, name, 'application/octet-stream');
}

// Export, Report and JSON need entries, as the program's Export does.
function haveEntries() {
  if (entryCount > 0) return true;
  say(messageText(kMsgNoLogData), true);
  return false;
}

async function exportCsv() {
  if (!haveEntries()) return;
  download(await serial(() => bytesAt(module._sq71_csv())), `${baseName(logName)}.csv`, 'text/csv');
}

async function exportJson() {
  if (!haveEntries()) return;
  download(await serial(() => bytesAt(module._sq71_json())), `${baseName(logName)}.json`, 'application/json');
}

async function openReport() {
  if (!haveEntries()) return;
  const view = window.open('', '_blank');
  const s = settings();
  const started = performance.now();
  const bytes = await serial(() => bytesAt(Number(module.ccall('sq71_report', 'number',
    ['string', 'number', 'number', 'string', 'string'], [s.title, s.good, s.marginal, logName, logDate]))));
  const url = URL.createObjectURL(new Blob([bytes], { type: 'text/html;charset=utf-8' }));
  performance.measure('sq71-report', { start: started });
  if (view) view.location.href = url; else download(bytes, `${baseName(logName)}.html`, 'text/html');
}

// ---- settings, kept in the browser ----

interface Settings { title: string; good: number; marginal: number }
const kDefaults: Settings = { title: 'Installation report', good: 3, marginal: 1 };
const kSettingsKey = 'sq71.settings';

function storedSettings(): Settings {
  try {
    const stored = JSON.parse(localStorage.getItem(kSettingsKey) ?? '{}') as Partial<Settings>;
    const merged = { ...kDefaults, ...stored };
    return valid(merged) ? merged : kDefaults;
  } catch {
    return kDefaults;
  }
}

function valid(s: Settings) {
  const db = (x: number) => typeof x === 'number' && Number.isFinite(x) && Math.abs(x) <= 1000;
  return typeof s.title === 'string' && db(s.good) && db(s.marginal) && s.marginal <= s.good;
}

function settings(): Settings {
  return { title: ui.title.value, good: ui.good.valueAsNumber, marginal: ui.marginal.valueAsNumber };
}

function saveSettings() {
  const s = settings();
  if (!valid(s)) {
    say('The margins are numbers of dB, the marginal one not above the good one; not kept', true);
    return;
  }
  localStorage.setItem(kSettingsKey, JSON.stringify(s));
  say('Settings kept');
}

// ---- the demo meter ----

let reading = false;
let cancelRequested = false;

function ask(text: string, detail: string, yes: string, no: string): Promise<boolean> {
  ui.askText.textContent = text;
  ui.askDetail.textContent = detail;
  ui.askYes.textContent = yes;
  ui.askNo.textContent = no;
  ui.ask.returnValue = '';
  ui.ask.showModal();
  return new Promise((resolve) => {
    ui.ask.addEventListener('close', () => resolve(ui.ask.returnValue === 'yes'), { once: true });
  });
}

function setReading(on: boolean) {
  reading = on;
  ui.cancel.hidden = !on;
  ui.read.disabled = on;
  ui.progress.hidden = false;
}

async function read() {
  cancelRequested = false;
  say('');
  setReading(true);
  ui.progress.value = 0;
  const started = performance.now();
  const log = opened;
  let kept = true;
  let going = (await callAsync('sq71_read_start')) === 1;
  if (!going) {
    // Not started (said): the log stays as it was.
    explainBusy();
    setReading(false);
    return;
  }
  while (going) {
    if (cancelRequested) {
      const came = await serial(() => module._sq71_next_record());
      const keep = await ask(`Stop the read at record ${came}?`,
        'Keep the records that came as the log, or go back to the log held before the read.',
        'Keep', 'Discard');
      await serial(() => module._sq71_read_stop(keep ? 1 : 0));
      kept = keep;
      say(keep ? `Read stopped at record ${came}; the records that came are kept` : 'Read stopped; the log is as it was');
      break;
    }
    const [tick, progress] = await callAsync('sq71_read_tick', (going) => [going, module._sq71_progress()]);
    going = tick === 1;
    ui.progress.value = progress;
  }
  performance.measure('sq71-read', { start: started });
  setReading(false);
  if (log !== opened) return;
  if (kept) {
    logName = `sq71-${stamp()}.ulg`;
    logDate = day(new Date());
  }
  await serial(showEntries);
}

function stamp() {
  const d = new Date();
  const two = (n: number) => String(n).padStart(2, '0');
  return `${d.getFullYear()}${two(d.getMonth() + 1)}${two(d.getDate())}-${two(d.getHours())}${two(d.getMinutes())}${two(d.getSeconds())}`;
}

async function erase() {
  const yes = await ask(`Erase the log kept in the ${kind === kDemo ? kDemoName : 'meter'}?`, messageText(kMsgConfirmErase), 'Erase', 'Keep log');
  if (!yes) return;
  await callAsync('sq71_erase');
}

async function listMeters() {
  const text = ansi.decode(await callAsync('sq71_meters', bytesAt));
  const items = text.split('\n').filter((line) => line !== '').map((line) => {
    const li = document.createElement('li');
    const [index, name, where] = line.split('\t');
    li.textContent = `${index}: ${name}${where ? ` (${where})` : ''}`;
    return li;
  });
  ui.meterList.replaceChildren(...items);
  ui.meterList.hidden = false;
  say(items.length === 0 ? messageText(kMsgNoDevices) : `${items.length} ${items.length === 1 ? 'meter' : 'meters'} found`,
    items.length === 0);
}

let kind = kDemo;

async function choose(which: number, name: string) {
  if (reading) return;
  kind = which;
  await serial(() => module._sq71_choose(which));
  ui.demo.setAttribute('aria-pressed', String(which === kDemo));
  ui.meterName.textContent = name;
  for (const button of [ui.read, ui.erase, ui.meters, ui.trace]) button.disabled = false;
}

const chooseDemo = () => choose(kDemo, `${kDemoName}: the simulated meter, at the pace of a real one`);

// ---- real meters: Web Serial or the FT232R over WebUSB ----

const meters = new Meters();
const usbApi = (navigator as unknown as { usb?: UsbLike }).usb;
const serialApi = (navigator as unknown as { serial?: SerialLike }).serial;
const kChipFilter = { vendorId: kFtdiVendor, productId: kFt232rProduct };
const kPortFilter = { usbVendorId: kFtdiVendor, usbProductId: kFt232rProduct };

async function attachUsb(devices: UsbDeviceLike[]) {
  for (const device of devices) {
    const [id, fresh] = meters.usbId(device);
    if (fresh) await serial(() => module.ccall('sq71_usb_attach', null, ['number', 'string'], [id, device.serialNumber ?? '']));
  }
}

async function attachPorts(ports: SerialPortLike[]) {
  for (const port of ports) {
    const [id, fresh] = meters.serialId(port);
    if (!fresh) continue;
    port.addEventListener('disconnect', () => meters.serialDisconnected(port));
    await serial(() => module.ccall('sq71_serial_attach', null, ['number', 'string'], [id, `serial port ${id + 1}`]));
  }
}

// The way to the meter: Web Serial when the browser lists a granted port of
// FTDI's, else the FT232R over WebUSB; the user's choice over both. Never by
// the browser's name or by whether navigator.serial exists: Chrome on
// Android has it, but lists no FTDI port.
async function connect() {
  const ports = serialApi ? (await serialApi.getPorts()).filter(isFtdiPort) : [];
  const devices = usbApi ? (await usbApi.getDevices()).filter((d) => d.vendorId === kFtdiVendor) : [];
  const way = ui.via.value === 'auto'
    ? (ports.length > 0 || (devices.length === 0 && !usbApi) ? 'webserial' : 'webusb') : ui.via.value;
  try {
    if (way === 'webserial') {
      if (!serialApi) throw new Error('This browser has no Web Serial: choose WebUSB');
      if (ports.length === 0) ports.push(await serialApi.requestPort({ filters: [kPortFilter] }));
      await attachPorts(ports);
      await choose(kWebSerial, 'Meter on a serial port (Web Serial): warning: the chip\'s identity was not fully checked (the webserial backend cannot read its pin and CBUS settings)');
    } else {
      if (!usbApi) throw new Error('This browser has no WebUSB: choose Web Serial');
      if (devices.length === 0) devices.push(await usbApi.requestDevice({ filters: [kChipFilter] }));
      await attachUsb(devices);
      await choose(kWebUsb, `Meter's FT232R over WebUSB${devices[0].serialNumber ? ` (${devices[0].serialNumber})` : ''}`);
    }
  } catch (error) {
    if (nameOf(error) === 'NotFoundError') say('No meter chosen', true);
    else say(error instanceof Error ? error.message : String(error), true);
  }
}
const nameOf = (error: unknown) => (error as { name?: string })?.name ?? '';

// After a failed open over WebUSB because a system driver holds the chip
// (said by the message), Web Serial is the way offered next.
function explainBusy() {
  if (kind === kWebUsb && /another driver holds the chip/.test(ui.status.textContent ?? '')) ui.via.value = 'webserial';
}

// ---- the trace ----

async function startTrace() {
  await serial(() => module._sq71_trace_start());
  ui.saveTrace.hidden = false;
  say('Recording a trace of every call to the meter');
}

async function saveTrace() {
  const text = await serial(() => bytesAt(module._sq71_trace_text()));
  download(text, `sq71-trace-${stamp()}.txt`, 'text/plain');
}

// Runs a command; a fault of the page itself is said rather than lost.
function command(run: () => Promise<void> | void) {
  return () => {
    Promise.resolve().then(run).catch((error) => say(String(error), true));
  };
}

// ---- start ----

async function start() {
  const s = storedSettings();
  ui.title.value = s.title;
  ui.good.value = String(s.good);
  ui.marginal.value = String(s.marginal);
  module = await createSq71({
    onMessage: (_number, text, error) => say(text, error),
    meters,
  });
  ui.version.textContent = `version ${module.UTF8ToString(module._sq71_version())}`;

  ui.open.addEventListener('click', () => ui.file.click());
  ui.file.addEventListener('change', command(async () => {
    const file = ui.file.files?.[0];
    ui.file.value = '';
    if (file) await openFile(file);
  }));
  ui.save.addEventListener('click', command(saveLog));
  ui.csv.addEventListener('click', command(exportCsv));
  ui.report.addEventListener('click', command(openReport));
  ui.json.addEventListener('click', command(exportJson));
  ui.demo.addEventListener('click', command(chooseDemo));
  ui.read.addEventListener('click', command(read));
  ui.cancel.addEventListener('click', () => { cancelRequested = true; });
  ui.erase.addEventListener('click', command(erase));
  ui.meters.addEventListener('click', command(listMeters));
  ui.connect.addEventListener('click', command(connect));
  ui.trace.addEventListener('click', command(startTrace));
  ui.saveTrace.addEventListener('click', command(saveTrace));
  // A device unplugged ends its own session only; a meter plugged in again
  // is taken without asking, permission being the browser's to remember.
  usbApi?.addEventListener('disconnect', (event) => meters.usbDisconnected((event as unknown as { device: unknown }).device));
  usbApi?.addEventListener('connect', (event) => {
    const device = (event as unknown as { device: UsbDeviceLike }).device;
    if (kind === kWebUsb && device.vendorId === kFtdiVendor) command(() => attachUsb([device]))();
  });
  serialApi?.addEventListener('disconnect', (event) => meters.serialDisconnected(event.target));
  serialApi?.addEventListener('connect', (event) => {
    const port = event.target as SerialPortLike;
    if (kind === kWebSerial && isFtdiPort(port)) command(() => attachPorts([port]))();
  });
  $('settings-form').addEventListener('change', saveSettings);
  $('settings-form').addEventListener('submit', (event) => event.preventDefault());

  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    document.body.classList.add('dragging');
  });
  document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    document.body.classList.remove('dragging');
    const file = event.dataTransfer?.files[0];
    if (file) command(() => openFile(file))();
  });

  // Installed as an app: a .ulg opened from the system comes here.
  const launch = (window as unknown as { launchQueue?: { setConsumer(f: (p: { files: FileSystemFileHandle[] }) => void): void } }).launchQueue;
  launch?.setConsumer(async (params) => {
    if (params.files.length > 0) await openFile(await params.files[0].getFile());
  });

  if ('serviceWorker' in navigator) {
    navigator.serviceWorker.register('sw.js', { type: 'module' }).catch(() => undefined);
  }
  document.body.dataset.ready = 'true';
  performance.mark('sq71-ready');
}

window.addEventListener('beforeunload', (event) => {
  if (reading) event.preventDefault();
});

start().catch((error) => say(`The page could not start: ${String(error)}`, true));

