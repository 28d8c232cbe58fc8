#!/usr/bin/env bash
# SPDX-License-Identifier: Zlib
# A package signed with Authenticode after it was built still runs: the signature goes at the end
# of the file, after the trailer, where the stub never reads. The test makes a throwaway
# certificate, signs a package with osslsigncode, verifies the signature and runs the signed
# package under Wine. The generator's --info tells the signature after the trailer; packing a stub
# that is signed itself draws a warning, since the archive breaks that signature.
#
#   signed_package_test.sh STUB_EXE GENERATOR_EXE PAYLOAD_TOOL_EXE
#
# Exit status: 0 passed, 1 failed, 77 skipped (osslsigncode or openssl missing).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../script_support.sh"
expect_arguments "$#" 3 "STUB_EXE GENERATOR_EXE PAYLOAD_TOOL_EXE"
require_tools osslsigncode:osslsigncode openssl:openssl
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine_run="$repo/scripts/wine-run"
make_scratch sfx_signed
work=$scratch

cd "$work"
mkdir payload
cp "$3" payload/tool.exe
"$wine_run" "$2" --stub "$1" --dir payload --command 'tool.exe --exit-status 6 %argv%' \
  -o pkg.exe >gen.log 2>&1 || { cat gen.log; echo "FAILED: the generator"; exit 1; }
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=sfxkit test signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout key.pem -out cert.pem >openssl.log 2>&1 ||
  { cat openssl.log; echo "FAILED: openssl"; exit 1; }
osslsigncode sign -certs cert.pem -key key.pem -n "sfxkit test package" -in pkg.exe \
  -out signed.exe >sign.log 2>&1 || { cat sign.log; echo "FAILED: osslsigncode sign"; exit 1; }
osslsigncode verify -CAfile cert.pem -in signed.exe >verify.log 2>&1 ||
  fail "the signature does not verify: $(cat verify.log)"
cmp -s pkg.exe signed.exe && fail "signing changed nothing"
status=0
"$wine_run" signed.exe --sfx-no-pause >run.log 2>&1 </dev/null || status=$?
((status == 6)) || fail "the signed package ended with $status, not 6: $(cat run.log)"
"$wine_run" "$2" --info pkg.exe >info.log 2>&1 || fail "--info of the unsigned package: $(cat info.log)"
grep -q '^signature:' info.log && fail "an unsigned package said to be signed: $(cat info.log)"
"$wine_run" "$2" --info signed.exe >info.log 2>&1 || fail "--info of the signed package: $(cat info.log)"
grep -Eq '^signature: +Authenticode, [0-9]+ bytes after the trailer' info.log ||
  fail "--info does not tell the signature: $(cat info.log)"
"$wine_run" "$2" --info --json signed.exe >info.json 2>&1 || fail "--info --json: $(cat info.json)"
grep -q '"after_trailer": true' info.json || fail "--info --json does not tell the signature: $(cat info.json)"

osslsigncode sign -certs cert.pem -key key.pem -n "sfxkit test stub" -in "$1" \
  -out signed_stub.exe >sign.log 2>&1 || { cat sign.log; echo "FAILED: signing the stub"; exit 1; }
"$wine_run" "$2" --stub signed_stub.exe --dir payload --command 'tool.exe' -o from_signed.exe \
  </dev/null >gen.log 2>&1 || fail "a signed stub was refused: $(cat gen.log)"
grep -q "warning: the stub signed_stub.exe is signed" gen.log ||
  fail "no warning for a signed stub: $(cat gen.log)"
"$wine_run" "$2" --info from_signed.exe >info.log 2>&1 || fail "--info: $(cat info.log)"
grep -q '^signature: .* within the stub: packed after signing, no longer valid' info.log ||
  fail "--info does not tell the stub's broken signature: $(cat info.log)"
finish
