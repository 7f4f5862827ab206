"""The window as assistive technology sees it.

Starts the built window under Xvfb with a session bus and an accessibility
bus, and reads it through /usr/bin/python3 with pyatspi: the table's column
headers and cells, the buttons by name (and whether they are enabled), the
labels, the status line; a button is pressed by its name, and the screen can
be grabbed. No screen coordinates are involved.

    with AtspiWindow(app, env={'LANGUAGE': 'ja'}) as window:
        seen = window.wait_for(lambda s: s['buttons'].get('Refresh'))
        window.press('Refresh')

The window searches at start, so it never runs in the machine's own network
namespace: by default it runs in an empty one (tools/testbed/netns-run.sh);
a test on the LAN bed passes popen=lan.client_popen. missing() says what this
machine lacks for it, for a test to skip with.

Two processes: this module's AtspiWindow, in the caller's interpreter, and
the same file run by /usr/bin/python3 inside xvfb-run and dbus-run-session
(serve()), which owns the window and answers one JSON request a line on its
standard input with one line "ATSPI <json>" on its standard output."""
import json
import os
import queue
import random
import shutil
import signal
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
NETNS_RUN = os.path.join(HERE, '..', '..', 'tools', 'testbed', 'netns-run.sh')
SYSTEM_PYTHON = '/usr/bin/python3'
BUS_LAUNCHER = '/usr/libexec/at-spi-bus-launcher'
REPLY = 'ATSPI '
# Exit status of netns-run.sh where no namespace can be made.
NETNS_UNAVAILABLE = 77


class Unavailable(Exception):
    """This machine cannot run the window on an accessibility bus."""


class WindowError(RuntimeError):
    """The window or its driver failed, or a request could not be met."""


def missing():
    """Why the window cannot be driven here, or None when it can."""
    if os.geteuid() != 0:
        return 'needs root for an isolated network namespace'
    for tool in ('xvfb-run', 'Xvfb', 'xauth', 'dbus-run-session', 'import', 'xdotool'):
        if shutil.which(tool) is None:
            return '%s is not installed (packages xvfb, xauth, dbus-x11, imagemagick, xdotool)' % tool
    if not os.access(BUS_LAUNCHER, os.X_OK):
        return '%s is missing (package at-spi2-core)' % BUS_LAUNCHER
    probe = subprocess.run([SYSTEM_PYTHON, '-c', 'import pyatspi'], capture_output=True)
    if probe.returncode != 0:
        return '%s cannot import pyatspi (package python3-pyatspi)' % SYSTEM_PYTHON
    return None


def stop(proc, grace=10):
    """Ends a program as a user would (SIGTERM), killing it when it does not
    end within `grace` seconds."""
    if proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def _netns_popen(argv, **kw):
    return subprocess.Popen(['sh', NETNS_RUN] + argv, **kw)


