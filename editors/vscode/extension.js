// The QVM songs extension: starts qvblsp over stdio for the .qvm songs,
// sends the play commands to it, and lights the notes it says are heard
// (the qvb/heard notification) until playback stops.
'use strict';
const vscode = require('vscode');
const { LanguageClient, TransportKind, ExecuteCommandRequest } = require('vscode-languageclient/node');

let client;
let heard; // the decoration of the notes heard now
let lit = new Set(); // the editors it is set on

function startClient() {
  const command = vscode.workspace.getConfiguration('qvbp').get('serverPath') || 'qvblsp';
  const server = { command, transport: TransportKind.stdio };
  client = new LanguageClient('qvblsp', 'QVM songs (qvblsp)', { run: server, debug: server },
    { documentSelector: [{ language: 'qvm' }] });
  client.onNotification('qvb/heard', showHeard);
  return client.start().catch((error) => {
    vscode.window.showErrorMessage(`qvblsp did not start (${command}): ${error.message || error}. ` +
      'Set qvbp.serverPath to its full path.');
  });
}

async function stopClient() {
  clearHeard();
  if (!client) return;
  const stopping = client;
  client = undefined;
  if (stopping.isRunning()) await stopping.stop();
}

function clearHeard() {
  for (const editor of lit) editor.setDecorations(heard, []);
  lit = new Set();
}

// {uri, frame, seconds, notes: [{channel, range}]}: no notes clears the light.
function showHeard(params) {
  clearHeard();
  const notes = params && Array.isArray(params.notes) ? params.notes : [];
  if (notes.length === 0) return;
  const uri = client.protocol2CodeConverter.asUri(params.uri).toString();
  const ranges = notes.map((note) => ({
    range: client.protocol2CodeConverter.asRange(note.range),
    hoverMessage: `channel ${note.channel}`,
  }));
  for (const editor of vscode.window.visibleTextEditors) {
    if (editor.document.uri.toString() !== uri) continue;
    editor.setDecorations(heard, ranges);
    lit.add(editor);
  }
}

async function send(command, args) {
  if (!client || !client.isRunning()) {
    vscode.window.showErrorMessage('qvblsp is not running: set qvbp.serverPath and open a .qvm song.');
    return;
  }
  try {
    await client.sendRequest(ExecuteCommandRequest.type, { command, arguments: args });
  } catch (error) {
    vscode.window.showErrorMessage(`${command}: ${error.message || error}`);
  }
}

// The song in the active editor, or undefined with a message.
function songEditor() {
  const editor = vscode.window.activeTextEditor;
  if (!editor || editor.document.languageId !== 'qvm') {
    vscode.window.showInformationMessage('Open a .qvm song to play it.');
    return undefined;
  }
  return editor;
}

function activate(context) {
  heard = vscode.window.createTextEditorDecorationType({
    backgroundColor: new vscode.ThemeColor('editor.wordHighlightStrongBackground'),
    borderColor: new vscode.ThemeColor('editorCursor.foreground'),
    borderStyle: 'solid',
    borderWidth: '0 0 2px 0',
  });
  const c2p = () => client.code2ProtocolConverter;
  context.subscriptions.push(
    heard,
    vscode.commands.registerCommand('qvbp.play', () => {
      const editor = songEditor();
      if (editor) return send('qvb.play', [c2p().asUri(editor.document.uri)]);
    }),
    vscode.commands.registerCommand('qvbp.playFrom', () => {
      const editor = songEditor();
      if (editor) return send('qvb.playFrom', [c2p().asUri(editor.document.uri), c2p().asPosition(editor.selection.active)]);
    }),
    vscode.commands.registerCommand('qvbp.playSelection', () => {
      const editor = songEditor();
      if (!editor) return undefined;
      if (editor.selection.isEmpty) {
        vscode.window.showInformationMessage('Select the part of the song to play in a loop.');
        return undefined;
      }
      return send('qvb.playSelection', [c2p().asUri(editor.document.uri), c2p().asRange(editor.selection)]);
    }),
    vscode.commands.registerCommand('qvbp.stop', async () => {
      clearHeard();
      if (client && client.isRunning()) await send('qvb.stop', []);
    }),
    vscode.window.onDidChangeVisibleTextEditors(() => {
      lit = new Set([...lit].filter((editor) => vscode.window.visibleTextEditors.includes(editor)));
    }),
    vscode.workspace.onDidChangeConfiguration(async (event) => {
      if (!event.affectsConfiguration('qvbp.serverPath')) return;
      await stopClient();
      await startClient();
    }),
  );
  return startClient();
}

function deactivate() {
  return stopClient();
}

module.exports = { activate, deactivate };
