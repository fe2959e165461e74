#!/usr/bin/env bash
# The library's dynamic symbol table holds the C exports and nothing else.
set -euo pipefail
library="$1"
defined=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
unexpected=$(echo "$defined" | grep -Ev '^(SIM_|SYSINFO_|ConduitTemperatureManager_)' || true)
if [ -n "$unexpected" ]; then
  echo "unexpected exports:"; echo "$unexpected"; exit 1
fi
for name in SIM_Initialize SIM_Shutdown SIM_HandleMessage SIM_BeginSave SIM_EndSave; do
  echo "$defined" | grep -qx "$name" || { echo "missing export $name"; exit 1; }
done
echo "$(echo "$defined" | wc -l) exports, all C names"
