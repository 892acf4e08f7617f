"""Reads the program the way a screen reader does: through AT-SPI on a
private D-Bus session bus started here.

The bus must be started (Bus()) before anything else in the test process
talks to AT-SPI: pyatspi finds the accessibility bus through the session bus
named in the environment when it is first imported. Only processes started
here, and the ones the bus started on our behalf, are ended, by their PID."""
import os
import shutil
import subprocess
import tempfile
import time

from desktop import SKIP, wait_for

pyatspi = None


def _started_by(marker):
    """Live processes whose environment holds marker (not zombies)."""
    found = set()
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                if marker not in f.read().split(b"\0"):
                    continue
        except OSError:
            continue
        if not _zombie(int(entry)):
            found.add(int(entry))
    return found


class Bus:
    """A private session bus; the accessibility bus is activated on it."""

    def __init__(self):
        global pyatspi
        if shutil.which("dbus-daemon") is None or not os.path.exists(
                "/usr/share/dbus-1/services/org.a11y.Bus.service"):
            print("skipped: no dbus-daemon or accessibility bus")
            raise SystemExit(SKIP)
        if "pyatspi" in __import__("sys").modules and pyatspi is None:
            raise AssertionError("pyatspi was imported before the private bus was set")
        # What the bus starts (the accessibility bus and its registry) puts
        # its socket in XDG_RUNTIME_DIR: a private one, so nothing is shared
        # with other tests or users, and it marks those processes as ours.
        self.runtime_dir = tempfile.mkdtemp(prefix="tamsivo-a11y-")
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime_dir)
        # The bus starts any session service asked for (a keyring when the
        # program stores a sync password): its home is in here too, so
        # nothing it keeps lands in the real one.
        home = os.path.join(self.runtime_dir, "home")
        os.makedirs(home)
        env.update(HOME=home, XDG_DATA_HOME=os.path.join(home, ".local/share"),
                   XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   XDG_CACHE_HOME=os.path.join(home, ".cache"))
        # No display: nothing is announced on any X server.
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                     "AT_SPI_BUS_ADDRESS"):
            env.pop(name, None)
        self.proc = subprocess.Popen(["dbus-daemon", "--session", "--nofork",
                                      "--print-address=1"], env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        self.address = self.proc.stdout.readline().decode().strip()
        if not self.address:
            self.proc.wait(5)
            raise AssertionError("dbus-daemon gave no address")
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.address
        # Nothing of a desktop session the tests run in may leak in.
        os.environ.pop("AT_SPI_BUS_ADDRESS", None)
        try:
            import pyatspi as module
        except ImportError:
            self.close()
            print("skipped: no pyatspi")
            raise SystemExit(SKIP)
        pyatspi = module

    def app(self, pid, timeout=30.0):
        """The accessible application of process pid."""
        def look():
            desktop = pyatspi.Registry.getDesktop(0)
            for i in range(desktop.childCount):
                try:
                    a = desktop.getChildAtIndex(i)
                    if a is not None and a.get_process_id() == pid and a.name == "Tamsivo":
                        return a
                except Exception:
                    continue
            return None
        return wait_for(look, timeout, "the program on the accessibility bus")

    def close(self):
        """Ends the bus; what it started ends with it (checked, and ended by
        PID when it lingers)."""
        if self.proc.poll() is not None:
            return
        marker = ("XDG_RUNTIME_DIR=" + self.runtime_dir).encode()
        started = _started_by(marker)
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()
        end = time.time() + 10
        left = started
        while left and time.time() < end:
            time.sleep(0.1)
            left = {p for p in started if not _zombie(p)}
        for pid in left:
            try:
                os.kill(pid, 15)
            except OSError:
                pass
        shutil.rmtree(self.runtime_dir, ignore_errors=True)
        if left:
            raise AssertionError("left behind by the session bus: %s" % sorted(left))


def _zombie(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


def fresh(node):
    """node with nothing remembered from earlier reads (names change while
    the calendar moves, and not every change is announced)."""
    try:
        node.clear_cache()
    except Exception:
        pass
    return node


def children(node):
    fresh(node)
    out = []
    for i in range(node.childCount):
        c = node.getChildAtIndex(i)
        if c is not None:
            out.append(c)
    return out


def find(node, role=None, name=None, predicate=None, depth=12):
    """The first node below node (itself included) with that role name
    ("push button", "table", ...) and name, or None."""
    try:
        fresh(node)
        ok = ((role is None or node.getRoleName() == role)
              and (name is None or node.name == name)
              and (predicate is None or predicate(node)))
    except Exception:
        return None
    if ok:
        return node
    if depth == 0:
        return None
    for c in children(node):
        hit = find(c, role, name, predicate, depth - 1)
        if hit is not None:
            return hit
    return None


def find_all(node, role=None, name=None, depth=12):
    found = []
    try:
        fresh(node)
        if (role is None or node.getRoleName() == role) and (name is None or node.name == name):
            found.append(node)
    except Exception:
        return found
    if depth > 0:
        for c in children(node):
            found.extend(find_all(c, role, name, depth - 1))
    return found


def wait_find(node, role=None, name=None, predicate=None, timeout=15.0):
    return wait_for(lambda: find(node, role, name, predicate), timeout,
                    "%s %r in the accessibility tree" % (role or "node", name))


def window(app, title, timeout=15.0):
    """A top-level window (frame or dialog) of app by its title."""
    def look():
        for w in children(app):
            try:
                if w.name == title and has_state(w, "showing"):
                    return w
            except Exception:
                continue
        return None
    return wait_for(look, timeout, "window %r in the accessibility tree" % title)


def has_state(node, state):
    """state: a pyatspi state name without its prefix, "focused", "checked"."""
    fresh(node)
    return node.getState().contains(getattr(pyatspi, "STATE_" + state.upper()))


def focused(node, depth=12):
    """The focused node below node, or None."""
    return find(node, predicate=lambda n: has_state(n, "focused"), depth=depth)


def text_of(node):
    """The whole text of a node with the text interface."""
    fresh(node)
    t = node.queryText()
    return t.getText(0, t.characterCount)


def do_action(node, action_name):
    """Runs the named action ("Press", "SetFocus", ...) of node."""
    fresh(node)
    actions = node.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    if action_name not in names:
        raise AssertionError("%r has no action %r (only %s)" % (node.name, action_name, names))
    return actions.doAction(names.index(action_name))


def calendar_grid(app, title_prefix="Tamsivo "):
    """The month grid of MainWindow: the inner table of the table named
    日历, numbered as Qt's table view numbers it: a hidden slot for each
    header, then rows of 7 weekday headings and 6 weeks of day cells."""
    frame = wait_for(lambda: next((w for w in children(app)
                                   if w.name.startswith(title_prefix)), None),
                     15, "MainWindow in the accessibility tree")
    calendar = wait_find(frame, "table", "日历")
    return wait_find(calendar, "table", predicate=lambda n: n.childCount == 64)


def cells(grid):
    """[(name, description)] of the 42 day cells, in reading order."""
    out = []
    for c in children(grid):
        fresh(c)
        if c.getRoleName() == "table cell":
            out.append((c.name, c.description))
    return out
