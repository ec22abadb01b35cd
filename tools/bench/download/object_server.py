#!/usr/bin/env python3
"""Serves one file as the object behind every signed GET (HEAD: its headers, with its MD5 as ETag), with
byte ranges ("Range: bytes=<first>-<last>", answered 206). Fast by default: the kernel copies the file to
the socket (sendfile). With --rate-mib each connection sends at most that many MiB/s and every answer
waits --first-byte-ms before its first byte, as one connection to S3 does; with --total-rate-mib all
connections together send at most that many MiB/s, as the link to S3 does. Unsigned requests get 403.
For tools/bench/download/run.sh.

  python3 object_server.py --file <path> --port-file <file>
                           [--rate-mib <MiB/s> --total-rate-mib <MiB/s> --first-byte-ms <ms>]
"""
import argparse
import hashlib
import os
import socketserver
import threading
import time

# The size of one paced send: small enough to keep a connection's pace even, large enough to cost little.
PACED_BLOCK = 256 * 1024


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        # A client that stops a download drops its connections mid-answer.
        try:
            self.serve_requests()
        except (ConnectionResetError, BrokenPipeError):
            pass

    def serve_requests(self):
        while True:
            request_line = self.rfile.readline()
            if not request_line:
                return
            headers = {}
            while (line := self.rfile.readline()) not in (b"\r\n", b"\n", b""):
                name, _, value = line.decode("latin-1").partition(":")
                headers[name.strip().lower()] = value.strip()
            method = request_line.split(b" ")[0]
            if not headers.get("authorization", "").startswith("AWS4-HMAC-SHA256 Credential="):
                self.wfile.write(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
                self.wfile.flush()
                continue
            self.answer(method, headers.get("range", ""))

    def answer(self, method, ranged):
        server = self.server
        first, last = 0, server.size - 1
        status = "200 OK"
        extra = ""
        if ranged.startswith("bytes=") and method != b"HEAD":
            start, _, end = ranged[len("bytes="):].partition("-")
            first, last = int(start), min(int(end) if end else server.size - 1, server.size - 1)
            status = "206 Partial Content"
            extra = f"Content-Range: bytes {first}-{last}/{server.size}\r\n"
        if server.first_byte:
            time.sleep(server.first_byte)
        self.wfile.write(f"HTTP/1.1 {status}\r\nContent-Length: {last + 1 - first}\r\n{extra}"
                         f"ETag: \"{server.md5}\"\r\nLast-Modified: Mon, 01 Jan 2024 00:00:00 GMT\r\n"
                         "Accept-Ranges: bytes\r\nContent-Type: binary/octet-stream\r\n\r\n".encode())
        self.wfile.flush()
        if method == b"HEAD":
            return
        with open(server.path, "rb") as file:
            if not server.rate and not server.total_rate:
                self.request.sendfile(file, first, last + 1 - first)
                return
            started = time.monotonic()
            sent = 0
            while first + sent <= last:
                count = min(PACED_BLOCK, last + 1 - first - sent)
                link_done = server.reserve_link(count)
                self.request.sendfile(file, first + sent, count)
                sent += count
                own_done = started + sent / server.rate if server.rate else 0
                ahead = max(own_done, link_done) - time.monotonic()
                if ahead > 0:
                    time.sleep(ahead)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64
    total_rate = 0
    link_free_at = 0.0
    link_lock = threading.Lock()

    def reserve_link(self, count):
        """The time by which the shared link has carried count more bytes, after what it carries already."""
        if not self.total_rate:
            return 0
        with self.link_lock:
            self.link_free_at = max(time.monotonic(), self.link_free_at) + count / self.total_rate
            return self.link_free_at


def file_md5(path):
    md5 = hashlib.md5()
    with open(path, "rb") as file:
        while block := file.read(1 << 20):
            md5.update(block)
    return md5.hexdigest()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--file", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--rate-mib", type=float, default=0)
    parser.add_argument("--total-rate-mib", type=float, default=0)
    parser.add_argument("--first-byte-ms", type=float, default=0)
    options = parser.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    server.path = options.file
    server.size = os.path.getsize(options.file)
    server.md5 = file_md5(options.file)
    server.rate = options.rate_mib * 1024 * 1024
    server.total_rate = options.total_rate_mib * 1024 * 1024
    server.first_byte = options.first_byte_ms / 1000
    with open(options.port_file + ".tmp", "w") as file:
        file.write(f"{server.server_address[1]}\n")
    os.replace(options.port_file + ".tmp", options.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
