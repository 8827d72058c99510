// The browser tests' harness: Debian's Chromium driven by playwright-core (no
// browser of Playwright's own is downloaded or used), and what the pages'
// tests share: overflow at a window width, PDF printing and reading.
import { execFileSync } from "node:child_process";
import { chromium } from "playwright-core";

export const CHROMIUM = process.env.SQ71_CHROMIUM || "/usr/bin/chromium";
export const CHROMIUM_ARGS = ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
  "--disable-component-update", "--disable-sync", "--no-first-run"];

// A headless Chromium (a playwright-core Browser); close it when done.
export function launch(options = {}) {
  return chromium.launch({ executablePath: CHROMIUM, headless: true, ...options,
                           args: [...CHROMIUM_ARGS, ...(options.args || [])] });
}

// For each width (CSS px), the page's scroll width and the window's inner
// width at that window width: equal when nothing sticks out.
export async function scrollWidthAt(page, widths, height = 900) {
  const seen = [];
  for (const width of widths) {
    await page.setViewportSize({ width, height });
    seen.push({ width, ...await page.evaluate(() => ({
      scrollWidth: document.documentElement.scrollWidth, innerWidth: window.innerWidth })) });
  }
  return seen;
}

// Prints as the browser's Print would on a paper of that name ("A4",
// "Letter"), without header and footer, in the page's own @page margins.
export async function printPdf(page, path, format) {
  await page.emulateMedia({ media: "print" });
  await page.pdf({ path, format, printBackground: true });
  await page.emulateMedia({ media: null });
  return path;
}

export const pdfPages = (path) =>
  Number(/^Pages:\s+(\d+)/m.exec(execFileSync("pdfinfo", [path], { encoding: "utf8" }))[1]);

// The text of pages first to last (from 1) in reading order.
export const pdfText = (path, first = 1, last = first) =>
  execFileSync("pdftotext", ["-f", `${first}`, "-l", `${last}`, path, "-"], { encoding: "utf8" });

// Failures gathered, then printed and made the exit status by finish().
export class Checks {
  failures = [];
  check(ok, what) {
    if (!ok) this.failures.push(what);
    return ok;
  }
  finish() {
    for (const f of this.failures) console.log("FAIL:", f);
    process.exitCode = this.failures.length ? 1 : 0;
  }
}
