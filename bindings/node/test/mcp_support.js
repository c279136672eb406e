'use strict';
// What the tool server's tests share: temporary folders on the real disk, the
// server started through the SDK's client, and a raw session that speaks the
// protocol over the server's pipes byte for byte (so that a test sees every
// reply as sent, its size, its log, and can send what no client would).
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const { Client } = require('@modelcontextprotocol/sdk/client/index.js');
const { StdioClientTransport } = require('@modelcontextprotocol/sdk/client/stdio.js');

const main = path.join(__dirname, '..', 'mcp', 'main.js');

function tempDir(prefix) {
  return fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), prefix)));
}

function writeTree(dir, files) {
  for (const [name, data] of Object.entries(files)) {
    fs.mkdirSync(path.dirname(path.join(dir, name)), { recursive: true });
    fs.writeFileSync(path.join(dir, name), data);
  }
}

/** The server started as an assistant starts it, with the SDK's client; its log in `stderr()`. */
async function startServer(args) {
  const transport = new StdioClientTransport({
    command: process.execPath, args: [main, ...args], env: { ...process.env }, stderr: 'pipe',
  });
  let log = '';
  transport.stderr.on('data', (d) => { log += d; });
  const client = new Client({ name: 'quenmar-grep-test', version: '1.0.0' });
  await client.connect(transport);
  client.stderr = () => log;
  return client;
}

/** The text of a tool result, and whether it is an error. */
async function call(client, name, args, options) {
  const result = await client.callTool({ name, arguments: args }, undefined, options);
  return { text: result.content.map((c) => c.text).join(''), isError: result.isError === true,
    structured: result.structuredContent };
}

const VERSION_LINE = /\n?\(Version [0-9a-f]{64}: give it as expected_version to an edit to make sure the file is still as read\.\)$/;

/** A read_lines text without its closing version line; throws when the line is missing. */
function withoutVersion(text) {
  if (!VERSION_LINE.test(text)) throw new Error(`no version line in: ${text.slice(-300)}`);
  return text.replace(VERSION_LINE, '');
}

/** The server on raw pipes: messages written as given, replies read line by line. */
class RawSession {
  constructor(args) {
    this.child = spawn(process.execPath, [main, ...args], { stdio: ['pipe', 'pipe', 'pipe'] });
    this.replies = [];  // { message, bytes } in arrival order
    this.waiters = [];
    this.log = '';
    this.nextId = 1;
    let partial = '';
    this.child.stdout.setEncoding('utf8');
    this.child.stdout.on('data', (chunk) => {
      partial += chunk;
      let at;
      while ((at = partial.indexOf('\n')) >= 0) {
        const line = partial.slice(0, at);
        partial = partial.slice(at + 1);
        this.replies.push({ message: JSON.parse(line), bytes: Buffer.byteLength(line) });
        this.wake();
      }
    });
    this.child.stderr.on('data', (d) => { this.log += d; });
    this.exited = new Promise((resolve) => this.child.on('exit', (code, signal) => resolve({ code, signal })));
    this.child.stdin.on('error', () => {});
  }

  wake() {
    for (const w of [...this.waiters]) {
      const found = this.replies.find((r) => r.message.id === w.id);
      if (found !== undefined) {
        this.waiters.splice(this.waiters.indexOf(w), 1);
        w.resolve(found);
      }
    }
  }

  /** Writes a message (an object as one JSON line, or a text as it is). */
  send(message) {
    this.child.stdin.write(typeof message === 'string' ? message : `${JSON.stringify(message)}\n`);
  }

  /** The reply with `id`, once it arrives. */
  reply(id) {
    return new Promise((resolve) => {
      this.waiters.push({ id, resolve });
      this.wake();
    });
  }

  /** Sends a request and resolves to its reply ({ message, bytes }). */
  request(method, params) {
    const id = this.nextId++;
    this.send({ jsonrpc: '2.0', id, method, params });
    return this.reply(id);
  }

  async initialize() {
    await this.request('initialize', { protocolVersion: '2025-06-18', capabilities: {},
      clientInfo: { name: 'raw', version: '1' } });
    this.send({ jsonrpc: '2.0', method: 'notifications/initialized' });
  }

  /** A tool call as { text, isError, structured, bytes }, or { error } for a protocol error. */
  async call(name, args) {
    const { message, bytes } = await this.request('tools/call', { name, arguments: args });
    if (message.error) return { error: message.error, bytes };
    const r = message.result;
    return { text: r.content.map((c) => c.text).join(''), isError: r.isError === true,
      structured: r.structuredContent, bytes };
  }

  async close() {
    this.child.stdin.end();
    return this.exited;
  }
}

module.exports = { RawSession, call, main, startServer, tempDir, withoutVersion, writeTree };
