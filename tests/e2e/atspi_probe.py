#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Reads the running panel through AT-SPI, as a screen reader does: starts the
# accessibility bus inside this (private) D-Bus session, starts the panel,
# prints one JSON object a line for every control an assistive tool can act
# on (role, name, description, actions), then triggers the press action of
# the controls named on the command line, in order.
# Usage: atspi_probe.py PANEL DEVICE NAME...   (DISPLAY set to an X server)
import json
import os
import subprocess
import sys
import time

import pyatspi

panel_binary, device, *to_press = sys.argv[1:]
bus = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
environment = dict(os.environ, QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   QT_QPA_PLATFORM="xcb")
time.sleep(0.5)
panel = subprocess.Popen([panel_binary, "--com1", device], env=environment, stderr=subprocess.DEVNULL)
try:
    application = None
    deadline = time.time() + 20
    while application is None and time.time() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            child = desktop.getChildAtIndex(i)
            if child is not None and child.name == "qv550-control":
                application = child
        time.sleep(0.2)
    if application is None:
        print(json.dumps({"error": "the panel never appeared on the accessibility bus"}))
        sys.exit(1)

    found = {}
    def walk(node):
        try:
            action = node.queryAction()
            actions = [action.getName(i) for i in range(action.nActions)]
        except NotImplementedError:
            actions = []
        role = node.getRoleName()
        if role in ("push button", "radio button") or "Press" in actions:
            print(json.dumps({"role": role, "name": node.name, "description": node.description,
                              "actions": actions}), flush=True)
            found.setdefault(node.name, (node, actions))
        for i in range(node.childCount):
            walk(node.getChildAtIndex(i))
    walk(application)

    for name in to_press:
        node, actions = found[name]
        node.queryAction().doAction(actions.index("Press"))
        time.sleep(0.3)
    print(json.dumps({"pressed": to_press}), flush=True)
finally:
    panel.terminate()
    panel.wait(5)
    bus.terminate()
