#!/usr/bin/env python3
"""Serves one file as the body of every signed GET (HEAD: its headers), fast: the kernel copies the file
to the socket (sendfile). Unsigned requests get 403. For tools/bench/download/run.sh.

  python3 object_server.py --file <path> --port-file <file>
"""
import argparse
import os
import socketserver


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
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
            size = os.path.getsize(self.server.path)
            self.wfile.write(f"HTTP/1.1 200 OK\r\nContent-Length: {size}\r\n"
                             "Content-Type: binary/octet-stream\r\n\r\n".encode())
            self.wfile.flush()
            if method != b"HEAD":
                with open(self.server.path, "rb") as file:
                    self.request.sendfile(file)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--file", required=True)
    parser.add_argument("--port-file", required=True)
    options = parser.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    server.path = options.file
    with open(options.port_file + ".tmp", "w") as file:
        file.write(f"{server.server_address[1]}\n")
    os.replace(options.port_file + ".tmp", options.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
