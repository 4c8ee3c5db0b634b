#!/bin/sh
# The packed VS Code extension holds its manifest (the name, the project's
# version, activation on the qvm language, the four play commands) and its
# script with the language client beside it. Skipped (77) without unzip.
#   vsix_contents_test.sh VSIX NAME VERSION NODE
vsix=$1 name=$2 version=$3 node=$4
command -v unzip >/dev/null 2>&1 || { echo "unzip is not installed: skipped"; exit 77; }
[ -f "$vsix" ] || { echo "no $vsix: build the target qvbp_vscode"; exit 1; }
files=$(unzip -Z1 "$vsix") || exit 1
for f in extension/extension.js extension/package.json extension/node_modules/vscode-languageclient/node.js; do
  printf '%s\n' "$files" | grep -qx "$f" || { echo "$vsix lacks $f"; exit 1; }
done
unzip -p "$vsix" extension/package.json | "$node" -e '
const [name, version] = process.argv.slice(1);
const m = JSON.parse(require("fs").readFileSync(0, "utf8"));
const fail = (why) => { console.error("extension/package.json: " + why); process.exit(1); };
if (m.name !== name) fail(`name ${m.name}, not ${name}`);
if (m.version !== version) fail(`version ${m.version}, not the project version ${version}`);
if (!(m.activationEvents || []).includes("onLanguage:qvm")) fail("no activation on the qvm language");
if (!m.contributes.languages.some((l) => l.id === "qvm" && l.extensions.includes(".qvm"))) fail("no qvm language for .qvm");
const titles = Object.fromEntries(m.contributes.commands.map((c) => [c.command, `${c.category}: ${c.title}`]));
const want = { "qvbp.play": "QVB: Play", "qvbp.playFrom": "QVB: Play from Cursor",
  "qvbp.playSelection": "QVB: Play Selection in a Loop", "qvbp.stop": "QVB: Stop" };
for (const [id, title] of Object.entries(want)) if (titles[id] !== title) fail(`${id} is titled ${titles[id]}, not ${title}`);
if (m.contributes.configuration.properties["qvbp.serverPath"].default !== "qvblsp") fail("qvbp.serverPath is not qvblsp");
' "$name" "$version"
