#!/usr/bin/python3
"""Prints the rows of TestRequestSigning::signsLikeBotocore_data(): Authorization values that Debian's
python3-botocore computes for fixed requests and dates. Run with /usr/bin/python3 (Debian's botocore).
The request targets are encoded here with urllib, independently of the client's own encoding. Over https a
bucket name with a dot is addressed path-style (host: the endpoint; target: "/<bucket>" before the key or
listing), as AWS's SDKs do; every other request goes to the bucket's own host."""
import datetime
from urllib.parse import quote

from botocore.auth import S3SigV4Auth
from botocore.awsrequest import AWSRequest
from botocore.credentials import Credentials

ACCESS_KEY_ID = "AKIACORVANE0TEST0001"
SECRET_ACCESS_KEY = "Corv4neTest0Secret0Key0Abcdefghij0123456"
EMPTY_SHA256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"

# name, method, scheme, endpoint, bucket, key (None: a listing), prefix, marker, UTC time
ROWS = [
    ("listing with prefix", "GET", "http", "s3.amazonaws.com", "backups", None, "db/", "", "2023-11-18T03:00:00.000"),
    ("listing, endpoint with port", "GET", "http", "s3.localhost:4568", "backups", None, "db/", "", "2024-02-29T12:34:56.000"),
    ("listing, empty bucket name", "GET", "http", "s3.amazonaws.com", "", None, "db/", "", "2023-11-18T03:00:00.000"),
    ("listing with marker and prefix", "GET", "http", "s3.amazonaws.com", "backups", None, "db/", "db/a b.backup",
     "2023-11-18T03:00:00.000"),
    ("key with blank and non-ASCII", "GET", "http", "s3.amazonaws.com", "backups", "db/my backup \u00e9.backup", "", "",
     "2023-11-18T03:00:00.000"),
    ("properties of that key", "HEAD", "http", "s3.amazonaws.com", "backups", "db/my backup \u00e9.backup", "", "",
     "2023-11-18T03:00:00.000"),
    ("just before midnight", "GET", "http", "s3.amazonaws.com", "backups", "db/a.backup", "", "",
     "2023-12-31T23:59:59.999"),
    ("key with percent, question mark and hash", "GET", "http", "s3.amazonaws.com", "backups", "db/50% off?#1.backup", "", "",
     "2023-11-18T03:00:00.000"),
    ("key with empty segment and trailing slash", "GET", "http", "s3.amazonaws.com", "backups", "db//old/", "", "",
     "2023-11-18T03:00:00.000"),
    ("https listing, plain bucket", "GET", "https", "s3.amazonaws.com", "backups", None, "db/", "",
     "2023-11-18T03:00:00.000"),
    ("https listing, dotted bucket, path-style", "GET", "https", "s3.amazonaws.com", "my.backups", None, "db/", "",
     "2023-11-18T03:00:00.000"),
    ("https listing with marker, dotted bucket, endpoint with port", "GET", "https", "s3.example.net:8443",
     "my.backups", None, "db/", "db/a b.backup", "2024-02-29T12:34:56.000"),
    ("https key, dotted bucket, path-style", "GET", "https", "s3.amazonaws.com", "my.backups",
     "db/my backup \u00e9.backup", "", "", "2023-11-18T03:00:00.000"),
    ("https properties, dotted bucket, path-style", "HEAD", "https", "s3.amazonaws.com", "my.backups",
     "db/my backup \u00e9.backup", "", "", "2023-11-18T03:00:00.000"),
    ("https key with percent, question mark and hash, dotted bucket", "GET", "https", "s3.amazonaws.com",
     "my.backups", "db/50% off?#1.backup", "", "", "2023-11-18T03:00:00.000"),
    ("http listing, dotted bucket keeps its host", "GET", "http", "s3.amazonaws.com", "my.backups", None, "db/", "",
     "2023-11-18T03:00:00.000"),
]


def target(key, prefix, marker):
    if key is not None:
        if any(c in key for c in "%?#"):
            return "/" + "/".join(quote(segment, safe="-_.~") for segment in key.split("/"))
        return "/" + quote(key, safe="/~!$&'()*+,;=:@[]")
    query = "prefix=" + quote(prefix, safe="-_.~")
    if marker:
        query += "&marker=" + quote(marker, safe="-_.~")
    return "/?" + query


def authorization(method, scheme, host, path_and_query, amz_date):
    request = AWSRequest(method=method, url=f"{scheme}://{host}{path_and_query}",
                         headers={"host": host, "x-amz-content-sha256": EMPTY_SHA256, "x-amz-date": amz_date})
    request.context["timestamp"] = amz_date
    auth = S3SigV4Auth(Credentials(ACCESS_KEY_ID, SECRET_ACCESS_KEY), "s3", "us-east-1")
    canonical_request = auth.canonical_request(request)
    signature = auth.signature(auth.string_to_sign(request, canonical_request), request)
    signed_headers = auth.signed_headers(auth.headers_to_sign(request))
    return (f"AWS4-HMAC-SHA256 Credential={ACCESS_KEY_ID}/{auth.credential_scope(request)},"
            f"SignedHeaders={signed_headers},Signature={signature}")


def cpp_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


for name, method, scheme, endpoint, bucket, key, prefix, marker, moment in ROWS:
    path_style = scheme == "https" and "." in bucket
    host = endpoint if path_style or not bucket else f"{bucket}.{endpoint}"
    amz_date = datetime.datetime.fromisoformat(moment).strftime("%Y%m%dT%H%M%SZ")
    path = target(key, prefix, marker)
    if path_style:
        path = "/" + quote(bucket, safe="-_.~") + path
    key_text = "QString()" if key is None else f"QStringLiteral({cpp_string(key)})"
    print(f"    QTest::newRow({cpp_string(name)})\n"
          f"        << QByteArray({cpp_string(method)}) << {cpp_string(scheme)} << {cpp_string(endpoint)}"
          f" << {cpp_string(bucket)}"
          f" << {key_text} << {cpp_string(prefix)} << {cpp_string(marker)}\n"
          f"        << Utc({cpp_string(moment)}) << {cpp_string(host)} << QByteArray({cpp_string(path)})\n"
          f"        << {cpp_string(authorization(method, scheme, host, path, amz_date))};")
