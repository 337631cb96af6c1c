// Shared by the browser checks: headless Chromium on a fresh profile, no network, errors collected.
import { chromium } from 'playwright-core';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export const workDir = process.env.NORQ_BROWSER_WORK ?? fs.mkdtempSync(path.join(os.tmpdir(), 'norq-browser-'));
fs.mkdirSync(workDir, { recursive: true });

export function fail(message) {
  console.error(`error: ${message}`);
  process.exit(1);
}

// Runs the test driver, which writes the report and/or trace of a generated profile.
export function driver(args) {
  const program = process.env.NORQ_REPORT_DRIVER;
  if (!program) fail('NORQ_REPORT_DRIVER is not set (run the check through ctest)');
  const started = performance.now();
  execFileSync(program, args, { stdio: ['ignore', 'inherit', 'inherit'] });
  return performance.now() - started;
}

export async function openBrowser() {
  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'norq-chromium-'));
  const context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: process.env.NORQ_CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    viewport: { width: 1280, height: 900 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--disable-quic'],
  });
  const problems = [];
  const watch = (page) => {
    page.on('console', (message) => {
      if (message.type() === 'error') problems.push(`console error: ${message.text()}`);
    });
    page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
    page.on('dialog', (dialog) => {
      problems.push(`dialog: ${dialog.message()}`);
      dialog.dismiss().catch(() => {});
    });
    page.on('request', (request) => {
      const url = request.url();
      if (!url.startsWith('file:') && !url.startsWith('data:') && !url.startsWith('blob:')) {
        problems.push(`network request: ${url}`);
      }
    });
  };
  const page = context.pages()[0] ?? (await context.newPage());
  watch(page);
  const close = async () => {
    await context.close();
    fs.rmSync(userDataDir, { recursive: true, force: true });
  };
  return { page, problems, close };
}
