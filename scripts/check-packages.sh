#!/usr/bin/env bash
# Builds the two Debian packages from the release preset and checks them
# without installing anything: their file lists and modes, their control
# fields, the desktop entry and AppStream metadata, and the packaged programs
# themselves run from an extracted copy. scripts/test.sh runs it after the
# tests; it needs no display and no D-Bus session.
#
#   scripts/check-packages.sh      build dir: build-packages (or $KEELMARK_PACKAGE_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."

started=$(date +%s)
build=$(realpath -m "${KEELMARK_PACKAGE_BUILD_DIR:-build-packages}")
work=$(mktemp -d "${TMPDIR:-/tmp}/km-packages.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "check-packages: FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() { echo "check-packages: ok: $*"; }

scripts/install-deps.sh

# Only what the packages hold: the emulator and the tests stay unbuilt, and
# the install step must not build them either.
cmake --preset release -B "$build" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target keelmark keelmark-relay
rm -rf "$build/packages"
cpack --config "$build/CPackConfig.cmake" -G DEB >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    echo "check-packages: cpack failed" >&2
    exit 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
app_deb=$build/packages/keelmark_${version}_${arch}.deb
relay_deb=$build/packages/keelmark-relay_${version}_${arch}.deb
for deb in "$app_deb" "$relay_deb"; do
    [ -f "$deb" ] || { echo "check-packages: $deb was not built" >&2; ls -l "$build/packages" >&2; exit 1; }
done

# Every regular file with its mode, owner and path, e.g.
# "-rwxr-xr-x root/root ./usr/bin/keelmark"; nothing else may be in the
# package, so a stray install rule shows up here.
check_files() {
    local deb=$1 expected=$2 actual
    actual=$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ { print $1, $2, $6 }' | sort)
    if [ "$actual" = "$(sort <<<"$expected")" ]; then
        pass "$(basename "$deb") holds the expected files with the expected modes"
    else
        fail "$(basename "$deb") files differ from what is expected:"
        diff <(sort <<<"$expected") <(echo "$actual") >&2 || true
    fi
    if dpkg-deb -c "$deb" | awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" { bad = 1; print } END { exit !bad }' >&2; then
        fail "$(basename "$deb") has directories that are not 0755"
    fi
}

check_files "$app_deb" "-rwxr-xr-x root/root ./usr/bin/keelmark
-rw-r--r-- root/root ./usr/share/applications/keelmark.desktop
-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/keelmark.svg
-rw-r--r-- root/root ./usr/share/metainfo/io.keelmark.KeelMark.metainfo.xml
-rw-r--r-- root/root ./usr/share/doc/keelmark/copyright
-rw-r--r-- root/root ./usr/share/doc/keelmark/OFL-CormorantGaramond.txt
-rw-r--r-- root/root ./usr/share/doc/keelmark/LICENSE-tabler-icons.txt"

# The settings file holds the client secret: root only.
check_files "$relay_deb" "-rwxr-xr-x root/root ./usr/bin/keelmark-relay
-rw-r--r-- root/root ./lib/systemd/system/keelmark-relay.service
-rw------- root/root ./etc/default/keelmark-relay
-rw-r--r-- root/root ./usr/share/doc/keelmark-relay/copyright"

# Control fields: the project's version, the packager's fields, and
# dependencies found by dpkg-shlibdeps (a hand-written list would not name
# libc6 with a version).
check_control() {
    local deb=$1 name=$2 field value
    for field in Package Version Maintainer Description Section Homepage Depends; do
        value=$(dpkg-deb -f "$deb" "$field")
        [ -n "$value" ] || fail "$name has no $field"
    done
    [ "$(dpkg-deb -f "$deb" Package)" = "$name" ] || fail "$name is named $(dpkg-deb -f "$deb" Package)"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
        fail "$name has version $(dpkg-deb -f "$deb" Version), the project $version"
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in 'libc6 (>= ' 'libqt6core6 (>= ' 'libqt6network6 (>= '; do
        [[ $depends == *"$lib"* ]] || fail "$name: Depends lacks ${lib%% *} from dpkg-shlibdeps: $depends"
    done
    pass "$name $version: control fields, Depends: $depends"
}
check_control "$app_deb" keelmark
check_control "$relay_deb" keelmark-relay
for lib in libqt6widgets6 libqt6keychain1 libsecret-1-0; do
    [[ $(dpkg-deb -f "$app_deb" Depends) == *"$lib"* ]] || fail "keelmark does not depend on $lib"
done
if [[ $(dpkg-deb -f "$relay_deb" Depends) == *libqt6widgets6* ]]; then
    fail "keelmark-relay depends on Qt Widgets"
fi
if [ "$(dpkg-deb -I "$relay_deb" conffiles 2>/dev/null)" = "/etc/default/keelmark-relay" ]; then
    pass "keelmark-relay marks /etc/default/keelmark-relay as a conffile"
else
    fail "keelmark-relay does not mark /etc/default/keelmark-relay as its one conffile"
fi

app_root=$work/app
relay_root=$work/relay
dpkg-deb -x "$app_deb" "$app_root"
dpkg-deb -x "$relay_deb" "$relay_root"

desktop=$app_root/usr/share/applications/keelmark.desktop
if desktop-file-validate "$desktop" >&2; then
    pass "desktop-file-validate keelmark.desktop"
else
    fail "desktop-file-validate keelmark.desktop"
fi
grep -qx 'MimeType=x-scheme-handler/keelmark;' "$desktop" || fail "keelmark.desktop does not declare the keelmark:// handler"
# --pedantic reports two notes that do not fail it: the mixed-case id and no
# release history.
if appstreamcli validate --no-net --pedantic "$app_root/usr/share/metainfo/io.keelmark.KeelMark.metainfo.xml" >"$work/appstream.log" 2>&1; then
    pass "appstreamcli validate --no-net --pedantic"
else
    cat "$work/appstream.log" >&2
    fail "appstreamcli validate"
fi

# The extracted programs, with a throw-away home and no session; leading
# NAME=VALUE arguments join that environment.
run_clean() {
    env -i PATH=/usr/bin:/bin HOME="$work/home" QT_QPA_PLATFORM=offscreen "$@"
}
mkdir -p "$work/home"
# Standard output only: without a session Qt warns on standard error that
# XDG_RUNTIME_DIR is not set, which is not the program's answer.
for program in "$app_root/usr/bin/keelmark" "$relay_root/usr/bin/keelmark-relay"; do
    name=$(basename "$program")
    if out=$(run_clean timeout 20 "$program" --version 2>"$work/stderr") && [ "$out" = "$name $version" ]; then
        pass "$name --version: $out"
    else
        fail "$name --version answered '$out' ($(cat "$work/stderr")), expected '$name $version'"
    fi
done

# A cache left over from a test build would keep KEELMARK_TEST_HOOKS on; the
# packaged app must not obey a test-only option such as --test-root.
if grep -aq -- '--test-root' "$app_root/usr/bin/keelmark"; then
    fail "the packaged keelmark carries the test build's options"
else
    pass "keelmark has no test-only options"
fi

# The relay as the package leaves it: the shipped settings, read the way
# systemd reads them, have no client id and no secret.
expect_refusal() {
    local what=$1 message=$2
    shift 2
    local status=0
    out=$(run_clean "$@" timeout 20 "$relay_root/usr/bin/keelmark-relay" 2>&1) || status=$?
    if [ "$status" -eq 2 ] && [[ $out == *"$message"* ]]; then
        pass "keelmark-relay refuses to start $what"
    else
        fail "keelmark-relay $what: exit $status, '$out' (expected exit 2 and '$message')"
    fi
}
shipped=()
while IFS= read -r line; do
    shipped+=("$line")
done < <(grep -E '^[A-Z_]+=' "$relay_root/etc/default/keelmark-relay")
expect_refusal "with the shipped settings" \
    "The GitHub App's client id is missing: set KEELMARK_RELAY_CLIENT_ID." "${shipped[@]}"
expect_refusal "without a secret" \
    "The GitHub App's client secret is missing: set KEELMARK_RELAY_CLIENT_SECRET" \
    "${shipped[@]}" KEELMARK_RELAY_CLIENT_ID=Iv1.check
grep -q '^EnvironmentFile=/etc/default/keelmark-relay$' "$relay_root/lib/systemd/system/keelmark-relay.service" ||
    fail "the unit does not read /etc/default/keelmark-relay"
grep -q '^ExecStart=/usr/bin/keelmark-relay$' "$relay_root/lib/systemd/system/keelmark-relay.service" ||
    fail "the unit does not start /usr/bin/keelmark-relay"

ls -l "$app_deb" "$relay_deb"
echo "check-packages: $(($(date +%s) - started)) s"
if [ "$failures" -ne 0 ]; then
    echo "check-packages: $failures check(s) failed" >&2
    exit 1
fi
echo "check-packages: both packages pass"
