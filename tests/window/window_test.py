#!/usr/bin/python3
"""The program as a person meets it: the real tovrelmail under Xvfb with a window manager
(openbox), driven by keys only (xdotool), read back from what it leaves on disk (its drafts, the
mail a scripted SMTP server received) and from the X server (windows, frames, focus); the
accessibility case walks its tree over AT-SPI on a private session bus.

Usage: window_test.py PROGRAM OUTPUT_FOLDER [CASE...]. Each case runs in a display of its own
and a home of its own; a failing step leaves a screenshot in OUTPUT_FOLDER. Prints
"N passed, N failed" at the end and exits 1 when any failed.
"""
import os
import select
import signal
import subprocess
import sys
import tempfile
import time
import traceback

PROGRAM, OUT = sys.argv[1], sys.argv[2]
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
KEY = r'HKEY_CURRENT_USER\Software\tovrel\tovrelmail'
LIMIT = 20  # seconds any one wait may take


class Failed(Exception):
    pass


class Case:
    """A display (Xvfb on a free display number, openbox), a home and the program."""

    def __init__(self, name, screen='1280x1024', store=None, env=None):
        self.name, self.step, self.children = name, 'start', []
        try:
            self.set_up(screen, store, env)
        except BaseException:
            self.close()
            raise

    def set_up(self, screen, store, env):
        self.home = tempfile.TemporaryDirectory(prefix='tovrel-window-')
        h = self.home.name
        self.env = dict(os.environ, HOME=h, XDG_CONFIG_HOME=h + '/config',
                        XDG_DATA_HOME=h + '/data', XDG_RUNTIME_DIR=h, **(env or {}))
        self.env.pop('DBUS_SESSION_BUS_ADDRESS', None)
        os.makedirs(h + '/config/tovrelmail', mode=0o700)
        if store != 'first run':
            self.write_store(store)
        read, write = os.pipe()
        self.spawn(['Xvfb', '-displayfd', str(write), '-screen', '0', screen + 'x24',
                    '-nolisten', 'tcp'], pass_fds=[write])
        os.close(write)
        number = b''
        while not number.endswith(b'\n'):  # the number and its line end come in two writes
            piece = os.read(read, 16) if select.select([read], [], [], LIMIT)[0] else b''
            if not piece:
                raise Failed('Xvfb gave no display number')
            number += piece
        self.env['DISPLAY'] = ':' + number.decode().strip()
        os.close(read)
        self.spawn(['openbox', '--sm-disable'])
        self.until(lambda: 'window id #' in self.x('xprop', '-root', '_NET_SUPPORTING_WM_CHECK'),
                   'the window manager')

    def write_store(self, sections=None):
        """A store past its first run with one identity, and `sections` besides."""
        text = 'REGEDIT4\n'
        for section, values in {'frst': {'': 'c'}, 'ident': {
                'numOfIdents': '0', 'nameId0': 'Jane,', 'emailId0': 'jd@example.org'},
                **(sections or {})}.items():
            text += '\n[%s\\%s]\n' % (KEY, section)
            text += ''.join('%s="%s"\n' % ('@' if not k else '"%s"' % k, v)
                            for k, v in values.items())
        with open(self.env['XDG_CONFIG_HOME'] + '/tovrelmail/user.reg', 'w') as f:
            f.write(text)

    def spawn(self, argv, **options):
        options.setdefault('stdout', subprocess.DEVNULL)
        child = subprocess.Popen(argv, env=self.env, **options)
        self.children.append(child)
        return child

    def close(self):
        for child in reversed(self.children):
            if child.poll() is None:
                child.send_signal(signal.SIGTERM)
                try:
                    child.wait(5)
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()
        self.home.cleanup()

    def x(self, *argv):
        done = subprocess.run(argv, env=self.env, capture_output=True, text=True, timeout=LIMIT)
        return done.stdout

    def until(self, probe, what):
        """Waits for probe() to give something true and returns it; fails after LIMIT."""
        deadline = time.monotonic() + LIMIT
        while time.monotonic() < deadline:
            found = probe()
            if found:
                return found
            time.sleep(0.05)
        raise Failed('waited in vain for ' + what)

    # The program and its windows.
    def start(self, *args):
        self.program = self.spawn([PROGRAM, *args])
        self.compose = self.window('TovrelMail 3.3')
        self.until(lambda: self.active() == self.compose, 'the compose window to take the keys')

    def window(self, title):
        ids = lambda: self.x('xdotool', 'search', '--onlyvisible', '--name', '^%s$' % title)
        return self.until(lambda: ids().split()[-1:], 'a window "%s"' % title)[0]

    def active(self):
        return self.x('xdotool', 'getactivewindow').strip()

    def dialog(self):
        """The window other than the compose window that has the keys."""
        return self.until(lambda: self.active() not in ('', self.compose) and self.active(),
                          'a dialog')

    def back(self):
        self.until(lambda: self.active() == self.compose, 'the compose window back')

    def keys(self, *keys):
        self.x('xdotool', 'key', '--delay', '30', *keys)

    def type(self, text):
        self.x('xdotool', 'type', '--delay', '30', text)

    def fields(self, *texts):
        """Tab, then the text, for each text: the next fields in their turn."""
        for text in texts:
            self.keys('Tab')
            self.type(text)

    def frame(self, window):
        """The window's frame, title bar included, as (left, top, right, bottom)."""
        info = dict(line.strip().split(':', 1) for line in
                    self.x('xwininfo', '-id', window).splitlines() if ':' in line)
        left, top = int(info['Absolute upper-left X']), int(info['Absolute upper-left Y'])
        extents = self.x('xprop', '-id', window, '_NET_FRAME_EXTENTS').split('=')[-1]
        l, r, t, b = (int(v) for v in extents.split(','))
        return (left - l, top - t, left + int(info['Width']) + r,
                top + int(info['Height']) + b)

    def drafts(self):
        folder = self.env['XDG_DATA_HOME'] + '/tovrelmail/drafts'
        found = []
        for name in os.listdir(folder) if os.path.isdir(folder) else []:
            if name.endswith('.draft'):
                with open(os.path.join(folder, name)) as f:
                    found.append(dict(line.partition(' ')[::2] for line in f.read().splitlines()))
        return found

    def draft(self, what, **fields):
        """Waits for a draft whose fields end as given (From keeps the identity before)."""
        matches = lambda d: all(d.get(k, '').endswith(v) for k, v in fields.items())
        return self.until(lambda: [d for d in self.drafts() if matches(d)], what)[0]

    def expect(self, step, check):
        self.step = step
        check()


