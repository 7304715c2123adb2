// Opens a kinstrom HTML report in headless Chromium and checks it as a reader would see it.
//
//   node check_report.mjs REPORT.html OUT.png [--expect-charts inbreeding,generations,...]
//
// Fails (exit 1, one line per fault) on: a console error or warning, a page error, a request
// other than file: or data:, a failed request; an expected chart missing, doubled, hidden, too
// small, without data marks or without coloured pixels in its plot area; a chart not expected;
// a chart whose table has another number of rows than the chart has marks per series.
// Writes a full-page screenshot to OUT.png (1000 px wide, device scale 1); laid out for print at
// the printable width of A4, no element may stick out past 680 px; prints the page to an A4 PDF.
// Without --expect-charts all four charts are expected; "--expect-charts ''" expects none.
// Chromium: $KINSTROM_CHROMIUM, else /usr/bin/chromium.

import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';
import { PNG } from 'pngjs';

const KINDS = ['inbreeding', 'generations', 'composition', 'distribution'];
const MIN_SERIES = { inbreeding: 2, generations: 1, composition: 1, distribution: 1 };

const args = process.argv.slice(2);
const flag = args.indexOf('--expect-charts');
const expected = flag < 0 ? KINDS : (args[flag + 1] ?? '').split(',').filter((s) => s !== '');
const [reportPath, outPath] = flag < 0 ? args : args.slice(0, flag);
if (!reportPath || !outPath || !fs.existsSync(reportPath) || expected.some((k) => !KINDS.includes(k))) {
  console.error('usage: node check_report.mjs REPORT.html OUT.png [--expect-charts a,b,...]');
  process.exit(1);
}

const failures = [];
const fail = (message) => failures.push(message);

// Pixels of a PNG that are data marks: clearly coloured (not white, not a grey of axes or text).
function colouredPixels(buffer) {
  const png = PNG.sync.read(buffer);
  let coloured = 0;
  for (let i = 0; i < png.data.length; i += 4) {
    const [r, g, b, a] = [png.data[i], png.data[i + 1], png.data[i + 2], png.data[i + 3]];
    if (a < 128) continue;
    if (Math.max(r, g, b) - Math.min(r, g, b) >= 60) coloured++;
  }
  return { coloured };
}

async function checkChart(page, kind) {
  const charts = page.locator(`svg.chart[data-chart="${kind}"]`);
  const n = await charts.count();
  if (n !== 1) {
    fail(`chart ${kind}: found ${n} times, expected once`);
    return;
  }
  const chart = charts.first();
  const box = await chart.boundingBox();
  if (!(await chart.isVisible()) || !box || box.width < 300 || box.height < 150) {
    fail(`chart ${kind}: not visible at a reasonable size (${box ? `${box.width}x${box.height}` : 'no box'})`);
    return;
  }
  const facts = await chart.evaluate((svg) => {
    const perSeries = {};
    for (const m of svg.querySelectorAll('.plot .mark')) {
      const s = m.getAttribute('data-series');
      perSeries[s] = (perSeries[s] || 0) + 1;
    }
    const labelled = svg.getAttribute('role') === 'img' && svg.getAttribute('aria-label') &&
                     svg.querySelector(':scope > title');
    return { labelled: Boolean(labelled), perSeries, plots: svg.querySelectorAll('.plot').length };
  });
  if (!facts.labelled) fail(`chart ${kind}: not labelled for readers (role, aria-label, title)`);
  if (facts.plots !== 1) {
    fail(`chart ${kind}: ${facts.plots} plot areas, expected 1`);
    return;
  }

  const tables = page.locator(`table[data-table="${kind}"]`);
  const rows = (await tables.count()) === 1 ? await tables.first().locator('tbody tr').count() : -1;
  if (rows < 1) fail(`chart ${kind}: no table of its numbers (or more than one)`);
  const series = Object.keys(facts.perSeries);
  if (series.length < MIN_SERIES[kind]) {
    fail(`chart ${kind}: ${series.length} series of data marks, expected at least ${MIN_SERIES[kind]}`);
  }
  for (const s of series) {
    if (facts.perSeries[s] !== rows) {
      fail(`chart ${kind}: series ${s} has ${facts.perSeries[s]} data marks, its table ${rows} rows`);
    }
  }

  const marks = Object.values(facts.perSeries).reduce((a, b) => a + b, 0);
  const { coloured } = colouredPixels(await chart.locator('.plot').screenshot());
  const needed = Math.max(40, Math.min(1000, 25 * marks));
  if (coloured < needed) {
    fail(`chart ${kind}: ${coloured} coloured pixels in the plot area, expected at least ${needed}`);
  }
}

async function main() {
  const browser = await chromium.launch({
    executablePath: process.env.KINSTROM_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox'],
  });
  try {
    const context = await browser.newContext({
      viewport: { width: 1000, height: 800 },
      deviceScaleFactor: 1,
    });
    // Nothing may come from elsewhere: such a request is a failure and is stopped.
    await context.route((url) => !/^(file|data):/.test(url.href), (route) => {
      fail(`request to ${route.request().url()}`);
      return route.abort();
    });
    const page = await context.newPage();
    page.setDefaultTimeout(30000);
    page.on('console', (m) => {
      if (m.type() === 'error' || m.type() === 'warning') fail(`console ${m.type()}: ${m.text()}`);
    });
    page.on('pageerror', (e) => fail(`page error: ${e.message}`));
    page.on('requestfailed', (r) => fail(`failed request: ${r.url()} (${r.failure()?.errorText})`));

    await page.goto(pathToFileURL(path.resolve(reportPath)).href, { waitUntil: 'load' });

    const present = await page.$$eval('svg.chart', (l) => l.map((s) => s.getAttribute('data-chart')));
    for (const kind of present) {
      if (!expected.includes(kind)) fail(`chart ${kind}: present but not expected`);
    }
    const tables = await page.$$eval('table[data-table]', (l) => l.map((t) => t.dataset.table));
    for (const kind of tables) {
      if (!present.includes(kind)) fail(`table ${kind}: no chart beside it`);
    }
    for (const kind of expected) await checkChart(page, kind);

    await page.screenshot({ path: outPath, fullPage: true });

    // Laid out as printed on A4 (180 mm = 680 px between 15 mm margins), nothing may stick out.
    await page.emulateMedia({ media: 'print' });
    await page.setViewportSize({ width: 680, height: 960 });
    const wide = await page.$$eval('main *', (list) =>
      list.filter((e) => e.getBoundingClientRect().right > 681).map((e) => e.tagName.toLowerCase()));
    if (wide.length) fail(`print layout: ${wide.length} elements wider than 680 px (${wide[0]}, ...)`);
    const pdf = await page.pdf({ format: 'A4', printBackground: true, preferCSSPageSize: true });
    const pages = (pdf.toString('latin1').match(/\/Type\s*\/Page(?![a-zA-Z])/g) || []).length;
    if (pdf.subarray(0, 5).toString('latin1') !== '%PDF-' || pages < 1) fail('PDF print: no pages');
  } finally {
    await browser.close();
  }
}

try {
  await main();
} catch (e) {
  fail(`${e.message}`);
}
if (failures.length) {
  for (const f of failures) console.error(`FAIL: ${f}`);
  process.exit(1);
}
console.log(`ok: ${reportPath}: charts ${expected.join(', ') || 'none'} checked; screenshot ${outPath}`);
