// Loads one h5web page per plot record in headless Chromium, screenshots it and
// says what h5web chose to show. Usage: node shoot.mjs URL OUTDIR FILE RECORD...
// Exit status 1 when a record shows an h5web error or no plot.
import { chromium } from 'playwright-core';
import { mkdirSync } from 'node:fs';

const [base, outDir, file, ...records] = process.argv.slice(2);
mkdirSync(outDir, { recursive: true });

// The server is started just before us in the background: give it a moment.
async function waitForServer() {
  for (let i = 0; i < 60; i += 1) {
    try {
      if ((await fetch(base)).ok) return;
    } catch {}
    await new Promise((r) => setTimeout(r, 500));
  }
  throw new Error(`no server at ${base}`);
}

// What the page shows, read from h5web's DOM. h5web's class names carry a hash
// suffix, hence the prefix matches; visx's axis classes are plain.
function readPage() {
  const text = (el) => (el?.textContent || '').trim();
  const vis = document.querySelector('[role="tablist"][aria-label="Visualization"] [aria-selected="true"]');
  const title = document.querySelector('[class*="_visCanvas_"] p[class*="_title_"]');
  const colorBar = document.querySelector('[class*="_colorBar_"]');
  const axes = [...document.querySelectorAll('.visx-axis')].filter((a) => !colorBar?.contains(a)).map((axis) => {
    const ticks = [...axis.querySelectorAll('.visx-axis-tick')].map(text).filter(Boolean);
    return { label: text(axis.querySelector('.visx-axis-label')), ticks };
  });
  // Errors: h5web's fallbacks, plus any leaf text that reads like one.
  const errors = new Set();
  for (const el of document.querySelectorAll('.error, [class*="_fallback_"], [role="alert"]')) {
    if (text(el)) errors.add(text(el));
  }
  for (const el of document.querySelectorAll('body *')) {
    if (el.children.length === 0 && /\bExpected\b|\berror\b/i.test(text(el))) errors.add(text(el));
  }
  return {
    vis: text(vis),
    title: text(title),
    axes,
    colorBar: colorBar ? [...colorBar.querySelectorAll('.visx-axis-tick')].map(text) : null,
    canvas: !!document.querySelector('[class*="_visCanvas_"] canvas'),
    errors: [...errors],
  };
}

await waitForServer();
const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  // root needs --no-sandbox; without a GPU, WebGL (h5web's plots) needs SwiftShader.
  args: ['--no-sandbox', '--enable-unsafe-swiftshader', '--use-angle=swiftshader', '--ignore-gpu-blocklist'],
});

let failed = false;
for (const record of records) {
  const page = await browser.newPage({ viewport: { width: 1400, height: 850 } });
  const consoleErrors = [];
  page.on('pageerror', (e) => consoleErrors.push(String(e)));
  page.on('console', (m) => m.type() === 'error' && consoleErrors.push(m.text()));

  const url = `${base}/?file=${encodeURIComponent(file)}&path=${encodeURIComponent(record)}`;
  await page.goto(url);
  // Either a plot with its axes drawn or an error panel ends the wait; h5web
  // fetches lazily, and draws the canvas before the axes.
  await page
    .waitForSelector('[class*="_visCanvas_"] .visx-axis-tick, .error, [class*="_fallback_"]', { timeout: 30000 })
    .catch(() => {});
  await page.waitForTimeout(2000); // let the WebGL frame and the axes settle

  const shot = `${outDir}/${record.replace(/^\//, '').replaceAll('/', '_')}.png`;
  await page.screenshot({ path: shot });
  const seen = await page.evaluate(readPage);

  const axes = seen.axes.map((a) => `"${a.label}" [${a.ticks[0] ?? ''} .. ${a.ticks.at(-1) ?? ''}]`);
  console.log(
    `${record}: vis "${seen.vis}", title "${seen.title}", axes ${axes.join(', ') || 'none'}` +
      (seen.colorBar ? `, colour bar [${seen.colorBar[0] ?? ''} .. ${seen.colorBar.at(-1) ?? ''}]` : ''),
  );
  for (const e of seen.errors) console.log(`  h5web error: ${e}`);
  for (const e of consoleErrors) console.log(`  console: ${e}`);
  const drawn = seen.canvas && seen.axes.length > 0;
  if (seen.errors.length > 0 || !drawn) {
    if (!drawn) console.log('  no plot drawn on the page');
    failed = true;
  }
  console.log(`  screenshot: ${shot}`);
  await page.close();
}

await browser.close();
process.exit(failed ? 1 : 0);
