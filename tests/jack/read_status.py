#!/usr/bin/python3
"""Prints the status line of the running Quillet as a screen reader reads it, through the
desktop's accessibility service (AT-SPI). Needs python3-pyatspi, and Quillet started with
accessibility on (a desktop with assistive technologies enabled, or
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1)."""

import sys

import pyatspi


def find(accessible, role):
    """Every descendant of `accessible` with the given role, depth first."""
    for i in range(accessible.childCount):
        child = accessible.getChildAtIndex(i)
        if child is None:
            continue
        if child.getRole() == role:
            yield child
        yield from find(child, role)


def main():
    for app in pyatspi.Registry.getDesktop(0):
        if app is None or app.name != "quillet":
            continue
        for window in app:
            # The main window is the one with the instrument list.
            if window is None or not any(find(window, pyatspi.ROLE_COMBO_BOX)):
                continue
            for label in find(window, pyatspi.ROLE_LABEL):
                print(label.name)
            return 0
    print("Quillet is not running, or its accessibility is off", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