def start_and_type_at_once(c):
    c.start()
    # A draft is kept once a field beside From holds something.
    c.type('abc')
    c.fields('x')
    c.expect('typed text goes to From', lambda: c.draft('From, then To', to='x', **{'from': 'abc'}))


def tab_walks_every_field(c):
    c.start()
    # From, To, Subject, text, Send, Quit, CC, BCC, Attach, the attachment list, From again.
    c.type('f')
    c.fields('t', 's', 'b', '', '', 'c', 'd', '', '', 'g')
    c.expect('every field in its turn, From whole again', lambda: c.until(
        lambda: [d for d in c.drafts() if d['from'] == 'g' and
                 (d['to'], d['subject'], d['body'], d['cc'], d['bcc']) == tuple('tsbcd')],
        'the draft of the walk'))


def control_return_sends(c):
    mail = tempfile.mkdtemp(dir=c.home.name)
    server = subprocess.Popen(['/usr/bin/python3', SOURCE + '/scripts/test_smtp_server.py',
                               '--dir', mail, '--host', '127.0.0.1'], stdout=subprocess.PIPE)
    c.children.append(server)
    port = server.stdout.readline().decode().strip()
    c.write_store({'smtp': {'smtp': '127.0.0.1'}, 'port': {'port': port}})
    c.start()
    c.fields('ann@example.org', 'Hello', 'Body text')
    c.keys('ctrl+Return')
    c.step = 'the server has the message'
    eml = c.until(lambda: [n for n in os.listdir(mail) if n.endswith('.env')], 'the mail')[0]
    text = open(os.path.join(mail, eml.replace('.env', '.eml')), 'rb').read()
    for part in (b'To: ann@example.org', b'Subject: Hello', b'Body text'):
        if part not in text:
            raise Failed('the mail lacks %r' % part)


def start_with_a_draft(c):
    c.start()
    c.fields('ann@example.org')
    c.draft('the draft', to='ann@example.org')


def close_guard_asks(c):
    start_with_a_draft(c)
    c.keys('ctrl+q')
    c.step = 'Cancel keeps the window'
    c.dialog()
    c.keys('Escape')
    c.back()
    if c.program.poll() is not None:
        raise Failed('the program ended')
    c.step = 'Discard ends the program'
    c.keys('ctrl+q')
    c.dialog()
    c.keys('shift+Tab', 'space')
    c.until(lambda: c.program.poll() is not None, 'the program to end')
    if c.drafts():
        raise Failed('the discarded draft is still there')


