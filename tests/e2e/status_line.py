#!/usr/bin/python3
"""Prints what a screen reader reads in the status line of the running
ornivex-config: the name of its notification while it shows, else nothing."""
import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def shown_notifications(node):
    if node is None:
        return
    if node.get_role() == Atspi.Role.NOTIFICATION and node.get_state_set().contains(Atspi.StateType.SHOWING):
        yield node.get_name()
    for index in range(node.get_child_count()):
        yield from shown_notifications(node.get_child_at_index(index))


desktop = Atspi.get_desktop(0)
for app_index in range(desktop.get_child_count()):
    app = desktop.get_child_at_index(app_index)
    if app is not None and app.get_name() == "ornivex-config":
        for name in shown_notifications(app):
            print(name)
