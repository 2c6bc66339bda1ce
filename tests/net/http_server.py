#!/usr/bin/env python3
"""Loopback HTTP(S) server for the download tests.

Serves the files of a folder, and answers of other shapes by path prefix:
/nolength/F  the file without Content-Length, ended by closing
/cut/F       announces the file's length, sends half of it, closes
/slow/F      headers, then silence for a minute
/stall/F     headers and half of the file, then silence for a minute
/huge        announces 300 MiB, sends a few bytes
/redirect/F  302 to /F;  /loop  302 to itself
anything missing: 404. Prints the port on its first line.

usage: http_server.py DIR [CERT KEY]
"""
import http.server
import os
import ssl
import sys
import time

ROOT = sys.argv[1]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def body_of(self, name):
        path = os.path.join(ROOT, os.path.basename(name))
        if not os.path.isfile(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def head(self, code, length=None, extra=()):
        self.send_response(code)
        if length is not None:
            self.send_header("Content-Length", str(length))
        for k, v in extra:
            self.send_header(k, v)
        self.end_headers()

    def do_GET(self):
        path = self.path
        for prefix in ("/nolength/", "/cut/", "/slow/", "/stall/", "/redirect/"):
            if path.startswith(prefix):
                kind, name = prefix.strip("/"), path[len(prefix):]
                break
        else:
            kind, name = "plain", path
        if path == "/huge":
            self.head(200, 300 * 1024 * 1024)
            self.wfile.write(b"x" * 1000)
            self.close_connection = True
            return
        if path == "/loop":
            self.head(302, 0, [("Location", "/loop")])
            return
        if kind == "redirect":
            self.head(302, 0, [("Location", "/" + name)])
            return
        body = self.body_of(name)
        if body is None:
            self.head(404, 9)
            self.wfile.write(b"not found")
            return
        if kind == "nolength":
            self.head(200, None, [("Connection", "close")])
            self.wfile.write(body)
            self.close_connection = True
        elif kind == "cut":
            self.head(200, len(body))
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            self.close_connection = True
        elif kind in ("slow", "stall"):
            self.head(200, len(body))
            self.wfile.write(body[: len(body) // 2] if kind == "stall" else b"")
            self.wfile.flush()
            time.sleep(60)
        else:
            self.head(200, len(body))
            self.wfile.write(body)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
if len(sys.argv) > 3:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[2], sys.argv[3])
    server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
