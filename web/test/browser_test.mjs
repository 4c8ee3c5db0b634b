// The playground in a real browser: serves the built site locally, drives
// headless Chromium through it and checks what a musician relies on: every
// example compiles, a faulty song shows its error (and a song its warning)
// at its line with the renderer's wording, the editor colours the language,
// matches its brackets and helps on hover, the page's WAV is byte for byte
// the one qvbrender writes, a pasted song's names follow its title, a binary
// that is no image is refused, the roll draws every note, each channel's loop
// mark and every numbered pass of its loops and brackets, and lights the notes heard, muting
// and soloing silence those channels in the sound sent out, the editor lights
// the note each channel sounds, the seek bar seeks exactly, an A-B section repeats, the source
// survives a reload, the roll zooms, every control shows without overlap from a phone's width
// to a desktop's, playback advances, and a broken link gives a message, not a
// crash. --figures prints the page's budgets; --screenshots DIR keeps the
// wide, narrow and phone screenshots.
//
// usage: node browser_test.mjs --site DIR --qvbrender PATH --examples DIR [--figures] [--screenshots DIR]
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

// The 16-bit samples of a WAV file's data chunk, interleaved.
function wavSamples(path) {
  const file = readFileSync(path);
  for (let at = 12; at + 8 <= file.length; at += 8 + file.readUInt32LE(at + 4)) {
    if (file.toString('latin1', at, at + 4) === 'data') {
      const data = file.subarray(at + 8, at + 8 + file.readUInt32LE(at + 4));
      return new Int16Array(data.buffer.slice(data.byteOffset, data.byteOffset + data.length));
    }
  }
  throw new Error(`${path} has no data chunk`);
}

