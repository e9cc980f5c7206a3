#!/usr/bin/python3
"""End-to-end and micro benchmarks of TovrelMail's send path.

Every sender (TovrelMail's command line and library path, the tools a user would pick instead,
and the floors) delivers the same cases to one discard SMTP sink on 127.0.0.1, several times
and interleaved, so that the ratios come from one run on one machine. Each run is a whole process
timed by tovrel_timed (wall, CPU and peak RSS from wait4); the medians go into one table, which
is printed and written to BUILD/bench/report.md together with the targets, each marked met or
not met from the same figures.

The STARTTLS cases go to a second sink that offers STARTTLS with a certificate of a test CA made
for this run (scripts/make_test_certs) and refuses MAIL in the clear, so every message it counts
came over TLS; each sender checks the certificate against that CA.

Before timing, each sender sends the small, the 1 MiB, the body and the one-line body case once to
a third sink that keeps the messages (and a 1 MiB attachment over STARTTLS to a keeping TLS sink), and the message is
parsed with Python's email package: a sender whose message does not carry the body and attachment
it was given is not timed for that kind of case.

The floors are whole processes too (bench/README.md): the prepared wire text sent with sendfile(2)
(plain floor), the same over STARTTLS with a minimal OpenSSL client (TLS floor), 1,000 small
messages over one connection (outbox floor), and a minimal Qt Widgets window timed on an Xvfb of
the bench's own from exec to its first paint, as TovrelMail's compose window is (window floor).
"""

import argparse
import base64
import email
import email.policy
import json
import os
import platform
import queue
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field

MIB = 1 << 20
SEED = 0x70B3E1  # fixed: every run sends the same bytes
DATA_VERSION = '5'  # bump when the generated files change shape

SENDER = 'sender@example.org'
RECIPIENT = 'rcpt@example.org'
SUBJECT = 'TovrelMail benchmark'
BODY_LINE_CHARS = 80
SMALL_BODY = 'Hello,\nthis is the small benchmark message.\nRegards\n'


@dataclass
class Case:
    name: str
    # 'small', 'attachment', 'body', 'line' (a body of one line), 'outbox' (`count` kept small
    # messages) or 'window' (the compose window shown)
    kind: str
    mib: int  # payload size in MiB (0 for the small message)
    reps_factor: int = 1  # short cases are repeated more often: their medians are noisier
    label: str = ''
    tls: bool = False  # sent to the STARTTLS sink
    plain: str = ''  # for a STARTTLS case: the same message sent in the clear
    count: int = 1  # attachments of kib KiB each instead of one of mib MiB
    kib: int = 0
    senders: tuple = ()  # when not every sender runs it

    @property
    def payload(self):
        return self.count * self.kib * 1024 if self.kib else self.mib * MIB

    @property
    def group(self):
        """The cases one check stands for."""
        return 'tls' if self.tls else self.kind


CASES = [
    Case('small', 'small', 0, 3, 'small message (3-line body)'),
    Case('att1', 'attachment', 1, 3, '1 MiB attachment'),
    Case('att10', 'attachment', 10, 1, '10 MiB attachment'),
    Case('att100', 'attachment', 100, 1, '100 MiB attachment'),
    # Sending a gigabyte five times over is the whole point for TovrelMail and the floor; the
    # other programs would take minutes for it and tell nothing new.
    Case('att1g', 'attachment', 1024, 1, '1 GiB attachment',
         senders=('floor', 'read-write push', 'TovrelMail command line', 'TovrelMail library')),
    Case('att1000', 'attachment', 0, 1, '1,000 attachments of 10 KiB', count=1000, kib=10,
         senders=('floor', 'read-write push', 'TovrelMail command line', 'TovrelMail library',
                  'curl')),
    Case('body10', 'body', 10, 1, '10 MiB body of 80-character lines'),
    Case('line100', 'line', 100, 1, '100 MiB body of one line'),
    Case('tls10', 'attachment', 10, 1, '10 MiB attachment over STARTTLS', True, 'att10'),
    Case('tls100', 'attachment', 100, 1, '100 MiB attachment over STARTTLS', True, 'att100'),
    # The small message's wire text kept 1,000 times in a private outbox and sent with
    # `--send-outbox`; the floor pushes it 1,000 times over one connection.
    Case('outbox1000', 'outbox', 0, 1, '1,000 kept messages (`--send-outbox`)', plain='small',
         count=1000, senders=('floor', 'TovrelMail command line')),
    Case('window', 'window', 0, 3, 'compose window shown (Xvfb)',
         senders=('floor', 'TovrelMail command line')),
]
CASE_BY_NAME = {c.name: c for c in CASES}
# Checked before timing, not timed: one case for each group.
CHECK_CASES = [CASE_BY_NAME['small'], CASE_BY_NAME['att1'], CASE_BY_NAME['body10'],
               CASE_BY_NAME['line100'],
               Case('tls1', 'attachment', 1, 1, '1 MiB attachment over STARTTLS', True, 'att1')]

# The floors. FLOOR is each case's own: the message as it goes on the wire, prepared beforehand
# and sent from the page cache with sendfile (nothing but the push timed); over STARTTLS the same
# text sent by a minimal OpenSSL client; for the outbox 1,000 of them over one connection; for
# the window a minimal Qt Widgets window. The read-write push is the older plain floor (read into
# a buffer and written), kept for comparison; the base64 floor encodes the attachment with
# `base64` and then pushes it (both timed; for the text cases the same push as the read-write one).
FLOOR = 'floor'
RW_FLOOR = 'read-write push'
B64_FLOOR = 'base64 floor'
FLOORS = [FLOOR, RW_FLOOR, B64_FLOOR]
# What FLOOR is called in each kind of case.
FLOOR_NAMES = {'tls': 'TLS floor', 'outbox': 'outbox floor', 'window': 'window floor'}
CLI = 'TovrelMail command line'
LIB = 'TovrelMail library'
OTHERS = ['curl', 's-nail', 'msmtp', 'Python smtplib']
PROGRAMS = FLOORS + [CLI, LIB] + OTHERS
# The senders of the STARTTLS cases.
TLS_PROGRAMS = [FLOOR, CLI, LIB, 'curl', 's-nail', 'msmtp']
TLS_PEERS = ['curl', 's-nail', 'msmtp']
# The senders of the one-line body, which is there for TovrelMail's memory: a line that long is
# no mail the others are meant to send.
LINE_PROGRAMS = [CLI, LIB]


@dataclass
class Step:
    argv: list
    stdin: str = ''
    stdout: str = ''
    env: dict = field(default_factory=dict)


