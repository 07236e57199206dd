#!/usr/bin/env bash
# A shell test that always fails, run the way the shell tests are: scripts/test expects CTest to
# report it failed, and fails itself should it pass.
echo "the canary fails on purpose"
exit 1
