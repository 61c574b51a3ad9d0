#!/usr/bin/env bash
# Installs the dependencies, builds the project and shows the console
# patcher's usage. The standalone patch demonstration follows once the run
# drivers are in.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/build.sh
build/app/cli/korvel-patcher-cli -h
