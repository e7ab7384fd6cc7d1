"""Reads a program's windows through the accessibility bus as a screen reader
does, for the desktop accessibility test.

Started by dbus-run-session, so the session bus is private to one test. It
first makes sure the accessibility bus is up (a program looks for it only as
it starts), then says on stdout that it is ready and on which session bus.
From then on it answers each JSON line on stdin with one JSON line on stdout.
The services the bus starts write to the same stdout, so each line of its
own begins with "reader: ".

  {"tree": PID}     the windows of process PID on screen, the active one
                    with its objects on screen: role, name, description,
                    labelled-by, states, value, text
  {"events": true}  the description changes the bus announced since the
                    last such request
"""

import json
import os
import sys

from gi.repository import Gio, GLib


def say(message):
    sys.stdout.write("reader: " + json.dumps(message) + "\n")
    sys.stdout.flush()


def session_call(method, signature_reply, *, bus_name, path, interface, args=None):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    reply = bus.call_sync(bus_name, path, interface, method, args, GLib.VariantType(signature_reply),
                          Gio.DBusCallFlags.NONE, 20000, None)
    return reply.unpack()[0]


activatable = session_call("ListActivatableNames", "(as)", bus_name="org.freedesktop.DBus",
                           path="/org/freedesktop/DBus", interface="org.freedesktop.DBus")
if "org.a11y.Bus" not in activatable:
    say({"missing": "at-spi2-core's bus launcher"})
    sys.exit(0)
# Starts the launcher, which the program then finds registered.
session_call("GetAddress", "(s)", bus_name="org.a11y.Bus", path="/org/a11y/bus", interface="org.a11y.Bus")

import pyatspi  # noqa: E402  (not needed before)

STATES = ("active", "focused", "showing", "visible", "checked", "selected", "focusable", "enabled")
events = []


def relation_targets(accessible, relation_type):
    names = []
    for relation in accessible.getRelationSet():
        if relation.getRelationType() == relation_type:
            names.extend(relation.getTarget(i).name for i in range(relation.getNTargets()))
    return names


def describe(accessible, whole=True):
    states = accessible.getState()
    node = {
        "role": accessible.getRoleName(),
        "name": accessible.name,
        "description": accessible.description,
        "labelledBy": relation_targets(accessible, pyatspi.RELATION_LABELLED_BY),
        "states": [name for name in STATES if states.contains(getattr(pyatspi, "STATE_" + name.upper()))],
        "children": [],
    }
    # What is not on screen is not read: a closed menu's entries, a list's
    # hidden items.
    if not whole or not states.contains(pyatspi.STATE_SHOWING):
        return node
    node["children"] = [describe(child) for child in accessible if child is not None]
    interfaces = accessible.get_interfaces()
    if "Value" in interfaces:
        node["value"] = accessible.queryValue().currentValue
    if "Text" in interfaces:
        node["text"] = accessible.queryText().getText(0, -1)
    return node


def tree(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is None or app.get_process_id() != pid:
            continue
        # Read afresh each time, as the program says it now; only what an
        # object is and can do is kept from an earlier look.
        app.set_cache_mask(pyatspi.Atspi.Cache.ROLE | pyatspi.Atspi.Cache.INTERFACES)
        app.clear_cache()
        # Windows not on screen are left out; the others are read whole only
        # while active, as a screen reader reads the window it is in.
        windows = []
        for window in app:
            if window is None:
                continue
            states = window.getState()
            if states.contains(pyatspi.STATE_SHOWING):
                windows.append(describe(window, whole=states.contains(pyatspi.STATE_ACTIVE)))
        return {"windows": windows}
    return {"windows": None}


def heard(event):
    # The event names what changed; the new text is read from its source,
    # as a screen reader does when it speaks the change.
    try:
        source = event.source
        events.append({"type": event.type, "role": source.getRoleName(), "name": source.name,
                       "description": source.description})
    except Exception:  # gone before it could be read: nothing to hear
        pass


def answer(request):
    try:
        if "tree" in request:
            return tree(int(request["tree"]))
        if "events" in request:
            heard_so_far = events[:]
            events.clear()
            return {"events": heard_so_far}
        return {"error": "unknown request"}
    except Exception as failure:  # the test reads the reason and fails
        return {"error": repr(failure)}


pending = b""


def requests(fd, condition):
    # Read from the descriptor itself: lines a buffered reader kept would
    # wait unanswered for more input.
    global pending
    data = os.read(fd, 65536)
    if not data:
        pyatspi.Registry.stop()
        return False
    pending += data
    while b"\n" in pending:
        line, pending = pending.split(b"\n", 1)
        say(answer(json.loads(line)))
    return True


pyatspi.Registry.registerEventListener(heard, "object:property-change:accessible-description")
GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, requests)
pyatspi.Registry.getDesktop(0)
say({"ready": True, "session": os.environ.get("DBUS_SESSION_BUS_ADDRESS", "")})
pyatspi.Registry.start()