// 26 channels of 1600 notes each, in brackets.
function bigSong() {
  let song = '#TITLE <big>\n#CHANNEL 26\n';
  for (let i = 0; i < 26; i++) song += `#${String.fromCharCode(65 + i)} t200 v1 l16 [200 cdefgab<c>]\n`;
  return song;
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
      return { ok: opened.ok, channels: opened.channels, readOnly: window.playground.readOnly(), cut: cut.message };
    });
    expect(result.ok && result.channels === 4 && result.readOnly, JSON.stringify(result));
    expect(/^cut\.qvb: damaged QVB image: .* runs past the end$/.test(result.cut), `a cut image gave "${result.cut}"`);
  });

  await check('a song with five mistakes shows qvbrender\'s five errors, each at its line', async () => {
    const faulty = '#TITLE <faulty>\n#CHANNEL 2\n#WAV 0,<1,2,3>\n#A v10 o4 c d e f v16 g a\n#A l7 c /: d e :/\n#B v12 C d e o9 c\n';
    const file = join(work, 'faulty.qvm');
    writeFileSync(file, faulty);
    const native = qvbrender('-t', '1', '-o', join(work, 'faulty.wav'), file).stderr.trim().split('\n')
      .map((line) => line.replace(file, 'faulty.qvm'));
    const shown = await page.evaluate(async (text) => {
      const result = await window.playground.compile(text, 'faulty.qvm');
      const view = window.playground.editor().view;
      const marked = [...document.querySelectorAll('.cm-lintRange-error')].map((m) => view.state.doc.lineAt(view.posAtDOM(m)).number);
      return { result, diagnostics: window.playground.diagnostics(), marked, messages: window.playground.messages() };
    }, faulty);
    expect(!shown.result.ok, 'the faulty song compiled');
    expect(native.length === 5, `qvbrender says ${native.join(' | ')}`);
    expect(shown.result.message === native[0], `page says "${shown.result.message}", qvbrender says "${native[0]}"`);
    expect(JSON.stringify(shown.messages) === JSON.stringify(native), `page shows ${shown.messages.join(' | ')}`);
    const errors = shown.diagnostics.filter((d) => d.severity === 'error');
    expect(JSON.stringify(errors.map((d) => d.line)) === '[3,4,5,6,6]' && errors.every((d, i) => d.message === native[i]),
      `diagnostics ${JSON.stringify(shown.diagnostics)}`);
    expect(new Set(shown.marked).size === 4, `marked lines ${shown.marked}`);
  });

  await check('a warning shows at its line with qvbrender\'s words', async () => {
    const song = '#TITLE <w>\n#CHANNEL 1\n{ no volume }\n#A c d\n';
    const file = join(work, 'quiet.qvm');
    writeFileSync(file, song);
    const expected = qvbrender('-t', '1', '-o', join(work, 'quiet.wav'), file).stderr.split('\n')[0].replace(file, 'quiet.qvm');
    const shown = await page.evaluate(async (text) => {
      await window.playground.compile(text, 'quiet.qvm');
      await new Promise((resolve) => setTimeout(resolve, 50));
      return { diagnostics: window.playground.diagnostics(), marked: document.querySelectorAll('.cm-lintRange-warning').length };
    }, song);
    expect(/warning: channel A plays notes but never sets a volume/.test(expected), `qvbrender said "${expected}"`);
    const warning = shown.diagnostics.find((d) => d.severity === 'warning');
    expect(warning?.line === 4 && warning.message === expected && shown.marked === 1, JSON.stringify(shown));
  });

  await check('the editor colours the language, matches its brackets and helps on hover', async () => {
    const song = '#TITLE <colours>\n#CHANNEL 1\n{ a comment }\n#A v12 l8 $ c4. /:2 d e :/ [2 f] <g> r\n';
    const classes = await page.evaluate(async (text) => {
      await window.playground.compile(text, 'colours.qvm');
      const of = (name) => [...document.querySelectorAll(`.cm-content .qvm-${name}`)].map((e) => e.textContent);
      return Object.fromEntries(['directive', 'title', 'comment', 'marker', 'command', 'number', 'loopMark', 'note', 'length', 'loop', 'repeat', 'octave', 'rest']
        .map((name) => [name, of(name)]));
    }, song);
    const want = { directive: ['#TITLE', '#CHANNEL'], marker: ['#A'], command: ['v', 'l'], number: ['1', '12', '8', '2'], note: ['c', 'd', 'e', 'f', 'g'],
      length: ['4.'], loop: ['/:', ':/'], repeat: ['[2', ']'], octave: ['<', '>'], rest: ['r'], loopMark: ['$'] };
    for (const [name, tokens] of Object.entries(want)) {
      expect(JSON.stringify(classes[name]) === JSON.stringify(tokens), `${name}: ${JSON.stringify(classes[name])}, wanted ${JSON.stringify(tokens)}`);
    }
    expect(classes.comment.join('').includes('a comment') && classes.title.join('').includes('colours'), JSON.stringify(classes));
    const matched = await page.evaluate(() => {
      const { view } = window.playground.editor();
      const text = view.state.doc.toString();
      const at = (needle, offset = 0) => {
        view.dispatch({ selection: { anchor: text.indexOf(needle) + offset } });
        return [...document.querySelectorAll('.cm-matchingBracket')].map((e) => e.textContent).join(' ');
      };
      return { loop: at('/:2', 2), repeat: at('[2', 1), comment: at('{ a', 1), octave: at('<g>', 1) };
    });
    expect(JSON.stringify(matched) === JSON.stringify({ loop: '/: :/', repeat: '[ ]', comment: '{ }', octave: '< >' }), `matched ${JSON.stringify(matched)}`);
    const token = await page.$('.cm-content .qvm-command');
    await token.hover();
    const help = await page.waitForSelector('.qvm-help', { timeout: 3000 }).then((e) => e.evaluate((box) => box.textContent));
    expect(/0\.\.15/.test(help) && /Volume/.test(help), `hover help: ${help}`);
    await page.mouse.move(0, 0);
  });

  await check('the editor reads every example, indented or not, and a song typed with indents as the compiler does', async () => {
    // What the compiler and the editor make of a text: its image, and the tokens marked invalid and the markers.
    const read = (text) => page.evaluate(async (source) => {
      const result = await window.playground.compile(source, 'read.qvm');
      const tokens = window.playground.editor().tokens();
      return {
        ok: result.ok,
        message: result.message,
        image: result.ok ? Array.from(result.image).join() : null,
        invalid: tokens.filter((t) => t.kind === 'invalid').map((t) => `${t.line}:${t.text}`),
        markers: tokens.filter((t) => t.kind === 'marker').map((t) => `${t.line}:${t.text}`),
      };
    }, text);
    const indent = (text) => text.replace(/^(?=.)/gm, '  ');
    for (const example of examples) {
      const text = readFileSync(join(args.examples, example), 'utf8');
      const [plain, indented] = [await read(text), await read(indent(text))];
      expect(plain.ok && indented.ok && plain.image === indented.image, `${example} indented: ${indented.message ?? 'another image'}`);
      expect(plain.invalid.length === 0 && indented.invalid.length === 0, `${example}: invalid ${plain.invalid} | indented ${indented.invalid}`);
      expect(plain.markers.length > 0 && plain.markers.join() === indented.markers.join(), `${example}: markers ${plain.markers}, indented ${indented.markers}`);
    }
    // Typed, Enter carries a line's indent to the next.
    await page.evaluate(() => window.playground.compile(''));
    await page.click('.cm-content');
    await page.keyboard.type('#TITLE <typed>\n#CHANNEL 2\n  #A v10 l8 c d\ne f\n#B v8 g\n');
    const typed = await page.evaluate(() => window.playground.text());
    const [got, unindented] = [await read(typed), await read(typed.replace(/^ +/gm, ''))];
    expect(got.ok && got.image === unindented.image, `the typed song: ${got.message ?? 'another image than unindented'}`);
    expect(got.invalid.length === 0 && got.markers.map((m) => m.split(':')[1]).join() === '#A,#B', `typed: invalid ${got.invalid}, markers ${got.markers}`);
  });

  await check('a pasted song is named after its title: messages, downloads and the link', async () => {
    const song = '#TITLE <Pasted Song!>\n#CHANNEL 1\n#A v9 q99 c\n';
    const seen = await page.evaluate(async (text) => {
      await window.playground.openExample('demo.qvm');
      const { view } = window.playground.editor();
      view.focus();
      view.dispatch({ selection: { anchor: 0, head: view.state.doc.length } });
      const data = new DataTransfer();
      data.setData('text/plain', text);
      view.contentDOM.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
      for (let i = 0; i < 100 && !window.playground.messages().join().includes('error'); i++) await new Promise((resolve) => setTimeout(resolve, 20));
      const message = window.playground.messages()[0];
      const pasted = window.playground.text();
      await window.playground.compile(text.replace('q99', 'q9'));
      document.getElementById('wav').click();
      for (let i = 0; i < 200 && !window.playground.lastDownload(); i++) await new Promise((resolve) => setTimeout(resolve, 25));
      document.getElementById('share').click();
      for (let i = 0; i < 100 && !location.hash; i++) await new Promise((resolve) => setTimeout(resolve, 20));
      return { text: pasted, message, name: window.playground.fileName(), wav: window.playground.lastDownload(), link: location.hash };
    }, song);
    expect(seen.text === song, `the editor holds ${JSON.stringify(seen.text.slice(0, 40))}`);
    expect(seen.message?.startsWith('pasted-song.qvm:3:'), `the error says "${seen.message}"`);
    expect(seen.name === 'pasted-song.qvm' && seen.wav === 'pasted-song.wav', JSON.stringify(seen));
    expect(seen.link.includes('name=pasted-song.qvm'), `link ${seen.link}`);
  });

  await check('a song typed over the demo is named after its title, and a small edit keeps the demo\'s name', async () => {
    await page.evaluate(() => window.playground.openExample('demo.qvm'));
    await page.click('.cm-content');
    await page.keyboard.type('c');
    const edited = await page.evaluate(() => window.playground.fileName());
    await page.keyboard.down('Control');
    await page.keyboard.press('a');
    await page.keyboard.up('Control');
    await page.keyboard.type('#TITLE <Typed Over>\n#CHANNEL 1\n#A v9 c');
    const seen = await page.evaluate(async () => {
      const waitFor = async (test) => {
        for (let i = 0; i < 100 && !test(); i++) await new Promise((resolve) => setTimeout(resolve, 20));
      };
      await window.playground.compileNow();
      await waitFor(() => window.playground.messages()[0]?.startsWith('compiled') && !document.getElementById('gb').disabled);
      document.getElementById('gb').click();
      const gb = window.playground.lastDownload();
      const { view } = window.playground.editor();
      view.dispatch({ changes: { from: view.state.doc.length, insert: ' q99' }, userEvent: 'input.type' });
      await waitFor(() => window.playground.messages()[0]?.includes('error'));
      return { gb, message: window.playground.messages()[0] };
    });
    expect(edited === 'demo.qvm', `after a small edit the demo is named ${edited}`);
    expect(seen.gb === 'typed-over.gb' && seen.message?.startsWith('typed-over.qvm:3:'), JSON.stringify(seen));
  });

  await check('a paste that would take the song past 64 MiB is refused and the editor keeps its text', async () => {
    const seen = await page.evaluate(async () => {
      const { view } = window.playground.editor();
      const half = '{ a line of filler }\n'.repeat((33 << 20) / 21);
      view.dispatch({ changes: { from: 0, to: view.state.doc.length, insert: half }, selection: { anchor: half.length } });
      const data = new DataTransfer();
      data.setData('text/plain', half);
      view.contentDOM.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
      const length = view.state.doc.length;
      const status = document.getElementById('status').textContent;
      await window.playground.openExample('demo.qvm');
      return { length, expected: half.length, status };
    });
    expect(seen.length === seen.expected, `the editor holds ${seen.length} characters, not ${seen.expected}`);
    expect(seen.status.includes('not pasted'), `status: ${seen.status}`);
  });

  await check('a binary that is no image is refused and the editor keeps its text', async () => {
    const seen = await page.evaluate(async () => {
      await window.playground.openExample('demo.qvm');
      const before = window.playground.text();
      const result = await window.playground.openFile(new File([new Uint8Array([0, 1, 2, 0xff, 0xfe, 0, 7])], 'junk.bin'));
      return { refused: result.refused, same: window.playground.text() === before, status: document.getElementById('status').textContent };
    });
    expect(seen.refused && seen.same && /junk\.bin is not opened: it is neither a QVB image nor song text/.test(seen.status), JSON.stringify(seen));
  });

  await check('the roll draws every note, the seek bar seeks, the lit notes follow playback', async () => {
    const song = '#TITLE <roll>\n#CHANNEL 2\n#A t120 v9 l8 cdefgab<c\n#B v9 [4 c]\n';
    const file = join(work, 'roll.qvm');
    writeFileSync(file, song);
    const end = Number(/length: [\d.]+ s \((\d+) frames\)/.exec(qvbrender('-o', join(work, 'roll.wav'), file).stderr)?.[1]);
    const seen = await page.evaluate(async (text) => {
      await window.playground.compile(text, 'roll.qvm');
      const survey = await window.playground.currentSurvey();
      return { notes: window.playground.roll().noteCount(), end: survey.endFrame };
    }, song);
    expect(seen.notes === 12, `the roll holds ${seen.notes} notes, the song 12`);
    expect(seen.end === end, `the song ends at ${seen.end}, qvbrender says ${end}`);
    const bar = await page.$('#seek');
    const box = await bar.boundingBox();
    await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
    const landed = await page.evaluate(async () => {
      for (let i = 0; i < 200 && window.playground.seekedAt() < 0; i++) await new Promise((resolve) => setTimeout(resolve, 20));
      return window.playground.seekedAt();
    });
    expect(Math.abs(landed - end / 2) < (end / box.width) * 2, `a click at the middle of ${end} frames landed at ${landed}`);
    // At a few instants, the note lit on channel A is the last one the render's events start before the heard frame.
    const instants = await page.evaluate(async () => {
      await window.playground.seek(20000);
      await window.playground.playOrPause();
      for (let i = 0; i < 200 && window.playground.seekedAt() !== 20000; i++) await new Promise((resolve) => setTimeout(resolve, 20));
      const survey = await window.playground.surveyed();
      const starts = [];
      for (let i = 0; i < survey.events.length; i += 8) if (survey.events[i] === 0 && survey.events[i + 1] === 0) starts.push(survey.events[i + 2]);
      const out = [];
      for (let k = 0; k < 5; k++) {
        await new Promise((resolve) => setTimeout(resolve, 250));
        const frame = window.playground.heardPosition().frame;
        const lit = window.playground.roll().litAt(window.playground.songPlace(frame))[0];
        const expected = starts.filter((f) => f <= frame).pop();
        out.push({ frame, lit: lit?.start, expected, meter: window.playground.meters()[0] });
      }
      window.playground.stop();
      return out;
    });
    expect(instants.every((i) => i.lit === i.expected), JSON.stringify(instants));
    // Channel A plays at v9 without a gate: its meter stands at 9/15.
    expect(instants.every((i) => i.meter === 60), `channel A's meter: ${instants.map((i) => i.meter).join(' ')}`);
    expect(instants[instants.length - 1].frame > instants[0].frame && instants[0].frame >= 20000, JSON.stringify(instants));
  });

  await check('a click on the seek bar moves a stopped song without playing it, and its arrows step 5 s as the song plays on, shown within its length', async () => {
    // A second of intro, then a loop of 8 s.
    const song = '#TITLE <steps>\n#CHANNEL 1\n#A t120 v9 l4 c d $ [4 e f g a]\n';
    const survey = await page.evaluate(async (text) => {
      window.playground.stop();
      await window.playground.compile(text, 'steps.qvm');
      const { introFrame, loopFrames, endFrame } = await window.playground.currentSurvey();
      return { introFrame, loopFrames, endFrame };
    }, song);
    // Where a seek after the one at `before` landed and what the page shows there once it is heard, twice 300 ms apart.
    const landing = (before) => page.evaluate(async (previous) => {
      const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
      for (let i = 0; i < 200 && [-1, previous].includes(window.playground.seekedAt()); i++) await pause(20);
      const at = window.playground.seekedAt();
      for (let i = 0; i < 100 && window.playground.heardPosition().frame !== at; i++) await pause(20);
      await pause(100);
      const shown = () => ({ frame: window.playground.heardPosition().frame, position: document.getElementById('position').textContent });
      const first = shown();
      await pause(300);
      return { at, first, later: shown(), play: document.getElementById('play').textContent };
    }, before);
    const time = (frame) => {
      const ms = Math.floor((frame * 1000) / 44100);
      return `${Math.floor(ms / 60000)}:${((ms % 60000) / 1000).toFixed(3).padStart(6, '0')}`;
    };
    const box = await (await page.$('#seek')).boundingBox();
    const before = await page.evaluate(() => window.playground.seekedAt());
    await page.mouse.click(box.x + box.width * 0.75, box.y + box.height / 2);
    const clicked = await landing(before);
    const at = clicked.at;
    expect(Math.abs(at - 0.75 * survey.endFrame) < survey.endFrame / box.width * 2 && clicked.play === 'Play'
      && clicked.first.frame === at && clicked.later.frame === at && clicked.later.position === time(at), `after a click while stopped: ${JSON.stringify(clicked)}`);
    // On 5 s: past the end, into the loop's second pass, shown where that is in the loop.
    await page.focus('#seek');
    await page.keyboard.press('ArrowRight');
    const on = await landing(at);
    const onAt = at + 5 * 44100;
    const place = survey.introFrame + ((onAt - survey.introFrame) % survey.loopFrames);
    expect(onAt > survey.endFrame && on.at === onAt && on.later.position === time(place),
      `5 s on from ${at}: ${JSON.stringify(on)}, ${JSON.stringify(survey)}`);
    await page.keyboard.press('ArrowLeft');
    const back = await landing(onAt);
    expect(back.at === at && back.later.position === time(at), `5 s back: ${JSON.stringify(back)}, from ${at}`);
    await page.evaluate(() => window.playground.stop());
  });

  await check('a song of 26 channels and 41600 notes: the roll draws only what is in view', async () => {
    const song = bigSong();
    const seen = await page.evaluate(async (text) => {
      await window.playground.compile(text, 'big.qvm');
      await window.playground.currentSurvey();
      await window.playground.seek(44100 * 20);
      await window.playground.playOrPause();
      await new Promise((resolve) => setTimeout(resolve, 1000));
      // A window resized while the song plays.
      window.dispatchEvent(new Event('resize'));
      const roll = window.playground.roll();
      return { notes: roll.noteCount(), drawn: roll.drawn, seconds: roll.seconds() };
    }, song);
    expect(seen.notes === 41600, `the roll holds ${seen.notes} notes`);
    expect(seen.drawn > 0 && seen.drawn < 4000, `the roll drew ${seen.drawn} bars`);
    // Zoomed out twice, by the button and by Ctrl+wheel: four times the song in view.
    await page.click('#zoomOut');
    const canvas = await (await page.$('#rollCanvas')).boundingBox();
    await page.mouse.move(canvas.x + canvas.width / 2, canvas.y + 5);
    await page.keyboard.down('Control');
    await page.mouse.wheel({ deltaY: 100 });
    await page.keyboard.up('Control');
    const wider = await page.evaluate(async () => {
      await new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
      const roll = window.playground.roll();
      const result = { drawn: roll.drawn, seconds: roll.seconds(), shown: document.getElementById('zoomSpan').textContent };
      document.getElementById('zoomIn').click();
      document.getElementById('zoomIn').click();
      window.playground.stop();
      return result;
    });
    expect(wider.seconds === 4 * seen.seconds && wider.shown === `${wider.seconds} s`, `zoomed out: ${JSON.stringify(wider)}, from ${seen.seconds} s`);
    expect(wider.drawn > 3 * seen.drawn && wider.drawn < 5 * seen.drawn, `zoomed out the roll drew ${wider.drawn} bars, before ${seen.drawn}`);
  });

  await check('the roll\'s lanes mute and solo channels', async () => {
    await page.evaluate(async () => {
      await window.playground.openExample('demo.qvm');
      await window.playground.currentSurvey();
    });
    const lane = (i) => `#lanes > div:nth-child(${i + 1}) button`;
    const seen = [];
    await (await page.$$(lane(1)))[1].click(); // S on B
    seen.push(await page.evaluate(() => window.playground.muted()));
    await (await page.$$(lane(1)))[1].click(); // S again: all heard
    await (await page.$$(lane(0)))[0].click(); // M on A
    seen.push(await page.evaluate(() => window.playground.muted()));
    await (await page.$$(lane(0)))[0].click();
    seen.push(await page.evaluate(() => window.playground.muted()));
    expect(JSON.stringify(seen) === JSON.stringify([[0, 2, 3], [0], []]), `muted ${JSON.stringify(seen)}`);
  });

  await check('the roll shows each channel\'s loop mark and numbers every pass of its loops and repeat brackets', async () => {
    const song = '#TITLE <passes>\n#CHANNEL 3\n#A t120 v9 l8 c $ /:3 d e :/ f\n#B t120 v9 l8 /:2 /:2 g :/ a :/ r r\n#C t120 v9 l8 [3 c d | e]\n';
    const seen = await page.evaluate(async (text) => {
      window.playground.stop();
      await window.playground.compile(text, 'passes.qvm');
      const survey = await window.playground.currentSurvey();
      const roll = window.playground.roll();
      roll.draw(0);
      // The first time through: the song's own loop starts once B and C have
      // finished (where A first jumps back), and draws A's passes again.
      const first = (list) => list.filter((p) => (p.from ?? p.frame) < survey.introFrame);
      return { events: Array.from(survey.events), passes: first(roll.drawnPasses), marks: first(roll.drawnMarks) };
    }, song);
    const e = seen.events;
    const of = (channel, kind) => e.flatMap((v, i) => (i % 8 === 0 && v === kind && e[i + 1] === channel ? [e[i + 2]] : []));
    const notesA = of(0, 0);
    const passesA = seen.passes.filter((p) => p.channel === 0);
    expect(JSON.stringify(passesA) === JSON.stringify([1, 3, 5].map((n, k) => ({ channel: 0, pass: k + 1, count: 3, from: notesA[n], bracket: false }))),
      `channel A's passes ${JSON.stringify(passesA)}, its notes start at ${notesA}`);
    // The bracket's copies: c d e c d e c d.
    const notesC = of(2, 0);
    const passesC = seen.passes.filter((p) => p.channel === 2);
    expect(JSON.stringify(passesC) === JSON.stringify([0, 3, 6].map((n, k) => ({ channel: 2, pass: k + 1, count: 3, from: notesC[n], bracket: true }))),
      `channel C's passes ${JSON.stringify(passesC)}, its notes start at ${notesC}`);
    const passesB = seen.passes.filter((p) => p.channel === 1).map((p) => `${p.pass}/${p.count}`).sort();
    expect(JSON.stringify(passesB) === JSON.stringify(['1/2', '1/2', '1/2', '2/2', '2/2', '2/2']), `channel B's passes ${passesB}`);
    const marks = seen.marks.map((m) => `${m.channel}@${m.frame}`);
    expect(marks[0] === `0@${of(0, 2)[0]}` && !marks.some((m) => m.startsWith('1@')), `loop marks drawn ${marks}, A's at ${of(0, 2)}`);
  });

  await check('muting and soloing change the sound the page sends out to the render of the song with those channels silent', async () => {
    const song = '#TITLE <mix>\n#CHANNEL 2\n#A t120 v9 l8 [16 cdefgab<c>]\n#B t120 v9 o3 l4 [16 ceg<c>]\n';
    const reference = {};
    for (const [name, text] of Object.entries({ both: song, onlyA: song.replace('#B t120 v9', '#B t120 v0'), onlyB: song.replace('#A t120 v9', '#A t120 v0') })) {
      writeFileSync(join(work, `${name}.qvm`), text);
      const run = qvbrender('-t', '40', '-o', join(work, `${name}.wav`), join(work, `${name}.qvm`));
      expect(run.status === 0, `qvbrender failed: ${run.stderr}`);
      reference[name] = wavSamples(join(work, `${name}.wav`));
    }
    reference.silence = new Int16Array(reference.both.length);
    await page.evaluate(async (text) => {
      window.playground.stop();
      await window.playground.compile(text, 'mix.qvm');
      await window.playground.currentSurvey();
      await window.playground.playOrPause();
    }, song);
    const press = async (lane, which) => (await page.$$(`#lanes > div:nth-child(${lane + 1}) button`))[which === 'M' ? 0 : 1].click();
    const steps = [
      [[], 'both'], [[[1, 'M']], 'onlyA'], [[[1, 'M'], [0, 'S']], 'onlyA'], [[[1, 'S']], 'onlyB'],
      [[[1, 'S'], [0, 'M'], [1, 'M']], 'silence'], [[[0, 'M'], [1, 'M']], 'both'],
    ];
    for (const [presses, expected] of steps) {
      for (const [lane, which] of presses) await press(lane, which);
      const blocks = await page.evaluate(async () => (await window.playground.captureOutput(8192))
        .map(({ songFrame, left, right }) => ({ songFrame, left: Array.from(left, (v) => v * 32768), right: Array.from(right, (v) => v * 32768) })));
      const want = reference[expected];
      // A mute is heard from the output's next buffer of 2048 frames, as on a sound card.
      const from = Math.ceil(blocks[0].songFrame / 2048) * 2048;
      let compared = 0;
      let sounding = false;
      for (const { songFrame, left, right } of blocks) {
        for (let i = Math.max(0, from - songFrame); i < left.length; i++) {
          const at = 2 * (songFrame + i);
          const got = [left[i], right[i]];
          expect(got[0] === want[at] && got[1] === want[at + 1],
            `after ${JSON.stringify(presses)} frame ${songFrame + i} sounds ${got}, the ${expected} render ${[want[at], want[at + 1]]}`);
          compared++;
          sounding ||= got[0] !== 0;
        }
      }
      expect(compared >= 6144 && sounding === (expected !== 'silence'), `${expected}: ${compared} frames compared`);
    }
    await page.evaluate(() => window.playground.stop());
  });

  await check('while the demo plays the editor lights the note heard on each channel where the survey places it, none after an edit until it is surveyed, none once stopped', async () => {
    const demo = readFileSync(join(args.examples, 'demo.qvm'), 'utf8').split('\n');
    const firstLineOfA = demo.findIndex((line) => line.startsWith('e4 g e d4 c4')) + 1;
    expect(firstLineOfA > 0, 'demo.qvm no longer opens channel A with e4 g e d4 c4');
    const seen = await page.evaluate(async () => {
      window.playground.stop();
      await window.playground.openExample('demo.qvm');
      const survey = await window.playground.currentSurvey();
      await window.playground.playOrPause();
      const samples = [];
      for (let i = 0; i < 60; i++) {
        await new Promise((resolve) => setTimeout(resolve, 37));
        // The marks drawn: every lit letter on a line the editor has drawn.
        const { view } = window.playground.editor();
        const lit = window.playground.lit();
        const drawn = lit.places.filter((p) => view.visibleRanges.some((r) => r.from <= view.state.doc.line(p.line).from && view.state.doc.line(p.line).to <= r.to));
        samples.push({ ...lit, drawn: drawn.length, shown: [...document.querySelectorAll('.cm-content .qvm-lit')].map((e) => e.textContent) });
      }
      // An edit puts the lights out until its text is compiled and surveyed.
      const frames = () => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
      const { view } = window.playground.editor();
      view.dispatch({ changes: { from: view.state.doc.length, insert: ' ' }, userEvent: 'input.type' });
      await frames();
      const edited = window.playground.lit();
      await window.playground.compileNow();
      await window.playground.currentSurvey();
      await frames();
      const resurveyed = window.playground.lit();
      window.playground.stop();
      await frames();
      return { events: Array.from(survey.events), samples, edited, resurveyed, stopped: window.playground.lit(), shownStopped: document.querySelectorAll('.qvm-lit').length };
    });
    // The survey's own answer: on each channel, the last note, rest or end at
    // or before the frame; a note is lit at its line and row.
    const e = seen.events;
    const expected = (frame) => {
      const last = new Map();
      for (let i = 0; i < e.length; i += 8) if (e[i] <= 1 || e[i] === 4) if (e[i + 2] <= frame) last.set(e[i + 1], i);
      return [...last.values()].filter((i) => e[i] === 0).map((i) => `${e[i + 6]}:${e[i + 7]}`).sort().join(' ');
    };
    // Channel A's notes, rests and end: its first note sounds until the next of them.
    const aNotes = [];
    for (let i = 0; i < e.length; i += 8) if ((e[i] <= 1 || e[i] === 4) && e[i + 1] === 0) aNotes.push(i);
    expect(e[aNotes[0]] === 0 && `${e[aNotes[0] + 6]}:${e[aNotes[0] + 7]}` === `${firstLineOfA}:1`,
      `the survey places A's first note at ${e[aNotes[0] + 6]}:${e[aNotes[0] + 7]}`);
    const playing = seen.samples.filter((s) => s.frame >= 0);
    expect(playing.length >= 50, `lit during ${playing.length} of ${seen.samples.length} instants`);
    for (const s of playing) {
      const got = s.places.map((p) => `${p.line}:${p.row}`).sort().join(' ');
      expect(got === expected(s.frame), `at frame ${s.frame} lit ${got}, the survey says ${expected(s.frame)}`);
      expect(s.places.every((p) => /^[a-g]$/.test(p.letter)), `lit ${JSON.stringify(s.places)}`);
      expect(s.shown.every((letter) => /^[a-g]$/.test(letter)) && s.shown.length === s.drawn, `marked ${JSON.stringify(s.shown)} of ${JSON.stringify(s.places)}, ${s.drawn} in view`);
    }
    const inFirstNote = playing.filter((s) => s.frame >= e[aNotes[0] + 2] && s.frame < e[aNotes[1] + 2]);
    expect(inFirstNote.length > 0 && inFirstNote.every((s) => s.places.some((p) => p.line === firstLineOfA && p.row === 1)),
      `during A's first note: ${JSON.stringify(inFirstNote.map((s) => s.places))}`);
    expect(new Set(playing.map((s) => JSON.stringify(s.places))).size > 3, 'the lit notes did not move');
    expect(playing.some((s) => s.shown.length > 0), 'no lit letter was ever in view');
    expect(seen.edited.frame === -1 && seen.edited.places.length === 0, `just after an edit: ${JSON.stringify(seen.edited)}`);
    const again = seen.resurveyed.places.map((p) => `${p.line}:${p.row}`).sort().join(' ');
    expect(seen.resurveyed.frame >= 0 && again === expected(seen.resurveyed.frame), `surveyed again: ${JSON.stringify(seen.resurveyed)}`);
    expect(seen.stopped.frame === -1 && seen.stopped.places.length === 0 && seen.shownStopped === 0, `stopped: ${JSON.stringify(seen.stopped)}`);
  });

  await check('an A-B section plays again and again', async () => {
    const frames = await page.evaluate(async () => {
      await window.playground.compile('#TITLE <ab>\n#CHANNEL 1\n#A t120 v9 l8 [8 cdefgab<c>]\n', 'ab.qvm');
      window.playground.setSection(22050, 44100);
      await window.playground.seek(30000);
      await window.playground.playOrPause();
      for (let i = 0; i < 200 && window.playground.seekedAt() !== 30000; i++) await new Promise((resolve) => setTimeout(resolve, 20));
      const seen = [];
      for (let i = 0; i < 30; i++) {
        await new Promise((resolve) => setTimeout(resolve, 50));
        seen.push(Math.round(window.playground.heardPosition().frame));
      }
      window.playground.stop();
      window.playground.setSection();
      return seen;
    });
    expect(frames.every((f) => f >= 22050 && f <= 44100 + 4096), `heard ${frames.join(' ')}`);
    expect(frames.some((f, i) => i > 0 && f < frames[i - 1]), `the section did not start again: ${frames.join(' ')}`);
  });

  await check('the source is kept across a reload', async () => {
    const song = '#TITLE <kept>\n#CHANNEL 1\n#A v9 c d e\n';
    await page.evaluate((text) => window.playground.compile(text), song);
    await new Promise((resolve) => setTimeout(resolve, 500));
    await page.goto(url, { waitUntil: 'load' });
    await page.evaluate(() => window.playground.ready);
    const text = await page.evaluate(() => window.playground.text());
    expect(text === song, `after a reload the editor holds ${JSON.stringify(text.slice(0, 40))}`);
  });

  // The window changes width while the song plays.
  await page.evaluate(() => window.playground.openExample('demo.qvm').then(() => window.playground.playOrPause()));
  for (const [name, width, height] of [['wide', 1280, 800], ['narrow', 420, 800], ['phone', 360, 740]]) {
    const narrow = width <= 760; // the phone layout
    await check(`a ${width} px window shows every control, none covering another${narrow ? ', each a finger\'s height, and the song without a sideways scroll' : ''}`, async () => {
      await page.setViewport({ width, height });
      await page.evaluate(async () => {
        await window.playground.openExample('demo.qvm');
        await window.playground.currentSurvey();
      });
      await new Promise((resolve) => setTimeout(resolve, 300));
      const boxes = await page.evaluate(() => ['status', 'share', 'examples', 'open', 'editor', 'messages', 'play', 'stop', 'seek', 'position', 'markA', 'markB', 'zoomOut', 'zoomIn', 'roll', 'qvb', 'wav']
        .map((id) => {
          const r = document.getElementById(id).getBoundingClientRect();
          return { id, x: r.left, y: r.top + window.scrollY, w: r.width, h: r.height };
        }));
      for (const b of boxes) expect(b.w > 0 && b.h > 0 && b.x >= 0 && b.x + b.w <= width + 0.5, `${b.id} is at ${JSON.stringify(b)}`);
      const inside = (a, b) => a.x >= b.x && a.y >= b.y && a.x + a.w <= b.x + b.w && a.y + a.h <= b.y + b.h;
      for (const a of boxes) {
        for (const b of boxes) {
          if (a === b || inside(a, b) || inside(b, a)) continue;
          const overlap = a.x < b.x + b.w - 0.5 && b.x < a.x + a.w - 0.5 && a.y < b.y + b.h - 0.5 && b.y < a.y + a.h - 0.5;
          expect(!overlap, `${a.id} ${JSON.stringify(a)} and ${b.id} ${JSON.stringify(b)} overlap`);
        }
      }
      if (narrow) {
        const seen = await page.evaluate(() => ({
          low: [...document.querySelectorAll('header button, header select, header input, aside button, aside input, #transport button, #seek')]
            .filter((e) => e.getBoundingClientRect().height < 44).map((e) => `${e.id || e.textContent}: ${e.getBoundingClientRect().height}`),
          page: document.documentElement.scrollWidth,
          text: Math.max(...[...document.querySelectorAll('#editor .cm-line')].map((e) => e.getBoundingClientRect().right)),
        }));
        expect(seen.low.length === 0, `under 44 px: ${seen.low.join(', ')}`);
        expect(seen.page <= width && seen.text <= width, `the page is ${seen.page} px wide, the editor's text ${seen.text} px`);
      }
      if (args.screenshots) await page.screenshot({ path: join(args.screenshots, `${name}.png`), fullPage: true });
    });
  }
  await page.evaluate(() => window.playground.stop());
  await page.setViewport({ width: 1280, height: 800 });

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
      const source = window.playground.text().replace('t112', 't120');
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
      await page.goto('about:blank'); // else only the fragment changes, and the page may not have read it yet
      await page.goto(`${url}#${fragment}`, { waitUntil: 'load' });
      await page.evaluate(() => window.playground.ready);
      seen[name] = (await page.evaluate(() => window.playground.messages())).join(' | ');
    }
    expect(/larger than 1048576 bytes/.test(seen.huge), `huge link: ${seen.huge}`);
    expect(/^faulty\.qvm:3:\d+: error -513 ERR_GATE/.test(seen.faulty), `faulty link: ${seen.faulty}`);
  });

  await check('a link that inflates far past the limit is refused before it is read to its end', async () => {
    const { fed, packed, message } = await page.evaluate(async () => {
      const { encodeSong, decodeSong } = await import('./share.js');
      const fragment = await encodeSong(new Uint8Array(64 << 20).fill(32), 'bomb.qvm');
      const packed = fragment.length - fragment.indexOf('&song=') - 6;
      try {
        await decodeSong(fragment);
        return { packed };
      } catch (error) {
        return { fed: error.fed, packed: packed * 3 / 4, message: error.message };
      }
    });
    expect(/larger than 1048576 bytes/.test(message), `message: ${message}`);
    expect(fed < packed / 8, `${fed} of the link's ${packed} bytes inflated before the refusal`);
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
    const value = await other.evaluate(() => window.playground.text());
    await other.close();
    expect(value === text, `the link gave back ${JSON.stringify(value.slice(0, 40))}`);
  });

  if (args.figures) {
    const started = Date.now();
    await page.goto(url, { waitUntil: 'load' });
    await page.evaluate(async () => {
      await window.playground.ready;
      await window.playground.openExample('demo.qvm');
      await window.playground.playOrPause();
      while (window.playground.heardPosition().frame <= 0) await new Promise((resolve) => setTimeout(resolve, 5));
    });
    figures.firstSound = Date.now() - started;
    await new Promise((resolve) => setTimeout(resolve, 2500));
    figures.fps = await page.evaluate(() => window.playground.fps());
    await page.evaluate(() => window.playground.stop());
    // Typing: one character at a time, each followed by its compile.
    figures.typing = await page.evaluate(async () => {
      const { view } = window.playground.editor();
      const times = [];
      for (let i = 0; i < 20; i++) {
        const at = view.state.doc.length;
        view.dispatch({ changes: { from: at, insert: i % 2 ? ' ' : 'c' }, userEvent: 'input.type' });
        const started = performance.now();
        await window.playground.compileNow();
        times.push(performance.now() - started);
      }
      times.sort((a, b) => a - b);
      return { median: times[10], worst: times[19] };
    });
    // The big song, at the roll's first span and at its widest.
    figures.bigFps = await page.evaluate(async (text) => {
      await window.playground.compile(text, 'big.qvm');
      await window.playground.currentSurvey();
      const fps = [];
      for (const steps of [0, -3]) {
        window.playground.roll().zoomBy(steps);
        await window.playground.seek(44100 * 30);
        await window.playground.playOrPause();
        await new Promise((resolve) => setTimeout(resolve, 2500));
        fps.push(window.playground.fps());
        window.playground.stop();
      }
      window.playground.roll().zoomBy(3);
      return fps;
    }, bigSong());
    figures.render60 = await page.evaluate(async () => (await window.playground.renderWav({ seconds: 60 })).renderMs);
    const { gzipSync } = await import('node:zlib');
    figures.compressed = ['index.html', 'app.js', 'style.css', 'core.js', 'share.js', 'compile_worker.js', 'player_worklet.js', 'qvb_core.wasm', 'examples/index.json', 'examples/demo.qvm']
      .reduce((sum, file) => sum + gzipSync(readFileSync(join(args.site, file))).length, 0);
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
  console.log(`page weight compressed (gzip): ${figures.compressed} bytes`);
  console.log(`load to the demo's first sound: ${figures.firstSound} ms`);
  console.log(`compile while typing, round trip: median ${figures.typing?.median.toFixed(1)} ms, worst ${figures.typing?.worst.toFixed(1)} ms`);
  console.log(`drawing while playing at 1280x800: ${figures.fps?.toFixed(1)} frames a second`);
  console.log(`the same, 26 channels of 1600 notes: ${figures.bigFps?.map((f) => f.toFixed(1)).join(' at 6 s across, ')} at 48 s across`);
}
const passed = results.filter(Boolean).length;
console.log(`${passed} passed, ${results.length - passed} failed`);
process.exit(passed === results.length ? 0 : 1);
