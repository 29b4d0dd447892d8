#!/usr/bin/env bash
# Signs a release with a throwaway CA's code-signing certificate, made here and thrown away
# after, and checks the signed programs: both verify, a flipped byte fails verification, taking
# the signature off gives the built program back, the file checks still pass and the signed
# 64-bit program still supervises its child under Wine. Bad certificates and arguments leave
# no bundle behind, not even one from an earlier run.
# Usage: signed_release.sh SOURCE_DIR STANDIN REGSET WINE_PREFIX VERSION
set -euo pipefail
source_dir=$1 standin=$2 regset=$3 prefix=$4 version=$5
work=$(mktemp -d /tmp/quorvel-signed.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

# name, extended key usage
certificate() {
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=Quorvel test $1" \
    2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' \
    "$2" >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  openssl pkcs12 -export -inkey "$1.key" -in "$1.pem" -certfile ca.pem -passout file:password \
    -out "$1.pfx"
}
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 1 \
  -subj "/CN=Quorvel test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign" 2>/dev/null
printf 'correct horse\n' >password
printf 'wrong\n' >wrong-password
certificate signer codeSigning
certificate server serverAuth

release() { "$source_dir/scripts/release" --out "$work/out" "$@"; }
failures=0
# description, shell condition; what the condition printed is shown when it fails
check() {
  if eval "$2" >log 2>&1; then
    echo "ok: $1"
  else
    cat log
    echo "FAILED: $1"
    failures=$((failures + 1))
  fi
}

# name, arguments, what the message must say
bad_cases=(
  "no such PFX|--sign missing.pfx --password-file password|no certificate file to read"
  "no such password file|--sign signer.pfx --password-file missing|no password file to read"
  "wrong password|--sign signer.pfx --password-file wrong-password|wrong password"
  "not a code-signing certificate|--sign server.pfx --password-file password|not for code signing"
  "time stamp not a URL|--sign signer.pfx --password-file password --timestamp tsa.example|URL"
)
# Each refusal meets a bundle of the same version from an earlier run, which must not survive it.
for row in "${bad_cases[@]}"; do
  IFS='|' read -r name args message <<<"$row"
  mkdir -p out
  echo "an earlier run's bundle" >"out/quorvel-launcher-$version.zip"
  # shellcheck disable=SC2086
  check "$name: refused with its message, no bundle" \
    'release $args 2>err; status=$?; cat err; [ "$status" -eq 1 ] && grep -q "$message" err &&
     [ -z "$(ls out)" ]'
done

check "signed release" 'release --sign signer.pfx --password-file password'
bundle=out/quorvel-launcher-$version
[ ! -f "$bundle.zip" ] || python3 -m zipfile -e "$bundle.zip" .
check "SHA256SUMS match" '(cd "$(basename "$bundle")" && sha256sum --quiet -c SHA256SUMS)'
for program in launcher64.exe launcher32.exe; do
  signed=$(basename "$bundle")/$program
  bits=${program//[^0-9]/}
  check "$program verifies" 'osslsigncode verify -CAfile ca.pem -in "$signed" >/dev/null'
  python3 - "$signed" flipped.exe <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[len(data) // 3] ^= 0x01
open(sys.argv[2], "wb").write(data)
PY
  check "$program with a flipped byte does not verify" \
    '! osslsigncode verify -CAfile ca.pem -in flipped.exe >/dev/null 2>&1'
  check "$program without its signature is the built program" \
    'osslsigncode remove-signature -in "$signed" -out "unsigned-$program" >/dev/null &&
     cmp "unsigned-$program" "$source_dir/dist/$program"'
  check "$program passes the file checks" \
    'python3 "$source_dir/tests/whole/test_files.py" "$signed" "$bits" "$version"'
done
check "signed launcher64.exe starts, restarts and ends under Wine" \
  'python3 "$source_dir/tests/whole/test_whole.py" "$work/$(basename "$bundle")/launcher64.exe" \
     "$standin" "$regset" "$prefix" Lifecycle.test_status_protocol'
echo "$failures check(s) failed"
[ "$failures" -eq 0 ]
