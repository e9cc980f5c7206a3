#!/usr/bin/python3
"""A real SMTP server (Debian's aiosmtpd) for the tests, on 127.0.0.1 and a free port.

Prints the port on the first line of standard output, then serves until killed. Every message
is stored in the folder given with --dir as NNNNNN.eml (the bytes after dot-unstuffing) and
NNNNNN.env (the envelope: a line "from <address>", one line "to <address>" per recipient
and a line "auth <user>"), the .env written last so that a reader never sees half a message.
RCPT to greylisted@... is answered 450, to unknown@... 550.
With --user and --password, AUTH LOGIN and PLAIN are offered and mail is refused until the
client has authenticated with exactly that pair.
With --cert and --key the server speaks TLS: --tls starttls offers STARTTLS and refuses
everything but EHLO, NOOP, QUIT and STARTTLS until it is done; --tls implicit hand-shakes right
after the connect. With --log, the verb of every AUTH, MAIL, RCPT and DATA command received is
appended to that file, one per line, so a test can tell that none reached the server.
--size announces that SIZE limit (none by default); --smtputf8 offers SMTPUTF8.
With --greylist-once, greylisted@... is answered 450 only the first time it is named.
--data-delay holds the answer to each message's end that many seconds, as a slow server does.
--pipelining lists PIPELINING in the EHLO reply (the server reads commands in order either way).
"""
import argparse
import asyncio
import logging
import os
import ssl
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Store:
    def __init__(self, folder, greylist_once=False, data_delay=0.0):
        self.folder = folder
        self.count = 0
        self.greylist_once = greylist_once
        self.greylisted = set()
        self.data_delay = data_delay

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        # Recipients named for a refusal get it, so that a test can meet one of each kind.
        if address.startswith('greylisted@') and address not in self.greylisted:
            if self.greylist_once:
                self.greylisted.add(address)
            return '450 4.2.0 Greylisted, try again later'
        if address.startswith('unknown@'):
            return '550 5.1.1 No such user'
        envelope.rcpt_tos.append(address)
        return '250 OK'

    async def handle_DATA(self, server, session, envelope):
        if self.data_delay:
            await asyncio.sleep(self.data_delay)
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


class PipeliningStore(Store):
    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        # A hook of EHLO takes over noting the client's name, without which MAIL is refused.
        session.host_name = hostname
        responses.insert(len(responses) - 1, '250-PIPELINING')
        return responses


def logging_server(log_path):
    """An SMTP class that notes the commands a test must be able to see."""
    if not log_path:
        return SMTP

    def note(verb):
        with open(log_path, 'a') as f:
            f.write(verb + '\n')

    class LoggingSMTP(SMTP):
        async def smtp_AUTH(self, arg):
            note('AUTH')
            return await super().smtp_AUTH(arg)

        async def smtp_MAIL(self, arg):
            note('MAIL')
            return await super().smtp_MAIL(arg)

        async def smtp_RCPT(self, arg):
            note('RCPT')
            return await super().smtp_RCPT(arg)

        async def smtp_DATA(self, arg):
            note('DATA')
            return await super().smtp_DATA(arg)

    return LoggingSMTP


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--dir', required=True)
    parser.add_argument('--user', default='')
    parser.add_argument('--password', default='')
    parser.add_argument('--cert', default='')
    parser.add_argument('--key', default='')
    parser.add_argument('--tls', choices=['starttls', 'implicit'], default=None)
    parser.add_argument('--host', default='127.0.0.1')
    parser.add_argument('--log', default='')
    parser.add_argument('--only', choices=['LOGIN', 'PLAIN'], default=None)
    parser.add_argument('--size', type=int, default=None)
    parser.add_argument('--smtputf8', action='store_true')
    parser.add_argument('--greylist-once', action='store_true')
    parser.add_argument('--data-delay', type=float, default=0.0)
    parser.add_argument('--pipelining', action='store_true')
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

    handler = (PipeliningStore if args.pipelining else Store)(args.dir, args.greylist_once,
                                                              args.data_delay)
    options = dict(hostname='tovrel-test', decode_data=False, data_size_limit=args.size,
                   enable_SMTPUTF8=args.smtputf8)
    if args.user:
        # With implicit TLS the whole connection is inside the session, which aiosmtpd cannot
        # tell; only a STARTTLS server has a plain phase in which AUTH must not be offered.
        options.update(authenticator=authenticator, auth_required=True,
                       auth_require_tls=args.tls == 'starttls')
        if args.only:
            options.update(auth_exclude_mechanism=[m for m in ('LOGIN', 'PLAIN') if m != args.only])
    context = None
    if args.tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    server_ssl = None
    if args.tls == 'starttls':
        options.update(tls_context=context, require_starttls=True)
    elif args.tls == 'implicit':
        server_ssl = context
    smtp_class = logging_server(args.log)

    loop = asyncio.new_event_loop()
    server = loop.run_until_complete(
        loop.create_server(lambda: smtp_class(handler, **options), args.host, 0, ssl=server_ssl))
    print(server.sockets[0].getsockname()[1], flush=True)
    loop.run_forever()


if __name__ == '__main__':
    main()
