// The meters a browser reaches, as the module's drivers (web/
// browser_meters_web.cpp) call them: an FT232R over WebUSB, whose chip the
// core's own driver runs with vendor requests and bulk transfers, and a port
// of the system's FTDI serial driver over Web Serial. Each device has a
// number the module knows it by; a call answers a count or bytes, or one of
// the failure codes below. A device unplugged ends only its own session:
// `disconnect` events are matched to the device object, never to its ids.

export const kTimedOut = -1;
export const kStalled = -2;
export const kGone = -3;
export const kBusy = -4;
export const kDenied = -5;
export const kFailed = -6;

export const kFtdiVendor = 0x0403;
export const kFt232rProduct = 0x6001;

// The parts of WebUSB and Web Serial the page uses.
interface UsbResult { status: 'ok' | 'stall' | 'babble'; data?: DataView; bytesWritten?: number }
export interface UsbDeviceLike extends EventTarget {
  opened: boolean; serialNumber?: string; vendorId: number; productId: number;
  configuration: { configurationValue: number } | null;
  open(): Promise<void>; close(): Promise<void>;
  selectConfiguration(value: number): Promise<void>;
  claimInterface(n: number): Promise<void>; releaseInterface(n: number): Promise<void>;
  controlTransferIn(setup: object, length: number): Promise<UsbResult>;
  controlTransferOut(setup: object, data?: BufferSource): Promise<UsbResult>;
  transferIn(endpoint: number, length: number): Promise<UsbResult>;
  transferOut(endpoint: number, data: BufferSource): Promise<UsbResult>;
}
export interface UsbLike extends EventTarget {
  getDevices(): Promise<UsbDeviceLike[]>;
  requestDevice(options: object): Promise<UsbDeviceLike>;
}
export interface SerialPortLike extends EventTarget {
  readable: ReadableStream<Uint8Array> | null; writable: WritableStream<Uint8Array> | null;
  open(options: object): Promise<void>; close(): Promise<void>;
  setSignals(signals: object): Promise<void>;
  getInfo(): { usbVendorId?: number; usbProductId?: number };
}
export interface SerialLike extends EventTarget {
  getPorts(): Promise<SerialPortLike[]>;
  requestPort(options: object): Promise<SerialPortLike>;
}

const nameOf = (error: unknown) => (error as { name?: string })?.name ?? '';

// Resolves when woken or after `ms`.
class Waiter {
  private wake: (() => void) | null = null;
  wait(ms: number) {
    return new Promise<void>((done) => {
      const timer = setTimeout(() => { this.wake = null; done(); }, Math.max(0, ms));
      this.wake = () => { clearTimeout(timer); this.wake = null; done(); };
    });
  }
  notify() { this.wake?.(); }
}

// IN transfers kept queued, so that nothing the chip sends waits for the
// page to ask (with one at a time an FT232R drops bytes); each of up to
// 64 packets.
const kInFlight = 16;
const kTransferSize = 4096;

class UsbSession {
  gone = false;
  private claimed = false;
  private claims = 0;  // transfers of an earlier claim are not this one's
  private received: Uint8Array[] = [];
  private failed = false;
  private readonly arrived = new Waiter();
  constructor(readonly device: UsbDeviceLike) {}

  async open(): Promise<number> {
    if (this.gone) return kGone;
    try {
      if (!this.device.opened) await this.device.open();
      if (this.device.configuration?.configurationValue !== 1) await this.device.selectConfiguration(1);
    } catch (error) {
      return this.failure(error);
    }
    try {
      await this.device.claimInterface(0);
    } catch (error) {
      // A system driver (ftdi_sio, FTDI's own) holds the chip.
      return this.gone ? kGone : nameOf(error) === 'SecurityError' ? kDenied : kBusy;
    }
    this.claimed = true;
    this.claims++;
    this.failed = false;
    this.received = [];
    for (let i = 0; i < kInFlight; i++) this.pump();
    return 0;
  }

