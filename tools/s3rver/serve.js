#!/usr/bin/env node
// Runs s3rver on loopback so that virtual-host requests to <bucket>.s3.localhost:<port> reach the
// bucket, and registers one access key pair with it.
//
// Start (in the foreground, or with --detach in the background once it listens):
//   node tools/s3rver/serve.js --port <port, 0 for a free one> --directory <data folder>
//        --access-key-id <id> --secret-access-key <secret>
//        [--port-file <file>] [--pid-file <file>] [--log-file <file>] [--fresh] [--detach]
// With --detach and --pid-file, a server that an earlier start left running under that pid file is
// stopped first. Stop a server started with --pid-file (a pid that no longer names such a server is
// left alone); both go through tools/lib/background_server.py, as for the project's other servers:
//   node tools/s3rver/serve.js --stop --pid-file <file>
//
// The demo: node tools/s3rver/serve.js --port 47802 --directory <its data folder>
//   --access-key-id AKIACORVANE0DEMO0001 --secret-access-key Corv4neDemo0Secret0Key0Abcdefghij0123456
//
// --fresh empties the data folder first; --port-file receives the port once the server listens.
'use strict';

const { spawnSync } = require('child_process');
const fs = require('fs');
const path = require('path');

const flags = new Set(['detach', 'fresh', 'stop']);

function parseArguments(argv) {
  const options = {};
  for (let i = 0; i < argv.length; i++) {
    const name = argv[i].replace(/^--/, '');
    if (flags.has(name)) {
      options[name] = true;
    } else if (argv[i].startsWith('--') && i + 1 < argv.length) {
      options[name] = argv[++i];
    } else {
      fail(`unexpected argument ${argv[i]}`);
    }
  }
  return options;
}

function fail(message) {
  console.error(`serve.js: ${message}`);
  process.exit(1);
}

function requireOptions(options, ...names) {
  for (const name of names) {
    if (options[name] === undefined) fail(`--${name} is required`);
  }
}

// Written under a temporary name first so that a reader never sees half a file.
function writeAtomically(file, text) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(`${file}.tmp`, text);
  fs.renameSync(`${file}.tmp`, file);
}

async function serve(options) {
  requireOptions(options, 'port', 'directory', 'access-key-id', 'secret-access-key');
  const S3rver = require('s3rver');
  const { DUMMY_ACCOUNT } = require('s3rver/lib/models/account');

  if (options.fresh) fs.rmSync(options.directory, { recursive: true, force: true });
  fs.mkdirSync(options.directory, { recursive: true });
  DUMMY_ACCOUNT.createKeyPair(options['access-key-id'], options['secret-access-key']);

  const server = new S3rver({
    address: '127.0.0.1',
    port: Number(options.port),
    // s3rver takes the bucket from hosts of the form <bucket>.s3.<serviceEndpoint>.
    serviceEndpoint: 'localhost',
    directory: options.directory,
    silent: true,
  });
  const address = await server.run();

  const stop = () => {
    for (const file of [options['port-file'], options['pid-file']]) {
      if (file) fs.rmSync(file, { force: true });
    }
    server.close(() => process.exit(0));
  };
  process.on('SIGTERM', stop);
  process.on('SIGINT', stop);

  if (options['pid-file']) writeAtomically(options['pid-file'], `${process.pid}\n`);
  if (options['port-file']) writeAtomically(options['port-file'], `${address.port}\n`);
  console.log(`s3rver listening on 127.0.0.1:${address.port} (endpoint s3.localhost:${address.port})`);
}

// Starting in the background and stopping are left to the project's one module for its servers.
function backgroundServer(action, options) {
  const script = path.join(__dirname, '..', 'lib', 'background_server.py');
  const argv =
    action === 'stop'
      ? ['stop', '--pid-file', options['pid-file'], '--script', __filename]
      : ['start', '--port-file', options['port-file'],
         ...(options['pid-file'] ? ['--pid-file', options['pid-file']] : []),
         '--log-file', options['log-file'], '--',
         process.execPath, __filename, ...process.argv.slice(2).filter(a => a !== '--detach')];
  const result = spawnSync('python3', [script, ...argv], { stdio: ['ignore', 'pipe', 'inherit'] });
  if (result.error) fail(`cannot run ${script}: ${result.error.message}`);
  if (result.status !== 0) process.exit(result.status ?? 1);
  if (action === 'start') console.log(`s3rver started, port ${String(result.stdout).trim()}`);
}

async function detach(options) {
  requireOptions(options, 'port-file', 'log-file');
  backgroundServer('start', options);
}

async function stop(options) {
  requireOptions(options, 'pid-file');
  backgroundServer('stop', options);
}

const options = parseArguments(process.argv.slice(2));
const run = options.stop ? stop : options.detach ? detach : serve;
run(options).catch(error => fail(error.stack || String(error)));
