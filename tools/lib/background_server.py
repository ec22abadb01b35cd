"""Runs one of the project's small loopback servers in the background for tests and the demo.

A server writes its pid and port files itself (write_atomically()) once it listens. A Python server
calls detach() when started with --detach and stop() for --stop; a server in another language runs
this file for the same:
  python3 tools/lib/background_server.py start --port-file <file> [--pid-file <file>]
      [--log-file <file>] -- <command that runs the server in the foreground>
  python3 tools/lib/background_server.py stop --pid-file <file> --script <the server's script>
The pid file is how a later run finds the server, and only a process still running that same script
is ever signalled.
"""

import argparse
import os
import signal
import subprocess
import sys
import time


def write_atomically(path, text):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path + '.tmp', 'w', encoding='utf-8') as file:
        file.write(text)
    os.replace(path + '.tmp', path)


def is_server_process(pid, script):
    """True while pid runs the script: not a zombie waiting to be reaped (its command line is gone), and
    not another program that has since been given the same pid."""
    if pid == os.getpid():
        return False
    try:
        with open(f'/proc/{pid}/cmdline', 'rb') as file:
            arguments = file.read().split(b'\0')
    except OSError:
        return False
    name = os.path.basename(script).encode()
    return any(os.path.basename(argument) == name for argument in arguments)


def stop(pid_file, script):
    """Stops the server recorded in pid_file, if it still runs, and removes the file."""
    try:
        with open(pid_file, encoding='ascii') as file:
            pid = int(file.read().strip())
    except (OSError, ValueError):
        return
    if is_server_process(pid, script):
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    deadline = time.monotonic() + 10
    while is_server_process(pid, script):
        if time.monotonic() > deadline:
            sys.exit(f'{os.path.basename(script)}: process {pid} did not stop')
        time.sleep(0.05)
    if os.path.exists(pid_file):
        os.remove(pid_file)


def start(command, script, port_file, pid_file=None, log_file=None):
    """Starts the command, which runs the script's server in the foreground, in a session of its own,
    and returns the port it listens on once it has written its port file."""
    if pid_file:
        # A run that was cut short never stopped its server; end it rather than leave it behind.
        stop(pid_file, script)
    if os.path.exists(port_file):
        os.remove(port_file)
    log = subprocess.DEVNULL
    if log_file:
        os.makedirs(os.path.dirname(os.path.abspath(log_file)), exist_ok=True)
        log = open(log_file, 'a', encoding='utf-8')
    try:
        child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    finally:
        if log_file:
            log.close()
    deadline = time.monotonic() + 30
    while not os.path.exists(port_file):
        if child.poll() is not None or time.monotonic() > deadline:
            if child.poll() is None:
                child.kill()
            where = f'; see {log_file}' if log_file else ''
            sys.exit(f'{os.path.basename(script)}: the server did not start{where}')
        time.sleep(0.05)
    with open(port_file, encoding='ascii') as file:
        return file.read().strip()


def detach(script, port_file, pid_file=None, log_file=None):
    """Starts the Python script again, without --detach, as start() does."""
    arguments = [argument for argument in sys.argv[1:] if argument != '--detach']
    return start([sys.executable, os.path.abspath(script), *arguments], script, port_file, pid_file, log_file)


def main():
    parser = argparse.ArgumentParser(description='Starts or stops a loopback server in the background.')
    actions = parser.add_subparsers(dest='action', required=True)
    start_parser = actions.add_parser('start')
    start_parser.add_argument('--port-file', required=True)
    start_parser.add_argument('--pid-file')
    start_parser.add_argument('--log-file')
    start_parser.add_argument('command', nargs=argparse.REMAINDER)
    stop_parser = actions.add_parser('stop')
    stop_parser.add_argument('--pid-file', required=True)
    stop_parser.add_argument('--script', required=True)
    options = parser.parse_args()
    if options.action == 'stop':
        stop(options.pid_file, options.script)
        return
    command = options.command[1:] if options.command[:1] == ['--'] else options.command
    if len(command) < 2:
        sys.exit('background_server.py: start needs the server command after --')
    print(start(command, command[1], options.port_file, options.pid_file, options.log_file))


if __name__ == '__main__':
    main()
