#!/usr/bin/env python3
"""Serves a bucket listing of many keys on loopback, one page of 1,000 keys per request, for the
catalogue benchmark. Pages follow the marker parameter as S3 does (keys after the marker, in key
order, IsTruncated while more remain). Every page is rendered before the server starts, so the
answers cost the server almost nothing. Writes its port to the file named by --port-file."""

import argparse
import bisect
import random
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from xml.sax.saxutils import escape

PAGE = 1000
STEMS = ["sales-office", "inventory", "payroll", "crm", "warehouse-east", "warehouse-west",
         "analytics", "billing", "support", "hr", "logística", "contabilidade"]


def make_keys(count, folder):
    rng = random.Random(20231118)
    objects = []
    for n in range(count):
        stem = STEMS[n % len(STEMS)]
        year = 2019 + (n // len(STEMS)) % 6
        month = 1 + (n // 7) % 12
        day = 1 + (n // 3) % 28
        key = f"{folder}/{stem}-{year}{month:02d}{day:02d}-{n:06d}.backup"
        when = f"{year}-{month:02d}-{day:02d}T{n % 24:02d}:{n % 60:02d}:{(n * 7) % 60:02d}.000Z"
        objects.append((key, when, rng.randint(1, 4 << 30)))
    objects.sort(key=lambda o: o[0].encode())
    return objects


def render(bucket, prefix, marker, objects, truncated):
    contents = "".join(
        f"<Contents><Key>{escape(key)}</Key><LastModified>{when}</LastModified>"
        f"<ETag>&quot;{n:032x}&quot;</ETag><Size>{size}</Size>"
        f"<Owner><ID>owner</ID><DisplayName>bench</DisplayName></Owner>"
        f"<StorageClass>STANDARD</StorageClass></Contents>"
        for n, (key, when, size) in enumerate(objects))
    return ('<?xml version="1.0" encoding="UTF-8"?>'
            '<ListBucketResult xmlns="http://s3.amazonaws.com/doc/2006-03-01/">'
            f"<Name>{escape(bucket)}</Name><Prefix>{escape(prefix)}</Prefix>"
            f"<Marker>{escape(marker)}</Marker><MaxKeys>{PAGE}</MaxKeys>"
            f"<IsTruncated>{'true' if truncated else 'false'}</IsTruncated>"
            f"{contents}</ListBucketResult>").encode()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--keys", type=int, default=100000)
    parser.add_argument("--bucket", default="bench")
    parser.add_argument("--folder", default="db")
    parser.add_argument("--port-file", required=True)
    args = parser.parse_args()

    objects = make_keys(args.keys, args.folder)
    keys = [o[0] for o in objects]
    prefix = args.folder + "/"
    pages = {}
    for start in range(0, len(objects), PAGE):
        marker = objects[start - 1][0] if start else ""
        page = objects[start:start + PAGE]
        pages[marker] = render(args.bucket, prefix, marker, page, start + PAGE < len(objects))

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_GET(self):
            query = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query)
            marker = query.get("marker", [""])[0]
            body = pages.get(marker)
            if body is None:
                # A marker between page bounds: render the page that follows it.
                start = bisect.bisect_right(keys, marker)
                body = render(args.bucket, prefix, marker, objects[start:start + PAGE],
                              start + PAGE < len(objects))
            self.send_response(200)
            self.send_header("Content-Type", "application/xml")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    with open(args.port_file, "w") as f:
        f.write(str(server.server_address[1]))
    server.serve_forever()


if __name__ == "__main__":
    main()
