#!/usr/bin/env bash
# Runs one GUI test program on a private Xvfb display (never the person's own display), with no
# desktop services: GIO and the file chooser keep to plain local files, and no bus is started.
unset WAYLAND_DISPLAY
export GDK_BACKEND=x11 NO_AT_BRIDGE=1 GIO_USE_VFS=local GTK_USE_PORTAL=0 GSETTINGS_BACKEND=memory
export DBUS_SESSION_BUS_ADDRESS=disabled:
# PIXMOLE_XVFB_SCREEN: another screen size (a window scaled by 2 needs more room).
exec xvfb-run -a -s "-screen 0 ${PIXMOLE_XVFB_SCREEN:-1280x1024x24} -noreset -nolisten tcp" "$@"
