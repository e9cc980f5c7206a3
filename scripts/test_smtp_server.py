#!/usr/bin/python3
"""A real SMTP server (Debian's aiosmtpd) for the tests, on 127.0.0.1 and a free port.

Prints the port on the first line of standard output, then serves until killed. Every message
is stored in the folder given with --dir as NNNNNN.eml (the bytes after dot-unstuffing) and
NNNNNN.env (the envelope: a line "from <address>", one line "to <address>" per recipient
and a line "auth <user>"), the .env written last so that a reader never sees half a message.
With --user and --password, AUTH LOGIN is offered and mail is refused until the client has
authenticated with exactly that pair.
"""
import argparse
import asyncio
import logging
import os
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Store:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, '%06d' % self.count)
        with open(base + '.eml', 'wb') as f:
            f.write(envelope.original_content)
        user = ''
        if isinstance(session.auth_data, LoginPassword):
            user = session.auth_data.login.decode('utf-8', 'surrogateescape')
        lines = ['from ' + envelope.mail_from]
        lines += ['to ' + rcpt for rcpt in envelope.rcpt_tos]
        lines.append('auth ' + user)
        with open(base + '.tmp', 'w', encoding='utf-8', errors='surrogateescape') as f:
            f.write('\n'.join(lines) + '\n')
        os.rename(base + '.tmp', base + '.env')
        return '250 Message accepted for delivery'


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--dir', required=True)
    parser.add_argument('--user', default='')
    parser.add_argument('--password', default='')
    args = parser.parse_args()
    logging.basicConfig(level=logging.CRITICAL)
    # Plain-text AUTH is what the tests exercise; loopback only.
    warnings.simplefilter('ignore')

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == args.user.encode()
              and auth_data.password == args.password.encode())
        # handled=False: the server itself answers a refusal with 535 (aiosmtpd 1.4 stays silent
        # when the authenticator says it handled the failure).
        return AuthResult(success=ok, handled=False, auth_data=auth_data)

    handler = Store(args.dir)
    options = dict(hostname='tovrel-test', decode_data=False, data_size_limit=None,
                   enable_SMTPUTF8=False)
    if args.user:
        options.update(authenticator=authenticator, auth_required=True, auth_require_tls=False)

    loop = asyncio.new_event_loop()
    server = loop.run_until_complete(
        loop.create_server(lambda: SMTP(handler, **options), '127.0.0.1', 0))
    print(server.sockets[0].getsockname()[1], flush=True)
    loop.run_forever()


if __name__ == '__main__':
    main()
