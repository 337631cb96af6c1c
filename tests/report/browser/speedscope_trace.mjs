// The exported trace opened by speedscope's own web app (the npm package's bundled build) in
// headless Chromium, handed over the way its command-line launcher does it: a script calling
// speedscope.loadFileFromBase64, named in the page's #localProfilePath hash.
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { pathToFileURL } from 'node:url';
import { driver, fail, openBrowser, workDir } from './browser.mjs';

const require = createRequire(import.meta.url);
const app = path.join(path.dirname(require.resolve('speedscope/package.json')), 'dist', 'release', 'index.html');

const tiles = 6;
const trace = path.join(workDir, 'trace.json');
driver(['--tiles', String(tiles), '--steps', '150', '--seed', '3', '--trace', trace]);
const expected = JSON.parse(fs.readFileSync(trace, 'utf8')).traceEvents
  .filter((event) => event.ph === 'M' && event.name === 'thread_name')
  .map((event) => event.args.name);
if (expected.length !== tiles) fail(`the trace names ${expected.length} tracks, expected ${tiles}`);

const loader = path.join(workDir, 'load-trace.js');
fs.writeFileSync(loader, `speedscope.loadFileFromBase64(${JSON.stringify(path.basename(trace))}, ` +
                         `${JSON.stringify(fs.readFileSync(trace).toString('base64'))})\n`);

const { page, problems, close } = await openBrowser();
try {
  await page.goto(`${pathToFileURL(app).href}#localProfilePath=${loader}`, { waitUntil: 'load' });
  // Loaded: the toolbar names the first track and counts all of them, e.g. "tile 0 (1/6)".
  const toolbar = page.getByText(new RegExp(`\\(1/${tiles}\\)`));
  await toolbar.first().waitFor({ timeout: 30000 }).catch(() => {});
  const body = await page.textContent('body');
  if (/Something went wrong|Unrecognized format|Failed to load/i.test(body)) fail(`speedscope reports an import error: ${body.slice(0, 300)}`);
  if (!new RegExp(`\\(1/${tiles}\\)`).test(body)) fail(`speedscope does not show ${tiles} tracks; page text: ${body.slice(0, 300)}`);
  if (!body.includes(expected[0])) fail(`speedscope does not show the first track "${expected[0]}"`);

  // Every track is listed in the profile switcher under its tile name.
  await page.getByText(new RegExp(`\\(1/${tiles}\\)`)).first().click();
  const listed = await page.textContent('body');
  const absent = expected.filter((name) => !listed.includes(name));
  if (absent.length > 0) fail(`speedscope does not list the tracks ${absent.join(', ')}`);
  const canvases = await page.locator('canvas').count();
  if (canvases === 0) fail('speedscope drew no flame graph');
  await page.screenshot({ path: path.join(workDir, 'speedscope.png') });
  if (problems.length > 0) fail(problems.join('\n  '));
  console.log(`speedscope: trace of ${tiles} tiles opened, tracks ${expected.join(', ')}`);
} finally {
  await close();
}
