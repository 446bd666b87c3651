#!/usr/bin/python3
# Reads a program's accessible tree as a screen reader does, through AT-SPI
# (pyatspi), and prints it one object a line, depth first from the
# application: depth, role, name, states and actions, separated by tabs. With
# "--do ACTION NAME" it runs the action (e.g. "Toggle") of the first object
# called NAME that offers it, and prints nothing. Exits 2 when the desktop has no application of the
# name asked for (not registered yet), 3 when the action's object is missing.
import sys

import pyatspi

MAX_DEPTH = 40


def find_application(name):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        application = desktop.getChildAtIndex(index)
        if application is not None and application.name == name:
            return application
    return None


def action_names(node):
    try:
        actions = node.queryAction()
    except NotImplementedError:
        return []
    return [actions.getName(index) for index in range(actions.nActions)]


def walk(node, depth, lines, visit):
    states = sorted(pyatspi.stateToString(s) for s in node.getState().getStates())
    lines.append("%d\t%s\t%s\t%s\t%s" % (depth, node.getRoleName(), node.name.replace("\t", " "), ",".join(states),
                                          ",".join(action_names(node))))
    visit(node)
    if depth >= MAX_DEPTH:
        return
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is not None:
            walk(child, depth + 1, lines, visit)


def main():
    arguments = sys.argv[1:]
    name = arguments.pop(0)
    action = None
    if arguments[:1] == ["--do"]:
        action = (arguments[1], arguments[2])
    application = find_application(name)
    if application is None:
        return 2
    if action:
        found = []
        walk(application, 0, [], lambda node: found.append(node) if node.name == action[1] else None)
        offered = []
        for node in found:
            try:
                actions = node.queryAction()
            except NotImplementedError:
                continue
            for index in range(actions.nActions):
                offered.append(actions.getName(index))
                if actions.getName(index) == action[0]:
                    actions.doAction(index)
                    return 0
        print("no %s action on %s; offered: %s" % (action[0], action[1], ", ".join(offered)))
        return 3
    lines = []
    walk(application, 0, lines, lambda node: None)
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
