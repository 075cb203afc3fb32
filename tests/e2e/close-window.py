#!/usr/bin/env python3
"""Asks OBS's main window to close the way a window manager would (WM_DELETE_WINDOW), so OBS runs its
normal exit path. OBS 29 closes its window from inside its SIGINT handler, which can deadlock when the
signal lands while the UI thread is inside Xlib; this avoids the signal. DISPLAY and XAUTHORITY come
from the environment. Exit status 0 when a window was asked, 1 when none was found."""
import ctypes
import ctypes.util
import sys

x = ctypes.CDLL(ctypes.util.find_library("X11"))
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                         ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)), ctypes.POINTER(ctypes.c_uint)]
x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
x.XFree.argtypes = [ctypes.c_void_p]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]


def windows(dpy, w):
    root, parent = ctypes.c_ulong(), ctypes.c_ulong()
    kids, n = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
    if not x.XQueryTree(dpy, w, ctypes.byref(root), ctypes.byref(parent), ctypes.byref(kids), ctypes.byref(n)):
        return
    found = [kids[i] for i in range(n.value)]
    if kids:
        x.XFree(kids)
    for k in found:
        yield k
        yield from windows(dpy, k)


def main():
    dpy = x.XOpenDisplay(None)
    if not dpy:
        return 1
    protocols = x.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
    delete = x.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
    asked = 0
    for w in windows(dpy, x.XDefaultRootWindow(dpy)):
        name = ctypes.c_char_p()
        if x.XFetchName(dpy, w, ctypes.byref(name)) and name.value:
            title = name.value.decode("utf-8", "replace")
            if title.startswith("OBS ") and " - Profile: " in title:
                ev = ClientMessage(type=33, send_event=1, window=w, message_type=protocols, format=32)
                ev.data[0] = delete
                ev.data[1] = 0  # CurrentTime
                x.XSendEvent(dpy, w, 0, 0, ctypes.byref(ev))
                asked += 1
    x.XFlush(dpy)
    x.XCloseDisplay(dpy)
    return 0 if asked else 1


sys.exit(main())
