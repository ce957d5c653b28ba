#!/usr/bin/env bash
# Runs api_test.exe of the 64-bit build under Wine, with SCANDRV.DLL and
# the virtual scanner's BUSLNK32.DLL beside it in a directory of its own.
# Usage: run_api_test.sh STATE WIN64_BUILD_DIR WORK_DIR
set -u
source "$(dirname "$0")/wine_env.sh"
state=$1 build=$2 work=$3
wine_use "$state"
wine_stage "$work" "$build/SCANDRV.DLL" "$build/BUSLNK32.DLL" "$build/api_test.exe" || exit 1
wine_run "$work" api_test.exe
