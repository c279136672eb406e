'use strict';
// The generated batches of tests/support/edit_model.py (the same ones the
// library's own batch_model_test runs) through the tool server's batch_edit,
// driven by the SDK's client: each gives exactly the model's file (every line
// number counting the file as read, every line end kept) or fails whole with
// the file untouched. Cases the tool's schema cannot express (line numbers
// below 1, a start line of 0) and those without exact line ends are left out.
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const { Client } = require('@modelcontextprotocol/sdk/client/index.js');
const { StdioClientTransport } = require('@modelcontextprotocol/sdk/client/stdio.js');

const main = path.join(__dirname, '..', 'mcp', 'main.js');
const model = path.join(__dirname, '..', '..', '..', 'tests', 'support', 'edit_model.py');

function generatedCases() {
  const run = spawnSync('python3', [model, 'generate', '25', '5000'], { encoding: 'utf8',
    maxBuffer: 64 * 1024 * 1024 });
  assert.strictEqual(run.status, 0, run.stderr);
  return run.stdout.split('\n').filter((line) => line !== '').map((line) => JSON.parse(line));
}

// True when the tool's schema takes every edit of the case as it stands.
function serverTakes(c) {
  return c.exact && c.edits.every((e) => e.old_text !== undefined ||
    (e.start_line >= 1 && e.end_line >= 0 && e.end_line <= 2147483647));
}

test('generated batches through batch_edit give the model\'s file or fail whole', async () => {
  const root = fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), 'qg-mcp-model-')));
  const file = path.join(root, 'f.txt');
  const transport = new StdioClientTransport({
    command: process.execPath, args: [main, root], env: { ...process.env }, stderr: 'pipe',
  });
  const client = new Client({ name: 'quenmar-grep-model-test', version: '1.0.0' });
  await client.connect(transport);
  const seen = { ok: 0, failed: 0 };
  try {
    for (const c of generatedCases().filter(serverTakes)) {
      const original = Buffer.from(c.file, 'hex');
      fs.writeFileSync(file, original);
      const edits = c.edits.map((e) => ({ path: 'f.txt', ...e }));
      const result = await client.callTool({ name: 'batch_edit', arguments: { edits } });
      const text = result.content.map((part) => part.text).join('');
      const shown = `${JSON.stringify(c)}\n${text}`;
      if (c.expect.ok) {
        seen.ok += 1;
        assert.notStrictEqual(result.isError, true, shown);
        assert.deepStrictEqual(fs.readFileSync(file), Buffer.from(c.expect.result, 'hex'), shown);
      } else {
        seen.failed += 1;
        assert.strictEqual(result.isError, true, shown);
        assert.deepStrictEqual(fs.readFileSync(file), original, shown);
      }
    }
  } finally {
    await client.close();
    fs.rmSync(root, { recursive: true, force: true });
  }
  assert.ok(seen.ok > 250 && seen.failed > 250, JSON.stringify(seen));
});
