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
// left alone):
//   node tools/s3rver/serve.js --stop --pid-file <file>
//
// The demo: node tools/s3rver/serve.js --port 47802 --directory <its data folder>
//   --access-key-id AKIACORVANE0DEMO0001 --secret-access-key Corv4neDemo0Secret0Key0Abcdefghij0123456
//
// --fresh empties the data folder first; --port-file receives the port once the server listens.
'use strict';

const { spawn } = require('child_process');
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

// True while the process is a server of this script: not a zombie waiting for its new parent to reap
// it (its command line is gone), and not another program that has since been given the same pid.
function isOurServer(pid) {
  if (pid === process.pid) return false;
  try {
    const argv = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8').split('\0');
    return argv.some(argument => path.basename(argument) === path.basename(__filename));
  } catch {
    return false;
  }
}

const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));

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

// Starts the server as a child that outlives this process and returns once it listens.
async function detach(options) {
  requireOptions(options, 'port-file', 'log-file');
  // A run that was cut short never stopped its server; end it rather than leave it behind.
  if (options['pid-file'] && fs.existsSync(options['pid-file'])) await stop(options);
  fs.rmSync(options['port-file'], { force: true });
  fs.mkdirSync(path.dirname(options['log-file']), { recursive: true });
  const log = fs.openSync(options['log-file'], 'a');
  const argv = process.argv.slice(2).filter(a => a !== '--detach');
  const child = spawn(process.execPath, [__filename, ...argv], {
    detached: true,
    stdio: ['ignore', log, log],
  });
  let exited = false;
  child.on('exit', () => (exited = true));
  for (let waited = 0; waited < 30000; waited += 50) {
    if (fs.existsSync(options['port-file'])) {
      child.unref();
      console.log(`s3rver started, port ${fs.readFileSync(options['port-file'], 'utf8').trim()}`);
      process.exit(0);
    }
    if (exited) break;
    await sleep(50);
  }
  if (!exited) child.kill();
  fail(`the server did not start; see ${options['log-file']}`);
}

async function stop(options) {
  requireOptions(options, 'pid-file');
  if (!fs.existsSync(options['pid-file'])) fail(`no server: ${options['pid-file']} does not exist`);
  const pid = Number(fs.readFileSync(options['pid-file'], 'utf8'));
  if (isOurServer(pid)) process.kill(pid, 'SIGTERM');
  for (let waited = 0; isOurServer(pid); waited += 50) {
    if (waited >= 10000) fail(`process ${pid} did not stop`);
    await sleep(50);
  }
  fs.rmSync(options['pid-file'], { force: true });
}

const options = parseArguments(process.argv.slice(2));
const run = options.stop ? stop : options.detach ? detach : serve;
run(options).catch(error => fail(error.stack || String(error)));
