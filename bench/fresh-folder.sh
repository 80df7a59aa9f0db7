#!/usr/bin/env bash
# Gives a run an empty folder without deleting the last run's files: the
# file system slows down making files just after deleting many (it avoids
# reusing their inodes for a while), which would be measured instead of the
# export. The old folder is moved aside; run.sh removes everything at its end.
set -euo pipefail
dir=$1
if [ -d "$dir" ]; then mv "$dir" "$(mktemp -d "$dir.old.XXXXXX")/"; fi
mkdir -p "$dir"
