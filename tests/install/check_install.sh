#!/bin/sh
# check_install.sh SOURCE_DIR BUILD_DIR HAVE_BATCH CMAKE CPACK (HAVE_BATCH: 1 when the build has pixloom-batch)
# What installing pixloom gives a user, from a finished build: valid desktop entry and metainfo, exactly the expected
# files under a fresh prefix, the window's icon, manual pages without a warning, and a Debian package of the same
# files with computed library dependencies that lintian passes without an error or a warning.
set -eu

if [ "${1:-}" = "--window-icon" ]; then
    # Under a display: the installed window's icon sizes and class, one a line.
    "$2" >/dev/null 2>&1 &
    pid=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --classname pixloom | head -n 1) || true
    if [ -n "$window" ]; then
        xprop -len 4000000 -id "$window" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' || true
        xprop -id "$window" WM_CLASS
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    exit 0
fi

SRC=$1 BUILD=$2 HAVE_BATCH=$3 CMAKE=$4 CPACK=$5
ID=org.pixloom.Pixloom
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# expect_empty WHAT COMMAND...: the command succeeds and prints nothing at all.
expect_empty() {
    what=$1
    shift
    if ! "$@" >"$WORK/out" 2>&1 || [ -s "$WORK/out" ]; then
        fail "$what:"
        cat "$WORK/out"
    fi
}

# The one version: the project's, in the programs' header, metainfo and pages.
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
grep -qx "#define PIXLOOM_VERSION \"$VERSION\"" "$BUILD/version/pixloom_version.h" ||
    fail "pixloom_version.h does not define PIXLOOM_VERSION \"$VERSION\""
grep -q "<release version=\"$VERSION\"" "$BUILD/data/$ID.metainfo.xml" ||
    fail "the metainfo has no release $VERSION"
for page in pixloom pixloom-batch; do
    head -n 1 "$BUILD/data/man/$page.1" | grep -q "\"pixloom $VERSION\"" ||
        fail "$page.1 is not marked pixloom $VERSION"
done
zcat "$BUILD/data/changelog.gz" | head -n 1 | grep -q "^pixloom ($VERSION) " ||
    fail "the changelog's last entry is not $VERSION"

expect_empty "desktop-file-validate" desktop-file-validate "$SRC/data/$ID.desktop"
if ! appstreamcli validate --no-net --pedantic "$BUILD/data/$ID.metainfo.xml" >"$WORK/out" 2>&1; then
    fail "appstreamcli validate:"
    cat "$WORK/out"
fi

# The files every install must give, relative to its prefix.
SIZES="16 32 48 128 256"
{
    printf '%s\n' bin/pixloom share/applications/$ID.desktop share/metainfo/$ID.metainfo.xml \
        share/icons/hicolor/scalable/apps/$ID.svg share/man/man1/pixloom.1.gz share/doc/pixloom/copyright \
        share/doc/pixloom/changelog.gz
    for size in $SIZES; do echo "share/icons/hicolor/${size}x${size}/apps/$ID.png"; done
    [ "$HAVE_BATCH" != 1 ] || printf '%s\n' bin/pixloom-batch share/man/man1/pixloom-batch.1.gz
} | sort >"$WORK/expected"

PREFIX=$WORK/prefix
"$CMAKE" --install "$BUILD" --prefix "$PREFIX" >"$WORK/out" 2>&1 || { cat "$WORK/out"; exit 1; }
(cd "$PREFIX" && find . ! -type d | sed 's|^\./||' | sort) >"$WORK/installed"
diff -u "$WORK/expected" "$WORK/installed" >"$WORK/out" || { fail "installed files (- missing, + extra):"; cat "$WORK/out"; }

for program in pixloom pixloom-batch; do
    [ ! -e "$PREFIX/bin/$program" ] || [ -x "$PREFIX/bin/$program" ] || fail "bin/$program is not executable"
done
# The menu entry shows the installed icon. That it starts an installed program, and that each PNG icon is the size
# its folder says, lintian checks in the package (desktop-command-not-in-package,
# icon-size-and-directory-name-mismatch).
icon=$(sed -n 's/^Icon=//p' "$PREFIX/share/applications/$ID.desktop")
[ "$icon" = "$ID" ] || fail "the desktop entry's icon is '$icon', not $ID"

# The window shows the icon compiled into it, at every size drawn, and its class is the one the desktop entry names.
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" env HOME="$WORK" "$0" --window-icon "$PREFIX/bin/pixloom" >"$WORK/window" 2>&1 || true
for size in $SIZES; do
    grep -qx "Icon ($size x $size)" "$WORK/window" || fail "the window has no ${size}x$size icon"
done
wm_class=$(sed -n 's/^StartupWMClass=//p' "$PREFIX/share/applications/$ID.desktop")
grep -q "^WM_CLASS(STRING) = \"$wm_class\"" "$WORK/window" ||
    { fail "the window's class is not StartupWMClass=$wm_class:"; cat "$WORK/window"; }

# Both pages render with every warning on (warnings go to standard error), as built and as installed.
man_warnings() { LC_ALL=C.UTF-8 man --warnings -l "$1" 2>&1 >/dev/null; }
for page in pixloom pixloom-batch; do
    expect_empty "man $page.1" man_warnings "$BUILD/data/man/$page.1"
    installed="$PREFIX/share/man/man1/$page.1.gz"
    [ ! -e "$installed" ] || zcat "$installed" | cmp -s - "$BUILD/data/man/$page.1" ||
        fail "$installed differs from the built page"
done

# The package: same files under /usr, dependencies from dpkg-shlibdeps (missing-dependency-on-libc otherwise).
"$CPACK" -G DEB -B "$WORK/package" --config "$BUILD/CPackConfig.cmake" >"$WORK/out" 2>&1 || { cat "$WORK/out"; exit 1; }
DEB="$WORK/package/pixloom_${VERSION}_$(dpkg --print-architecture).deb"
if [ ! -f "$DEB" ]; then
    fail "no $(basename "$DEB"); cpack made:"
    ls "$WORK/package"
else
    dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./usr/||' | sort >"$WORK/packaged"
    diff -u "$WORK/expected" "$WORK/packaged" >"$WORK/out" || { fail "packaged files (- missing, + extra):"; cat "$WORK/out"; }
    # Its name and version are the file's; lintian fails a binary package without computed dependencies.
    lintian --fail-on error,warning "$DEB" >"$WORK/out" 2>&1 || { fail "lintian:"; cat "$WORK/out"; }
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "install and package checks passed (pixloom $VERSION$([ "$HAVE_BATCH" = 1 ] || echo ', without pixloom-batch'))"
