#!/usr/bin/env bash
# Runs one GUI test program on a private Xvfb display (never the person's own display).
set -u
unset WAYLAND_DISPLAY
export GDK_BACKEND=x11
export NO_AT_BRIDGE=1
exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset -nolisten tcp" "$@"
