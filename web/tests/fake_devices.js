// The browser's USB and serial interfaces as the tests give them to the page
// (installed by page.addInitScript before the page's scripts run): a fake
// USBDevice and a fake SerialPort, each in front of the simulated meter's
// FT232R compiled into a module of its own (fake_ft232r.cpp, served at
// /fake/). The tests plug, grant and unplug devices through window.sq71Fakes.
(() => {
  let chipModule = null;
  const chips = () => (chipModule ??= import('/fake/sq71fake.js').then((m) => m.default()));
  const fail = (name, text) => new DOMException(text, name);

  // Waits until performance.now() reaches `at`, without the browser's 4 ms
  // floor for nested timers (a message task first).
  const until = (at) => new Promise((done) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => {
      channel.port1.close();
      const left = at - performance.now();
      if (left >= 1) setTimeout(done, left); else done();
    };
    channel.port2.postMessage(0);
  });

  // One chip: the model's number, and its time since it was plugged in.
  class Chip {
    constructor(m, id) { this.m = m; this.id = id; this.origin = performance.now(); this.gone = false; this.onGone = []; }
    now() { return performance.now() - this.origin; }
    at(ms) { return this.origin + ms; }
    // After every call that reached the meter: did it pull the cable?
    check() {
      if (!this.gone && this.m._fake_unplugged(this.id)) this.unplug();
      if (this.gone) throw fail('NotFoundError', 'The device was disconnected.');
    }
    unplug() {
      if (this.gone) return;
      this.gone = true;
      this.m._fake_unplug(this.id);
      for (const f of this.onGone) f();
    }
    control(type, request, value, index, length) {
      const n = this.m._fake_control(this.id, this.now(), type, request, value, index, length);
      return n < 0 ? null : this.m.HEAPU8.slice(this.m._fake_out(), this.m._fake_out() + n);
    }
    async bulkOut(bytes) {
      this.m.HEAPU8.set(bytes, this.m._fake_buffer(bytes.length));
      const done = this.m._fake_bulk_out(this.id, this.now(), bytes.length);
      this.check();
      await until(this.at(done));
    }
    // The next IN transfer (status bytes included), when it reaches the host.
    async takeIn(capacity, stop) {
      for (;;) {
        this.check();
        if (stop()) throw fail('AbortError', 'The transfer was cancelled.');
        const next = this.m._fake_next_in(this.id, this.now());
        if (next >= 0 && next <= this.now()) break;
        await until(next >= 0 ? this.at(next) : performance.now() + 1);
      }
      const n = this.m._fake_take_in(this.id, this.now(), capacity);
      return this.m.HEAPU8.slice(this.m._fake_out(), this.m._fake_out() + n);
    }
  }

  const view = (bytes) => new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);

  class FakeUSBDevice extends EventTarget {
    constructor(chip, { busy = false, serialNumber = 'CD710001' } = {}) {
      super();
      Object.assign(this, { chip, busy, serialNumber, vendorId: 0x0403, productId: 0x6001,
        opened: false, configuration: null, claimed: false, chain: Promise.resolve(), epoch: 0 });
    }
    live() { if (this.chip.gone) throw fail('NotFoundError', 'The device was disconnected.'); }
    async open() { this.live(); this.opened = true; }
    async close() { this.live(); this.opened = false; this.claimed = false; this.epoch++; }
    async selectConfiguration(value) { this.live(); this.configuration = { configurationValue: value }; }
    async claimInterface() {
      this.live();
      if (this.busy) throw fail('NetworkError', 'Unable to claim interface.');
      this.claimed = true;
    }
    async releaseInterface() { this.live(); this.claimed = false; this.epoch++; }
    usable() {
      this.live();
      if (!this.claimed) throw fail('InvalidStateError', 'The interface is not claimed.');
    }
    async controlTransferOut(setup) {
      this.usable();
      const ok = this.chip.control(0x40, setup.request, setup.value, setup.index, 0) !== null;
      return { status: ok ? 'ok' : 'stall', bytesWritten: 0 };
    }
    async controlTransferIn(setup, length) {
      this.usable();
      const data = this.chip.control(0xc0, setup.request, setup.value, setup.index, length);
      return data === null ? { status: 'stall' } : { status: 'ok', data: view(data) };
    }
    async transferOut(endpoint, data) {
      this.usable();
      const bytes = new Uint8Array(ArrayBuffer.isView(data) ? data.buffer.slice(data.byteOffset, data.byteOffset + data.byteLength) : data);
      await this.chip.bulkOut(bytes);
      return { status: 'ok', bytesWritten: bytes.length };
    }
    // Transfers in the order asked, each ending with the first short packet.
    transferIn(endpoint, length) {
      this.usable();
      const epoch = this.epoch;
      const run = this.chain.then(() => this.chip.takeIn(length, () => this.epoch !== epoch))
        .then((bytes) => ({ status: 'ok', data: view(bytes) }));
      this.chain = run.catch(() => undefined);
      return run;
    }
  }

  // The system's serial driver over the chip: it opens at the line asked,
  // reads packets with its default 16 ms latency timer, and drops the status
  // bytes.
  class FakeSerialPort extends EventTarget {
    constructor(chip) {
      super();
      Object.assign(this, { chip, isOpen: false, stream: null, writer: null });
    }
    getInfo() { return { usbVendorId: 0x0403, usbProductId: 0x6001 }; }
    async open(options) {
      if (this.chip.gone) throw fail('NetworkError', 'The device has been lost.');
      if (this.isOpen) throw fail('InvalidStateError', 'The port is already open.');
      if (this.chip.m._fake_line(this.chip.id, this.chip.now(), options.baudRate, options.dataBits ?? 8,
        options.stopBits ?? 1, ['none', 'odd', 'even'].indexOf(options.parity ?? 'none')) < 0) {
        throw fail('InvalidStateError', 'Failed to open serial port.');
      }
      this.isOpen = true;
      this.writer = new WritableStream({ write: (chunk) => {
        if (this.chip.gone) throw fail('NetworkError', 'The device has been lost.');
        return this.chip.bulkOut(new Uint8Array(chunk));
      } });
    }
    get writable() { return this.isOpen ? this.writer : null; }
    // A new stream after the last was cancelled; cancelling drops what the
    // chip and the driver hold.
    get readable() {
      if (!this.isOpen) return null;
      if (this.stream === null) {
        let cancelled = false;
        this.stream = new ReadableStream({
          pull: async (controller) => {
            for (;;) {
              let transfer;
              try {
                transfer = await this.chip.takeIn(4096, () => cancelled);
              } catch (error) {
                if (!cancelled) controller.error(fail('NetworkError', 'The device has been lost.'));
                return;
              }
              const data = [];
              for (let at = 0; at + 2 < transfer.length; at += 64) data.push(...transfer.subarray(at + 2, at + 64));
              if (data.length > 0) return controller.enqueue(new Uint8Array(data));
            }
          },
          cancel: () => {
            cancelled = true;
            this.stream = null;
            this.chip.control(0x40, 0, 2, 1, 0);
          },
        }, { highWaterMark: 0 });
      }
      return this.stream;
    }
    async setSignals(signals) {
      if (this.chip.gone) throw fail('NetworkError', 'The device has been lost.');
      if ('dataTerminalReady' in signals) this.chip.control(0x40, 1, signals.dataTerminalReady ? 0x0101 : 0x0100, 1, 0);
    }
    async close() {
      this.isOpen = false;
      this.stream = null;
    }
  }

  // navigator.usb and navigator.serial: the devices plugged in, those the
  // user has granted, and a chooser that picks the first plugged.
  function bus(make, idsMatch) {
    const api = new EventTarget();
    api.plugged = [];
    api.granted = new Set();
    api.list = async () => api.plugged.filter((d) => api.granted.has(d) && !d.chip.gone);
    api.choose = async (options) => {
      const found = api.plugged.find((d) => !d.chip.gone && (options?.filters ?? []).some((f) => idsMatch(d, f)));
      if (!found) throw fail('NotFoundError', 'No device selected.');
      api.granted.add(found);
      return found;
    };
    api.make = make;
    return api;
  }
  const usb = bus(null, (d, f) => f.vendorId === d.vendorId && (f.productId === undefined || f.productId === d.productId));
  usb.getDevices = usb.list;
  usb.requestDevice = usb.choose;
  const serial = bus(null, (d, f) => f.usbVendorId === 0x0403 && (f.usbProductId === undefined || f.usbProductId === 0x6001));
  serial.getPorts = serial.list;
  serial.requestPort = serial.choose;
  Object.defineProperty(navigator, 'usb', { value: usb, configurable: true });
  Object.defineProperty(navigator, 'serial', { value: serial, configurable: true });

  // options: granted (the user gave the page this device before), log (the
  // meter's log bytes), and busy (a system driver holds the USB chip).
  async function plug(api, scenario, latency, make, options = {}) {
    const { granted = false } = options;
    const m = await chips();
    const id = m.ccall('fake_plug', 'number', ['string', 'number'], [scenario, latency]);
    if (id < 0) throw new Error(`scenario: ${m.UTF8ToString(m._fake_text())}`);
    const chip = new Chip(m, id);
    if (options.log) m.HEAPU8.set(options.log, m._fake_log(id));
    const device = make(chip);
    chip.onGone.push(() => {
      const event = new Event('disconnect');
      event.device = device;
      if (api === usb) usb.dispatchEvent(event); else device.dispatchEvent(event);
    });
    api.plugged.push(device);
    if (granted) api.granted.add(device);
    const event = new Event('connect');
    event.device = device;
    if (api === usb) usb.dispatchEvent(event); else serial.dispatchEvent(event);
    return api.plugged.length - 1;
  }

  window.sq71Fakes = {
    plugUsb: (scenario, options = {}) => plug(usb, scenario, 16, (chip) => new FakeUSBDevice(chip, options), options),
    plugSerial: (scenario, options = {}) => plug(serial, scenario, 16, (chip) => new FakeSerialPort(chip), options),
    unplug: (kind, index) => (kind === 'usb' ? usb : serial).plugged[index].chip.unplug(),
    requests: async (index) => {
      const m = await chips();
      return m.UTF8ToString(m._fake_requests(usb.plugged[index].chip.id));
    },
  };
})();
