#!/usr/bin/env python3
"""A small stand-in for the support site's account service, for Corvane's tests and demo.

It answers GET /my/account.json with HTTP/1.1 on loopback, keeps connections alive, checks HTTP Basic
credentials against the accounts it was given and records the exact bytes of every request.

Start (in the foreground, or with --detach in the background once it listens):
  python3 tools/account-service/account_service.py --port <port, 0 for a free one>
      [--user NAME:PASSWORD ...] [--users-file <file with one NAME:PASSWORD a line>]
      [--slow-seconds <delay of the slow answer, default 5>]
      [--port-file <file>] [--pid-file <file>] [--log-file <file>] [--detach]
With --detach and --pid-file, a service that an earlier start left running under that pid file is
stopped first.
Stop a service started with --pid-file:
  python3 tools/account-service/account_service.py --stop --pid-file <file>

The demo: python3 tools/account-service/account_service.py --port 47801 --user demo:demo

Answers to GET /my/account.json:
  the right password of an account   200 with a JSON body
  anything else                      401 with a body and the challenge: Basic realm="Corvane"
except for these user names, which pick an answer whatever the password:
  answer-blank      200, the body is one blank        answer-empty       200 with an empty body
  answer-204        204 No Content                    answer-302         302 to /login
  answer-chunked    200, chunked body                 answer-until-close 200, body ended by closing
  answer-continue   100 Continue, then 200            answer-close       200 and Connection: close
  answer-cookie     200 setting the cookies session (path /) and scope (path /elsewhere)
  answer-utf8-challenge  401 with the challenge: Basic realm="Corvane", charset="UTF-8"
  answer-slow       200 after --slow-seconds          answer-drop        connection closed, no answer
  answer-cut        200 whose body stops short        answer-malformed   a status line that is no HTTP
  answer-403        403 Forbidden with a body         answer-500         500 Internal Server Error

GET /_last-request?user=<name> reports the last request whose Basic user name was <name> (decoded as
UTF-8, or as Latin-1 when not valid UTF-8; an empty name for requests without credentials): the exact
bytes as the body, and the headers X-Connection (a number per TCP connection, counted from 1) and
X-Requests (how many requests that user name has made). 404 when there was none.
"""

import argparse
import base64
import itertools
import os
import socketserver
import sys
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, 'lib'))
import background_server  # noqa: E402  (found through the line above)

MAX_HEADER_BYTES = 64 * 1024
REALM = 'Basic realm="Corvane"'


class Recorder:
    """The last request and the request count of every user name, shared by all connections."""

    def __init__(self):
        self._lock = threading.Lock()
        self._last = {}
        self._counts = {}

    def record(self, user, raw, connection):
        with self._lock:
            self._last[user] = (raw, connection)
            self._counts[user] = self._counts.get(user, 0) + 1

    def lookup(self, user):
        with self._lock:
            if user not in self._last:
                return None
            raw, connection = self._last[user]
            return raw, connection, self._counts[user]


def decode_text(data):
    try:
        return data.decode('utf-8')
    except UnicodeDecodeError:
        return data.decode('latin-1')


def basic_credentials(headers):
    """(user, password) of the request's Basic credentials; ('', None) without them."""
    value = headers.get('authorization', '')
    scheme, _, token = value.partition(' ')
    if scheme.lower() != 'basic':
        return '', None
    try:
        decoded = decode_text(base64.b64decode(token.strip(), validate=True))
    except ValueError:
        return '', None
    user, _, password = decoded.partition(':')
    return user, password


def response(status, reason, body=b'', headers=(), length=True):
    lines = [f'HTTP/1.1 {status} {reason}']
    lines += [f'{name}: {value}' for name, value in headers]
    if length:
        lines.append(f'Content-Length: {len(body)}')
    return ('\r\n'.join(lines) + '\r\n\r\n').encode('ascii') + body


def chunked(body):
    return f'{len(body):x}\r\n'.encode('ascii') + body + b'\r\n0\r\n\r\n'


JSON = ('Content-Type', 'application/json; charset=utf-8')
TEXT = ('Content-Type', 'text/plain; charset=utf-8')

# Each scripted answer: (bytes to send, keep the connection open afterwards).
SCRIPTED = {
    'answer-blank': (response(200, 'OK', b' ', [TEXT]), True),
    'answer-empty': (response(200, 'OK', b'', [JSON]), True),
    'answer-204': (response(204, 'No Content', length=False), True),
    'answer-302': (response(302, 'Found', b'<a href="/login">login</a>',
                            [('Location', '/login'), ('Content-Type', 'text/html')]), True),
    'answer-chunked': (response(200, 'OK', chunked(b'{}'), [JSON, ('Transfer-Encoding', 'chunked')],
                                length=False), True),
    'answer-until-close': (response(200, 'OK', b'{}', [JSON], length=False), False),
    'answer-continue': (b'HTTP/1.1 100 Continue\r\n\r\n' + response(200, 'OK', b'{}', [JSON]), True),
    'answer-close': (response(200, 'OK', b'{}', [JSON, ('Connection', 'close')]), False),
    'answer-cookie': (response(200, 'OK', b'{}', [
        JSON, ('Set-Cookie', 'session=s3cr3t; Path=/; HttpOnly'),
        ('Set-Cookie', 'scope=other; Path=/elsewhere')]), True),
    'answer-utf8-challenge': (response(401, 'Unauthorized', b'Unauthorized', [
        TEXT, ('WWW-Authenticate', REALM + ', charset="UTF-8"')]), True),
    'answer-slow': (response(200, 'OK', b'{}', [JSON]), True),
    'answer-drop': (b'', False),
    'answer-cut': (response(200, 'OK', b'{"us', [JSON, ('Content-Length', '99')], length=False), False),
    'answer-malformed': (b'HTTP/1.1 two hundred\r\nno header\r\n\r\n', False),
    'answer-403': (response(403, 'Forbidden', b'Account locked', [TEXT]), True),
    'answer-500': (response(500, 'Internal Server Error', b'Internal error', [TEXT]), True),
}


