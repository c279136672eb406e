#!/usr/bin/env node
'use strict';
// quenmar-grep-mcp: the tool server for coding assistants, over stdio.
//
//   quenmar-grep-mcp [--timeout MS] ROOT [ROOT...]
//
// Serves search, read_lines, replace_lines, edit and batch_edit over the
// Model Context Protocol, confined to the ROOT folders. Exits with 2 and a
// message on standard error when a ROOT is not a folder.

const { StdioServerTransport } = require('@modelcontextprotocol/sdk/server/stdio.js');
const { resolveRoots } = require('./confine');
const { createServer } = require('./server');

const usage = 'usage: quenmar-grep-mcp [--timeout MS] ROOT [ROOT...]\n' +
  'Serves search, read_lines, replace_lines, edit and batch_edit over the Model Context\n' +
  'Protocol (stdio), confined to the ROOT folders. --timeout: the limit of each call\n' +
  '(default 10000 ms).\n';

function fail(message) {
  process.stderr.write(`quenmar-grep-mcp: ${message}\n`);
  process.exit(2);
}

function parse(argv) {
  const roots = [];
  let timeoutMs = 10000;
  for (let i = 0; i < argv.length; ++i) {
    const arg = argv[i];
    if (arg === '--help' || arg === '-h') {
      process.stdout.write(usage);
      process.exit(0);
    } else if (arg === '--timeout' || arg.startsWith('--timeout=')) {
      const value = arg === '--timeout' ? argv[++i] : arg.slice('--timeout='.length);
      timeoutMs = Number(value);
      if (!Number.isInteger(timeoutMs) || timeoutMs < 1 || timeoutMs > 2147483647) {
        fail(`--timeout takes a number of milliseconds, not '${value}'`);
      }
    } else if (arg === '--') {
      roots.push(...argv.slice(i + 1));
      break;
    } else if (arg.startsWith('-')) {
      fail(`unknown option '${arg}'\n${usage.trimEnd()}`);
    } else {
      roots.push(arg);
    }
  }
  return { roots, timeoutMs };
}

async function main() {
  const { roots, timeoutMs } = parse(process.argv.slice(2));
  let resolved;
  try {
    resolved = resolveRoots(roots);
  } catch (error) {
    fail(error.message);
  }
  const server = createServer(resolved, timeoutMs);
  await server.connect(new StdioServerTransport());
}

main().catch((error) => fail(error instanceof Error ? error.message : String(error)));
