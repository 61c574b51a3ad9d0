# Sourced by the demo and the benchmarks: `find_tool BUILD_DIR NAME [SKIP_DIR]`
# prints the path of the executable NAME built under BUILD_DIR (outside
# SKIP_DIR, where scripts keep copies), or fails with a message.
find_tool() {
  local found
  found=$(find "$1" -name "$2" -type f -perm -u+x -not -path "${3:-/nonexistent}/*" | head -n 1)
  [ -n "$found" ] || { echo "$2 was not built in $1" >&2; return 1; }
  echo "$found"
}
