#!/usr/bin/env python3
"""An HTTP server on loopback that answers the way S3 and networks misbehave, for the storage tests.

Start (in the foreground, or with --detach in the background once it listens):
  python3 tools/s3-fault-server/fault_server.py --port <port, 0 for a free one> [--listings <folder>]
      [--port-file <file>] [--pid-file <file>] [--log-file <file>] [--detach]
With --detach and --pid-file, a server that an earlier start left running under that pid file is stopped
first. Stop a server started with --pid-file (a pid that no longer names such a server is left alone):
  python3 tools/s3-fault-server/fault_server.py --stop --pid-file <file>

The first path segment chooses the behaviour; the rest of the path is free (tests put a key there):
  /echo/...                  200, the body is the request head exactly as received
  /object/<size>/...         200 with <size> bytes of a repeating pattern
  /paced/<token>/<n>,<n>,.../...
                             200, the body sent in blocks of those sizes; block k (from 0) goes out only
                             once /release/<token> has been asked for k times (at most 10 s of waiting),
                             so the client decides when the next block may arrive
  /release/<token>           200; lets the paced answer with this token send its next block
  /cut/<sent>/<declared>/... declares <declared> bytes, sends <sent>, then closes the connection
  /close/...                 closes the connection before any header
  /stall-header/...          sends nothing until the client gives up (at most 30 s)
  /stall-body/<sent>/...     sends the header and <sent> of 1000000 bytes, then nothing
  /drip-header/...           sends its answer's header a byte at a time, 20 bytes a second (at most 30 s)
  /drip-body/...             sends the header, then the body of 1000000 bytes at 20 bytes a second (at most 30 s)
  /redirect/<n>/...          302/301/303/307 in turn to /redirect/<n-1>/... with a small body; at 0 a final
                             200 with body "final"; odd n give a Location without scheme and host, even n a full URL
                             with the request's own Host
  /away/<kind>/<token>/...   a redirect away from this server, to the witness (a second listener that only records
                             what reaches it and answers 200 "witnessed"), <token> and the rest of the path kept:
                             other-host        302 to http://127.0.0.1:<witness port>/...
                             other-port        307 to the request's host name with the witness port
                             scheme-relative   301 to //127.0.0.1:<witness port>/...
                             user-info         302 to http://<request's Host>@127.0.0.1:<witness port>/...
                             permanent-region  S3's region answer: 301 without Location, x-amz-bucket-region and
                                               a PermanentRedirect error document naming another endpoint
                             temporary-region  S3's 307 to a regional host (a *.localhost name of the witness),
                                               x-amz-bucket-region and a TemporaryRedirect document naming it
  /witnessed/<token>         200, the request heads the witness received with <token> in their target, in order
  /witness-port              200, the witness's port
  /forbidden/...             403 with an S3 error document
  /head-redirect/...         302 to /object/0/... for every method
  /damaged/<size>/...        200 with <size> bytes of the pattern under a plain-MD5 ETag that belongs to
                             other bytes of the same size: a body damaged on the way
  /ranged/<size>/<fault>/<token>/...
                             <size> bytes of the pattern under their plain-MD5 ETag, a Range "bytes=<first>-<last>"
                             answered 206 with Content-Range, and 412 when If-Match names another ETag; <fault>:
                             none      as S3 answers
                             cut<n>    the first <n> ranged GETs with <token> send half their bytes, then close
                             changed   the object is replaced once its first range was asked for: the other
                                       ranges get 412 (If-Match no longer matches)
                             whole     Range is ignored: 200 with the whole body
                             endless   Range is ignored: 200 with a body that never ends
                             multipart as none, under a multipart ETag ("<md5>-2"), so no MD5 can be checked
                             flip      multipart, If-Match ignored: the ranges after the first come from
                                       other bytes of the same size, under another multipart ETag
                             stall<n>  the first <n> ranged GETs with <token> are whole; the later ones send
                                       half their bytes, then nothing until the client leaves (at most 30 s)

A bucket listing (the path "/") asked of the host <bucket>.<scenario>.localhost answers a page of
<listings folder>/<scenario>: first.xml without a marker, <marker>.xml for a marker (so the marker "db/a"
names db/a.xml), and 404 with an empty body when there is no such page. The pages are fixed documents
with what s3rver never sends: unreadable times, NextMarker, pages that do not move on. Some scenarios
are made, not read: over-cap, a page of 65 MiB sent until the client stops reading; stalled, the head
and first bytes of a page, then nothing until the client leaves; element-bomb, a page of 60 MiB of
empty elements; endless, pages of 1,000 keys that always name a next page; dripping, a page sent at 20
bytes a second.
"""
import argparse
import hashlib
import os
import pathlib
import signal
import socket
import socketserver
import sys
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, 'lib'))
import background_server  # noqa: E402  (found through the line above)

