'use strict';
// File versions: a file's version is the SHA-256 of its bytes, in lower-case
// hex, the same hash the library lists in replace_pattern's previews and
// takes in its `expect`. read_lines reports it; every edit tool takes it
// back as `expected_version` and refuses, writing nothing, when the file no
// longer has it, so an assistant never edits a file it has not seen as it is.

const crypto = require('node:crypto');
const fs = require('node:fs');
const { z } = require('zod');

/** The argument schema of a version: a SHA-256 in hex, either case. */
const versionArg = z.string().regex(/^[0-9a-fA-F]{64}$/, 'a SHA-256 in hex');

/**
 * The version of the file at `real`, read in chunks so that a large file
 * never holds the event loop for long; rejects with the system's error.
 */
function fileVersion(real) {
  return new Promise((resolve, reject) => {
    const hash = crypto.createHash('sha256');
    fs.createReadStream(real)
      .on('error', reject)
      .on('data', (chunk) => hash.update(chunk))
      .on('end', () => resolve(hash.digest('hex')));
  });
}

/** True when the two versions name the same bytes (hex compares without case). */
function sameVersion(a, b) {
  return a.toLowerCase() === b.toLowerCase();
}

/** The message of an edit refused because the file at `shown` no longer has `expected`. */
function staleMessage(shown, expected) {
  return `File '${shown}' changed since version ${expected.toLowerCase()} was read: nothing was ` +
    'written. Read it again with read_lines and redo the edit on what it holds now.';
}

module.exports = { fileVersion, sameVersion, staleMessage, versionArg };
