# Shared helpers of the scripts: the project root, package installation, and
# the JDK and JUnit locations. Source it; it defines functions only.

HALVIX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
HALVIX_JUNIT_JAR="/usr/share/java/junit-platform-console-standalone.jar"

# Installs the Debian packages that are missing (as root, with apt-get).
# `require_packages foo bar:i386` returns non-zero if any stays missing.
require_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    return 1
  fi
  echo "installing: ${missing[*]}"
  if [ -z "${HALVIX_APT_UPDATED:-}" ]; then
    apt-get -o DPkg::Lock::Timeout=600 update -qq >/dev/null || return 1
    export HALVIX_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || return 1
}

# The packages every build needs.
require_build_packages() {
  require_packages cmake ninja-build g++ python3 googletest openjdk-17-jdk-headless junit5 \
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
}

# JAVA_HOME from the javac on the path.
java_home() {
  dirname "$(dirname "$(readlink -f "$(command -v javac)")")"
}

# The release number, from the project() line of CMakeLists.txt (1.6.0.0 -> 1.6.0).
halvix_version() {
  sed -n 's/^project(Halvix VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' "$HALVIX_ROOT/CMakeLists.txt"
}

# The natives the jar carries, one "resource-in-jar file-in-dist" pair a line.
halvix_jar_natives() {
  local virtual=dist/linux-x64-virtual/libHalvix.so
  # FALLBACK until dist/ holds the Linux library split in two (real pads in
  # linux-x64, virtual pads in linux-x64-virtual): today's linux-x64 library
  # serves the virtual pads, so it fills both folders. Drop this line then.
  [ -f "$HALVIX_ROOT/$virtual" ] || virtual=dist/linux-x64/libHalvix.so
  echo "natives/windows-x86/Halvix.dll dist/windows-x86/Halvix.dll"
  echo "natives/windows-x86-64/Halvix.dll dist/windows-x64/Halvix.dll"
  echo "natives/linux-x86-64/libHalvix.so dist/linux-x64/libHalvix.so"
  echo "natives/linux-x86-64-virtual/libHalvix.so $virtual"
}
