"""Loopback HTTP server for the network tests.

Serves files from --root, plus generated answers:
  /body?type=T&text=X[&latin1=1]  X as the body, Content-Type T ("none": no header)
  /size?bytes=N                   N bytes, streamed
  /drop?bytes=N                   announces 2N bytes, sends N and closes the connection
  /slow?bytes=N&delay=S           N bytes, one KiB every S seconds
  /status?code=C                  status C with a short body
With --cert and --key the same port speaks TLS to clients that open with a TLS handshake and
plain HTTP to the others. Prints "PORT n" once listening; ends with its parent process.
"""
import argparse
import ctypes
import http.server
import signal
import socket
import ssl
import sys
import time
import urllib.parse

ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # end with the parent, even after a crash

parser = argparse.ArgumentParser()
parser.add_argument('--root', default='.')
parser.add_argument('--cert')
parser.add_argument('--key')
args = parser.parse_args()
tls = None
if args.cert:
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(args.cert, args.key)

CHUNK = 1 << 20


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def __init__(self, *a, **kw):
        super().__init__(*a, directory=args.root, **kw)

    def log_message(self, *a):
        pass

    def head(self, code, length, ctype='application/octet-stream'):
        self.send_response(code)
        if ctype != 'none':
            self.send_header('Content-Type', ctype)
        self.send_header('Content-Length', str(length))
        self.end_headers()

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        q = {k: v[-1] for k, v in urllib.parse.parse_qs(url.query, keep_blank_values=True).items()}
        route = getattr(self, 'route_' + url.path.strip('/'), None)
        if route is None:
            return super().do_GET()
        try:
            route(q)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def route_body(self, q):
        body = q.get('text', '').encode('latin-1' if q.get('latin1') else 'utf-8')
        self.head(200, len(body), q.get('type', 'none'))
        self.wfile.write(body)

    def route_size(self, q):
        left = int(q['bytes'])
        self.head(200, left)
        block = b'a' * CHUNK
        while left > 0:
            n = min(left, CHUNK)
            self.wfile.write(block[:n])
            left -= n

    def route_drop(self, q):
        n = int(q['bytes'])
        self.head(200, 2 * n)
        self.wfile.write(b'b' * n)
        self.wfile.flush()
        self.close_connection = True
        self.connection.shutdown(socket.SHUT_RDWR)

    def route_slow(self, q):
        left, delay = int(q['bytes']), float(q.get('delay', '0.2'))
        self.head(200, left)
        while left > 0:
            n = min(left, 1024)
            self.wfile.write(b'c' * n)
            self.wfile.flush()
            left -= n
            time.sleep(delay)

    def route_status(self, q):
        body = b'status page'
        self.head(int(q.get('code', '500')), len(body), 'text/html')
        self.wfile.write(body)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def get_request(self):
        conn, addr = super().get_request()
        if tls is not None:
            conn.settimeout(5)
            try:
                first = conn.recv(1, socket.MSG_PEEK)
            except OSError:
                first = b''
            conn.settimeout(None)
            if first == b'\x16':
                conn = tls.wrap_socket(conn, server_side=True)
        return conn, addr

    def handle_error(self, request, client_address):
        pass


server = Server(('127.0.0.1', 0), Handler)
print('PORT', server.server_address[1], flush=True)
server.serve_forever()
