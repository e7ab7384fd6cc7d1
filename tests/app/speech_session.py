"""Runs the Orca screen reader with real speech for the desktop speech test,
and passes on what it says.

Started by dbus-run-session, so the session bus is private to one test, on a
display and a runtime folder of the test's own. It starts the accessibility
bus (a program looks for it only as it starts), a speech-dispatcher that
speaks with espeak-ng into ALSA's null device, and Orca with preferences in a
folder of its own and its debug log as the transcript. Then it writes on
stdout, each on a line of its own:

  session: ADDRESS   the session bus, for the program under test
  ready              Orca has started and speaks
  heard: TEXT        each utterance, as Orca sends it to speech
  missing: WHAT      a part is not installed (then it ends)
  failed: WHY        Orca ended by itself (then it ends)

The services the bus starts write to the same stdout, hence the prefixes.
At the end of its input it ends Orca and speech-dispatcher (a daemon that
would outlive the session) and returns.
"""

import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from gi.repository import Gio, GLib

SPEECHD_CONF = """\
AudioOutputMethod "alsa"
AudioALSADevice "null"
AddModule "espeak-ng" "sd_espeak-ng" "espeak-ng.conf"
DefaultModule espeak-ng
DefaultLanguage "en"
LogLevel 1
"""

# Orca writes its debug log block-buffered: without this a test would wait
# for words already spoken.
CUSTOMIZATIONS = """\
import orca.debug
if orca.debug.debugFile:
    orca.debug.debugFile.reconfigure(line_buffering=True)
"""

# The utterance, then the voice's name or settings.
SPOKEN = re.compile(r"SPEECH OUTPUT: '(.*)'(?:\s*voice=\w+)?\s*(?:\{.*\})?\s*$")


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def missing(what):
    say("missing: " + what)
    sys.exit(0)


def main():
    for tool in ("orca", "speech-dispatcher"):
        if not shutil.which(tool):
            missing(tool)
    if not os.path.exists("/usr/lib/speech-dispatcher-modules/sd_espeak-ng"):
        missing("speech-dispatcher-espeak-ng")

    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    names = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "ListActivatableNames", None, GLib.VariantType("(as)"), Gio.DBusCallFlags.NONE,
                          20000, None).unpack()[0]
    if "org.a11y.Bus" not in names:
        missing("at-spi2-core's bus launcher")
    bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                  GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 20000, None)
    # Orca itself turns this on; set first so no program starts without it.
    bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                  GLib.Variant("(ssv)", ("org.a11y.Status", "IsEnabled", GLib.Variant("b", True))),
                  None, Gio.DBusCallFlags.NONE, 20000, None)
    say("session: " + os.environ["DBUS_SESSION_BUS_ADDRESS"])

    work = tempfile.mkdtemp(prefix="speech-")
    speechd = os.path.join(work, "speechd")
    os.makedirs(os.path.join(speechd, "modules"))
    with open(os.path.join(speechd, "speechd.conf"), "w") as conf:
        conf.write(SPEECHD_CONF)
    with open(os.path.join(speechd, "modules", "espeak-ng.conf"), "w"):
        pass
    prefs = os.path.join(work, "orca")
    os.makedirs(prefs)
    with open(os.path.join(prefs, "orca-customizations.py"), "w") as custom:
        custom.write(CUSTOMIZATIONS)
    transcript = os.path.join(work, "orca.log")

    env = dict(os.environ)
    # Where Orca looks for speech-dispatcher, and where it is started.
    runtime = env.setdefault("XDG_RUNTIME_DIR", work)
    pid_file = os.path.join(work, "speech-dispatcher.pid")
    with open(os.path.join(work, "speech-dispatcher.log"), "w") as log:
        subprocess.run(["speech-dispatcher", "-d", "-t", "0", "-C", speechd, "-P", pid_file, "-L", work],
                       env=env, check=True, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    socket = os.path.join(runtime, "speech-dispatcher", "speechd.sock")

    orca = None
    try:
        # The daemon answers once its socket is there.
        while not os.path.exists(socket):
            select.select([], [], [], 0.05)
        with open(os.path.join(work, "orca.out"), "w") as out:
            orca = subprocess.Popen(["orca", "-d", "braille", "-u", prefs, "--debug-file", transcript], env=env,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        if not follow(transcript, orca):
            with open(os.path.join(work, "orca.out")) as out:
                why = out.read().replace("\n", " / ")
            # Orca runs once per user: one the user is listening to is not
            # replaced for a test.
            if "Another screen reader process is already running" in why:
                say("missing: an Orca of its own (another one runs for this user)")
            else:
                say("failed: Orca ended with %d: %s" % (orca.returncode, why))
    finally:
        if orca and orca.poll() is None:
            orca.terminate()
            try:
                orca.wait(10)
            except subprocess.TimeoutExpired:
                orca.kill()
        stop_daemon(pid_file)
        if os.environ.get("TERRALUME_KEEP_TRANSCRIPT"):
            shutil.copy(transcript, os.environ["TERRALUME_KEEP_TRANSCRIPT"])
        shutil.rmtree(work, ignore_errors=True)


def stop_daemon(pid_file):
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
        os.kill(pid, signal.SIGTERM)
    except (OSError, ValueError):
        pass


def follow(transcript, orca):
    """Passes on each utterance until stdin ends (True) or Orca does."""
    while not os.path.exists(transcript):
        if orca.poll() is not None:
            return False
        select.select([], [], [], 0.05)
    ready = False
    pending = b""
    utterance = None
    with open(transcript, "rb") as log:
        while True:
            chunk = log.read()
            if chunk:
                pending += chunk
                *lines, pending = pending.split(b"\n")
                for line in lines:
                    text = line.decode("utf-8", "replace")
                    if not ready and "ORCA: Starting ATSPI registry." in text:
                        ready = True
                        say("ready")
                    # An utterance of several lines (a page read whole)
                    # goes on until its closing quote.
                    if utterance is None and "SPEECH OUTPUT: '" in text:
                        utterance = text
                    elif utterance is not None:
                        utterance += " " + text
                    if utterance is not None:
                        spoken = SPOKEN.search(utterance)
                        if spoken:
                            say("heard: " + spoken.group(1))
                            utterance = None
                continue
            if orca.poll() is not None:
                return False
            readable, _, _ = select.select([sys.stdin], [], [], 0.05)
            if readable and not sys.stdin.buffer.read1(4096):
                return True


if __name__ == "__main__":
    main()
