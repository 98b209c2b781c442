#!/usr/bin/python3
"""Reads a program's combo boxes as an assistive technology does, over the
accessibility bus: prints "<combo box>\t<item>" for every item, the combo boxes
numbered in the window's tab order.

    device_lists.py ACCESSIBILITY_BUS_ADDRESS APPLICATION_NAME
"""
import sys
import time

import dbus

ACCESSIBLE = "org.a11y.atspi.Accessible"
REGISTRY_ROOT = ("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")
APPEARANCE_TIMEOUT_SECONDS = 20


class Tree:
    def __init__(self, address):
        self.bus = dbus.bus.BusConnection(address)

    def _object(self, node):
        return self.bus.get_object(node[0], node[1], introspect=False)

    def children(self, node):
        return [tuple(child) for child in self._object(node).GetChildren(dbus_interface=ACCESSIBLE)]

    def role(self, node):
        return str(self._object(node).GetRoleName(dbus_interface=ACCESSIBLE))

    def name(self, node):
        return str(self._object(node).Get(ACCESSIBLE, "Name", dbus_interface=dbus.PROPERTIES_IFACE))

    def descendants(self, node, role):
        for child in self.children(node):
            if self.role(child) == role:
                yield child
            yield from self.descendants(child, role)


def find_application(tree, name):
    deadline = time.monotonic() + APPEARANCE_TIMEOUT_SECONDS
    while time.monotonic() < deadline:
        for application in tree.children(REGISTRY_ROOT):
            if tree.name(application) == name:
                return application
        time.sleep(0.2)
    sys.exit(f"no application named {name} on the accessibility bus")


def main():
    address, name = sys.argv[1:3]
    tree = Tree(address)
    application = find_application(tree, name)
    for index, combo in enumerate(tree.descendants(application, "combo box")):
        for item in tree.descendants(combo, "list item"):
            print(f"{index}\t{tree.name(item)}")


if __name__ == "__main__":
    main()
