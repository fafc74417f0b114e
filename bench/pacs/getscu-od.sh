#!/bin/sh
# getscu -od OUT ARGS... into an emptied OUT, so that every round writes the same files anew.
out=$1
shift
rm -rf "$out" && mkdir -p "$out" && exec getscu -od "$out" "$@"