@dataclass
class Sample:
    wall: float
    cpu: float
    rss_kib: int
    sink_cpu: float  # what the connections cost the sink
    connections: int = 1  # that carried the messages


# --------------------------------------------------------------------------------------------
# Test data, generated once from the fixed seed


class Data:
    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)

    def path(self, name):
        return os.path.join(self.folder, name)

    def attachment(self, case):
        return self.attachments(case)[0]

    def attachments(self, case):
        if case.kib:
            return [self.path('many/attachment-%dKiB-%04d.bin' % (case.kib, i))
                    for i in range(case.count)]
        return [self.path('attachment-%dMiB.bin' % case.mib)]

    def body(self, case):
        if case.kind == 'body':
            return self.path('body-%dMiB.txt' % case.mib)
        if case.kind == 'line':
            return self.path('line-%dMiB.txt' % case.mib)
        return self.path('small-body.txt')

    def prepared(self, case):
        return self.path('prepared-%s.eml' % (case.plain or case.name))

    def wire(self, case):
        """The prepared message as it goes on the wire: CR LF line ends, dot-stuffed, without the
        end-of-data line."""
        return self.path('wire-%s.eml' % (case.plain or case.name))

    def ensure(self, cases):
        """Makes what `cases` send, each case's files once (a subset of the cases makes only its
        own; a change of DATA_VERSION or SEED starts afresh)."""
        stamp = self.path('data.stamp')
        wanted = '%s %x' % (DATA_VERSION, SEED)
        if not os.path.exists(stamp) or open(stamp).read() != wanted:
            shutil.rmtree(self.folder, ignore_errors=True)
            os.makedirs(self.folder)
            with open(stamp, 'w') as f:
                f.write(wanted)
        with open(self.path('small-body.txt'), 'w') as f:
            f.write(SMALL_BODY)
        sources = {}
        for case in cases:
            source = CASE_BY_NAME[case.plain] if case.plain else case
            sources[source.name] = source
        for case in sources.values():
            made = self.path('made-%s' % case.name)
            if case.kind not in ('small', 'attachment', 'body', 'line') or os.path.exists(made):
                continue
            print('generating benchmark data for %s in %s ...' % (case.label, self.folder),
                  file=sys.stderr)
            if case.kind == 'attachment':
                self._write_attachments(case)
            elif case.kind == 'body':
                self._write_body(case)
            elif case.kind == 'line':
                self._write_line(case)
            if case.kind != 'line':
                self._write_prepared(case)
                self._write_wire(case)
            open(made, 'w').close()

    def _write_attachments(self, case):
        # Random bytes written out in full (no holes: the file is read as any file would be),
        # in pieces so that a gigabyte never sits in memory.
        rng = random.Random(SEED + case.mib + case.kib * 7919)
        for path in self.attachments(case):
            os.makedirs(os.path.dirname(path), exist_ok=True)
            left = case.kib * 1024 if case.kib else case.mib * MIB
            with open(path, 'wb') as f:
                while left > 0:
                    piece = min(left, 16 * MIB)
                    f.write(rng.randbytes(piece))
                    left -= piece

    def _write_body(self, case):
        # Letters, digits and spaces: 7-bit text that no sender needs to encode; no line starts
        # with a full stop, so the floor can push the file without dot-stuffing it.
        alphabet = (b'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789  ')
        table = bytes(alphabet[i % len(alphabet)] for i in range(256))
        rng = random.Random(SEED + 1000 + case.mib)
        line_bytes = BODY_LINE_CHARS + 1
        lines = -(-case.mib * MIB // line_bytes)
        raw = rng.randbytes(lines * BODY_LINE_CHARS).translate(table)
        with open(self.body(case), 'wb') as f:
            for i in range(lines):
                f.write(raw[i * BODY_LINE_CHARS:(i + 1) * BODY_LINE_CHARS])
                f.write(b'\n')

    def _write_line(self, case):
        # The same 7-bit text as a body, without a line end but the last one.
        alphabet = b'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789  '
        table = bytes(alphabet[i % len(alphabet)] for i in range(256))
        rng = random.Random(SEED + 2000 + case.mib)
        with open(self.body(case), 'wb') as f:
            f.write(rng.randbytes(case.mib * MIB - 2).translate(table) + b'x\n')

    def _write_wire(self, case):
        with open(self.prepared(case), 'rb') as source, open(self.wire(case), 'wb') as out:
            for line in source:
                out.write((b'.' if line.startswith(b'.') else b'') + line.rstrip(b'\n') + b'\r\n')

    def _write_prepared(self, case):
        """The message msmtp is fed: already MIME-encoded, with LF line ends as a user's file."""
        head = 'From: %s\nTo: %s\nSubject: %s\n' % (SENDER, RECIPIENT, SUBJECT)
        with open(self.prepared(case), 'wb') as out:
            if case.kind != 'attachment':
                out.write((head + '\n').encode())
                with open(self.body(case), 'rb') as f:
                    shutil.copyfileobj(f, out, MIB)
                return
            boundary = 'bench-boundary-7f3a'
            out.write((head + 'MIME-Version: 1.0\n'
                       'Content-Type: multipart/mixed; boundary="%s"\n\n'
                       '--%s\nContent-Type: text/plain\n\n%s'
                       % (boundary, boundary, SMALL_BODY)).encode())
            for path in self.attachments(case):
                name = os.path.basename(path)
                out.write(('--%s\nContent-Type: application/octet-stream; name="%s"\n'
                           'Content-Transfer-Encoding: base64\n'
                           'Content-Disposition: attachment; filename="%s"\n\n'
                           % (boundary, name, name)).encode())
                with open(path, 'rb') as f:
                    while True:
                        piece = f.read(57 * 16384)
                        if not piece:
                            break
                        out.write(base64.encodebytes(piece))
            out.write(('--%s--\n' % boundary).encode())


# --------------------------------------------------------------------------------------------
# The sink


class Sink:
    """tovrel_smtp_sink in the background; each delivered message arrives as a queue entry.

    With `certificates` (the folder make_test_certs filled) the sink offers STARTTLS and takes
    messages only over TLS; a MAIL in the clear arrives as an entry in `refusals`."""

    def __init__(self, program, dump_dir=None, certificates=None):
        argv = [program] + (['--dump', dump_dir] if dump_dir else [])
        if certificates:
            argv += ['--tls', os.path.join(certificates, 'server.pem'),
                     os.path.join(certificates, 'server.key')]
        self.dump_dir = dump_dir
        self.tls = bool(certificates)
        self.process = subprocess.Popen(argv + ['0'], stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline())
        self.messages = queue.Queue()
        self.refusals = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            words = line.split()
            if len(words) == 5 and words[0] == 'message':
                self.messages.put((int(words[1]), float(words[3]), int(words[4])))
            elif words[:2] == ['refused', 'plain']:
                self.refusals.put(line)

    def take(self, timeout=10.0):
        """(size, sink CPU seconds of its connection so far, connection number) of the next
        message, or None when none came."""
        try:
            return self.messages.get(timeout=timeout)
        except queue.Empty:
            return None

    def refused_plain(self):
        """Whether a sender tried MAIL without STARTTLS since the last drain."""
        try:
            self.refusals.get(timeout=1.0)
            return True
        except queue.Empty:
            return False

    def drain(self):
        for entries in (self.messages, self.refusals):
            while not entries.empty():
                entries.get_nowait()

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


# --------------------------------------------------------------------------------------------
# The senders


class Senders:
    def __init__(self, build, data, work):
        self.build = build
        self.data = data
        self.work = work
        self.bench_bin = os.path.join(build, 'bench')
        self.timer = os.path.join(self.bench_bin, 'tovrel_timed')
        self.home = os.path.join(work, 'home')
        self.xdg = os.path.join(work, 'xdg')
        self.xdg_tls = os.path.join(work, 'xdg-tls')
        self.runtime = os.path.join(work, 'runtime')
        self.xdg_data = os.path.join(work, 'xdg-data')  # the outbox of `--send-outbox`
        self.outbox_template = os.path.join(work, 'outbox-template')
        self.xvfb = None
        self.display_name = None
        self.scripts = os.path.dirname(os.path.abspath(__file__))
        os.makedirs(self.home, exist_ok=True)
        os.makedirs(self.runtime, mode=0o700, exist_ok=True)
        self.port = None
        self.tls_port = None
        self.ca = None

    def available(self, program):
        """None when the program can run, else why not."""
        need = {
            FLOOR: [os.path.join(self.bench_bin, 'tovrel_raw_push')],
            RW_FLOOR: [os.path.join(self.bench_bin, 'tovrel_raw_push')],
            B64_FLOOR: [os.path.join(self.bench_bin, 'tovrel_raw_push'), shutil.which('base64')],
            CLI: [os.path.join(self.build, 'tovrelmail')],
            LIB: [os.path.join(self.bench_bin, 'tovrel_lib_send')],
            'curl': [shutil.which('curl')],
            's-nail': [shutil.which('s-nail')],
            'msmtp': [shutil.which('msmtp')],
            'Python smtplib': ['/usr/bin/python3'],
        }[program]
        for path in need:
            if not path or not os.access(path, os.X_OK):
                return 'not built' if program in (CLI, LIB) else 'not installed'
        return None

    def case_available(self, program, case):
        """None when the program can run the case, else why not (the floors of the STARTTLS and
        the window case are programs of their own; the window case needs Xvfb and the watcher)."""
        need = []
        if case.kind == 'window':
            need = [shutil.which('Xvfb'), os.path.join(self.bench_bin, 'tovrel_window_watch')]
            if program == FLOOR:
                need.append(os.path.join(self.bench_bin, 'tovrel_window_floor'))
        elif case.tls and program == FLOOR:
            need = [os.path.join(self.bench_bin, 'tovrel_tls_push')]
        if any(not path or not os.access(path, os.X_OK) for path in need):
            return 'not built or not installed (Xvfb, libxcb-damage0-dev)'
        return None

    def display(self):
        """The Xvfb of this run, started on first use: its display name."""
        if self.xvfb is None:
            read, write = os.pipe()
            self.xvfb = subprocess.Popen(
                ['Xvfb', '-displayfd', str(write), '-screen', '0', '1280x1024x24',
                 '-nolisten', 'tcp', '-noreset'], pass_fds=(write,), stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
            os.close(write)
            with os.fdopen(read) as f:
                number = f.readline().strip()
            if not number:
                raise RuntimeError('Xvfb did not start')
            self.display_name = ':' + number
        return self.display_name

    def close(self):
        if self.xvfb is not None:
            self.xvfb.terminate()
            self.xvfb.wait(timeout=10)
            self.xvfb = None

    def lay_outbox(self, case):
        """A fresh outbox of `case.count` entries in the private data folder (not timed): the
        small message's wire text and its envelope, as `KeepInOutbox` writes them."""
        if not os.path.isdir(self.outbox_template):
            folder = os.path.join(self.outbox_template, 'tovrelmail', 'outbox')
            os.makedirs(folder)
            for path in (self.outbox_template, os.path.dirname(folder), folder):
                os.chmod(path, 0o700)
            text = open(self.data.wire(case), 'rb').read()
            envelope = ('from %s\nto %s\nattempts 0\nreply \n' % (SENDER, RECIPIENT)).encode()
            for i in range(case.count):
                name = os.path.join(folder, 'bench-%04d' % i)
                for path, content in ((name + '.msg', text), (name + '.env', envelope)):
                    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600),
                              'wb') as f:
                        f.write(content)
        shutil.rmtree(self.xdg_data, ignore_errors=True)
        shutil.copytree(self.outbox_template, self.xdg_data)

    def configure(self, port, tls_port=None, certificates=None):
        """Writes the throwaway configurations that point each program at the sinks (the plain one
        and the STARTTLS one, whose certificate the test CA in `certificates` signed)."""
        self.port = port
        self.tls_port = tls_port
        self.ca = os.path.join(certificates, 'ca.pem') if certificates else None
        with open(os.path.join(self.home, 'mailrc'), 'w') as f:
            f.write('set v15-compat\nset mta=smtp://127.0.0.1:%d\nset smtp-auth=none\n'
                    'set from=%s\nset sendwait\n' % (port, SENDER))
        if tls_port:
            # s-nail matches the certificate against DNS names only: it dials "localhost", for
            # which the sink's certificate holds one (and which resolves to 127.0.0.1 here).
            with open(os.path.join(self.home, 'mailrc-tls'), 'w') as f:
                f.write('set v15-compat\nset mta=smtp://localhost:%d\nset smtp-auth=none\n'
                        'set smtp-use-starttls\nset tls-ca-file=%s\nset tls-ca-no-defaults\n'
                        'set from=%s\nset sendwait\n' % (tls_port, self.ca, SENDER))
        msmtprc = os.path.join(self.home, 'msmtprc')
        with open(os.open(msmtprc, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 'w') as f:
            f.write('defaults\nauth off\ntls off\naccount bench\nhost 127.0.0.1\nport %d\n'
                    'from %s\naccount default : bench\n' % (port, SENDER))
        os.chmod(msmtprc, 0o600)
        self._write_store(self.xdg, port, '')
        if tls_port:
            self._write_store(self.xdg_tls, tls_port, '"security"="starttls"\n')

    @staticmethod
    def _write_store(xdg, port, smtp_extra):
        """TovrelMail's settings store under `xdg`; `smtp_extra` adds values to section smtp."""
        store = os.path.join(xdg, 'tovrelmail')
        os.makedirs(store, mode=0o700, exist_ok=True)
        os.chmod(xdg, 0o700)
        os.chmod(store, 0o700)
        key = r'[HKEY_CURRENT_USER\Software\tovrel\tovrelmail'
        reg = os.path.join(store, 'user.reg')
        with open(os.open(reg, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 'w') as f:
            f.write('REGEDIT4\n\n'
                    '%s\\frst]\n@="c"\n\n'
                    '%s\\smtp]\n"smtp"="127.0.0.1"\n%s\n'
                    '%s\\port]\n"port"="%d"\n\n'
                    '%s\\username]\n"username"=""\n\n'
                    '%s\\password]\n"password"=""\n\n'
                    '%s\\ident]\n"numOfIdents"="0"\n"nameId0"="Bench Sender,"\n'
                    '"emailId0"="%s"\n\n' % (key, key, smtp_extra, key, port, key, key, key,
                                               SENDER))

    def environment(self):
        env = dict(os.environ)
        for name in ('DISPLAY', 'WAYLAND_DISPLAY', 'MAILRC', 'NAIL_EXTRA_RC', 'PYTHONPATH'):
            env.pop(name, None)
        env.update(HOME=self.home, XDG_CONFIG_HOME=self.xdg, XDG_RUNTIME_DIR=self.runtime,
                   LC_ALL='C.UTF-8', MAILRC=os.path.join(self.home, 'mailrc'), TMPDIR=self.work)
        return env

    def steps(self, program, case):
        """The processes one send is made of, in order."""
        if case.tls:
            return self.tls_steps(program, case)
        port = str(self.port)
        data = self.data
        body = data.body(case)
        attachment = data.attachments(case) if case.kind == 'attachment' else []
        push = os.path.join(self.bench_bin, 'tovrel_raw_push')
        if case.kind == 'outbox':
            if program == FLOOR:
                return [Step([push, '--sendfile', '--messages', str(case.count), port,
                              data.wire(case)])]
            if program == CLI:
                return [Step([os.path.join(self.build, 'tovrelmail'), '--send-outbox'],
                             env={'XDG_DATA_HOME': self.xdg_data})]
            raise ValueError(program)
        if program == FLOOR:
            return [Step([push, '--sendfile', port, data.wire(case)])]
        if program == RW_FLOOR:
            return [Step([push, port, data.wire(case)])]
        if program == B64_FLOOR:
            if case.kind != 'attachment':
                # Text that needs no encoding: the floor is pushing it.
                return [Step([os.path.join(self.bench_bin, 'tovrel_raw_push'), port,
                              data.prepared(case)])]
            encoded = os.path.join(self.work, 'floor.b64')
            return [Step(['base64', '-w76', attachment[0]], stdout=encoded),
                    Step([os.path.join(self.bench_bin, 'tovrel_raw_push'), port, encoded])]
        if program == CLI:
            return [Step([os.path.join(self.build, 'tovrelmail'), 'mailto:' + RECIPIENT, SUBJECT,
                          '-f' + body, 'send'] + attachment)]
        if program == LIB:
            return [Step([os.path.join(self.bench_bin, 'tovrel_lib_send'), port, SENDER,
                          RECIPIENT, SUBJECT, body] + attachment)]
        if program == 'curl':
            argv = ['curl', '-sS', '--url', 'smtp://127.0.0.1:' + port, '--mail-from', SENDER,
                    '--mail-rcpt', RECIPIENT, '-H', 'Subject: ' + SUBJECT, '-H', 'From: ' + SENDER,
                    '-H', 'To: ' + RECIPIENT, '-F', '=<%s;type=text/plain' % body]
            for path in attachment:
                argv += ['-F', '=@%s;type=application/octet-stream;encoder=base64' % path]
            return [Step(argv)]
        if program == 's-nail':
            argv = ['s-nail', '-n', '-s', SUBJECT]
            for path in attachment:
                argv += ['-a', path]
            return [Step(argv + [RECIPIENT], stdin=body)]
        if program == 'msmtp':
            return [Step(['msmtp', '-C', os.path.join(self.home, 'msmtprc'), RECIPIENT],
                         stdin=data.prepared(case))]
        if program == 'Python smtplib':
            return [Step(['/usr/bin/python3', os.path.join(self.scripts, 'python_send.py'), port,
                          SENDER, RECIPIENT, SUBJECT, body] + attachment)]
        raise ValueError(program)

    def tls_steps(self, program, case):
        """The same sends over STARTTLS, each checking the sink's certificate against the test CA
        (TovrelMail through OpenSSL's SSL_CERT_FILE, as for any other CA store)."""
        port = str(self.tls_port)
        data = self.data
        body = data.body(case)
        attachment = data.attachment(case)
        trust = {'SSL_CERT_FILE': self.ca}
        if program == FLOOR:
            return [Step([os.path.join(self.bench_bin, 'tovrel_tls_push'), port, data.wire(case)],
                         env=trust)]
        if program == CLI:
            return [Step([os.path.join(self.build, 'tovrelmail'), 'mailto:' + RECIPIENT, SUBJECT,
                          '-f' + body, 'send', attachment],
                         env=dict(trust, XDG_CONFIG_HOME=self.xdg_tls))]
        if program == LIB:
            return [Step([os.path.join(self.bench_bin, 'tovrel_lib_send'), '--starttls', port,
                          SENDER, RECIPIENT, SUBJECT, body, attachment], env=trust)]
        if program == 'curl':
            return [Step(['curl', '-sS', '--url', 'smtp://127.0.0.1:' + port, '--ssl-reqd',
                          '--cacert', self.ca, '--mail-from', SENDER, '--mail-rcpt', RECIPIENT,
                          '-H', 'Subject: ' + SUBJECT, '-H', 'From: ' + SENDER,
                          '-H', 'To: ' + RECIPIENT, '-F', '=<%s;type=text/plain' % body,
                          '-F', '=@%s;type=application/octet-stream;encoder=base64' % attachment])]
        if program == 's-nail':
            return [Step(['s-nail', '-n', '-s', SUBJECT, '-a', attachment, RECIPIENT], stdin=body,
                         env={'MAILRC': os.path.join(self.home, 'mailrc-tls')})]
        if program == 'msmtp':
            return [Step(['msmtp', '-C', os.path.join(self.home, 'msmtprc'), '--port=' + port,
                          '--tls=on', '--tls-starttls=on', '--tls-trust-file=' + self.ca,
                          RECIPIENT], stdin=data.prepared(case))]
        raise ValueError(program)

    def minimum_bytes(self, program, case):
        """A message smaller than this cannot hold what the sender was given."""
        if case.kind == 'outbox':
            return os.path.getsize(self.data.wire(case))
        if case.kind == 'attachment':
            return case.payload * 4 // 3
        return os.path.getsize(self.data.body(case))

    def run(self, program, case, sink):
        """Runs one send; returns (Sample, None) or (None, what went wrong)."""
        if case.kind == 'window':
            return self.run_window(program)
        if case.kind == 'outbox' and program == CLI:
            self.lay_outbox(case)
        wall = cpu = 0.0
        rss = 0
        for i, step in enumerate(self.steps(program, case)):
            env = dict(self.environment(), **step.env)
            report = os.path.join(self.work, 'timed.out')
            err = os.path.join(self.work, 'step.err')
            out = step.stdout or os.path.join(self.work, 'step.out')
            argv = [self.timer, '--stdout', out, '--stderr', err]
            if step.stdin:
                argv += ['--stdin', step.stdin]
            with open(report, 'w') as f:
                subprocess.run(argv + ['--'] + step.argv, stdout=f, env=env, check=True,
                               timeout=600)
            fields = dict(item.split('=') for item in open(report).read().split())
            if int(fields['status']) != 0:
                message = open(err, errors='replace').read().strip().splitlines()
                if sink.tls and sink.refused_plain():
                    return None, 'did not start TLS (MAIL came in the clear)'
                return None, 'exit status %s: %s' % (fields['status'],
                                                    message[-1] if message else '')
            wall += float(fields['wall_s'])
            cpu += float(fields['user_s']) + float(fields['sys_s'])
            rss = max(rss, int(fields['maxrss_kib']))
        expected = case.count if case.kind == 'outbox' else 1
        total = 0
        connection_cpu = {}  # each connection's last (so its whole) CPU figure
        for i in range(expected):
            taken = sink.take()
            if taken is None:
                if sink.tls and sink.refused_plain():
                    return None, 'did not start TLS (MAIL came in the clear)'
                return None, 'the sink received %d of %d messages' % (i, expected)
            size, sink_cpu, connection = taken
            if size < self.minimum_bytes(program, case):
                return None, 'the sink received only %d bytes' % size
            total += size
            connection_cpu[connection] = sink_cpu
        if program in FLOORS:
            sent = int(open(os.path.join(self.work, 'step.out')).read().split()[1])
            if sent != total:
                return None, 'pushed %d bytes, the sink counted %d' % (sent, total)
        sink.drain()
        return Sample(wall, cpu, rss, sum(connection_cpu.values()), len(connection_cpu)), None

    def run_window(self, program):
        """Opens the window floor or TovrelMail's compose window on this run's Xvfb and times it
        from exec to the window mapped and first painted (tovrel_window_watch)."""
        argv = [os.path.join(self.bench_bin, 'tovrel_window_floor')] if program == FLOOR else \
            [os.path.join(self.build, 'tovrelmail')]
        env = dict(self.environment(), DISPLAY=self.display(), QT_QPA_PLATFORM='xcb',
                   XDG_DATA_HOME=os.path.join(self.work, 'xdg-window'))
        err = os.path.join(self.work, 'step.err')
        with open(err, 'w') as errors:
            out = subprocess.run([os.path.join(self.bench_bin, 'tovrel_window_watch'), '--timeout',
                                  '60', '--'] + argv, stdout=subprocess.PIPE, stderr=errors,
                                 env=env, text=True, timeout=120).stdout
        fields = dict(item.split('=') for item in out.split())
        if int(fields.get('status', 1)) != 0:
            message = open(err, errors='replace').read().strip().splitlines()
            return None, 'exit status %s: %s' % (fields.get('status', '?'),
                                                message[-1] if message else '')
        return Sample(float(fields['wall_s']), float(fields['user_s']) + float(fields['sys_s']),
                      int(fields['maxrss_kib']), 0.0, 0), None


# --------------------------------------------------------------------------------------------
# Checking what each sender really sent


def unstuff(raw):
    lines = raw.split(b'\r\n')
    return b'\r\n'.join(line[1:] if line.startswith(b'..') else line for line in lines)


def normalised_lines(text):
    return [line.rstrip('\r') for line in text.replace('\r\n', '\n').split('\n') if line != '']


def check_message(raw, senders, case):
    """None when the message carries the case's body and attachment, else what is wrong."""
    message = email.message_from_bytes(unstuff(raw), policy=email.policy.default)
    if message['Subject'] is None or str(message['Subject']) != SUBJECT:
        return 'subject %r' % (message['Subject'],)
    body_text = open(senders.data.body(case), encoding='ascii').read()
    texts = []
    attachments = []
    for part in message.walk():
        if part.is_multipart():
            continue
        if part.get_content_disposition() == 'attachment' or \
                part.get_content_type() == 'application/octet-stream':
            attachments.append(part.get_payload(decode=True))
        else:
            texts.append(part.get_payload(decode=True).decode('ascii', 'replace'))
    if not any(normalised_lines(t) == normalised_lines(body_text) for t in texts):
        return 'the body differs from the text given'
    if case.kind == 'attachment':
        expected = open(senders.data.attachment(case), 'rb').read()
        if attachments != [expected]:
            return 'the attachment differs from the file given'
    return None


def verify(senders, programs, groups, sink_program, work, certificates):
    """Sends each checked case of `groups` once to a keeping sink (a keeping STARTTLS sink for
    the STARTTLS group); returns {(program, group): problem}."""
    problems = {}
    dumps = [tempfile.mkdtemp(prefix='dump-', dir=work) for _ in range(2)]
    sinks = []
    try:
        sinks.append(Sink(sink_program, dumps[0]))
        sinks.append(Sink(sink_program, dumps[1], certificates) if certificates else None)
        senders.configure(sinks[0].port, sinks[1].port if certificates else None, certificates)
        for program in programs:
            for case in CHECK_CASES:
                if case.group not in groups or (case.tls and (program not in TLS_PROGRAMS or
                                                               not certificates)):
                    continue
                if case.kind == 'line' and program not in LINE_PROGRAMS:
                    continue
                if senders.case_available(program, case):
                    continue
                sink = sinks[1] if case.tls else sinks[0]
                before = set(os.listdir(sink.dump_dir))
                sample, problem = senders.run(program, case, sink)
                if problem is None and program not in FLOORS:
                    new = sorted(set(os.listdir(sink.dump_dir)) - before)
                    new = [n for n in new if n.endswith('.eml')]
                    if len(new) != 1:
                        problem = 'the sink kept %d messages' % len(new)
                    else:
                        path = os.path.join(sink.dump_dir, new[0])
                        problem = check_message(open(path, 'rb').read(), senders, case)
                        os.remove(path)
                if problem:
                    problems[(program, case.group)] = problem
                    print('  %s, %s: %s' % (program, case.label, problem), file=sys.stderr)
    finally:
        for sink in sinks:
            if sink:
                sink.stop()
        for dump in dumps:
            shutil.rmtree(dump, ignore_errors=True)
    return problems


def make_certificates(work):
    """A test CA and a certificate for 127.0.0.1 signed by it, made for this run only."""
    folder = tempfile.mkdtemp(prefix='certs-', dir=work)
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'scripts',
                          'make_test_certs')
    subprocess.run([script, folder], check=True, timeout=120)
    return folder


# --------------------------------------------------------------------------------------------
# Figures, table and targets


def median(values):
    return statistics.median(values) if values else None


def fmt(value, digits=3):
    return '—' if value is None else ('%.*f' % (digits, value))


def summarise(samples):
    """{(program, case): dict(wall, cpu, rss_mib, n)} from the lists of samples."""
    result = {}
    for key, runs in samples.items():
        if runs:
            result[key] = dict(wall=median([s.wall for s in runs]),
                               cpu=median([s.cpu for s in runs]),
                               sink_cpu=median([s.sink_cpu for s in runs]),
                               rss=median([s.rss_kib for s in runs]) / 1024.0, n=len(runs),
                               connections=max(s.connections for s in runs))
    return result


def floor_name(case):
    return FLOOR_NAMES.get('tls' if case.tls else case.kind, 'plain floor')


def best_other(summary, case, exclude=None):
    walls = [(summary[(p, case.name)]['wall'], p) for p in OTHERS
             if p != exclude and (p, case.name) in summary]
    return min(walls) if walls else (None, None)


def table(summary, status, programs, cases):
    lines = ['| case | program | wall s | CPU s | sink CPU s | peak RSS MiB | MiB/s | × floor | '
             '× best other |',
             '|---|---|---:|---:|---:|---:|---:|---:|---:|']
    for case in cases:
        floor = summary.get((FLOOR, case.name))
        for program in programs:
            key = (program, case.name)
            name = floor_name(case) if program == FLOOR else program
            if key not in summary:
                lines.append('| %s | %s | %s |  |  |  |  |  |  |' % (
                    case.label, name, status.get(key, 'not available')))
                continue
            row = summary[key]
            rate = case.payload / MIB / row['wall'] if case.payload else None
            to_floor = row['wall'] / floor['wall'] if floor else None
            best, _ = best_other(summary, case, exclude=program)
            to_best = row['wall'] / best if best else None
            lines.append('| %s | %s | %s | %s | %s | %s | %s | %s | %s |' % (
                case.label, name, fmt(row['wall']), fmt(row['cpu']), fmt(row['sink_cpu']),
                fmt(row['rss'], 1),
                fmt(rate, 0), fmt(to_floor, 2), fmt(to_best, 2)))
    return lines


def wall_matrix(summary, programs, cases):
    """Median wall seconds, one row per case and one column per program."""
    short = {CLI: 'TovrelMail CLI', LIB: 'TovrelMail library', 'Python smtplib': 'Python'}
    lines = ['| wall s | %s |' % ' | '.join(short.get(p, p) for p in programs),
             '|---|%s' % ('---:|' * len(programs))]
    for case in cases:
        cells = []
        for program in programs:
            row = summary.get((program, case.name))
            cells.append(fmt(row['wall']) if row else 'n/a')
        lines.append('| %s | %s |' % (case.label, ' | '.join(cells)))
    return lines


def tls_ratios(summary, cases):
    """The STARTTLS cases: each TLS sender's median wall time, TovrelMail against the fastest TLS
    peer, and TovrelMail over STARTTLS against its own send of the same message in the clear."""
    short = {FLOOR: 'TLS floor', CLI: 'TovrelMail CLI', LIB: 'TovrelMail library'}
    lines = ['| wall s | %s | CLI / best TLS peer | library / best TLS peer | '
             'CLI STARTTLS / CLI plain | library STARTTLS / library plain |'
             % ' | '.join(short.get(p, p) for p in TLS_PROGRAMS),
             '|---|%s---|---|---:|---:|' % ('---:|' * len(TLS_PROGRAMS))]
    for case in cases:
        if not case.tls:
            continue
        cells = []
        for program in TLS_PROGRAMS:
            row = summary.get((program, case.name))
            cells.append(fmt(row['wall']) if row else 'n/a')
        peers = [(summary[(p, case.name)]['wall'], p) for p in TLS_PEERS
                 if (p, case.name) in summary]
        for program in (CLI, LIB):
            ours = summary.get((program, case.name))
            if ours and peers:
                best, name = min(peers)
                cells.append('%.2f× (%s)' % (ours['wall'] / best, name))
            else:
                cells.append('—')
        for program in (CLI, LIB):
            secured = summary.get((program, case.name))
            plain = summary.get((program, case.plain))
            cells.append('%.2f×' % (secured['wall'] / plain['wall']) if secured and plain else '—')
        lines.append('| %s | %s |' % (case.label, ' | '.join(cells)))
    return lines


def targets(summary, program=CLI, who='command line'):
    """[(target, measured, limit, result)] for one TovrelMail path, from the same medians: this
    round's targets against the floors first, then the earlier ones that still hold."""
    def get(program, case):
        return summary.get((program, case))

    def ratio(ours, theirs, what='wall'):
        return ours[what] / theirs[what] if ours and theirs else None

    rows = []

    def add(name, value, limit, text, unit='×', digits=2):
        if value is None:
            rows.append((name, '—', '%s %s%s' % (text, limit, unit), 'not available'))
        else:
            rows.append((name, '%.*f%s' % (digits, value, unit), '%s %s%s' % (text, limit, unit),
                         'met' if value <= limit else 'NOT met'))

    small = get(program, 'small')
    headless = ' without a display' if program == CLI else ''

    def over_small(row):
        return row['rss'] - small['rss'] if row and small else None

    att100 = get(program, 'att100')
    add('100 MiB attachment, %s: wall / plain floor' % who, ratio(att100, get(FLOOR, 'att100')),
        1.10, '≤')
    att1g = get(program, 'att1g')
    add('1 GiB attachment, %s: wall / plain floor' % who, ratio(att1g, get(FLOOR, 'att1g')),
        1.10, '≤')
    add('1 GiB attachment, %s: peak RSS minus the small message\'s' % who, over_small(att1g),
        8.0, '≤', ' MiB')
    for name, limit in (('tls100', 1.15), ('tls10', 1.30)):
        add('%s, %s: wall / TLS floor' % (CASE_BY_NAME[name].label, who),
            ratio(get(program, name), get(FLOOR, name)), limit, '≤')
    add('small message, %s%s: wall / plain floor (whole processes)' % (who, headless),
        ratio(small, get(FLOOR, 'small')), 1.5, '≤')
    add('1,000 attachments of 10 KiB, %s: wall / one 10 MiB attachment' % who,
        ratio(get(program, 'att1000'), get(program, 'att10')), 1.3, '≤')
    if program == CLI:
        outbox = get(program, 'outbox1000')
        add('1,000 kept messages, `--send-outbox`: wall / outbox floor',
            ratio(outbox, get(FLOOR, 'outbox1000')), 2.0, '≤')
        add('1,000 kept messages, `--send-outbox`: connections the sink counted',
            outbox['connections'] if outbox else None, 1, '≤', '', 0)
        window = get(program, 'window')
        add('compose window shown (exec to mapped and painted, Xvfb): wall / window floor',
            ratio(window, get(FLOOR, 'window')), 1.2, '≤')
        add('compose window shown: peak RSS / window floor\'s',
            ratio(window, get(FLOOR, 'window'), 'rss'), 1.3, '≤')

    # The earlier targets.
    add('small message, %s%s: wall / curl\'s' % (who, headless),
        ratio(small, get('curl', 'small')), 0.9, '≤')
    body = get(program, 'body10')
    add('10 MiB body (-f), %s: wall / curl\'s' % who, ratio(body, get('curl', 'body10')), 0.9, '≤')
    add('10 MiB body (-f), %s: peak RSS minus the small message\'s' % who, over_small(body),
        8.0, '≤', ' MiB')
    add('100 MiB body of one line (-f), %s: peak RSS minus the small message\'s' % who,
        over_small(get(program, 'line100')), 8.0, '≤', ' MiB')
    best, best_name = best_other(summary, CASE_BY_NAME['att100'])
    add('100 MiB attachment, %s: wall / best other program (%s)' % (who, best_name or '—'),
        att100['wall'] / best if att100 and best else None, 0.5, '≤')
    add('100 MiB attachment, %s: peak RSS minus the small message\'s' % who, over_small(att100),
        8.0, '≤', ' MiB')
    for name in ('tls10', 'tls100'):
        ours = get(program, name)
        peers = [(summary[(p, name)]['wall'], p) for p in TLS_PEERS if (p, name) in summary]
        best, best_name = min(peers) if peers else (None, None)
        add('%s, %s: wall / best TLS peer (%s)' % (CASE_BY_NAME[name].label, who,
                                                   best_name or '—'),
            ours['wall'] / best if ours and best else None, 0.5, '≤')

    # Growth: the time each MiB adds between the 10 and the 100 MiB attachment, against what the
    # same 90 MiB add to the plain floor.
    def per_added_mib(sender):
        ten, hundred = get(sender, 'att10'), get(sender, 'att100')
        return (hundred['wall'] - ten['wall']) / 90 if ten and hundred else None

    ours, floor = per_added_mib(program), per_added_mib(FLOOR)
    name = 'growth 10 → 100 MiB, %s: time per added MiB / plain floor\'s' % who
    if ours is None or floor is None:
        add(name, None, 1.2, '≤')
    elif floor <= 0:
        rows.append((name, '—', '≤ 1.2×', 'not available (the floor did not grow)'))
    else:
        add('%s (%.2f / %.2f ms)' % (name, ours * 1000, floor * 1000), ours / floor, 1.2, '≤')
    return rows


def run_micro(build, out_json, min_time):
    program = os.path.join(build, 'bench', 'tovrel_bench')
    if not os.access(program, os.X_OK):
        return None
    subprocess.run([program, '--benchmark_min_time=%s' % min_time,
                    '--benchmark_out=' + out_json, '--benchmark_out_format=json'],
                   check=True, stdout=sys.stderr)
    results = json.load(open(out_json))['benchmarks']
    lines = ['| micro-benchmark | MiB/s | time per iteration |', '|---|---:|---:|']
    for r in results:
        if r.get('run_type') == 'aggregate':
            continue
        if r.get('error_occurred'):
            lines.append('| %s | failed: %s | |' % (r['name'], r.get('error_message', '')))
            continue
        rate = r.get('bytes_per_second')
        lines.append('| %s | %s | %.0f %s |' % (
            r['name'], fmt(rate / MIB if rate else None, 0), r['real_time'], r['time_unit']))
    return lines


def machine_note(reps):
    cpu = ''
    for line in open('/proc/cpuinfo'):
        if line.startswith('model name'):
            cpu = line.split(':', 1)[1].strip()
            break
    return '%d × %s, Linux %s, %s; median of %d runs per case (%d for the small and 1 MiB ' \
           'cases), senders interleaved' % (os.cpu_count(), cpu, platform.release(),
                                            time.strftime('%Y-%m-%d %H:%M'), reps, reps * 3)


def tool_versions():
    probes = [('curl', ['curl', '--version']), ('s-nail', ['s-nail', '-V']),
              ('msmtp', ['msmtp', '--version']), ('Python', ['/usr/bin/python3', '--version'])]
    found = []
    for name, argv in probes:
        try:
            out = subprocess.run(argv, capture_output=True, text=True, timeout=10).stdout
        except OSError:
            continue
        words = out.split()
        version = next((w.lstrip('v').rstrip(',') for w in words if w[:1].isdigit() or
                        (w[:1] == 'v' and w[1:2].isdigit())), '?')
        found.append('%s %s' % (name, version))
    return ', '.join(found)


def source_revision():
    try:
        return subprocess.run(['git', 'rev-parse', '--short', 'HEAD'], capture_output=True,
                              text=True, cwd=os.path.dirname(os.path.abspath(__file__)),
                              timeout=10).stdout.strip() or '?'
    except OSError:
        return '?'


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--build', default='build', help='the build folder')
    parser.add_argument('--reps', type=int, default=5, help='timed runs per case (at least 3)')
    parser.add_argument('--micro-min-time', default='0.3', help='seconds per micro-benchmark')
    parser.add_argument('--skip-micro', action='store_true')
    parser.add_argument('--programs', default=','.join(PROGRAMS),
                        help='comma-separated subset of: ' + ', '.join(PROGRAMS))
    parser.add_argument('--cases', default=','.join(c.name for c in CASES),
                        help='comma-separated subset of: ' + ', '.join(c.name for c in CASES))
    args = parser.parse_args()
    reps = max(3, args.reps)
    build = os.path.abspath(args.build)
    out_dir = os.path.join(build, 'bench')
    work = os.path.join(out_dir, 'work')
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    data = Data(os.path.join(out_dir, 'data'))

    senders = Senders(build, data, work)
    sink_program = os.path.join(out_dir, 'tovrel_smtp_sink')
    chosen = [p for p in PROGRAMS if p in args.programs.split(',')]
    cases = [c for c in CASES if c.name in args.cases.split(',')]
    groups = {c.group for c in cases}
    data.ensure(cases + [c for c in CHECK_CASES if c.group in groups])
    status = {}
    runnable = []
    for program in chosen:
        why = senders.available(program)
        if why:
            for case in cases:
                status[(program, case.name)] = 'not available (%s)' % why
        else:
            runnable.append(program)
            for case in cases:
                if case.tls and program not in TLS_PROGRAMS:
                    status[(program, case.name)] = 'not run over TLS'
                elif case.kind == 'line' and program not in LINE_PROGRAMS:
                    status[(program, case.name)] = 'not run for this case'
                elif case.senders and program not in case.senders:
                    status[(program, case.name)] = 'not run for this case'
                elif senders.case_available(program, case):
                    status[(program, case.name)] = \
                        'not available (%s)' % senders.case_available(program, case)

    certificates = None
    if any(c.tls for c in cases):
        print('making test certificates ...', file=sys.stderr)
        certificates = make_certificates(work)
    print('checking what each sender sends ...', file=sys.stderr)
    problems = verify(senders, runnable, {c.group for c in cases}, sink_program, work,
                      certificates)

    sinks = []
    samples = {(p, c.name): [] for p in runnable for c in cases}
    started = time.monotonic()
    try:
        sinks.append(Sink(sink_program))
        sinks.append(Sink(sink_program, certificates=certificates) if certificates else None)
        senders.configure(sinks[0].port, sinks[1].port if certificates else None, certificates)
        for rep in range(reps * 3):
            for case in cases:
                if rep >= reps * case.reps_factor:
                    continue
                sink = sinks[1] if case.tls else sinks[0]
                for program in runnable:
                    key = (program, case.name)
                    if key in status:
                        continue
                    if (program, case.group) in problems:
                        status[key] = 'failed: ' + problems[(program, case.group)]
                        continue
                    sample, problem = senders.run(program, case, sink)
                    if problem:
                        status[key] = 'failed: ' + problem
                        samples[key] = []
                        print('  %s, %s: %s' % (program, case.label, problem), file=sys.stderr)
                    else:
                        samples[key].append(sample)
            print('  round %d done (%.0f s)' % (rep + 1, time.monotonic() - started),
                  file=sys.stderr)
    finally:
        for sink in sinks:
            if sink:
                sink.stop()
        senders.close()
        shutil.rmtree(work, ignore_errors=True)

    summary = summarise({k: v for k, v in samples.items() if k not in status})
    report = ['# TovrelMail send-path benchmarks', '', machine_note(reps), '',
              'Source %s; %s.' % (source_revision(), tool_versions()), '',
              'Sink: tovrel_smtp_sink on 127.0.0.1. Floors, each a whole process (see '
              '`bench/README.md`): the plain floor sends the message as it goes on the wire (CR '
              'LF lines, dot-stuffed), prepared beforehand, from the page cache with `sendfile` '
              'after the least dialogue; the TLS floor sends it over STARTTLS from a minimal '
              'OpenSSL client that verifies as TovrelMail does, in 16 KiB records; the outbox '
              'floor pushes the small message 1,000 times over one connection (RSET between); '
              'the window floor is a minimal Qt Widgets window timed on an Xvfb from exec to its '
              'first paint, as the compose window is. Read-write push: the older plain floor, '
              'the text read into a buffer and written. Base64 floor: the attachment encoded by '
              '`base64 -w76`, then pushed, both timed (text cases: the prepared message pushed). '
              '× floor: against the case\'s floor. MiB/s: payload MiB over wall time. × best '
              'other: against the fastest of curl, s-nail, msmtp and Python smtplib (over '
              'STARTTLS: of curl, s-nail and msmtp). Sink CPU: what the connections cost the '
              'sink, which runs beside the sender (a sink CPU well under the sender\'s wall time: '
              'the sink was not the limit).', '']
    report += wall_matrix(summary, chosen, cases) + ['']
    report += table(summary, status, chosen, cases)
    if any(c.tls for c in cases):
        report += ['', '## STARTTLS', '',
                   'A second sink offers STARTTLS (TLS 1.2 or later, AES-128-GCM preferred) with a '
                   'certificate for 127.0.0.1 from a test CA made for the run, and refuses MAIL in '
                   'the clear. Every sender checks the certificate against that CA: curl '
                   '`--ssl-reqd --cacert`, s-nail `smtp-use-starttls` with `tls-ca-file` '
                   '(dialling localhost), msmtp '
                   '`--tls=on --tls-starttls=on --tls-trust-file`, TovrelMail (setting "security" '
                   '= "starttls"; library: `--starttls`) and the TLS floor with `SSL_CERT_FILE`. '
                   'Median wall '
                   'seconds:', '']
        report += tls_ratios(summary, cases)
    report += ['', '## Targets', '', '| target | measured | limit | result |', '|---|---:|---:|---|']
    report += ['| %s | %s | %s | %s |' % row for row in targets(summary)]
    report += ['', 'The same measures for the library path (no target of its own; it shows what the '
               'send path does without the program around it):', '',
               '| measure | measured | limit | result |', '|---|---:|---:|---|']
    report += ['| %s | %s | %s | %s |' % row for row in targets(summary, LIB, 'library')]
    if not args.skip_micro:
        micro = run_micro(build, os.path.join(out_dir, 'micro.json'), args.micro_min_time)
        report += ['', '## Micro-benchmarks', '']
        report += micro if micro else ['not built yet (the message layer has no sources)']
    text = '\n'.join(report) + '\n'
    with open(os.path.join(out_dir, 'report.md'), 'w') as f:
        f.write(text)
    print(text)
    print('written to %s' % os.path.join(out_dir, 'report.md'), file=sys.stderr)


if __name__ == '__main__':
    main()