class Connection(socketserver.StreamRequestHandler):
    ids = itertools.count(1)

    def handle(self):
        self.id = next(Connection.ids)
        while True:
            request = self.read_request()
            if request is None:
                return
            raw, method, target, headers = request
            keep_open = self.answer(raw, method, target, headers)
            if not keep_open or headers.get('connection', '').lower() == 'close':
                return

    def read_request(self):
        raw = b''
        while True:
            line = self.rfile.readline(MAX_HEADER_BYTES)
            if not line:
                return None
            raw += line
            if len(raw) > MAX_HEADER_BYTES:
                return None
            if line in (b'\r\n', b'\n'):
                if raw == line:
                    raw = b''  # blank lines before a request line are allowed and ignored
                    continue
                break
        lines = raw.decode('latin-1').splitlines()
        parts = lines[0].split(' ')
        if len(parts) != 3:
            return None
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(':')
            if name:
                headers[name.strip().lower()] = value.strip()
        length = int(headers.get('content-length', '0') or 0)
        if length:
            raw += self.rfile.read(length)
        return raw, parts[0], parts[1], headers

    def send(self, data):
        self.wfile.write(data)
        self.wfile.flush()

    def answer(self, raw, method, target, headers):
        url = urllib.parse.urlsplit(target)
        if url.path == '/_last-request':
            return self.report(urllib.parse.parse_qs(url.query).get('user', [''])[0])

        user, password = basic_credentials(headers)
        self.server.recorder.record(user, raw, self.id)
        self.server.log(f'connection {self.id}: {method} {target} user={user!r}')
        if method != 'GET':
            self.send(response(405, 'Method Not Allowed', b'GET only', [TEXT]))
            return True
        if url.path == '/login':
            self.send(response(200, 'OK', b'<form>sign in</form>', [('Content-Type', 'text/html')]))
            return True
        if url.path != '/my/account.json':
            self.send(response(404, 'Not Found', b'Not found', [TEXT]))
            return True

        if user == 'answer-slow':
            time.sleep(self.server.slow_seconds)
        if user in SCRIPTED:
            data, keep_open = SCRIPTED[user]
            self.send(data)
            return keep_open
        if password is not None and self.server.accounts.get(user) == password:
            body = ('{"username": "%s"}' % user.replace('\\', '\\\\').replace('"', '\\"')).encode('utf-8')
            self.send(response(200, 'OK', body, [JSON]))
        else:
            self.send(response(401, 'Unauthorized', b'Unauthorized', [TEXT, ('WWW-Authenticate', REALM)]))
        return True

    def report(self, user):
        found = self.server.recorder.lookup(user)
        if found is None:
            self.send(response(404, 'Not Found', b'no request of that user', [TEXT]))
        else:
            raw, connection, count = found
            self.send(response(200, 'OK', raw, [('Content-Type', 'application/octet-stream'),
                                                 ('X-Connection', str(connection)), ('X-Requests', str(count))]))
        return True


class Service(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, accounts, slow_seconds, log_file):
        super().__init__(('127.0.0.1', port), Connection)
        self.accounts = accounts
        self.slow_seconds = slow_seconds
        self.recorder = Recorder()
        self.log_file = log_file

    def log(self, message):
        print(f'{time.strftime("%H:%M:%S")} {message}', file=self.log_file, flush=True)

    def handle_error(self, request, client_address):
        # A client that went away mid-answer (the slow answer after a time-out) is not an error here.
        if not isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)):
            super().handle_error(request, client_address)


def read_accounts(options):
    entries = list(options.user)
    if options.users_file:
        with open(options.users_file, encoding='utf-8') as file:
            entries += [line.rstrip('\r\n') for line in file if line.strip()]
    accounts = {}
    for entry in entries:
        name, colon, password = entry.partition(':')
        if not colon:
            sys.exit(f'account_service.py: {entry!r} is not NAME:PASSWORD')
        accounts[name] = password
    return accounts


def main():
    parser = argparse.ArgumentParser(description='Account service for Corvane tests and demo.')
    parser.add_argument('--port', type=int, default=0)
    parser.add_argument('--user', action='append', default=[], metavar='NAME:PASSWORD')
    parser.add_argument('--users-file')
    parser.add_argument('--slow-seconds', type=float, default=5.0)
    parser.add_argument('--port-file')
    parser.add_argument('--pid-file')
    parser.add_argument('--log-file')
    parser.add_argument('--detach', action='store_true')
    parser.add_argument('--stop', action='store_true')
    options = parser.parse_args()

    if options.stop:
        if not options.pid_file:
            sys.exit('account_service.py: --stop needs --pid-file')
        background_server.stop(options.pid_file, __file__)
        return 0
    if options.detach:
        if options.port_file is None:
            sys.exit('account_service.py: --detach needs --port-file')
        background_server.detach(__file__, options.port_file, options.pid_file, options.log_file)
        return 0

    service = Service(options.port, read_accounts(options), options.slow_seconds, sys.stdout)
    if options.pid_file:
        background_server.write_atomically(options.pid_file, f'{os.getpid()}\n')
    port = service.server_address[1]
    if options.port_file:
        background_server.write_atomically(options.port_file, f'{port}\n')
    service.log(f'listening on 127.0.0.1:{port}')
    with service:
        service.serve_forever()
    return 0


if __name__ == '__main__':
    sys.exit(main())