PATTERN = bytes(range(256))
REDIRECT_STATUSES = [(302, "Found"), (301, "Moved Permanently"), (303, "See Other"), (307, "Temporary Redirect")]
REGION_DOCUMENT = ('<?xml version="1.0" encoding="UTF-8"?>\n<Error><Code>{code}</Code><Message>{message}</Message>'
                   '<Endpoint>{endpoint}</Endpoint><Bucket>b</Bucket><RequestId>F4ULT</RequestId></Error>')
PERMANENT_MESSAGE = ("The bucket you are attempting to access must be addressed using the specified endpoint. "
                     "Please send all future requests to this endpoint.")
TEMPORARY_MESSAGE = ("Please re-send this request to the specified temporary endpoint. "
                     "Continue to use the original request endpoint for future requests.")
FORBIDDEN_BODY = (b'<?xml version="1.0" encoding="UTF-8"?>\n<Error><Code>AccessDenied</Code>'
                  b'<Message>Access Denied</Message><RequestId>F4ULT</RequestId></Error>')


def pattern_bytes(count):
    return (PATTERN * (count // len(PATTERN) + 1))[:count]


class Releases:
    """How often each token has been released; a paced answer waits for its count to grow."""

    def __init__(self):
        self.condition = threading.Condition()
        self.counts = {}

    def release(self, token):
        with self.condition:
            self.counts[token] = self.counts.get(token, 0) + 1
            self.condition.notify_all()

    def wait(self, token, count, timeout):
        with self.condition:
            return self.condition.wait_for(lambda: self.counts.get(token, 0) >= count, timeout)


def header_value(head, wanted):
    for line in head.decode("latin-1").split("\r\n")[1:]:
        name, _, value = line.partition(":")
        if name.strip().lower() == wanted:
            return value.strip()
    return None


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        head = self.read_head()
        if head is None:
            return
        request_line = head.split(b"\r\n", 1)[0].decode("latin-1")
        method, target = request_line.split(" ")[0:2]
        path, _, query = target.partition("?")
        if path == "/":
            self.on_listing(method, head, query)
            return
        segments = path.split("/")[1:]
        behaviour = segments[0]
        args = segments[1:]
        handler = getattr(self, "on_" + behaviour.replace("-", "_"), None)
        if handler is None:
            self.answer(404, "Not Found", b"no such behaviour", method)
        else:
            handler(method, head, args)

    def host_header(self, head):
        return header_value(head, "host") or f"127.0.0.1:{self.server.server_address[1]}"

    def read_head(self):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.request.recv(65536)
            if not chunk:
                return None
            data += chunk
        return data.split(b"\r\n\r\n", 1)[0] + b"\r\n\r\n"

    def send_head(self, status, reason, length, extra=()):
        lines = [f"HTTP/1.1 {status} {reason}", f"Content-Length: {length}", "Connection: close", *extra]
        self.request.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))

    def answer(self, status, reason, body, method, extra=()):
        self.send_head(status, reason, len(body), extra)
        if method != "HEAD":
            self.request.sendall(body)

    def wait_for_client_to_leave(self, limit):
        self.request.settimeout(limit)
        try:
            while self.request.recv(65536):
                pass
        except (socket.timeout, OSError):
            pass

    def on_listing(self, method, head, query):
        if self.host_labels(head)[1:2] == ["over-cap"]:
            self.send_over_cap_page()
            return
        if self.host_labels(head)[1:2] == ["stalled"]:
            self.send_head(200, "OK", 1000000, ["Content-Type: application/xml"])
            self.request.sendall(b'<?xml version="1.0" encoding="UTF-8"?><ListBucketResult><Name>fake</Name>')
            self.wait_for_client_to_leave(30)
            return
        marker = urllib.parse.parse_qs(query).get("marker", [""])[0]
        made = {"element-bomb": self.element_bomb_page, "endless": self.endless_page,
                "dripping": self.dripping_page}.get(self.scenario(head))
        if made is not None:
            made(marker)
            return
        page = self.listing_page(head, marker)
        if page is None:
            self.answer(404, "Not Found", b"", method, ["Content-Type: application/xml"])
        else:
            self.answer(200, "OK", page.read_bytes(), method, ["Content-Type: application/xml"])

    def scenario(self, head):
        return "".join(self.host_labels(head)[1:2])

    def element_bomb_page(self, marker):
        start = b'<?xml version="1.0" encoding="UTF-8"?><ListBucketResult><Name>fake</Name>'
        body = start + b"<a/>" * (60 * 1024 * 1024 // 4) + b"</ListBucketResult>"
        self.send_head(200, "OK", len(body), ["Content-Type: application/xml"])
        try:
            self.request.sendall(body)
        except OSError:
            pass  # the client stopped reading

    def endless_page(self, marker):
        """1,000 new keys after the marker's number, and the last of them as the next marker."""
        first = int(marker.rsplit("/", 1)[-1].split(".")[0]) + 1 if marker else 0
        keys = [f"db/{number:012d}.backup" for number in range(first, first + 1000)]
        contents = "".join(f"<Contents><Key>{key}</Key><LastModified>2023-11-20T01:30:00.000Z</LastModified>"
                           f"<Size>1</Size></Contents>" for key in keys)
        body = ('<?xml version="1.0" encoding="UTF-8"?><ListBucketResult><Name>fake</Name>'
                f"<IsTruncated>true</IsTruncated><NextMarker>{keys[-1]}</NextMarker>{contents}"
                "</ListBucketResult>").encode()
        self.answer(200, "OK", body, "GET", ["Content-Type: application/xml"])

    def dripping_page(self, marker):
        body = (b'<?xml version="1.0" encoding="UTF-8"?><ListBucketResult><Name>fake</Name>'
                b"<IsTruncated>false</IsTruncated><Contents><Key>db/a.backup</Key>"
                b"<LastModified>2023-11-20T01:30:00.000Z</LastModified><Size>1</Size></Contents>"
                b"</ListBucketResult>")
        self.send_head(200, "OK", len(body), ["Content-Type: application/xml"])
        self.drip(body)

    def drip(self, data, per_second=20, limit=30):
        """Sends data a byte at a time, per_second bytes a second, until the client leaves or limit seconds pass."""
        deadline = time.monotonic() + limit
        try:
            for at in range(len(data)):
                if time.monotonic() > deadline:
                    return
                self.request.sendall(data[at:at + 1])
                time.sleep(1 / per_second)
        except OSError:
            pass  # the client left

    @staticmethod
    def host_labels(head):
        host = next((line.split(b":", 1)[1].strip() for line in head.split(b"\r\n")[1:]
                     if line.lower().startswith(b"host:")), b"")
        return host.decode("latin-1").split(":")[0].split(".")

    def send_over_cap_page(self):
        size = 65 * 1024 * 1024
        start = b'<?xml version="1.0" encoding="UTF-8"?><ListBucketResult><Name>fake</Name>'
        self.send_head(200, "OK", size, ["Content-Type: application/xml"])
        blank = b" " * 65536
        try:
            self.request.sendall(start)
            for _ in range((size - len(start)) // len(blank)):
                self.request.sendall(blank)
        except OSError:
            pass  # the client stopped reading at its cap

    def listing_page(self, head, marker):
        """The page file for the scenario named in the Host header, or None."""
        folder = self.server.listings
        labels = self.host_labels(head)
        if folder is None or len(labels) < 3:
            return None
        scenario = (folder / labels[1]).resolve()
        page = (scenario / (f"{marker}.xml" if marker else "first.xml")).resolve()
        if scenario.parent != folder or not page.is_relative_to(scenario) or not page.is_file():
            return None
        return page

    def on_echo(self, method, head, args):
        self.answer(200, "OK", head, method, ["Content-Type: text/plain"])

    def on_object(self, method, head, args):
        self.answer(200, "OK", pattern_bytes(int(args[0])), method,
                    ["Content-Type: binary/octet-stream", "x-amz-meta-origin: fault-server", "ETag: \"f4\"",
                     "X-Repeated: one", "x-repeated: two", "Set-Cookie: session=1", "X-Empty:"])

    def on_paced(self, method, head, args):
        token = args[0]
        sizes = [int(size) for size in args[1].split(",")]
        body = pattern_bytes(sum(sizes))
        self.send_head(200, "OK", len(body))
        if method == "HEAD":
            return
        offset = 0
        for index, size in enumerate(sizes):
            if not self.server.releases.wait(token, index, 10):
                self.request.shutdown(socket.SHUT_RDWR)
                return
            self.request.sendall(body[offset:offset + size])
            offset += size

    def on_release(self, method, head, args):
        self.server.releases.release(args[0])
        self.answer(200, "OK", b"released", method)

    def on_cut(self, method, head, args):
        self.send_head(200, "OK", int(args[1]))
        self.request.sendall(pattern_bytes(int(args[0])))
        self.request.shutdown(socket.SHUT_RDWR)

    def on_close(self, method, head, args):
        self.request.shutdown(socket.SHUT_RDWR)

    def on_stall_header(self, method, head, args):
        self.wait_for_client_to_leave(30)

    def on_stall_body(self, method, head, args):
        self.send_head(200, "OK", 1000000)
        self.request.sendall(pattern_bytes(int(args[0])))
        self.wait_for_client_to_leave(30)

    def on_drip_header(self, method, head, args):
        self.drip(b"HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n"
                  b"Content-Type: binary/octet-stream\r\n\r\n" + pattern_bytes(10))

    def on_drip_body(self, method, head, args):
        self.send_head(200, "OK", 1000000)
        self.drip(pattern_bytes(1000000))

    def on_redirect(self, method, head, args):
        remaining = int(args[0])
        rest = "/".join(args[1:])
        if remaining == 0:
            self.answer(200, "OK", b"final", method)
            return
        status, reason = REDIRECT_STATUSES[remaining % len(REDIRECT_STATUSES)]
        path = f"/redirect/{remaining - 1}/{rest}"
        if remaining % 2 == 1:
            location = path
        else:
            location = f"http://{self.host_header(head)}{path}"
        self.answer(status, reason, f"redirect {remaining}".encode(), method, [f"Location: {location}"])

    def on_away(self, method, head, args):
        kind = args[0]
        rest = "/".join(args[1:])
        witness = self.server.witness.server_address[1]
        host = self.host_header(head)
        host_name = host.rsplit(":", 1)[0]
        if kind == "other-host":
            self.answer(302, "Found", b"", method, [f"Location: http://127.0.0.1:{witness}/{rest}"])
        elif kind == "other-port":
            self.answer(307, "Temporary Redirect", b"", method, [f"Location: http://{host_name}:{witness}/{rest}"])
        elif kind == "scheme-relative":
            self.answer(301, "Moved Permanently", b"", method, [f"Location: //127.0.0.1:{witness}/{rest}"])
        elif kind == "user-info":
            self.answer(302, "Found", b"", method, [f"Location: http://{host}@127.0.0.1:{witness}/{rest}"])
        elif kind == "permanent-region":
            body = REGION_DOCUMENT.format(code="PermanentRedirect", message=PERMANENT_MESSAGE,
                                          endpoint="b.s3.eu-west-1.amazonaws.com").encode()
            self.answer(301, "Moved Permanently", body, method,
                        ["Content-Type: application/xml", "x-amz-bucket-region: eu-west-1"])
        elif kind == "temporary-region":
            endpoint = f"b.s3-eu-west-1.localhost:{witness}"
            body = REGION_DOCUMENT.format(code="TemporaryRedirect", message=TEMPORARY_MESSAGE,
                                          endpoint=endpoint).encode()
            self.answer(307, "Temporary Redirect", body, method,
                        ["Content-Type: application/xml", "x-amz-bucket-region: eu-west-1",
                         f"Location: http://{endpoint}/{rest}"])
        else:
            self.answer(404, "Not Found", b"no such kind of redirect", method)

    def on_witnessed(self, method, head, args):
        self.answer(200, "OK", self.server.witness.heads_with(args[0]), method)

    def on_witness_port(self, method, head, args):
        self.answer(200, "OK", str(self.server.witness.server_address[1]).encode(), method)

    def on_forbidden(self, method, head, args):
        self.answer(403, "Forbidden", FORBIDDEN_BODY, method, ["Content-Type: application/xml"])

    def on_head_redirect(self, method, head, args):
        self.answer(302, "Found", b"", method, ["Location: /object/0/" + "/".join(args)])

    def on_ranged(self, method, head, args):
        size, fault, token = int(args[0]), args[1], args[2]
        body = pattern_bytes(size)
        etag = f'"{hashlib.md5(body).hexdigest()}"'
        if fault in ("multipart", "flip"):
            etag = f'"{hashlib.md5(body).hexdigest()}-2"'
        ranged = header_value(head, "range")
        if method != "HEAD" and ranged and fault == "endless":
            self.send_head(200, "OK", 1 << 40, [f"ETag: {etag}"])
            try:
                while True:
                    self.request.sendall(PATTERN * 256)
            except OSError:
                return
        if method == "HEAD" or fault == "whole" or not ranged:
            self.answer(200, "OK", body, method, [f"ETag: {etag}", "Accept-Ranges: bytes"])
            return
        first, _, last = ranged.removeprefix("bytes=").partition("-")
        first, last = int(first), min(int(last), size - 1)
        current = etag
        if fault == "changed" and first > 0:
            current = '"0123456789abcdef0123456789abcdef"'
        if fault == "flip" and first > 0:
            body = bytes(b ^ 0xFF for b in body)
            current = '"fedcba9876543210fedcba9876543210-2"'
        elif header_value(head, "if-match") not in (None, current):
            self.answer(412, "Precondition Failed", b"<Error><Code>PreconditionFailed</Code></Error>", method)
            return
        part = body[first:last + 1]
        self.send_head(206, "Partial Content", len(part),
                       [f"ETag: {current}", f"Content-Range: bytes {first}-{last}/{size}"])
        if fault.startswith("cut") and self.server.count_cut(token) <= int(fault[3:]):
            self.request.sendall(part[:len(part) // 2])
            self.request.shutdown(socket.SHUT_RDWR)
            return
        if fault.startswith("stall") and self.server.count_cut(token) > int(fault[5:]):
            self.request.sendall(part[:len(part) // 2])
            self.request.settimeout(30)
            try:
                self.request.recv(1)
            except OSError:
                pass
            return
        self.request.sendall(part)

    def on_damaged(self, method, head, args):
        body = pattern_bytes(int(args[0]))
        other = bytes([body[0] ^ 1]) + body[1:] if body else b"x"
        self.answer(200, "OK", body, method,
                    ["Content-Type: binary/octet-stream", f'ETag: "{hashlib.md5(other).hexdigest()}"'])


class WitnessHandler(Handler):
    def handle(self):
        head = self.read_head()
        if head is not None:
            self.server.record(head)
            self.answer(200, "OK", b"witnessed", head.split(b" ", 1)[0].decode("latin-1"))


class Witness(socketserver.ThreadingTCPServer):
    """The other host of the redirects: it records every request head that reaches it."""
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self):
        super().__init__(("127.0.0.1", 0), WitnessHandler)
        self.lock = threading.Lock()
        self.heads = []

    def record(self, head):
        with self.lock:
            self.heads.append(head)

    def heads_with(self, token):
        with self.lock:
            return b"".join(head for head in self.heads if token.encode() in head.split(b"\r\n", 1)[0])


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, handler, listings):
        super().__init__(address, handler)
        self.releases = Releases()
        self.cuts_lock = threading.Lock()
        self.cuts = {}
        self.listings = pathlib.Path(listings).resolve() if listings else None
        self.witness = Witness()
        threading.Thread(target=self.witness.serve_forever, daemon=True).start()

    def count_cut(self, token):
        """How many ranged GETs with this token have come, this one included."""
        with self.cuts_lock:
            self.cuts[token] = self.cuts.get(token, 0) + 1
            return self.cuts[token]


def serve(options):
    server = Server(("127.0.0.1", options.port), Handler, options.listings)

    def stop(signum, frame):
        for path in (options.port_file, options.pid_file):
            if path and os.path.exists(path):
                os.remove(path)
        os._exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    if options.pid_file:
        background_server.write_atomically(options.pid_file, f"{os.getpid()}\n")
    if options.port_file:
        background_server.write_atomically(options.port_file, f"{server.server_address[1]}\n")
    print(f"fault server listening on 127.0.0.1:{server.server_address[1]}", flush=True)
    server.serve_forever()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--listings")
    parser.add_argument("--port-file")
    parser.add_argument("--pid-file")
    parser.add_argument("--log-file")
    parser.add_argument("--detach", action="store_true")
    parser.add_argument("--stop", action="store_true")
    options = parser.parse_args()
    if options.stop:
        background_server.stop(options.pid_file, __file__)
    elif options.detach:
        if not options.port_file or not options.log_file:
            sys.exit("fault_server.py: --detach needs --port-file and --log-file")
        port = background_server.detach(__file__, options.port_file, options.pid_file, options.log_file)
        print(f"fault server started, port {port}")
    else:
        serve(options)


if __name__ == "__main__":
    main()
