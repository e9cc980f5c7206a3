#!/usr/bin/env python3
# An OAuth 2.0 authorization server for the tests, over HTTPS on 127.0.0.1 and a free port.
# Prints the port, then serves until killed.
#
#   oauth_server.py CERT KEY
#     GET  /authorize  takes response_type=code, client_id=app, redirect_uri on 127.0.0.1, a state
#                      and code_challenge_method=S256; answers 302 to redirect_uri with
#                      code=c1 and the state (or 400 naming what is wrong)
#     POST /token      grant_type=authorization_code: code c1, the same redirect_uri, and the
#                      verifier of the challenge give access a1 and refresh r1;
#                      grant_type=refresh_token: r1 gives a2 and the rotated refresh r2, r2 gives
#                      a3 alone; anything else is invalid_grant
#     POST /moved      307 to /token (a client must not follow it)
#     POST /big        a valid answer of 100 KiB
#     POST /trickle    a valid answer, one byte every 0.3 s
import base64
import hashlib
import http.server
import json
import ssl
import sys
import time
import urllib.parse

cert, key = sys.argv[1:3]
pending = {}


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, body=None, location=None):
        data = json.dumps(body).encode() if body is not None else b''
        self.send_response(status)
        if location:
            self.send_header('Location', location)
        self.send_header('Content-Type', 'application/json')
        self.send_header('Content-Length', str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        q = dict(urllib.parse.parse_qsl(url.query))
        redirect = urllib.parse.urlsplit(q.get('redirect_uri', ''))
        wrong = [name for name, good in [
            ('path', url.path == '/authorize'),
            ('response_type', q.get('response_type') == 'code'),
            ('client_id', q.get('client_id') == 'app'),
            ('redirect_uri', redirect.scheme == 'http' and redirect.hostname == '127.0.0.1'),
            ('state', len(q.get('state', '')) >= 8),
            ('code_challenge_method', q.get('code_challenge_method') == 'S256'),
            ('code_challenge', len(q.get('code_challenge', '')) == 43)] if not good]
        if wrong:
            return self.answer(400, {'error': 'invalid_request', 'wrong': wrong})
        pending['c1'] = (q['code_challenge'], q['redirect_uri'])
        sep = '&' if redirect.query else '?'
        self.answer(302, location=q['redirect_uri'] + sep + urllib.parse.urlencode(
            {'code': 'c1', 'state': q['state']}))

    def do_POST(self):
        length = int(self.headers.get('Content-Length', 0))
        form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode()))
        if self.path == '/moved':
            return self.answer(307, location='/token')
        if self.path == '/big':
            return self.answer(200, {'access_token': 'a9', 'padding': 'x' * 102400})
        if self.path == '/trickle':
            data = json.dumps({'access_token': 'a9', 'padding': 'x' * 20}).encode()
            self.send_response(200)
            self.send_header('Content-Length', str(len(data)))
            self.end_headers()
            for byte in data:
                self.wfile.write(bytes([byte]))
                self.wfile.flush()
                time.sleep(0.3)
            return
        grant = form.get('grant_type')
        if grant == 'authorization_code' and form.get('code') in pending:
            challenge, redirect = pending.pop(form['code'])
            digest = hashlib.sha256(form.get('code_verifier', '').encode()).digest()
            made = base64.urlsafe_b64encode(digest).rstrip(b'=').decode()
            if made == challenge and form.get('redirect_uri') == redirect:
                return self.answer(200, {'access_token': 'a1', 'refresh_token': 'r1',
                                         'token_type': 'Bearer', 'expires_in': 3600})
        if grant == 'refresh_token' and form.get('client_id') == 'app':
            if form.get('refresh_token') == 'r1':
                return self.answer(200, {'access_token': 'a2', 'refresh_token': 'r2',
                                         'token_type': 'Bearer'})
            if form.get('refresh_token') == 'r2':
                return self.answer(200, {'access_token': 'a3', 'token_type': 'Bearer'})
        self.answer(400, {'error': 'invalid_grant', 'error_description': 'Bad grant'})


server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
server.daemon_threads = True
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
