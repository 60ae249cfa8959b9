#!/usr/bin/env bash
# Runs a Windows executable under the project's Wine prefix of the given
# architecture, through that prefix's own loader:
#   wine-run.sh win32|win64 program.exe [arguments...]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
arch=$1; shift
wine_env "$arch"
wine "$@"