  private pump() {
    if (!this.claimed || this.gone) return;
    const claim = this.claims;
    this.device.transferIn(1, kTransferSize).then((result) => {
      if (claim !== this.claims) return;
      // A status-only packet carries nothing.
      if (result.data && result.data.byteLength > 2) {
        this.received.push(new Uint8Array(result.data.buffer, result.data.byteOffset, result.data.byteLength));
      }
      this.arrived.notify();
      this.pump();
    }, (error) => {
      if (nameOf(error) === 'NotFoundError') this.gone = true;
      else if (claim !== this.claims) return;
      else if (this.claimed) this.failed = true;
      this.arrived.notify();
    });
  }

  async close() {
    this.claimed = false;
    this.claims++;
    this.received = [];
    if (this.gone) return;
    await this.device.releaseInterface(0).catch(() => undefined);
    await this.device.close().catch(() => undefined);
  }

  private failure(error: unknown) {
    if (this.gone || nameOf(error) === 'NotFoundError') {
      this.gone = true;
      return kGone;
    }
    return nameOf(error) === 'SecurityError' ? kDenied : kFailed;
  }

  async control(type: number, request: number, value: number, index: number, length: number) {
    if (this.gone) return kGone;
    const setup = { requestType: 'vendor', recipient: 'device', request, value, index };
    try {
      if ((type & 0x80) !== 0) {
        const result = await this.device.controlTransferIn(setup, length);
        if (result.status !== 'ok' || !result.data) return kStalled;
        return new Uint8Array(result.data.buffer, result.data.byteOffset, result.data.byteLength);
      }
      return (await this.device.controlTransferOut(setup)).status === 'ok' ? 0 : kStalled;
    } catch (error) {
      return this.failure(error);
    }
  }

  async bulkOut(data: Uint8Array<ArrayBuffer>) {
    if (this.gone) return kGone;
    try {
      const result = await this.device.transferOut(2, data);
      return result.status === 'ok' ? result.bytesWritten ?? data.length : kStalled;
    } catch (error) {
      return this.failure(error);
    }
  }

  // One queued transfer's bytes (whole packets up to `capacity`), waiting
  // at most `timeout` ms for one.
  async bulkIn(capacity: number, timeout: number) {
    // Woken by every transfer, status-only ones included: wait on to the
    // deadline while nothing has come.
    const deadline = performance.now() + timeout;
    for (let left = timeout; this.received.length === 0 && left > 0 && !this.gone && !this.failed;
      left = deadline - performance.now()) {
      await this.arrived.wait(left);
    }
    if (this.gone) return kGone;
    const first = this.received.shift();
    if (first === undefined) return this.failed ? kFailed : kTimedOut;
    const whole = capacity - (capacity % 64);
    if (first.length <= whole) return first;
    this.received.unshift(first.subarray(whole));
    return first.subarray(0, whole);
  }

  drop() { this.received = []; }
  disconnected() { this.gone = true; this.arrived.notify(); }
}

// One reading loop per open port fills a buffer that reads wait on; only a
// receive purge cancels the reader, since cancelling drops what the port
// holds.
class SerialSession {
  gone = false;
  private isOpen = false;
  private chunks: Uint8Array[] = [];
  private size = 0;
  private reader: ReadableStreamDefaultReader<Uint8Array> | null = null;
  private loop: Promise<void> = Promise.resolve();
  private readonly arrived = new Waiter();
  constructor(readonly port: SerialPortLike) {}

  async open(baudRate: number, dataBits: number, stopBits: number, parity: number) {
    await this.close();
    if (this.gone) return kGone;
    try {
      await this.port.open({ baudRate, dataBits, stopBits, parity: ['none', 'odd', 'even'][parity] ?? 'none',
        flowControl: 'none', bufferSize: 4096 });
    } catch (error) {
      return this.gone ? kGone : nameOf(error) === 'InvalidStateError' || nameOf(error) === 'NetworkError' ? kBusy : kFailed;
    }
    this.isOpen = true;
    this.startReading();
    return 0;
  }

  private startReading() {
    if (this.port.readable === null) return;
    const reader = this.port.readable.getReader();
    this.reader = reader;
    this.loop = (async () => {
      try {
        for (;;) {
          const { value, done } = await reader.read();
          if (done) break;
          if (value && value.length > 0) {
            this.chunks.push(value);
            this.size += value.length;
            this.arrived.notify();
          }
        }
      } catch {
        // A lost port ends the loop; its disconnect event says so.
      } finally {
        reader.releaseLock();
      }
    })();
  }

