#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Reads and drives the running panel through AT-SPI, as a screen reader
# does, and through the X keyboard (xdotool), as a person without a mouse
# does. Starts the accessibility bus inside this (private) D-Bus session and
# the panel, prints one JSON object a line for every accessible of the panel
# (role, name, description, actions, text, whether it is showing, its
# extents), then runs the steps given on the command line in order and
# prints what each found:
#   press:NAME      triggers the press action (or the first action) of NAME
#   action:NAME:ACT triggers the action ACT of NAME
#   focus:NAME      gives NAME the keyboard focus
#   key:KEYS        xdotool key KEYS (e.g. Tab, Return, ctrl+q)
#   keydown:KEY / keyup:KEY   holds and lets go of KEY
#   sleep:MS        waits
#   activate        gives the panel's window the X keyboard focus
#   tabround:N      presses Tab N times, printing the focused control and
#                   whether it lies inside the window each time
#   events:TEXT     waits (up to 10 s) until a text change inserting TEXT,
#                   or one of a control whose description holds TEXT, has
#                   been announced, then prints every text and name change
#                   announced so far
# Usage: atspi_probe.py PANEL DEVICE STEP...   (DISPLAY set to an X server)
import json
import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

panel_binary, device, *steps = sys.argv[1:]
bus = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
environment = dict(os.environ, QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   QT_QPA_PLATFORM="xcb")
time.sleep(0.5)

announced = []
focus = []  # every accessible that took the focus, in order


def on_event(event):
    if event.type.startswith("object:state-changed:focused"):
        if event.detail1 == 1:
            focus.append(event.source)
        return
    try:
        source = event.source
        announced.append({"event": event.type, "name": source.name, "role": source.getRoleName(),
                          "description": source.description,
                          "data": event.any_data if isinstance(event.any_data, str) else ""})
    except Exception:  # an accessible gone while its event was queued
        pass


# Registered before the panel starts, so that it knows someone listens.
pyatspi.Registry.registerEventListener(on_event, "object:text-changed:insert",
                                       "object:property-change:accessible-name",
                                       "object:state-changed:focused")
context = GLib.MainContext.default()


def pump(seconds, until=lambda: False):
    deadline = time.time() + seconds
    while time.time() < deadline and not until():
        while context.pending():
            context.iteration(False)
        time.sleep(0.02)


panel = subprocess.Popen([panel_binary, "--com1", device], env=environment, stderr=subprocess.DEVNULL)


def text_of(node):
    try:
        text = node.queryText()
        return text.getText(0, text.characterCount)
    except NotImplementedError:
        return None


def extents_of(node):
    try:
        box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return [box.x, box.y, box.width, box.height]
    except NotImplementedError:
        return None


def nodes(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from nodes(child)


def find(name):
    for node in nodes(application):
        if node.name == name:
            return node
    raise SystemExit(json.dumps({"error": "no control named " + name}))


def window():
    return application.getChildAtIndex(0)


try:
    application = None
    deadline = time.time() + 20
    while application is None and time.time() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            child = desktop.getChildAtIndex(i)
            if child is not None and child.name == "QV550 Control":
                application = child
        pump(0.2)
    if application is None:
        print(json.dumps({"error": "the panel never appeared on the accessibility bus as QV550 Control"}))
        sys.exit(1)
    pump(1.0)

    for node in nodes(application):
        try:
            action = node.queryAction()
            actions = [action.getName(i) for i in range(action.nActions)]
        except NotImplementedError:
            actions = []
        parent = node.parent
        print(json.dumps({"role": node.getRoleName(), "name": node.name, "description": node.description,
                          "actions": actions, "text": text_of(node),
                          "showing": node.getState().contains(pyatspi.STATE_SHOWING),
                          "parent": parent.getRoleName() if parent is not None else ""}), flush=True)

    for step in steps:
        kind, _, argument = step.partition(":")
        if kind in ("press", "action"):
            name, _, wanted = argument.partition(":")
            node = find(name)
            action = node.queryAction()
            names = [action.getName(i) for i in range(action.nActions)]
            action.doAction(names.index(wanted or "Press") if (wanted or "Press") in names else 0)
            pump(0.3)
        elif kind == "focus":
            find(argument).queryComponent().grabFocus()
            pump(0.3)
        elif kind in ("key", "keydown", "keyup"):
            subprocess.run(["xdotool", kind, argument], check=True)
            pump(0.2)
        elif kind == "sleep":
            pump(int(argument) / 1000.0)
        elif kind == "activate":
            subprocess.run(["xdotool", "search", "--sync", "--name", "QV550  CONTROL", "windowfocus", "--sync"],
                           check=True, stdout=subprocess.DEVNULL)
            pump(0.5)
        elif kind == "tabround":
            for _ in range(int(argument)):
                seen = len(focus)
                subprocess.run(["xdotool", "key", "Tab"], check=True)
                pump(3, lambda: len(focus) > seen)
                if len(focus) == seen:
                    print(json.dumps({"tab": None}), flush=True)
                    continue
                node = focus[-1]
                inner = extents_of(node)
                outer = extents_of(window())
                inside = (inner is not None and outer is not None and inner[0] >= outer[0]
                          and inner[1] >= outer[1] and inner[0] + inner[2] <= outer[0] + outer[2]
                          and inner[1] + inner[3] <= outer[1] + outer[3])
                print(json.dumps({"tab": node.name, "role": node.getRoleName(), "inside": inside,
                                  "extents": inner, "window": outer}), flush=True)
        elif kind == "events":
            pump(10, lambda: any(e["event"].startswith("object:text-changed:insert")
                                 and (argument in e["data"] or argument in e["description"])
                                 for e in announced))
            for event in announced:
                print(json.dumps(event), flush=True)
        print(json.dumps({"done": step}), flush=True)
finally:
    panel.terminate()
    panel.wait(5)
    bus.terminate()
