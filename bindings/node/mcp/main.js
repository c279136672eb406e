#!/usr/bin/env node
'use strict';
// quenmar-grep-mcp: the tool server for coding assistants, over stdio.
//
//   quenmar-grep-mcp [--timeout MS] ROOT [ROOT...]
//
// Serves search, read_lines, list_directory, directory_tree, find_files,
// replace_lines, edit, batch_edit and replace_pattern over the Model Context
// Protocol, confined to the ROOT
// folders. Exits with 2 and a message on standard error when a ROOT is not a
// folder.
//
// It stops on SIGTERM, SIGINT, SIGHUP or the end of its input (the client
// closed it): it takes no further call and sends nothing more, lets a running
// edit finish the file in hand (its library call is never cut short, so no
// temporary file is left and every file is old or new), logs which files it
// wrote on standard error, and exits with 0.

const { createServer, POOL_THREADS } = require('./server');

// The library's calls run on libuv's pool, which is sized once, at its first
// use: room for every lane's calls at once.
if (!(Number(process.env.UV_THREADPOOL_SIZE) >= POOL_THREADS)) {
  process.env.UV_THREADPOOL_SIZE = String(POOL_THREADS);
}

const { resolveRoots } = require('./confine');
const { LineTransport } = require('./transport');

const usage = 'usage: quenmar-grep-mcp [--timeout MS] ROOT [ROOT...]\n' +
  'Serves search, read_lines, list_directory, directory_tree, find_files, replace_lines,\n' +
  'edit, batch_edit and replace_pattern over the Model Context Protocol (stdio), confined\n' +
  'to the ROOT folders. --timeout: the limit of each call (default 10000 ms).\n';

function log(message) {
  process.stderr.write(`quenmar-grep-mcp: ${message}\n`);
}

function fail(message) {
  log(message);
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
  const server = createServer(resolved, timeoutMs, log);
  const transport = new LineTransport();
  let stopping = false;
  const shutdown = async (why) => {
    if (stopping) return;
    stopping = true;
    transport.silence();
    log(`stopping (${why}): no further calls are taken`);
    await server.stop();
    log('stopped');
    process.exit(0);
  };
  transport.onended = () => shutdown('input closed');
  for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) process.on(signal, () => shutdown(signal));
  await server.mcp.connect(transport);
}

main().catch((error) => fail(error instanceof Error ? error.message : String(error)));
