#!/usr/bin/env bash
# need.sh TOOL COMMAND...: runs the command, or reports the test as skipped (status 77, which
# CTest shows as "Not Run") when the tool it needs is missing: never a pass that checked nothing.
tool=$1
shift
if ! command -v "$tool" >/dev/null; then
  echo "SKIP: $tool is not installed"
  exit 77
fi
exec "$@"
