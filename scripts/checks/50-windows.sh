#!/usr/bin/env bash
# The Windows DLLs, cross-compiled, inspected, and tested under Wine
# (scripts/windows.sh installs the packages it needs).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/windows.sh
