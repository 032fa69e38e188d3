# Sourced by the build scripts: options every configuration shares.
#   kv_launcher   the compiler launcher options (ccache when it is installed)

kv_launcher=()
if command -v ccache >/dev/null 2>&1; then
  # Paths below the checkout's parent are hashed relative to it, and the build
  # folder is left out of the hash, so checkouts side by side share one cache
  # (their debug information may then name the other checkout's files).
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  kv_launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
