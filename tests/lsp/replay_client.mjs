// A second client for qvblsp, on vscode-jsonrpc (the library under VS Code's
// language client): starts the server, replays the steps of a recorded
// session and checks every answer and every publishDiagnostics against it.
//   node replay_client.mjs QVBLSP SESSION.json NODE_MODULES
// Exits 0 when all matched, 1 with the first mismatch, 77 (skipped) when
// NODE_MODULES lacks vscode-jsonrpc.
//
// A step is {"request": METHOD, "params": ..., "expect": ...},
// {"notify": METHOD, "params": ..., "diagnostics": [...]} (the diagnostics
// published for the step's document after it), or {"exit": STATUS} (the
// exit notification and the status the server must end with). A "text"
// given as a list of lines is sent joined with "\n". An expectation matches
// when its objects' keys match (other keys may be there), its lists match
// element by element at the same length, and its other values are equal;
// {"$includes": [...]} matches a text holding each of the strings, and
// {"$some": [...]} a list holding a match for each expectation.
import { spawn } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';

const [server, sessionFile, modules] = process.argv.slice(2);
if (!server || !sessionFile || !modules) {
  console.error('usage: node replay_client.mjs QVBLSP SESSION.json NODE_MODULES');
  process.exit(2);
}
let rpc;
try {
  rpc = createRequire(path.join(path.resolve(modules), 'index.js'))('vscode-jsonrpc/node');
} catch {
  console.log(`vscode-jsonrpc is not installed in ${modules} (build qvbp_vscode_modules): skipped`);
  process.exit(77);
}

const WAIT_MS = 20000;
const session = JSON.parse(readFileSync(sessionFile, 'utf8'));

// Where the actual value differs from the expectation, or null.
function mismatch(expected, actual, where) {
  if (expected !== null && typeof expected === 'object' && !Array.isArray(expected)) {
    if ('$includes' in expected) {
      if (typeof actual !== 'string') return `${where}: ${JSON.stringify(actual)} is no text`;
      const lacking = expected.$includes.filter((s) => !actual.includes(s));
      return lacking.length ? `${where}: ${JSON.stringify(actual)} lacks ${JSON.stringify(lacking)}` : null;
    }
    if ('$some' in expected) {
      if (!Array.isArray(actual)) return `${where}: ${JSON.stringify(actual)} is no list`;
      for (const e of expected.$some) {
        if (!actual.some((a) => mismatch(e, a, where) === null)) return `${where}: no element matches ${JSON.stringify(e)}`;
      }
      return null;
    }
    if (actual === null || typeof actual !== 'object' || Array.isArray(actual)) {
      return `${where}: ${JSON.stringify(actual)} where an object was expected`;
    }
    for (const key of Object.keys(expected)) {
      const m = mismatch(expected[key], actual[key], `${where}.${key}`);
      if (m) return m;
    }
    return null;
  }
  if (Array.isArray(expected)) {
    if (!Array.isArray(actual)) return `${where}: ${JSON.stringify(actual)} where a list was expected`;
    if (actual.length !== expected.length) {
      return `${where}: ${actual.length} elements, not ${expected.length}: ${JSON.stringify(actual)}`;
    }
    for (let i = 0; i < expected.length; i++) {
      const m = mismatch(expected[i], actual[i], `${where}[${i}]`);
      if (m) return m;
    }
    return null;
  }
  return expected === actual ? null : `${where}: ${JSON.stringify(actual)}, not ${JSON.stringify(expected)}`;
}

function withText(params) {
  const copy = structuredClone(params ?? {});
  for (const holder of [copy.textDocument, ...(copy.contentChanges ?? [])]) {
    if (holder && Array.isArray(holder.text)) holder.text = holder.text.join('\n');
  }
  return copy;
}

function timeout(what) {
  return new Promise((_, reject) => setTimeout(() => reject(new Error(`no ${what} within ${WAIT_MS} ms`)), WAIT_MS).unref());
}

const child = spawn(server, [], { stdio: ['pipe', 'pipe', 'inherit'] });
const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve(signal ?? code)));
child.on('error', (error) => {
  console.error(`replay_client: ${server} did not start: ${error.message}`);
  process.exit(1);
});
const connection = rpc.createMessageConnection(new rpc.StreamMessageReader(child.stdout),
  new rpc.StreamMessageWriter(child.stdin));

// Each publishDiagnostics, in arrival order, until a step takes it.
const published = [];
let wake = () => {};
connection.onNotification('textDocument/publishDiagnostics', (params) => {
  published.push(params);
  wake();
});
connection.onNotification((method) => published.push({ unexpected: method }));
connection.listen();

async function nextDiagnostics(uri) {
  const arrived = async () => {
    while (published.length === 0) await new Promise((resolve) => { wake = resolve; });
    return published.shift();
  };
  const got = await Promise.race([arrived(), timeout(`publishDiagnostics for ${uri}`)]);
  if (got.unexpected) throw new Error(`an unexpected notification ${got.unexpected} arrived`);
  if (got.uri !== uri) throw new Error(`diagnostics arrived for ${got.uri}, not ${uri}`);
  return got.diagnostics;
}

async function step(s, n) {
  const name = `step ${n} (${s.request ?? s.notify ?? 'exit'})`;
  if (s.request) {
    let answer;
    try {
      answer = { result: await Promise.race([connection.sendRequest(s.request, withText(s.params)), timeout('answer')]) };
    } catch (error) {
      if (!(error instanceof rpc.ResponseError)) throw new Error(`${name}: ${error.message}`);
      answer = { error: { code: error.code, message: error.message } };
    }
    const m = mismatch(s.expect, answer, 'answer');
    if (m) throw new Error(`${name}: ${m}`);
  } else if (s.notify) {
    await connection.sendNotification(s.notify, withText(s.params));
    if (s.diagnostics) {
      const got = await nextDiagnostics(s.params.textDocument.uri);
      const m = mismatch(s.diagnostics, got, 'diagnostics');
      if (m) throw new Error(`${name}: ${m}`);
    }
  } else if ('exit' in s) {
    await connection.sendNotification('exit');
    const status = await Promise.race([exited, timeout('end of the server')]);
    if (status !== s.exit) throw new Error(`${name}: the server ended with ${status}, not ${s.exit}`);
  }
}

try {
  for (const [n, s] of session.steps.entries()) await step(s, n + 1);
  // Give stray notifications a moment to arrive before the last check.
  await new Promise((resolve) => setTimeout(resolve, 100));
  if (published.length) throw new Error(`notifications nobody expected: ${JSON.stringify(published)}`);
  console.log(`replay_client: all ${session.steps.length} steps of ${path.basename(sessionFile)} matched`);
  connection.dispose();
  process.exit(0);
} catch (error) {
  console.error(`replay_client: ${error.message}`);
  child.kill();
  process.exit(1);
}