def restore_after_kill(c):
    start_with_a_draft(c)
    c.program.kill()
    c.program.wait()
    c.step = 'the restore question'
    c.program = c.spawn([PROGRAM])
    c.compose = c.window('TovrelMail 3.3')
    c.dialog()
    c.keys('Return')
    c.expect('the message restored, From has the keys', lambda: (
        c.back(), c.type('z'), c.draft('the restored draft', to='ann@example.org', **{'from': 'z'})))


def attach_dialog(c):
    path = os.path.join(c.home.name, 'report.txt')
    open(path, 'w').write('figures\n')
    c.start()
    c.keys('alt+a')
    c.step = 'a path typed in the Attach dialog'
    c.dialog()
    c.type(path)
    c.keys('Return')
    c.draft('the attachment', attachment=path)


def on_screen(c, window):
    left, top, right, bottom = c.frame(window)
    if left < 0 or top < 0 or right > 1280 or bottom > 800:
        raise Failed('frame %s off the 1280x800 screen' % ((left, top, right, bottom),))


def small_screen(c):
    c.start()
    c.expect('the whole frame on the screen', lambda: on_screen(c, c.compose))
    # From, To, Subject, the text, Send: pressed with an empty To it says a recipient is missing.
    c.keys('Tab', 'Tab', 'Tab', 'Tab', 'space')
    c.expect('Send reachable', c.dialog)


def settings_dialog(c):
    c.start()
    c.keys('alt+e', 'Down', 'Return')
    settings = c.window('Settings')
    c.expect('the dialog on the screen', lambda: on_screen(c, settings))
    c.keys('Escape')
    c.expect('the focus back in From', lambda: (
        c.back(), c.type('q'), c.fields('w'), c.draft('From, then To', to='w', **{'from': 'q'})))


def accessible_names(c):
    import pyatspi  # Debian's python3-pyatspi
    bus = c.spawn(['dbus-daemon', '--session', '--nofork', '--print-address=1'],
                  stdout=subprocess.PIPE)
    c.env['DBUS_SESSION_BUS_ADDRESS'] = bus.stdout.readline().decode().strip()
    os.environ['DBUS_SESSION_BUS_ADDRESS'] = c.env['DBUS_SESSION_BUS_ADDRESS']
    c.env['QT_LINUX_ACCESSIBILITY_ALWAYS_ON'] = '1'
    c.program = c.spawn([PROGRAM])  # the first run: Settings opens over the compose window
    c.window('Settings')
    c.step = 'every focusable control named'
    desktop = pyatspi.Registry.getDesktop(0)
    app = c.until(lambda: [a for a in desktop if a and a.name == 'TovrelMail'
                           and a.childCount >= 2], 'both windows on the accessibility bus')[0]
    unnamed, seen = [], 0

    def walk(node, path):
        nonlocal seen
        states = node.getState()
        if states.contains(pyatspi.STATE_FOCUSABLE) and states.contains(pyatspi.STATE_SHOWING):
            seen += 1
            if not node.name.strip():
                unnamed.append('%s/%s' % (path, node.getRoleName()))
        for child in node:
            if child is not None and child.getRoleName() not in ('menu', 'menu item'):
                walk(child, '%s/%s' % (path, child.name or child.getRoleName()))

    walk(app, 'TovrelMail')
    if seen < 20 or unnamed:
        raise Failed('%d focusable controls, without a name: %s' % (seen, unnamed))


SMALL = {'screen': '1280x800', 'env': {'QT_SCALE_FACTOR': '2'}}
CASES = {run.__name__: (run, options) for run, options in [
    (start_and_type_at_once, {}), (tab_walks_every_field, {}), (control_return_sends, {}),
    (close_guard_asks, {}), (restore_after_kill, {}), (attach_dialog, {}), (small_screen, SMALL),
    (settings_dialog, SMALL), (accessible_names, {'store': 'first run'})]}


def main():
    os.makedirs(OUT, exist_ok=True)
    passed = failed = 0
    for name in sys.argv[3:] or CASES:
        run, options = CASES[name]
        case = None
        try:
            case = Case(name, **options)
            run(case)
            passed += 1
            print('PASSED', name, flush=True)
        except Exception as error:
            failed += 1
            step = case.step if case else 'start'
            shot = os.path.join(OUT, '%s-%s.png' % (name, step.replace(' ', '_')))
            if case and 'DISPLAY' in case.env:
                case.x('import', '-window', 'root', shot)
            print('FAILED %s at "%s": %s (screenshot %s)' % (name, step, error, shot))
            if not isinstance(error, Failed):
                traceback.print_exc()
        finally:
            if case:
                case.close()
    print('%d passed, %d failed' % (passed, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
