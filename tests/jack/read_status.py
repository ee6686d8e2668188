#!/usr/bin/python3
# Prints the status line of the running Quillet as a screen reader reads it, through the
# accessibility bus (AT-SPI). Quillet must run with its accessibility on: on a desktop with
# assistive technologies enabled, or with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1.
import sys

import pyatspi


def find(accessible, role):
    """Every descendant of `accessible` with the given role, depth first."""
    for child in accessible:
        if child is not None:
            if child.getRole() == role:
                yield child
            yield from find(child, role)


if __name__ == "__main__":
    for app in pyatspi.Registry.getDesktop(0):
        # The main window is the one with the instrument list.
        for window in app if app is not None and app.name == "quillet" else []:
            if window is not None and any(find(window, pyatspi.ROLE_COMBO_BOX)):
                sys.stdout.write("\n".join(label.name for label in find(window, pyatspi.ROLE_LABEL)))
                sys.exit(0)
    sys.exit("Quillet is not running, or its accessibility is off")
