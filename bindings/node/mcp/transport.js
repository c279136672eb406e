'use strict';
// The tool server's stdio transport: one JSON-RPC message per line, in and
// out. Unlike a transport that gives up on its input, it answers every line
// it cannot take with a JSON-RPC error and reads on: a line that is not JSON
// gets -32700, one that is not a JSON-RPC message -32600, and one longer than
// MAX_MESSAGE_BYTES is skipped as it arrives (it is never held whole) and
// refused with -32600, under its id when the id can be read at its start or
// its end. A reply that would pass MAX_REPLY_BYTES (a fault: every tool's
// reply is built far below it) is replaced by an error under the same id,
// so a client never receives a message it would refuse. Once silenced
// (the server is stopping) it reads nothing and writes nothing more.

const { JSONRPCMessageSchema } = require('@modelcontextprotocol/sdk/types.js');

/** Bytes of one message read, its line ending excluded. */
const MAX_MESSAGE_BYTES = 10 * 1024 * 1024;
/** Bytes of one message written. */
const MAX_REPLY_BYTES = 8 * 1024 * 1024;
/** Bytes kept of each end of a skipped message, to find its id. */
const KEPT_OF_SKIPPED = 4096;

const ID = String.raw`("(?:[^"\\]|\\.)*"|-?\d+)`;
// A request's id where clients write it: first (after "jsonrpc"), or last.
const ID_AT_START = new RegExp(String.raw`^\s*\{\s*(?:"jsonrpc"\s*:\s*"2\.0"\s*,\s*)?"id"\s*:\s*${ID}`);
const ID_AT_END = new RegExp(String.raw`"id"\s*:\s*${ID}\s*\}\s*$`);

/** The id of a message known by its first and last bytes only, or null. */
function idOfSkipped(head, tail) {
  const found = ID_AT_START.exec(head) ?? ID_AT_END.exec(tail);
  return found === null ? null : JSON.parse(found[1]);
}

/** The id of a parsed value that is not a valid message, when it has a usable one. */
function idOf(value) {
  const id = value !== null && typeof value === 'object' ? value.id : undefined;
  return typeof id === 'string' || (typeof id === 'number' && Number.isInteger(id)) ? id : null;
}

class LineTransport {
  constructor(input = process.stdin, output = process.stdout) {
    this.input = input;
    this.output = output;
    this.silenced = false;
    this.parts = [];  // the line so far
    this.partBytes = 0;
    this.skipped = null;  // { bytes, head, tail } of a line too long to keep
    this.onmessage = undefined;
    this.onerror = undefined;
    this.onclose = undefined;
    /** Called once when the input ends or fails, or the output can no longer be written. */
    this.onended = undefined;
    this.ondata = (chunk) => this.take(chunk);
    this.onend = () => this.ended();
    this.oninputerror = () => this.ended();
    this.onoutputerror = () => this.ended();
  }

  async start() {
    this.input.on('data', this.ondata);
    this.input.on('end', this.onend);
    this.input.on('error', this.oninputerror);
    this.output.on('error', this.onoutputerror);
  }

  ended() {
    if (this.onended === undefined) return;
    const ended = this.onended;
    this.onended = undefined;
    ended();
  }

  /** Takes a chunk of input: every line it completes, and the start of the next. */
  take(chunk) {
    let rest = chunk;
    while (!this.silenced && rest.length > 0) {
      const at = rest.indexOf(10);
      const piece = at < 0 ? rest : rest.subarray(0, at);
      this.keep(piece);
      if (at < 0) return;
      this.lineDone();
      rest = rest.subarray(at + 1);
    }
  }

  /** Keeps a piece of the current line, or only its ends once it is too long. */
  keep(piece) {
    const s = this.skipped;
    if (s === null && this.partBytes + piece.length <= MAX_MESSAGE_BYTES) {
      this.parts.push(piece);
      this.partBytes += piece.length;
      return;
    }
    const seen = s === null ? Buffer.concat([...this.parts, piece]) : Buffer.concat([s.tail, piece]);
    const tail = Buffer.from(seen.subarray(Math.max(0, seen.length - KEPT_OF_SKIPPED)));
    if (s === null) {
      this.skipped = { bytes: seen.length, head: Buffer.from(seen.subarray(0, KEPT_OF_SKIPPED)), tail };
      this.parts = [];
      this.partBytes = 0;
    } else {
      s.bytes += piece.length;
      s.tail = tail;
    }
  }

  lineDone() {
    const skipped = this.skipped;
    const line = skipped === null ? Buffer.concat(this.parts) : null;
    this.parts = [];
    this.partBytes = 0;
    this.skipped = null;
    if (skipped !== null) {
      this.refuse(idOfSkipped(skipped.head.toString('utf8'), skipped.tail.toString('utf8').replace(/\r$/, '')),
        -32600, `Message of ${skipped.bytes} bytes refused: the most this server reads is ` +
        `${MAX_MESSAGE_BYTES} bytes. Send less at once (split a batch_edit into several calls).`);
      return;
    }
    this.parse(line.toString('utf8').replace(/\r$/, ''));
  }

  parse(text) {
    if (text.trim() === '') return;
    let value;
    try {
      value = JSON.parse(text);
    } catch (error) {
      this.refuse(null, -32700, `Parse error: ${error.message}`);
      return;
    }
    const message = JSONRPCMessageSchema.safeParse(value);
    if (!message.success) {
      this.refuse(idOf(value), -32600, 'Invalid Request: not a JSON-RPC 2.0 request, notification or response');
      return;
    }
    try {
      this.onmessage?.(message.data);
    } catch (error) {
      this.onerror?.(error);
    }
  }

  refuse(id, code, message) {
    this.write({ jsonrpc: '2.0', id, error: { code, message } });
  }

  /** Writes one message, waiting while the output is full. */
  write(message) {
    if (this.silenced || this.output.destroyed) return Promise.resolve();
    let text = JSON.stringify(message);
    if (Buffer.byteLength(text) > MAX_REPLY_BYTES) {
      text = JSON.stringify({ jsonrpc: '2.0', id: message.id ?? null, error: { code: -32603,
        message: `The reply (${Buffer.byteLength(text)} bytes) is over the ${MAX_REPLY_BYTES} bytes ` +
          'this server sends at once' } });
    }
    return new Promise((resolve) => {
      if (this.output.write(`${text}\n`)) {
        resolve();
        return;
      }
      const done = () => {
        this.output.off('drain', done);
        this.output.off('close', done);
        resolve();
      };
      this.output.on('drain', done);
      this.output.on('close', done);
    });
  }

  async send(message) {
    await this.write(message);
  }

  /** Reads nothing and writes nothing from now on. */
  silence() {
    this.silenced = true;
    this.input.off('data', this.ondata);
    this.input.pause();
  }

  async close() {
    this.silence();
    this.input.off('end', this.onend);
    this.input.off('error', this.oninputerror);
    this.onclose?.();
  }
}

module.exports = { LineTransport, MAX_MESSAGE_BYTES, MAX_REPLY_BYTES };
