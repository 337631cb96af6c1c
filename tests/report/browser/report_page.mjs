// The HTML report in headless Chromium: loads without errors or network, every chart drawn,
// tooltips and sorting work; a screenshot for the README and CI.
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { driver, fail, openBrowser, workDir } from './browser.mjs';

const charts = ['chart-phase-timeline', 'chart-kernels-covered', 'chart-kernels-work', 'chart-exchange-roles'];

async function check(page, problems, file) {
  const started = performance.now();
  await page.goto(pathToFileURL(file).href, { waitUntil: 'load' });
  const loadMs = performance.now() - started;
  for (const id of charts) {
    const drawn = await page.evaluate((id) => {
      const shapes = [...document.querySelectorAll(`#${id} svg rect`)];
      return shapes.filter((shape) => {
        const box = shape.getBoundingClientRect();
        return box.width > 0 && box.height > 0;
      }).length;
    }, id);
    if (drawn === 0) fail(`${path.basename(file)}: chart #${id} has no drawn elements`);
    console.log(`  #${id}: ${drawn} shapes`);
  }
  if (problems.length > 0) fail(`${path.basename(file)}:\n  ${problems.join('\n  ')}`);
  return loadMs;
}

const { page, problems, close } = await openBrowser();
try {
  const report = path.join(workDir, 'report.html');
  driver(['--tiles', '64', '--steps', '600', '--seed', '7', '--title', 'Example: 64 tiles, 600 samples each',
          '--html', report]);
  const loadMs = await check(page, problems, report);
  console.log(`report page (${(fs.statSync(report).size / 1024).toFixed(0)} KiB) loaded in ${loadMs.toFixed(0)} ms`);

  // Hovering an exchange names the last tile to arrive.
  // The widest exchange whose middle is not covered by a neighbour.
  const spot = await page.evaluate(() => {
    const hits = [...document.querySelectorAll('#chart-phase-timeline rect.after-arrival')].map((rect) => {
      rect.scrollIntoView({ block: 'center' });
      const box = rect.getBoundingClientRect();
      const x = box.left + box.width / 2, y = box.top + box.height / 2;
      return { x, y, width: box.width, mine: document.elementFromPoint(x, y) === rect };
    }).filter((hit) => hit.mine);
    hits.sort((a, b) => b.width - a.width);
    return hits[0];
  });
  if (!spot) fail('no exchange of the phase timeline can be hovered');
  await page.mouse.move(spot.x, spot.y);
  const tip = await page.textContent('#tip');
  if (!(await page.isVisible('#tip')) || !/last to arrive: tile \d+/.test(tip)) {
    fail(`hovering an exchange shows no late tile: "${tip}"`);
  }
  await page.mouse.move(0, 0);

  // Sorting a table by work puts the heaviest phase first, then the lightest.
  const column = await page.evaluate(() =>
    [...document.querySelectorAll('#phases-table thead th')].findIndex((th) => th.textContent === 'Work'));
  const firstWork = () => page.evaluate((c) => Number(document.querySelector('#phases-table tbody tr').cells[c].dataset.v), column);
  const all = await page.evaluate((c) => [...document.querySelectorAll('#phases-table tbody tr')].map((r) => Number(r.cells[c].dataset.v)), column);
  await page.click('#phases-table thead th:nth-child(' + (column + 1) + ')');
  if ((await firstWork()) !== Math.min(...all)) fail('sorting phases by work ascending does not put the lightest first');
  await page.click('#phases-table thead th:nth-child(' + (column + 1) + ')');
  if ((await firstWork()) !== Math.max(...all)) fail('sorting phases by work descending does not put the heaviest first');
  await page.reload({ waitUntil: 'load' });

  const screenshot = process.env.NORQ_SCREENSHOT ?? path.join(workDir, 'report-screenshot.png');
  fs.mkdirSync(path.dirname(screenshot), { recursive: true });
  await page.screenshot({ path: screenshot, fullPage: true });
  console.log(`screenshot: ${screenshot}`);

  // A profile of the size the page is meant for; its load time is reported, not judged.
  const large = path.join(workDir, 'report-large.html');
  const writeMs = driver(['--tiles', '1500', '--steps', '2000', '--html', large]);
  const largeMs = await check(page, problems, large);
  console.log(`1500 x 2000 profile: written in ${writeMs.toFixed(0)} ms, ` +
              `${(fs.statSync(large).size / 1024).toFixed(0)} KiB, loaded in ${largeMs.toFixed(0)} ms`);
  if (problems.length > 0) fail(problems.join('\n  '));
  console.log('report page: ok');
} finally {
  await close();
}
