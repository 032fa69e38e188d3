# Sourced by the build scripts: options every configuration shares.
#   kv_launcher   the compiler launcher options (ccache when it is installed)

kv_launcher=()
if command -v ccache >/dev/null 2>&1; then
  # Paths below the checkout's parent are hashed relative to it, so checkouts
  # side by side share one cache.
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
  kv_launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
