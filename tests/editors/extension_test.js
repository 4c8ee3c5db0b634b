// The VS Code extension's own part, run in node with stand-ins for the
// editor (vscode) and the language client: each contributed command is
// registered and sends its workspace/executeCommand with the song's URI,
// the cursor or the selection; a qvb/heard notification lights its notes on
// the song's editor only, and one without notes, or QVB: Stop, clears them.
//   node extension_test.js EXTENSION_DIR
'use strict';
const assert = require('node:assert/strict');
const Module = require('node:module');
const path = require('node:path');

const dir = process.argv[2];
const sent = [];
const shown = [];
let client;

class FakeClient {
  constructor(id, name, server, options) {
    client = this;
    Object.assign(this, { id, server, options, handlers: {} });
    this.code2ProtocolConverter = {
      asUri: (uri) => uri.toString(),
      asPosition: (p) => ({ line: p.line, character: p.character }),
      asRange: (r) => ({ start: this.code2ProtocolConverter.asPosition(r.start), end: this.code2ProtocolConverter.asPosition(r.end) }),
    };
    this.protocol2CodeConverter = { asUri: (s) => ({ toString: () => s }), asRange: (r) => ({ converted: r }) };
  }
  onNotification(method, handler) { this.handlers[method] = handler; }
  start() { return Promise.resolve(); }
  stop() { return Promise.resolve(); }
  isRunning() { return true; }
  sendRequest(type, params) { sent.push({ method: type.method, params }); return Promise.resolve(null); }
}

const song = 'file:///songs/s.qvm';
const at = (line, character) => ({ line, character });
const editor = (uri) => ({
  document: { uri: { toString: () => uri }, languageId: 'qvm' },
  selection: { active: at(2, 17), start: at(2, 15), end: at(2, 17), isEmpty: false },
  lit: undefined,
  setDecorations(type, ranges) { this.lit = { type, ranges }; },
});
const songEditor = editor(song);
const otherEditor = editor('file:///songs/other.qvm');
const commands = {};
const disposable = { dispose() {} };
const vscode = {
  ThemeColor: class { constructor(id) { this.id = id; } },
  workspace: { getConfiguration: () => ({ get: (key) => (key === 'serverPath' ? '/opt/qvblsp' : undefined) }),
    onDidChangeConfiguration: () => disposable },
  window: {
    activeTextEditor: songEditor,
    visibleTextEditors: [songEditor, otherEditor],
    createTextEditorDecorationType: (options) => ({ options, dispose() {} }),
    onDidChangeVisibleTextEditors: () => disposable,
    showErrorMessage: (text) => shown.push(text),
    showInformationMessage: (text) => shown.push(text),
  },
  commands: { registerCommand: (id, fn) => { commands[id] = fn; return disposable; } },
};
const languageClient = { LanguageClient: FakeClient, TransportKind: { stdio: 0 },
  ExecuteCommandRequest: { type: { method: 'workspace/executeCommand' } } };
const load = Module._load;
Module._load = function (request, ...rest) {
  if (request === 'vscode') return vscode;
  if (request === 'vscode-languageclient/node') return languageClient;
  return load.call(this, request, ...rest);
};

async function main() {
  const extension = require(path.resolve(dir, 'extension.js'));
  const manifest = require(path.resolve(dir, 'package.json'));
  await extension.activate({ subscriptions: [] });

  assert.deepEqual(client.server.run, { command: '/opt/qvblsp', transport: 0 }, 'the server is qvbp.serverPath over stdio');
  assert.deepEqual(client.options.documentSelector, [{ language: 'qvm' }]);
  assert.deepEqual(Object.keys(commands).sort(), manifest.contributes.commands.map((c) => c.command).sort(),
    'the registered commands are the contributed ones');

  await commands['qvbp.play']();
  await commands['qvbp.playFrom']();
  await commands['qvbp.playSelection']();
  const request = (command, args) => ({ method: 'workspace/executeCommand', params: { command, arguments: args } });
  assert.deepEqual(sent, [
    request('qvb.play', [song]),
    request('qvb.playFrom', [song, at(2, 17)]),
    request('qvb.playSelection', [song, { start: at(2, 15), end: at(2, 17) }]),
  ]);

  const heard = client.handlers['qvb/heard'];
  const range = { start: at(2, 15), end: at(2, 17) };
  heard({ uri: song, frame: 12, seconds: 0.2, notes: [{ channel: 'A', range }] });
  assert.deepEqual(songEditor.lit.ranges, [{ range: { converted: range }, hoverMessage: 'channel A' }]);
  assert.equal(otherEditor.lit, undefined, 'the notes of one song light no other editor');
  heard({ uri: song, frame: 13, seconds: 0.21, notes: [] });
  assert.deepEqual(songEditor.lit.ranges, [], 'a notification without notes clears them');

  heard({ uri: song, frame: 14, seconds: 0.22, notes: [{ channel: 'B', range }] });
  sent.length = 0;
  await commands['qvbp.stop']();
  assert.deepEqual(sent, [request('qvb.stop', [])]);
  assert.deepEqual(songEditor.lit.ranges, [], 'QVB: Stop clears the notes');

  songEditor.selection = { ...songEditor.selection, isEmpty: true };
  sent.length = 0;
  await commands['qvbp.playSelection']();
  assert.deepEqual(sent, [], 'an empty selection is not sent');
  assert.equal(shown.length, 1);
  console.log('extension_test: the commands and the heard notes work as meant');
}

main().catch((error) => {
  console.error(`extension_test: ${error.message}`);
  process.exit(1);
});