  private async stopReading() {
    if (this.reader === null) return;
    await this.reader.cancel().catch(() => undefined);
    await this.loop;
    this.reader = null;
  }

  async close() {
    if (!this.isOpen) return;
    this.isOpen = false;
    await this.stopReading();
    this.chunks = [];
    this.size = 0;
    await this.port.close().catch(() => undefined);
  }

  async read(wanted: number, timeout: number) {
    const deadline = performance.now() + timeout;
    for (let left = timeout; this.size < wanted && !this.gone && left > 0; left = deadline - performance.now()) {
      await this.arrived.wait(left);
    }
    if (this.gone) return kGone;
    const out = new Uint8Array(Math.min(wanted, this.size));
    for (let at = 0; at < out.length;) {
      const chunk = this.chunks[0];
      const take = Math.min(chunk.length, out.length - at);
      out.set(chunk.subarray(0, take), at);
      at += take;
      if (take === chunk.length) this.chunks.shift(); else this.chunks[0] = chunk.subarray(take);
    }
    this.size -= out.length;
    return out;
  }

  async write(data: Uint8Array<ArrayBuffer>) {
    if (this.gone) return kGone;
    if (this.port.writable === null) return kFailed;
    const writer = this.port.writable.getWriter();
    try {
      await writer.write(data);
      return data.length;
    } catch {
      return this.gone ? kGone : kFailed;
    } finally {
      writer.releaseLock();
    }
  }

  async purge() {
    if (this.gone) return kGone;
    await this.stopReading();
    this.chunks = [];
    this.size = 0;
    this.startReading();
    return 0;
  }

  async dtr(on: boolean) {
    if (this.gone) return kGone;
    try {
      await this.port.setSignals({ dataTerminalReady: on });
      return 0;
    } catch {
      return this.gone ? kGone : kFailed;
    }
  }

  disconnected() { this.gone = true; this.arrived.notify(); }
}

// What the module calls (Module.meters), and the devices it has been given.
export class Meters {
  private readonly usb: UsbSession[] = [];
  private readonly serial: SerialSession[] = [];

  // The device's number: a device already known keeps its own.
  usbId(device: UsbDeviceLike): [number, boolean] {
    const known = this.usb.findIndex((s) => s.device === device && !s.gone);
    if (known >= 0) return [known, false];
    this.usb.push(new UsbSession(device));
    return [this.usb.length - 1, true];
  }
  serialId(port: SerialPortLike): [number, boolean] {
    const known = this.serial.findIndex((s) => s.port === port && !s.gone);
    if (known >= 0) return [known, false];
    this.serial.push(new SerialSession(port));
    return [this.serial.length - 1, true];
  }
  usbDisconnected(device: unknown) {
    for (const s of this.usb) if (s.device === device) s.disconnected();
  }
  serialDisconnected(port: unknown) {
    for (const s of this.serial) if (s.port === port) s.disconnected();
  }

  usbOpen(id: number) { return this.usb[id].open(); }
  usbClose(id: number) { return this.usb[id].close(); }
  usbConnected(id: number) { return !this.usb[id].gone; }
  usbDrop(id: number) { this.usb[id].drop(); }
  usbControl(id: number, type: number, request: number, value: number, index: number, length: number) {
    return this.usb[id].control(type, request, value, index, length);
  }
  usbBulkOut(id: number, data: Uint8Array<ArrayBuffer>) { return this.usb[id].bulkOut(data); }
  usbBulkIn(id: number, capacity: number, timeout: number) { return this.usb[id].bulkIn(capacity, timeout); }

  serialOpen(id: number, baud: number, bits: number, stop: number, parity: number) {
    return this.serial[id].open(baud, bits, stop, parity);
  }
  serialClose(id: number) { return this.serial[id].close(); }
  serialConnected(id: number) { return !this.serial[id].gone; }
  serialRead(id: number, wanted: number, timeout: number) { return this.serial[id].read(wanted, timeout); }
  serialWrite(id: number, data: Uint8Array<ArrayBuffer>) { return this.serial[id].write(data); }
  serialPurge(id: number) { return this.serial[id].purge(); }
  serialDtr(id: number, on: boolean) { return this.serial[id].dtr(on); }
}

export const isFtdiPort = (port: SerialPortLike) => port.getInfo().usbVendorId === kFtdiVendor;
