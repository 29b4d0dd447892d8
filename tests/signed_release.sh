#!/usr/bin/env bash
# Releases the tree as it stands, committed in a scratch clone, signed with throwaway keys made
# here and thrown away after: a PFX, and a key on a SoftHSM2 token time-stamped by a local RFC
# 3161 server. Checks the signed programs (both verify with their time stamps, a flipped byte
# fails, taking the signature off gives the built program back, the file checks pass, the
# signed 64-bit program supervises its child under Wine), what BUILDINFO says, and that
# verify-release passes the bundle and fails changed ones. Refusals leave no bundle behind, not
# even one from an earlier run.
# Usage: signed_release.sh SOURCE_DIR STANDIN REGSET WINE_PREFIX VERSION
set -euo pipefail
source_dir=$1 standin=$2 regset=$3 prefix=$4 version=$5
work=$(mktemp -d /tmp/quorvel-signed.XXXXXX)
server=
finish() {
  [ -z "$server" ] || kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT
cd "$work"

# The tree as it stands, committed in a clone of its own, so that the release has a commit.
mkdir src
(cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
  tar --null --files-from=- --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C src
git -C src init -q
git -C src add -A
git -C src -c user.name=test -c user.email=test@invalid commit -qm "release under test"
commit=$(git -C src rev-parse HEAD)

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
  cat "$1.pem" ca.pem >"$1-chain.pem"
}
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 1 \
  -subj "/CN=Quorvel test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign" 2>/dev/null
printf 'correct horse\n' >password
printf 'wrong\n' >wrong-password
certificate signer codeSigning
certificate other codeSigning
certificate server serverAuth
certificate tsa critical,timeStamping

# The token: the signer's key on a SoftHSM2 token of this test's own.
export SOFTHSM2_CONF=$work/softhsm2.conf
mkdir tokens
printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$work/tokens" >"$SOFTHSM2_CONF"
module=/usr/lib/softhsm/libsofthsm2.so
printf '2468\n' >pin
printf '1357\n' >wrong-pin
softhsm2-util --init-token --free --label quorvel --pin 2468 --so-pin 97531 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in signer.key -out signer.p8
softhsm2-util --import signer.p8 --token quorvel --label signer --id 01 --pin 2468 >/dev/null
token_key='pkcs11:token=quorvel;object=signer;type=private'

# Local time stamp servers: one that answers with time stamps, one that answers with something
# else; each writes its port into a file once it listens.
printf '%s\n' '[tsa]' 'default_tsa = tsa_config' '[tsa_config]' 'serial = tsa-serial' \
  'default_policy = 1.2.3.4.1' 'digests = sha256' 'signer_digest = sha256' \
  'accuracy = secs:1' 'ess_cert_id_chain = no' >tsa.cnf
echo 01 >tsa-serial
python3 - "$work" <<'PY' &
import http.server, os, subprocess, sys, threading
work = sys.argv[1]
class Reply(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        if self.server.good:
            body = subprocess.run(
                ["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", "/dev/stdin",
                 "-signer", "tsa.pem", "-inkey", "tsa.key", "-chain", "ca.pem"],
                input=query, capture_output=True, cwd=work, check=True).stdout
        else:
            body = b"no time stamp here"
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
for name, good in [("tsa-port", True), ("bad-tsa-port", False)]:
    httpd = http.server.HTTPServer(("127.0.0.1", 0), Reply)
    httpd.good = good
    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    open(os.path.join(work, name + ".tmp"), "w").write(str(httpd.server_port))
    os.rename(os.path.join(work, name + ".tmp"), os.path.join(work, name))
threading.Event().wait()
PY
server=$!
for _ in $(seq 50); do [ -f bad-tsa-port ] || sleep 0.1; done
tsa=http://127.0.0.1:$(cat tsa-port)/ bad_tsa=http://127.0.0.1:$(cat bad-tsa-port)/
down_tsa=http://127.0.0.1:$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')/

release() { src/scripts/release --out "$work/out" "$@"; }
verify() { src/scripts/verify-release "$@"; }
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

contact=security@quorvel.invalid
pkcs11="--contact $contact --sign $token_key --pkcs11-module $module --certs signer-chain.pem"
# name, arguments, status, what standard error must say. Each meets a bundle of the same version
# from an earlier run, which must not survive a refusal.
cases=(
  "no such PFX|--sign missing.pfx --password-file password|1|no certificate file to read"
  "no such password file|--sign signer.pfx --password-file missing|1|no password file to read"
  "wrong password|--sign signer.pfx --password-file wrong-password|1|wrong password"
  "not a code-signing certificate|--sign server.pfx --password-file password|1|not for code signing"
  "time stamp not a URL|--sign signer.pfx --password-file password --timestamp tsa.example|1|URL"
  "a chain with a PFX|--sign signer.pfx --certs ca.pem --password-file password|1|a PFX holds its own chain"
  "a token key without a chain|--sign $token_key --pkcs11-module $module --password-file pin|1|needs --certs"
  "wrong PIN|$pkcs11 --password-file wrong-pin|1|wrong PIN"
  "a module that does not load|--sign $token_key --pkcs11-module password --certs signer-chain.pem --password-file pin|1|does not load"
  "a key the token lacks|--sign pkcs11:token=quorvel;object=nobody --pkcs11-module $module --certs signer-chain.pem --password-file pin|1|has no private key"
  "a chain that is not the key's|--sign $token_key --pkcs11-module $module --certs other-chain.pem --password-file pin|1|is not the one of the key"
  "time stamp server down|$pkcs11 --password-file pin --timestamp $down_tsa|1|gave no time stamp"
  "time stamp server answering no time stamp|$pkcs11 --password-file pin --timestamp $bad_tsa|1|no time stamp"
  "no time stamp at all|--contact $contact --sign signer.pfx --password-file password|0|last only as long as the certificate"
  "a signed release without a contact|--sign signer.pfx --password-file password|1|a signed release needs --contact"
)
bundle=out/quorvel-launcher-$version
for row in "${cases[@]}"; do
  IFS='|' read -r name args status message <<<"$row"
  mkdir -p out
  echo "an earlier run's bundle" >"$bundle.zip"
  expect_bundle='[ -z "$(ls out)" ]'
  [ "$status" -ne 0 ] || expect_bundle='python3 -m zipfile -t "$bundle.zip"'
  # shellcheck disable=SC2086
  check "$name: status $status, says so" \
    'release $args 2>err; actual=$?; cat err; [ "$actual" -eq "$status" ] &&
     grep -q -- "$message" err && eval "$expect_bundle"'
done
echo "a tracked file changed" >>src/README.md
check "a tree that differs from its commit: refused, names the file" \
  '! release 2>err; cat err; grep -q "differ from commit ${commit:0:12} in: README.md" err'
git -C src checkout -q README.md

check "release signed on a token, time-stamped" \
  'release $pkcs11 --password-file pin --timestamp "$tsa"'
name=$(basename "$bundle")
rm -rf "$name"
[ ! -f "$bundle.zip" ] || python3 -m zipfile -e "$bundle.zip" .
check "SHA256SUMS match" '(cd "$name" && sha256sum --quiet -c SHA256SUMS)'
check "BUILDINFO names the commit, the root, its packages and the programs as built" \
  'grep -qx "Commit: $commit.\?" "$name/BUILDINFO" &&
   grep -q "^Build-Root: Debian $(cat /etc/quorvel-root) (" "$name/BUILDINFO" &&
   grep -q "^ wine32:i386 [0-9]" "$name/BUILDINFO" && ! grep -qi "$(hostname)" "$name/BUILDINFO"'
check "INSTALL.txt and NOTICES.txt have Windows line ends; NOTICES carry MinGW-w64's" \
  '[ "$(grep -c $'"'"'\r$'"'"' "$name/INSTALL.txt")" = "$(wc -l <"$name/INSTALL.txt")" ] &&
   grep -q "MinGW-w64" "$name/NOTICES.txt"'
for program in launcher64.exe launcher32.exe; do
  signed=$name/$program
  bits=${program//[^0-9]/}
  check "$program verifies, with its time stamp" \
    'osslsigncode verify -CAfile ca.pem -TSA-CAfile ca.pem -in "$signed" >out.txt; cat out.txt;
     grep -q "Timestamp Server Signature verification: ok" out.txt'
  python3 - "$signed" flipped.exe <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[len(data) // 3] ^= 0x01
open(sys.argv[2], "wb").write(data)
PY
  check "$program with a flipped byte does not verify" \
    '! osslsigncode verify -CAfile ca.pem -TSA-CAfile ca.pem -in flipped.exe >/dev/null 2>&1'
  check "$program without its signature is the program as built" \
    'osslsigncode remove-signature -in "$signed" -out "unsigned-$program" >/dev/null &&
     grep -q "^ $(sha256sum <"unsigned-$program" | cut -c1-64)  $program" "$name/BUILDINFO"'
  check "$program passes the file checks" \
    'python3 "$source_dir/tests/whole/test_files.py" "$signed" "$bits" "$version"'
done
check "signed launcher64.exe starts, restarts and ends under Wine" \
  'python3 "$source_dir/tests/whole/test_whole.py" "$work/$name/launcher64.exe" \
     "$standin" "$regset" "$prefix" Lifecycle.test_status_protocol'

fingerprint=$(openssl x509 -in signer.pem -noout -fingerprint -sha256 | cut -d= -f2)
# The signer's certificate after its CA's: --signer finds the one that signed.
cat ca.pem signer.pem >ca-then-signer.pem
check "verify-release --signer passes the bundle: its signer, fingerprint and time stamp" \
  'verify --signer ca-then-signer.pem "$bundle.zip" >out.txt; status=$?; cat out.txt;
   [ $status -eq 0 ] && grep -q "launcher64.exe: signed by CN=Quorvel test signer, the certificate --signer names (SHA-256 $fingerprint); the signature verifies, .*; its time stamp verifies" \
     out.txt && grep -q "launcher64.exe (its signature taken off): identical" out.txt &&
   tail -n 1 out.txt | grep -q "^VERIFIED: every file is as commit $commit builds it"'
# Both programs signed again with another certificate, SHA256SUMS redone: what --signer refuses.
for program in launcher64.exe launcher32.exe; do
  osslsigncode remove-signature -in "$name/$program" -out "plain-$program" >/dev/null
  osslsigncode sign -pkcs12 other.pfx -readpass password -h sha256 -in "plain-$program" \
    -out "other-$program" >/dev/null
done
# A changed launcher32.exe signed with the publisher's own key, as a build of another commit
# would be: its signature verifies, and only the rebuild tells.
python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read()); d[0x400] ^= 1
open(sys.argv[2], "wb").write(d)' plain-launcher32.exe changed-launcher32.exe
osslsigncode sign -pkcs12 signer.pfx -readpass password -h sha256 -in changed-launcher32.exe \
  -out signed-changed-launcher32.exe >/dev/null
# A commit beside the tested one whose launcher calls on code of the MinGW-w64 runtime that the
# SBOM cannot place (made without touching the clone's files).
printf '%s\n' '#include <sys/time.h>' '#include "launcher/launcher.h"' \
  'int wmain(int argc, wchar_t** argv) {' '    timeval now;' '    gettimeofday(&now, nullptr);' \
  '    launch_loop(argc, argv);' '}' >unplaced-main.cpp
unplaced=$(cd src && export GIT_INDEX_FILE="$work/unplaced-index" && git read-tree HEAD &&
  blob=$(git hash-object -w ../unplaced-main.cpp) &&
  git update-index --cacheinfo "100644,$blob,launcher/main.cpp" &&
  git -c user.name=test -c user.email=test@invalid commit-tree "$(git write-tree)" -p HEAD \
    -m "calls on what the SBOM cannot place")
# Bundles made from the genuine one, each self-consistent (SHA256SUMS, and the SBOM where its
# hashes would tell, redone): a changed program; the same with the SBOM not redone; programs
# re-signed by another; a changed signature byte; the signature moved onto a changed program; a
# certificate table padded with data; an unlisted file; a second, hostile launcher64.exe placed
# first; the version relabelled; a toolchain version claimed; escape bytes in BUILDINFO; a file
# past the size bounds; a SHA256SUMS that does not match; no BUILDINFO; an SBOM whose SHA-512 at
# the distribution reference is not the program's; a BUILDINFO naming the commit above.
python3 - "$bundle.zip" "$unplaced" <<'PY'
import hashlib, json, re, struct, sys, warnings, zipfile
warnings.simplefilter("ignore")  # the duplicate entry is meant
source = zipfile.ZipFile(sys.argv[1])
def write(out, *changes, first=()):
    files = {n: source.read(n) for n in source.namelist()}
    for change in changes:
        files = change(files) or files
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for n, data in list(first) + list(files.items()):
            z.writestr(n, data)
def named(files, end):
    return next(n for n in files if n.endswith(end))
def sums(files):
    folder = next(iter(files)).split("/")[0]
    names = [n for n in files if not n.endswith("SHA256SUMS")]
    files[folder + "/SHA256SUMS"] = "".join(
        "%s  %s\n" % (hashlib.sha256(files[n]).hexdigest(), n.split("/")[1])
        for n in names).encode()
def sbom(files):
    path = named(files, ".cdx.json")
    document = json.loads(files[path])
    for component in document["components"]:
        if component["type"] == "application":
            data = files[named(files, component["name"])]
            component["hashes"] = [
                {"alg": "SHA-256", "content": hashlib.sha256(data).hexdigest()},
                {"alg": "SHA-512", "content": hashlib.sha512(data).hexdigest()}]
            for reference in component["externalReferences"]:
                reference["hashes"] = component["hashes"]
    files[path] = (json.dumps(document, indent=2, ensure_ascii=False) + "\n").encode()
def swap(files):
    files[named(files, "launcher32.exe")] = open("signed-changed-launcher32.exe", "rb").read()
def resign(files):
    for program in ["launcher64.exe", "launcher32.exe"]:
        files[named(files, program)] = open("other-" + program, "rb").read()
def table(data):
    """Where the certificate table's directory entry is, and the table's offset and size."""
    header = struct.unpack_from("<I", data, 0x3C)[0] + 24
    entry = header + (112 if struct.unpack_from("<H", data, header)[0] == 0x20B else 96) + 32
    return (entry,) + struct.unpack_from("<II", data, entry)
def flip_signature(files):
    # A byte of the signer's RSA signature value: its 256 bytes follow the first algorithm
    # after the signed attributes' message digest.
    program = named(files, "launcher64.exe")
    data = bytearray(files[program])
    digest = data.index(bytes.fromhex("06092a864886f70d010904"), table(data)[1])
    algorithm = data.index(bytes.fromhex("06092a864886f70d0101"), digest)
    value = data.index(b"\x04\x82\x01\x00", algorithm) + 4
    data[value + 100] ^= 0x01
    files[program] = bytes(data)
def move_signature(files):
    program = named(files, "launcher64.exe")
    signed = files[program]
    _, offset, size = table(signed)
    data = bytearray(open("plain-launcher64.exe", "rb").read())
    data[0x400] ^= 0x01
    data += b"\0" * (-len(data) % 8)
    struct.pack_into("<II", data, table(data)[0], len(data), size)
    files[program] = bytes(data + signed[offset:offset + size])
def pad_table(files):
    program = named(files, "launcher64.exe")
    data = bytearray(files[program])
    entry, offset, size = table(data)
    hidden = b"-javaagent:evil!"
    struct.pack_into("<I", data, offset, struct.unpack_from("<I", data, offset)[0] + len(hidden))
    struct.pack_into("<II", data, entry, offset, size + len(hidden))
    files[program] = bytes(data + hidden)
def unlisted(files):
    folder = next(iter(files)).split("/")[0]
    files[folder + "/command_line.txt"] = b"-javaagent:\\\\evil\\a.jar -jar Quorvel.jar\r\n"
def relabel(files):
    old, new = "quorvel-launcher-1.0.0", "quorvel-launcher-9.9.9"
    relabelled = {}
    for n, data in files.items():
        if not n.endswith(".exe"):
            data = data.replace(b"1.0.0", b"9.9.9")
        relabelled[n.replace(old, new)] = data
    return relabelled
def claim(files):
    buildinfo = named(files, "BUILDINFO")
    files[buildinfo] = re.sub(rb"\n make:amd64 [^\r]*", b"\n make:amd64 4.3-4.1+x", files[buildinfo])
def escapes(files):
    buildinfo = named(files, "BUILDINFO")
    files[buildinfo] = files[buildinfo].replace(
        b"Source: quorvel-launcher", b"Source: quorvel-launcher\x1b[2J\x1b[Hidentical")
def huge(files):
    files[named(files, "INSTALL.txt")] = bytes(100 << 20)
def damage(files):
    files[named(files, "INSTALL.txt")] += b"\r\n"
def no_buildinfo(files):
    del files[named(files, "BUILDINFO")]
def stale_reference(files):
    path = named(files, ".cdx.json")
    document = json.loads(files[path])
    hashes = document["components"][0]["externalReferences"][0]["hashes"]
    hashes[1]["content"] = hashlib.sha512(b"another file").hexdigest()
    files[path] = (json.dumps(document, indent=2, ensure_ascii=False) + "\n").encode()
def unplaced_commit(files):
    path = named(files, "BUILDINFO")
    files[path] = re.sub(rb"Commit: \w+", b"Commit: " + sys.argv[2].encode(), files[path])
write("swapped.zip", swap, sbom, sums)
write("stale-sbom.zip", swap, sums)
write("resigned.zip", resign, sbom, sums)
write("flipped-signature.zip", flip_signature, sbom, sums)
write("moved-signature.zip", move_signature, sbom, sums)
write("padded-table.zip", pad_table, sbom, sums)
write("unlisted.zip", unlisted, sums)
write("duplicate.zip", sums,
      first=[(named(source.namelist(), "launcher32.exe"), b"MZ hostile")])
write("relabelled.zip", relabel, sums)
write("claimed-toolchain.zip", swap, sbom, claim, sums)
write("escapes.zip", escapes, sums)
write("huge.zip", huge, sums)
write("damaged.zip", damage)
write("no-buildinfo.zip", no_buildinfo, sums)
write("stale-reference.zip", stale_reference, sums)
write("unplaced.zip", unplaced_commit, sums)
PY
echo "not a zip" >not-a.zip
# name, arguments, status, what the last line says
bad_bundles=(
  "a changed program signed with the publisher's key, SHA256SUMS and SBOM redone|--signer ca-then-signer.pem swapped.zip|1|DIFFERS: launcher32.exe"
  "an SBOM whose hashes are not the files'|--signer ca-then-signer.pem stale-sbom.zip|1|REFUSED: the SBOM's hashes of launcher32.exe are not"
  "an SBOM whose distribution SHA-512 is not the file's|--signer ca-then-signer.pem stale-reference.zip|1|REFUSED: the SBOM's hashes of launcher64.exe are not"
  "programs signed by another than --signer|--signer signer-chain.pem resigned.zip|1|REFUSED: launcher64.exe is signed by ANOTHER certificate than --signer names: CN=Quorvel test other"
  "a time stamp that no authority Debian or the user names vouches for|$bundle.zip|1|REFUSED: the time stamp of launcher64.exe verifies against neither"
  "a changed signature byte|flipped-signature.zip|1|REFUSED: the signature of launcher64.exe does not verify"
  "a signature moved onto a changed program|--signer signer.pem moved-signature.zip|1|REFUSED: the signature of launcher64.exe does not verify: the file is not the one signed"
  "a certificate table padded with data|padded-table.zip|1|REFUSED: launcher64.exe's certificate table holds .* bytes after its signature"
  "a file that is not one of the bundle's|unlisted.zip|1|REFUSED: quorvel-launcher-$version/command_line.txt is not one of the bundle's files"
  "a program that stands twice|duplicate.zip|1|REFUSED: quorvel-launcher-$version/launcher32.exe stands twice"
  "a relabelled version|--signer ca-then-signer.pem relabelled.zip|1|REFUSED: the bundle is version 9.9.9, but commit $commit is version $version"
  "a toolchain version claimed|--signer ca-then-signer.pem claimed-toolchain.zip|3|INCONCLUSIVE: .*make:amd64 4.3-4.1+x"
  "escape bytes in BUILDINFO|escapes.zip|1|REFUSED: BUILDINFO line 2 holds control characters: Source: quorvel-launcher\\\\x1b\\[2J"
  "a file past the bounds|huge.zip|1|REFUSED: the zip's files would take 100 MiB unpacked"
  "SHA256SUMS that does not match|damaged.zip|1|REFUSED: SHA256SUMS does not match INSTALL.txt"
  "not a zip|not-a.zip|1|REFUSED: .* is not a zip archive"
  "no BUILDINFO|no-buildinfo.zip|1|REFUSED: the bundle has no BUILDINFO"
  "a rebuild linking what the SBOM cannot place|--signer ca-then-signer.pem unplaced.zip|1|REFUSED: .*gettimeofday.o), whose source the SBOM cannot place"
)
for row in "${bad_bundles[@]}"; do
  IFS='|' read -r name args status message <<<"$row"
  # shellcheck disable=SC2086
  check "verify-release: $name" \
    'verify $args >out.txt 2>&1; actual=$?; cat out.txt; [ $actual -eq "$status" ] &&
     tail -n 1 out.txt | grep -q -- "^$message" && ! grep -q $'"'"'\e'"'"' out.txt &&
     [ -z "$(git -C src status --porcelain)" ]'
done
echo "$failures check(s) failed"
[ "$failures" -eq 0 ]
