#!/usr/bin/env python3
# A TLS server that follows a script, for the faults no real server commits on purpose: records
# cut short, data in the clear where none belongs. It prints its port, then one line per result.
#
#   tls_script_server.py CERT KEY STEP...
#     send:TEXT   send TEXT and CR LF (in the session once it is up); "\r\n" in TEXT ends lines
#     line        read one line
#     show        read one line and print it
#     tls         hand-shake as the server; prints "handshake failed" and ends when it fails
#     cut:N:TEXT  encrypt TEXT and CR LF, send only the first N bytes of the record
#     hold:S      wait up to S seconds for the client to close
#     end         read until the client closes; prints "close_notify" or "no close_notify"
import codecs
import select
import socket
import ssl
import sys

cert, key, *steps = sys.argv[1:]
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
listener = socket.create_server(('127.0.0.1', 0))
print(listener.getsockname()[1], flush=True)
conn, _ = listener.accept()
incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
session = None
plain = b''


def flush():
    data = outgoing.read()
    if data:
        conn.sendall(data)


def pull():
    ready, _, _ = select.select([conn], [], [], 20)
    data = conn.recv(65536) if ready else b''
    if not data:
        incoming.write_eof()
        return False
    incoming.write(data)
    return True


def read_line():
    global plain
    while b'\n' not in plain:
        if session is None:
            data = conn.recv(65536)
            if not data:
                raise EOFError
            plain += data
            continue
        try:
            plain += session.read(65536)
        except ssl.SSLWantReadError:
            flush()
            if not pull():
                raise EOFError
    line, _, plain = plain.partition(b'\n')
    return line


for step in steps:
    verb, _, arg = step.partition(':')
    if verb == 'send':
        text = codecs.decode(arg, 'unicode_escape').encode('latin-1') + b'\r\n'
        if session is None:
            conn.sendall(text)
        else:
            session.write(text)
            flush()
    elif verb == 'line':
        read_line()
    elif verb == 'show':
        print(read_line().rstrip(b'\r').decode('latin-1'), flush=True)
    elif verb == 'tls':
        session = context.wrap_bio(incoming, outgoing, server_side=True)
        while True:
            try:
                session.do_handshake()
                flush()
                break
            except ssl.SSLWantReadError:
                flush()
                if not pull():
                    print('handshake failed', flush=True)
                    sys.exit(0)
            except ssl.SSLError:
                print('handshake failed', flush=True)
                sys.exit(0)
    elif verb == 'cut':
        count, _, text = arg.partition(':')
        session.write(codecs.decode(text, 'unicode_escape').encode('latin-1') + b'\r\n')
        conn.sendall(outgoing.read()[:int(count)])
    elif verb == 'hold':
        select.select([conn], [], [], float(arg))
    elif verb == 'end':
        result = 'no close_notify'
        while True:
            try:
                if not session.read(65536):  # what the close alert reads as
                    result = 'close_notify'
                    break
            except ssl.SSLZeroReturnError:
                result = 'close_notify'
                break
            except ssl.SSLWantReadError:
                pull()
            except (ssl.SSLError, OSError):
                break
        print(result, flush=True)
conn.close()
