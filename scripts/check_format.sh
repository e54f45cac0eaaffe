#!/usr/bin/env bash
# Fails, naming the places, when a C++ source tracked by git differs from the
# style in .clang-format. Fix them with: clang-format -i <file>...
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cc' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "check_format.sh: all sources formatted"
