// The browser tests' harness: Debian's Chromium driven by playwright-core
// (no browser of Playwright's own is downloaded or used), and the checks the
// pages share: no horizontal overflow at a window width, printing to PDF,
// and what poppler reads back from a PDF.
//
//   import { launch, scrollWidthAt, printPdf, pdfPages, pdfText, Checks } from "./harness.mjs";
import { execFileSync } from "node:child_process";
import { chromium } from "playwright-core";

export const CHROMIUM = process.env.SQ71_CHROMIUM || "/usr/bin/chromium";
export const CHROMIUM_ARGS = [
  "--no-sandbox",
  "--disable-gpu",
  "--disable-background-networking",
  "--disable-component-update",
  "--disable-sync",
  "--no-first-run",
];

// A headless Chromium (a playwright-core Browser); close it when done.
export function launch(options = {}) {
  return chromium.launch({
    executablePath: CHROMIUM,
    headless: true,
    ...options,
    args: [...CHROMIUM_ARGS, ...(options.args || [])],
  });
}

// For each width (CSS px), the page's scroll width and the window's inner
// width once the window has that width: equal when nothing sticks out.
export async function scrollWidthAt(page, widths, height = 900) {
  const seen = [];
  for (const width of widths) {
    await page.setViewportSize({ width, height });
    const { scrollWidth, innerWidth } = await page.evaluate(() => ({
      scrollWidth: document.documentElement.scrollWidth,
      innerWidth: window.innerWidth,
    }));
    seen.push({ width, scrollWidth, innerWidth });
  }
  return seen;
}

// Prints the page as the browser's Print would, on a paper of that name
// ("A4", "Letter"), without header and footer; the page's own @page margins.
export async function printPdf(page, path, format) {
  await page.emulateMedia({ media: "print" });
  await page.pdf({ path, format, printBackground: true, preferCSSPageSize: false });
  await page.emulateMedia({ media: "screen" });
  return path;
}

export function pdfPages(path) {
  const info = execFileSync("pdfinfo", [path], { encoding: "utf8" });
  return Number(/^Pages:\s+(\d+)/m.exec(info)[1]);
}

// The text of pages first to last (1-based) in reading order.
export function pdfText(path, first = 1, last = first) {
  return execFileSync("pdftotext", ["-f", String(first), "-l", String(last), path, "-"], {
    encoding: "utf8",
  });
}

// Failures gathered, printed and turned into the exit status at the end.
export class Checks {
  constructor() {
    this.failures = [];
  }
  check(ok, what) {
    if (!ok) this.failures.push(typeof what === "function" ? what() : what);
    return ok;
  }
  finish() {
    for (const f of this.failures) console.log("FAIL:", f);
    process.exitCode = this.failures.length ? 1 : 0;
  }
}
