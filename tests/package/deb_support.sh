# Shared by the Debian package tests; sourced after tests/script_support.sh.
#
#   require_windows_stubs DIR   exit 77 (skipped) unless DIR holds both Windows stubs
#   build_deb BUILD_DIR OUT     $deb: the .deb that cpack makes from BUILD_DIR into OUT
#
# The build names no maintainer by itself; the tests pack with this one.
test_maintainer="sfxkit packaging test <packaging-test@example.org>"

require_windows_stubs() {
  local stub
  for stub in sfx_stub.exe sfx_stub_admin.exe; do
    if [[ ! -f $1/$stub ]]; then
      echo "SKIPPED: no $1/$stub; build the windows preset first (scripts/test does)"
      exit 77
    fi
  done
}

build_deb() {
  (cd "$1" && cpack -G DEB -B "$2" -D CPACK_DEBIAN_PACKAGE_MAINTAINER="$test_maintainer") \
    >"$2.log" 2>&1 || {
    cat "$2.log"
    echo "FAILED: cpack"
    exit 1
  }
  deb=$(find "$2" -maxdepth 1 -name 'sfxkit_*_amd64.deb' | head -n 1)
  [[ -n $deb ]] || { echo "FAILED: no sfxkit_<version>_amd64.deb in $(ls "$2")"; exit 1; }
}