class AtspiWindow:
    """The window APP started with ARGS and the caller's ENV added to this
    process's environment, on a screen of SCREEN pixels; its standard error
    goes to LOG_PATH when one is given. POPEN starts the driver's command
    line inside a network namespace."""

    def __init__(self, app, args=(), env=None, popen=_netns_popen, screen=(640, 400), log_path=None,
                 timeout=60.0):
        self.argv = [app] + list(args)
        self.env = dict(os.environ)
        self.env.update(env or {})
        # Offscreen has no accessibility bridge; the window must be on Xvfb.
        self.env.pop('QT_QPA_PLATFORM', None)
        self.popen = popen
        self.screen = screen
        self.log_path = log_path or os.devnull
        self.timeout = timeout
        self.proc = None
        self.replies = queue.Queue()
        self.output = []

    def __enter__(self):
        # A caller may start it first, to tell Unavailable from the rest.
        if self.proc is None:
            self.start()
        return self

    def __exit__(self, *exc):
        self.close()

    def start(self):
        # xvfb-run -a takes the first display without a lock file, and two
        # runs that start together may both take it: a random first number
        # keeps them apart. Without -noreset the server resets when its last
        # client leaves (the bus launcher, once it has set its property),
        # and a window that connects during the reset fails to start.
        argv = ['xvfb-run', '-a', '-n', str(random.randrange(100, 30000)),
                '-s', '-screen 0 %dx%dx24 -noreset' % self.screen,
                'dbus-run-session', '--', SYSTEM_PYTHON, os.path.abspath(__file__), '--serve',
                self.log_path] + self.argv
        self.proc = self.popen(argv, env=self.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True, bufsize=1)
        threading.Thread(target=self._read, daemon=True).start()
        try:
            self._request({'op': 'ready'}, self.timeout)
        except WindowError:
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                pass
            if self.proc.poll() == NETNS_UNAVAILABLE:
                raise Unavailable(''.join(self.output).strip())
            self.close()
            raise

    def _read(self):
        for line in self.proc.stdout:
            if line.startswith(REPLY):
                self.replies.put(json.loads(line[len(REPLY):]))
            else:
                self.output.append(line)
        self.replies.put(None)

    def _request(self, request, timeout=None):
        if self.proc is None or self.proc.poll() is not None:
            raise WindowError('the driver is not running:\n' + ''.join(self.output))
        try:
            self.proc.stdin.write(json.dumps(request) + '\n')
            self.proc.stdin.flush()
        except OSError as e:
            raise WindowError('the driver is gone (%s):\n%s' % (e, ''.join(self.output)))
        try:
            reply = self.replies.get(timeout=timeout or self.timeout)
        except queue.Empty:
            raise WindowError('no answer to %r within %.0f s:\n%s' % (request, timeout or self.timeout,
                                                                      ''.join(self.output)))
        if reply is None:
            raise WindowError('the driver ended:\n' + ''.join(self.output))
        if not reply.get('ok'):
            raise WindowError('%s failed: %s' % (request['op'], reply.get('error')))
        return reply.get('result')

    def snapshot(self):
        """What the bus shows of the window now: {'title', 'headers', 'rows',
        'buttons' (name -> enabled), 'labels', 'heading' (the labels above
        the table), 'status' (the first label below it), 'dialogs' (every
        other window: its title, labels and buttons)}."""
        return self._request({'op': 'snapshot'})

    def wait_for(self, condition, timeout=None, message='the window'):
        """Snapshots until condition(snapshot) holds; the last one is returned."""
        deadline = time.monotonic() + (timeout or self.timeout)
        seen = None
        while True:
            try:
                seen = self.snapshot()
            except WindowError as e:
                # Rows rebuilt while they are read leave objects that are
                # gone by the time they are asked: look again.
                if 'No such object' not in str(e) or time.monotonic() > deadline:
                    raise
            else:
                if condition(seen):
                    return seen
            if time.monotonic() > deadline:
                raise WindowError('%s did not come within %.0f s; last seen:\n%s' % (
                    message, timeout or self.timeout, json.dumps(seen, ensure_ascii=False, indent=1)))
            time.sleep(0.2)

    def press(self, name):
        """Presses the enabled button of that name, in any of the app's windows."""
        self._request({'op': 'press', 'name': name})

    def screenshot(self, path):
        self._request({'op': 'screenshot', 'path': os.path.abspath(path)})

    def type_into(self, name, text):
        """Sets the text of the editable field of that name (its accessible
        name), in any of the app's windows, as typing it would."""
        self._request({'op': 'type', 'name': name, 'text': text})

    def header_menu(self, column, keys):
        """Opens the table header's menu with a right click on the header of
        column COLUMN (by its index), then types the keys."""
        self._request({'op': 'header_menu', 'column': column, 'keys': list(keys)})

    def row_menu(self, row, keys):
        """Opens the menu of the table's row (by its index) with a right click
        on it, then types the keys (xdotool names: 'Down', 'Return')."""
        self._request({'op': 'row_menu', 'row': row, 'keys': list(keys)})

    def close(self):
        if self.proc is None:
            return
        if self.proc.poll() is None:
            try:
                self._request({'op': 'quit'}, 20)
            except (WindowError, OSError):
                pass
        try:
            self.proc.wait(20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        for pipe in (self.proc.stdin, self.proc.stdout):
            try:
                pipe.close()
            except OSError:
                pass
        self.proc = None


# --- The driver, inside Xvfb and the session bus (run by /usr/bin/python3). ---

def _wait_for_bus_name(name, deadline):
    from gi.repository import Gio, GLib
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    while time.monotonic() < deadline:
        owned = bus.call_sync('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                              'NameHasOwner', GLib.Variant('(s)', (name,)), None, Gio.DBusCallFlags.NONE,
                              -1, None)
        if owned.unpack()[0]:
            return
        time.sleep(0.05)
    raise WindowError('%s did not appear on the session bus' % name)


def _children(acc):
    return [c for c in acc if c is not None]


def _walk(acc):
    yield acc
    for child in _children(acc):
        yield from _walk(child)


def _describe_window(frame, pyatspi):
    seen = {'title': frame.name, 'headers': [], 'rows': [], 'buttons': {}, 'labels': [], 'heading': [],
            'status': '', 'texts': {}}
    table_seen = False
    for acc in _walk(frame):
        role = acc.getRole()
        if role == pyatspi.ROLE_TABLE and not table_seen:
            table_seen = True
            # The table interface's column headers have no names; the
            # header children of the table carry them.
            seen['headers'] = [h.name for h in _children(acc) if h.getRole() == pyatspi.ROLE_TABLE_COLUMN_HEADER]
            table = acc.queryTable()
            for r in range(table.nRows):
                cells = [table.getAccessibleAt(r, c) for c in range(table.nColumns)]
                if None in cells:
                    # The rows were rebuilt while they were read: the
                    # reader looks again (see wait_for).
                    raise WindowError('No such object: row %d changed while it was read' % r)
                seen['rows'].append([cell.name for cell in cells])
        elif role == pyatspi.ROLE_PUSH_BUTTON:
            seen['buttons'][acc.name] = acc.getState().contains(pyatspi.STATE_ENABLED)
        elif role in (pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY) and acc.name:
            # An editable field or a text to read (a dialog's), by its name.
            text = acc.queryText()
            seen['texts'][acc.name] = text.getText(0, text.characterCount)
        elif role == pyatspi.ROLE_LABEL:
            seen['labels'].append(acc.name)
            if not table_seen:
                seen['heading'].append(acc.name)
            elif not seen['status']:
                seen['status'] = acc.name
    seen['has_table'] = table_seen
    return seen


def _app(pyatspi, pid):
    for app in _children(pyatspi.Registry.getDesktop(0)):
        try:
            if app.get_process_id() == pid:
                return app
        except Exception:  # an app leaving the bus while we look
            continue
    return None


def _snapshot(pyatspi, pid):
    app = _app(pyatspi, pid)
    if app is None:
        raise WindowError('the window is not on the accessibility bus')
    windows = [_describe_window(w, pyatspi) for w in _children(app)]
    main = next((w for w in windows if w['has_table']), None)
    if main is None:
        raise WindowError('no window with a table yet')
    main['dialogs'] = [{k: w[k] for k in ('title', 'labels', 'buttons', 'texts')} for w in windows if w is not main]
    del main['has_table']
    return main


def _press(pyatspi, pid, name):
    app = _app(pyatspi, pid)
    if app is None:
        raise WindowError('the window is not on the accessibility bus')
    for acc in _walk(app):
        if acc.getRole() == pyatspi.ROLE_PUSH_BUTTON and acc.name == name:
            if not acc.getState().contains(pyatspi.STATE_ENABLED):
                raise WindowError('the button %r is disabled' % name)
            acc.queryAction().doAction(0)
            return
    raise WindowError('no button %r' % name)


def _type(pyatspi, pid, name, text):
    app = _app(pyatspi, pid)
    if app is None:
        raise WindowError('the window is not on the accessibility bus')
    for acc in _walk(app):
        if acc.getRole() in (pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY) and acc.name == name:
            acc.queryEditableText().setTextContents(text)
            return
    raise WindowError('no field %r' % name)


def _click_then_keys(x, y, keys):
    for argv in (['xdotool', 'mousemove', str(x), str(y), 'click', '3'],
                 ['xdotool', 'sleep', '0.5', 'key', '--delay', '100'] + list(keys)):
        done = subprocess.run(argv, capture_output=True, text=True)
        if done.returncode != 0:
            raise WindowError('xdotool failed: ' + done.stderr)


def _table(pyatspi, pid):
    app = _app(pyatspi, pid)
    if app is None:
        raise WindowError('the window is not on the accessibility bus')
    table = next((a for a in _walk(app) if a.getRole() == pyatspi.ROLE_TABLE), None)
    if table is None:
        raise WindowError('no table')
    return table


def _header_menu(pyatspi, pid, column, keys):
    table = _table(pyatspi, pid)
    headers = [h for h in _children(table) if h.getRole() == pyatspi.ROLE_TABLE_COLUMN_HEADER]
    extents = headers[column].queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    _click_then_keys(extents.x + extents.width // 2, extents.y + extents.height // 2, keys)


def _row_menu(pyatspi, pid, row, keys):
    table = _table(pyatspi, pid)
    # A right click in the middle of the row's first cell, where the bus says
    # it is: the menu opens as the user opens it. Qt keeps popup menus off
    # the bus's list of windows, so its items are reached by the keyboard.
    extents = table.queryTable().getAccessibleAt(row, 0).queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    _click_then_keys(extents.x + extents.width // 2, extents.y + extents.height // 2, keys)


def serve(log_path, argv):
    deadline = time.monotonic() + 30
    launcher = subprocess.Popen([BUS_LAUNCHER, '--launch-immediately'], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
    app = None

    def reply(ok, result=None, error=None):
        sys.stdout.write(REPLY + json.dumps({'ok': ok, 'result': result, 'error': error}) + '\n')
        sys.stdout.flush()

    try:
        _wait_for_bus_name('org.a11y.Bus', deadline)
        import pyatspi
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1')
        with open(log_path, 'w') as log:
            app = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        for line in sys.stdin:
            request = json.loads(line)
            op = request.get('op')
            if op == 'quit':
                reply(True)
                break
            if app.poll() is not None:
                reply(False, error='the window ended with status %d' % app.returncode)
                continue
            try:
                if op == 'ready':
                    while _app(pyatspi, app.pid) is None:
                        if time.monotonic() > deadline or app.poll() is not None:
                            raise WindowError('the window did not appear on the accessibility bus')
                        time.sleep(0.1)
                    reply(True)
                elif op == 'snapshot':
                    reply(True, _snapshot(pyatspi, app.pid))
                elif op == 'press':
                    _press(pyatspi, app.pid, request['name'])
                    reply(True)
                elif op == 'row_menu':
                    _row_menu(pyatspi, app.pid, request['row'], request['keys'])
                    reply(True)
                elif op == 'header_menu':
                    _header_menu(pyatspi, app.pid, request['column'], request['keys'])
                    reply(True)
                elif op == 'type':
                    _type(pyatspi, app.pid, request['name'], request['text'])
                    reply(True)
                elif op == 'screenshot':
                    grab = subprocess.run(['import', '-window', 'root', request['path']], capture_output=True,
                                          text=True)
                    if grab.returncode != 0:
                        raise WindowError('import failed: ' + grab.stderr)
                    reply(True)
                else:
                    raise WindowError('unknown request %r' % op)
            except Exception as e:  # every failure goes back to the caller as text
                reply(False, error='%s: %s' % (type(e).__name__, e))
    finally:
        for proc in (app, launcher):
            if proc is not None:
                stop(proc)


if __name__ == '__main__':
    if len(sys.argv) >= 4 and sys.argv[1] == '--serve':
        serve(sys.argv[2], sys.argv[3:])
    else:
        sys.exit('usage: %s --serve LOG APP [ARG...]  (run by AtspiWindow)' % sys.argv[0])
