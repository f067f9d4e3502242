// Shared pieces of the browser tests: a PeloTest started headless on a free port over a
// temporary settings file, and Debian's Chromium driven by playwright-core.
import { spawn } from 'node:child_process';
import { mkdtempSync, writeFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { chromium } from 'playwright-core';

export const pelotestBin = process.env.PELOTEST_BIN ?? resolve(import.meta.dirname, '../build/pelotest');

export async function freePort() {
  return new Promise((ok, fail) => {
    const s = createServer();
    s.on('error', fail);
    s.listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => ok(port));
    });
  });
}

export function tempDir() {
  return mkdtempSync(join(tmpdir(), 'pelotest-e2e-'));
}

// Starts `pelotest --headless` with an INI text (a "[Settings]" Port line is added when absent;
// one that is there is the port served).
// Resolves once it prints its "Listening on" line.
// With iniText null no settings file is written (the run's options must give the port), and
// options are added to the command line.
export async function startPelotest(iniText, dir = tempDir(), options = []) {
  const settings = join(dir, 'pelotest.ini');
  let port = Number(options[options.indexOf('--port') + 1]);
  if (iniText !== null) {
    port = Number(/\bPort=(\d+)/i.exec(iniText)?.[1] ?? await freePort());
    const ini = /\bPort=/i.test(iniText)
      ? iniText
      : iniText.replace(/\[Settings\]\r?\n/i, `[Settings]\nPort=${port}\n`);
    writeFileSync(settings, ini.includes('[Settings]') ? ini : `[Settings]\nPort=${port}\n${ini}`);
  }
  const child = spawn(pelotestBin, ['--headless', '--settings', settings, ...options], { stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  await new Promise((ok, fail) => {
    const timer = setTimeout(() => fail(new Error(`no "Listening on" line: ${output}`)), 10000);
    const onData = (d) => {
      output += d;
      if (output.includes('Listening on')) { clearTimeout(timer); ok(); }
    };
    child.stdout.on('data', onData);
    child.stderr.on('data', (d) => { output += d; });
    child.on('exit', (code) => { clearTimeout(timer); fail(new Error(`exited ${code}: ${output}`)); });
  });
  const url = `http://127.0.0.1:${port}`;
  return {
    url, port, dir, settings, child,
    // Sends SIGTERM and waits for the exit (the state is saved then).
    async stop() {
      if (child.exitCode !== null) return child.exitCode;
      const done = new Promise((ok) => child.on('exit', (code) => ok(code)));
      child.kill('SIGTERM');
      return done;
    },
    cleanup() { rmSync(dir, { recursive: true, force: true }); },
  };
}

export async function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}
