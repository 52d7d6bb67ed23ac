#!/usr/bin/python3
"""Stand-ins for the desktop's notification server and file manager, for window tests run on
a session bus of their own (dbus-run-session). Every call they receive is written as one JSON
line to a log; then the command after "--" runs with NORVIK_DESKTOP_LOG naming that log, and
its exit status becomes this script's.

The notification server offers actions. A control object lets a test click the first action
of the last notification that had some, and take the file manager off the bus to see what
happens without one."""
import json
import os
import subprocess
import sys
import tempfile
import threading

from gi.repository import Gio, GLib

NOTIFICATIONS = "org.freedesktop.Notifications"
FILE_MANAGER = "org.freedesktop.FileManager1"
CONTROL = "org.norvik.TestDesktop"

INTERFACES = """<node>
<interface name="org.freedesktop.Notifications">
  <method name="GetCapabilities"><arg type="as" direction="out"/></method>
  <method name="Notify">
    <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
    <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
    <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
    <arg type="u" direction="out"/>
  </method>
  <method name="CloseNotification"><arg type="u" direction="in"/></method>
  <method name="GetServerInformation">
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
  </method>
  <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
  <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
</interface>
<interface name="org.freedesktop.FileManager1">
  <method name="ShowItems"><arg type="as" direction="in"/><arg type="s" direction="in"/></method>
  <method name="ShowFolders"><arg type="as" direction="in"/><arg type="s" direction="in"/></method>
</interface>
<interface name="org.norvik.TestDesktop">
  <method name="ReleaseFileManager"/>
  <method name="ClickLastAction"/>
</interface>
</node>"""


def main():
    args = sys.argv[1:]
    if "--" in args:
        args = args[args.index("--") + 1:]
    if not args:
        sys.exit("usage: desktop_stubs.py -- COMMAND...")
    log_fd, log_path = tempfile.mkstemp(prefix="norvik-desktop-", suffix=".log")
    os.close(log_fd)
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    node = Gio.DBusNodeInfo.new_for_xml(INTERFACES)
    next_id = [0]
    last_action = [None]
    lock = threading.Lock()

    def record(method, values):
        with lock, open(log_path, "a", encoding="utf-8") as log:
            log.write(json.dumps({"method": method, "args": values}, default=str) + "\n")

    def on_call(connection, sender, path, interface, method, params, invocation):
        values = params.unpack()
        record(method, list(values))
        if method == "GetCapabilities":
            invocation.return_value(GLib.Variant("(as)", (["actions", "body"],)))
        elif method == "GetServerInformation":
            invocation.return_value(GLib.Variant("(ssss)", ("stand-in", "norvik", "1", "1.2")))
        elif method == "Notify":
            next_id[0] += 1
            actions = values[5]
            if actions:
                last_action[0] = (next_id[0], actions[0])
            invocation.return_value(GLib.Variant("(u)", (next_id[0],)))
        elif method == "ClickLastAction" and last_action[0]:
            bus.emit_signal(None, "/org/freedesktop/Notifications", NOTIFICATIONS,
                            "ActionInvoked", GLib.Variant("(us)", last_action[0]))
            invocation.return_value(None)
        elif method == "ReleaseFileManager":
            release(FILE_MANAGER)
            invocation.return_value(None)
        else:
            invocation.return_value(None)

    def own(name, path, interface):
        bus.register_object(path, node.lookup_interface(interface), on_call, None, None)
        bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                      "RequestName", GLib.Variant("(su)", (name, 4)), None,
                      Gio.DBusCallFlags.NONE, -1, None)

    def release(name):
        bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                      "ReleaseName", GLib.Variant("(s)", (name,)), None,
                      Gio.DBusCallFlags.NONE, -1, None)

    own(NOTIFICATIONS, "/org/freedesktop/Notifications", NOTIFICATIONS)
    own(FILE_MANAGER, "/org/freedesktop/FileManager1", FILE_MANAGER)
    own(CONTROL, "/org/norvik/TestDesktop", CONTROL)

    loop = GLib.MainLoop()
    status = [1]

    def run_child():
        env = dict(os.environ, NORVIK_DESKTOP_LOG=log_path)
        status[0] = subprocess.call(args, env=env)
        GLib.idle_add(loop.quit)

    threading.Thread(target=run_child, daemon=True).start()
    loop.run()
    os.remove(log_path)
    sys.exit(status[0])


if __name__ == "__main__":
    main()
