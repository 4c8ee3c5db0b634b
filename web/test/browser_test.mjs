// The playground in a real browser: serves the built site locally, drives
// headless Chromium through it and checks what a musician relies on: every
// example compiles, a faulty song shows its error at its line with the
// renderer's wording, the page's WAV is byte for byte the one qvbrender
// writes, playback advances, and a broken link gives a message, not a crash.
//
// usage: node browser_test.mjs --site DIR --qvbrender PATH --examples DIR [--figures]
import { spawn, spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import puppeteer from 'puppeteer-core';

const args = Object.fromEntries(
  process.argv.slice(2).map((a, i, all) => (a.startsWith('--') ? [a.slice(2), all[i + 1]?.startsWith('--') ? true : all[i + 1] ?? true] : null)).filter(Boolean),
);
const chromium = args.chromium || '/usr/bin/chromium';
const work = mkdtempSync(join(tmpdir(), 'qvbp-web-test-'));
const results = [];

async function check(name, body) {
  try {
    await body();
    results.push(true);
    console.log(`ok   ${name}`);
  } catch (error) {
    results.push(false);
    console.log(`FAIL ${name}: ${error.message}`);
  }
}

function expect(condition, message) {
  if (!condition) throw new Error(message);
}

function qvbrender(...argv) {
  const run = spawnSync(args.qvbrender, argv, { encoding: 'buffer' });
  return { status: run.status, stderr: run.stderr.toString() };
}

// A local server on a free port; resolves with its base URL.
function serve(directory) {
  const server = spawn('python3', ['-u', '-m', 'http.server', '0', '--bind', '127.0.0.1', '--directory', directory], {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  return new Promise((resolve, reject) => {
    server.on('error', reject);
    server.stdout.on('data', (chunk) => {
      const port = /port (\d+)/.exec(chunk.toString())?.[1];
      if (port) resolve({ server, url: `http://127.0.0.1:${port}/` });
    });
  });
}

const examples = readdirSync(args.examples).filter((f) => f.endsWith('.qvm')).sort();
const { server, url } = await serve(args.site);
const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  userDataDir: join(work, 'profile'),
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required'],
});
const pageErrors = [];
const figures = {};
try {
  const page = await browser.newPage();
  page.on('pageerror', (error) => pageErrors.push(error.message));
  await page.goto(url, { waitUntil: 'load' });
  await page.evaluate(() => window.playground.ready);
  // Every file the page fetched until it was ready (the worker's own copy of
  // core.js comes from the cache).
  figures.loadBytes = await page.evaluate(() => [...performance.getEntriesByType('navigation'), ...performance.getEntriesByType('resource')]
    .reduce((sum, entry) => sum + entry.decodedBodySize, 0));

  for (const example of examples) {
    await check(`${example} compiles`, async () => {
      const result = await page.evaluate((name) => window.playground.openExample(name).then((r) => ({ ok: r.ok, message: r.message, ms: r.compileMs, roundTrip: r.roundTripMs })), example);
      expect(result.ok, result.message);
      figures[`compile ${example}`] = `${result.ms.toFixed(1)} ms in the worker, ${result.roundTrip.toFixed(1)} ms for the page`;
    });
    await check(`${example}: the page's 10 s WAV equals qvbrender -t 10`, async () => {
      const reference = join(work, basename(example, '.qvm') + '.wav');
      const run = qvbrender('-t', '10', '-o', reference, join(args.examples, example));
      expect(run.status === 0, `qvbrender failed: ${run.stderr}`);
      const expected = readFileSync(reference);
      const got = await page.evaluate(async () => {
        const result = await window.playground.renderWav({ seconds: 10 });
        if (!result.ok) return { message: result.message };
        const digest = await crypto.subtle.digest('SHA-256', result.wav);
        return { length: result.wav.length, sha: [...new Uint8Array(digest)].map((b) => b.toString(16).padStart(2, '0')).join('') };
      });
      expect(got.length === expected.length, `length ${got.length}, qvbrender wrote ${expected.length} (${got.message ?? ''})`);
      expect(got.sha === createHash('sha256').update(expected).digest('hex'), 'the bytes differ from qvbrender\'s');
    });
  }

  await check('an opened .qvb image plays as it is, a cut one is called damaged', async () => {
    const result = await page.evaluate(async () => {
      await window.playground.openExample('demo.qvm');
      const file = new File([window.playground.image()], 'demo.qvb');
      const opened = await window.playground.openFile(file);
      const cut = await window.playground.openFile(new File([window.playground.image().slice(0, 40)], 'cut.qvb'));
      return { ok: opened.ok, channels: opened.channels, readOnly: document.getElementById('source').readOnly, cut: cut.message };
    });
    expect(result.ok && result.channels === 4 && result.readOnly, JSON.stringify(result));
    expect(/^cut\.qvb: damaged QVB image: .* runs past the end$/.test(result.cut), `a cut image gave "${result.cut}"`);
  });

  await check('a faulty song shows qvbrender\'s message at its line', async () => {
    const faulty = '#TITLE <faulty>\n#CHANNEL 1\n\n#A v15 o4 cdef\no9 c\n';
    const file = join(work, 'faulty.qvm');
    writeFileSync(file, faulty);
    const native = qvbrender('-t', '1', '-o', join(work, 'faulty.wav'), file).stderr.trim();
    const expected = native.replace(file, 'faulty.qvm');
    const shown = await page.evaluate(async (text) => {
      const result = await window.playground.compile(text, 'faulty.qvm');
      return { result, gutter: window.playground.errorLineInGutter(), marker: window.playground.marker(), messages: window.playground.messages() };
    }, faulty);
    expect(!shown.result.ok, 'the faulty song compiled');
    expect(shown.result.message === expected, `page says "${shown.result.message}", qvbrender says "${expected}"`);
    expect(shown.messages.includes(expected), 'the message is not shown under the editor');
    expect(shown.gutter === 5 && shown.marker?.line === 5, `marked line ${shown.gutter}, marker ${JSON.stringify(shown.marker)}`);
  });

  await check('playback advances, and an edit is taken in place', async () => {
    await page.evaluate(() => window.playground.openExample('demo.qvm'));
    await page.evaluate(() => window.playground.playOrPause());
    const waitFor = (frames) => page.evaluate(async (until) => {
      let frame = 0;
      for (let i = 0; i < 200 && frame < until; i++) {
        await new Promise((resolve) => setTimeout(resolve, 25));
        frame = window.playground.heardPosition().frame;
      }
      return frame;
    }, frames);
    const first = await waitFor(22050);
    expect(first >= 22050, `the heard position stayed at ${first}`);
    const edited = await page.evaluate(async () => {
      const source = document.getElementById('source').value.replace('t112', 't120');
      await window.playground.compile(source, 'demo.qvm');
      for (let i = 0; i < 200 && window.playground.replacedAt() < 0; i++) await new Promise((resolve) => setTimeout(resolve, 25));
      return window.playground.replacedAt();
    });
    const later = await waitFor(edited + 4410);
    await page.evaluate(() => window.playground.stop());
    expect(edited >= first, `the edit took over at frame ${edited}, before ${first}`);
    expect(later > edited, `after the edit the position stayed at ${later}`);
  });

  await check('a broken link gives a message and no exception', async () => {
    await page.goto(`${url}#song=%21%21not-deflate`, { waitUntil: 'load' });
    await page.evaluate(() => window.playground.ready);
    const messages = await page.evaluate(() => window.playground.messages());
    expect(messages.some((m) => m.startsWith('the link does not carry a readable song')), `messages: ${messages.join(' | ')}`);
  });

  await check('a link too large or with a faulty song gives a clear message', async () => {
    const links = await page.evaluate(async () => {
      const { encodeSong } = await import('./share.js');
      const huge = await encodeSong(new Uint8Array(3 << 20).fill(32), 'huge.qvm');
      const faulty = await encodeSong(new TextEncoder().encode('#TITLE <x>\n#CHANNEL 1\n#A q99 c\n'), 'faulty.qvm');
      return { huge, faulty };
    });
    const seen = {};
    for (const [name, fragment] of Object.entries(links)) {
      await page.goto(`${url}#${fragment}`, { waitUntil: 'load' });
      await page.evaluate(() => window.playground.ready);
      seen[name] = (await page.evaluate(() => window.playground.messages())).join(' | ');
    }
    expect(/larger than 1048576 bytes/.test(seen.huge), `huge link: ${seen.huge}`);
    expect(/^faulty\.qvm:3:\d+: error -513 ERR_GATE/.test(seen.faulty), `faulty link: ${seen.faulty}`);
  });

  await check('a shared link brings the song back', async () => {
    await page.goto(url, { waitUntil: 'load' });
    await page.evaluate(() => window.playground.ready);
    const text = '#TITLE <shared>\n#CHANNEL 1\nA v15 o4 l8 cdefgab>c\n';
    const link = await page.evaluate(async (song) => {
      await window.playground.compile(song, 'shared.qvm');
      document.getElementById('share').click();
      for (let i = 0; i < 100 && !location.hash; i++) await new Promise((resolve) => setTimeout(resolve, 20));
      return location.href;
    }, text);
    const other = await browser.newPage();
    await other.goto(link, { waitUntil: 'load' });
    await other.evaluate(() => window.playground.ready);
    const value = await other.evaluate(() => document.getElementById('source').value);
    await other.close();
    expect(value === text, `the link gave back ${JSON.stringify(value.slice(0, 40))}`);
  });

  if (args.figures) {
    await page.goto(url, { waitUntil: 'load' });
    await page.evaluate(() => window.playground.ready);
    figures.render60 = await page.evaluate(async () => (await window.playground.renderWav({ seconds: 60 })).renderMs);
  }

  await check('no unhandled exception on the page', async () => {
    expect(pageErrors.length === 0, pageErrors.join(' | '));
  });
} finally {
  await browser.close();
  server.kill();
  rmSync(work, { recursive: true, force: true });
}

if (args.figures) {
  console.log(`page load: ${figures.loadBytes} bytes`);
  for (const [name, value] of Object.entries(figures)) if (name.startsWith('compile')) console.log(`${name}: ${value}`);
  console.log(`render 60 s: ${figures.render60?.toFixed(0)} ms`);
}
const passed = results.filter(Boolean).length;
console.log(`${passed} passed, ${results.length - passed} failed`);
process.exit(passed === results.length ? 0 : 1);
