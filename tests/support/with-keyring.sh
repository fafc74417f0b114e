#!/bin/sh
# Runs a command with a headless, unlocked Secret Service (gnome-keyring) on the current session
# bus, its keyrings in a temporary home. Use under dbus-run-session. The login keyring is created
# with a throwaway password: an empty one leaves it uncreated.
set -eu
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/run" XDG_CONFIG_HOME="$home/config"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
printf 'test' | gnome-keyring-daemon --login >/dev/null
gnome-keyring-daemon --start --components=secrets >/dev/null
export DRAVELIN_TEST_SECRET_SERVICE=1
"$@"
