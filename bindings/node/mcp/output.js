'use strict';
// The bounds of what the tool server shows: every line it shows is at most
// MAX_SHOWN_LINE characters (a searched line as the library prints it: a
// window of that many bytes around the match; any other line its start, with
// the count of characters left out), and every
// reply's text and structured content are built against a budget of bytes,
// so that a reply stays far below the 10 MiB a client reads of one message,
// whatever the files hold. Whatever is left out is said, with how to get it.

/** Characters of one shown line (a matched, context, read or diff line). */
const MAX_SHOWN_LINE = 2000;
/** Bytes of a reply's text, and of its structured content, as JSON. */
const MAX_REPLY_TEXT = 512 * 1024;

/** `text` as a string of its own (a slice keeps the whole of its source alive). */
function detached(text) {
  return text.length < 64 ? text : Buffer.from(text, 'utf8').toString('utf8');
}

/** True when the UTF-16 unit at `i` is the second half of a pair. */
function lowSurrogateAt(text, i) {
  const unit = text.charCodeAt(i);
  return unit >= 0xdc00 && unit <= 0xdfff;
}

/** A part of a line with the counts of characters cut before and after it. */
function marked(before, part, after) {
  const head = before > 0 ? `[… ${before} characters] ` : '';
  const tail = after > 0 ? ` [… ${after} more characters]` : '';
  return head + detached(part) + tail;
}

/** The line cut to its first MAX_SHOWN_LINE characters, saying how many were left out. */
function cutLine(text) {
  if (text.length <= MAX_SHOWN_LINE) return text;
  let end = MAX_SHOWN_LINE;
  if (lowSurrogateAt(text, end)) --end;
  return marked(0, text.slice(0, end), text.length - end);
}

/** Bytes that `value` takes in a reply (as JSON, in UTF-8). */
function replyBytes(value) {
  return Buffer.byteLength(JSON.stringify(value));
}

/**
 * Takes pieces of a reply while they fit in `bytes`: add() returns false
 * (and takes nothing) once the next piece does not fit, and counts what was
 * left out.
 */
class Budget {
  constructor(bytes = MAX_REPLY_TEXT) {
    this.left = bytes;
    this.omitted = 0;
  }

  add(value) {
    if (this.omitted > 0) {
      ++this.omitted;
      return false;
    }
    const cost = replyBytes(value) + 1;
    if (cost > this.left) {
      this.omitted = 1;
      return false;
    }
    this.left -= cost;
    return true;
  }

  get full() {
    return this.omitted > 0;
  }
}

/** A tool result of `text`, with structured content when given. */
function textResult(text, structuredContent) {
  const result = { content: [{ type: 'text', text }] };
  if (structuredContent !== undefined) result.structuredContent = structuredContent;
  return result;
}

/** A tool result that reports a failure with `message`. */
function errorResult(message) {
  return { content: [{ type: 'text', text: message }], isError: true };
}

/** `count` and the noun, singular for one: "1 file", "3 matches". */
function counted(count, one, many) {
  return `${count} ${count === 1 ? one : many}`;
}

module.exports = {
  Budget, MAX_REPLY_TEXT, MAX_SHOWN_LINE, counted, cutLine, detached, errorResult, replyBytes,
  textResult,
};
