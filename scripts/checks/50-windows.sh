#!/usr/bin/env bash
# The Windows DLLs, cross-compiled, inspected, and tested under Wine.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps.sh scripts/packages-windows.txt
scripts/windows.sh
