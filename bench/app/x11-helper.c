/* The two things a desktop does for the footprint run under a bare X server:
 *   x11-helper tray           owns the system-tray selection until killed, so the program finds a
 *                             tray and hides its window there instead of quitting;
 *   x11-helper close <window> asks a window to close, as a window manager's close button does. */
#include <X11/Xlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv)
{
    Display* dpy = XOpenDisplay(NULL);
    if (!dpy || argc < 2)
        return 2;
    Window root = DefaultRootWindow(dpy);
    if (strcmp(argv[1], "tray") == 0) {
        Atom selection = XInternAtom(dpy, "_NET_SYSTEM_TRAY_S0", False);
        Window owner = XCreateSimpleWindow(dpy, root, 0, 0, 1, 1, 0, 0, 0);
        XSetSelectionOwner(dpy, selection, owner, CurrentTime);
        if (XGetSelectionOwner(dpy, selection) != owner)
            return 1;
        XClientMessageEvent manager = {0};
        manager.type = ClientMessage;
        manager.window = root;
        manager.message_type = XInternAtom(dpy, "MANAGER", False);
        manager.format = 32;
        manager.data.l[0] = CurrentTime;
        manager.data.l[1] = (long)selection;
        manager.data.l[2] = (long)owner;
        XSendEvent(dpy, root, False, StructureNotifyMask, (XEvent*)&manager);
        XFlush(dpy);
        for (;;) {
            XEvent event;
            XNextEvent(dpy, &event); /* dock requests are acknowledged by ignoring them */
        }
    }
    if (strcmp(argv[1], "close") == 0 && argc == 3) {
        XClientMessageEvent close = {0};
        close.type = ClientMessage;
        close.window = (Window)strtoul(argv[2], NULL, 0);
        close.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
        close.format = 32;
        close.data.l[0] = (long)XInternAtom(dpy, "WM_DELETE_WINDOW", False);
        close.data.l[1] = CurrentTime;
        XSendEvent(dpy, close.window, False, NoEventMask, (XEvent*)&close);
        XFlush(dpy);
        return 0;
    }
    return 2;
}
