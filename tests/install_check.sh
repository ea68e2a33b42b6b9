#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR, as a package is made, and checks what lands there:
# the programs, the application entry and AppStream data (with their validators), the icons (drawn
# by librsvg), the manual pages (they render without warnings) and the completion scripts (bash
# completes them).
# A validator that is not installed is skipped with the reason; the test is then reported skipped.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
skipped=()
fail() { echo "FAIL: $*" >&2; exit 1; }

# The install script notes what it installed in the build tree, which the unprivileged test run
# cannot write; the note goes to the temporary folder instead.
sed "s|\"$build/\${CMAKE_INSTALL_MANIFEST}\"|\"$work/\${CMAKE_INSTALL_MANIFEST}\"|" \
  "$build/cmake_install.cmake" >"$work/install.cmake"
DESTDIR="$work/root" cmake -DCMAKE_INSTALL_PREFIX=/usr -P "$work/install.cmake" >/dev/null
usr=$work/root/usr
id=com.Quenmark.vaultry

for f in bin/vaultry-cli share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
  share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/symbolic/apps/$id-symbolic.svg \
  share/icons/hicolor/scalable/places/$id-folder.svg \
  share/man/man1/vaultry.1.gz share/man/man1/vaultry-cli.1.gz \
  share/bash-completion/completions/vaultry-cli share/zsh/vendor-completions/_vaultry-cli \
  share/fish/vendor_completions.d/vaultry-cli.fish share/doc/vaultry/copyright share/doc/vaultry/changelog.gz \
  share/doc/vaultry/README.md; do
  [ -f "$usr/$f" ] || fail "not installed: /usr/$f"
done
[ -f "$build/vaultry" ] && { [ -x "$usr/bin/vaultry" ] || fail "not installed: /usr/bin/vaultry"; }
"$usr/bin/vaultry-cli" --version | grep -q '^vaultry-cli ' || fail "the installed vaultry-cli does not run"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$usr/share/applications/$id.desktop" || fail "desktop-file-validate"
else
  skipped+=("desktop-file-validate is not installed (Debian: desktop-file-utils)")
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
  grep -q '<screenshot' "$usr/share/metainfo/$id.metainfo.xml" || fail "no screenshot in the AppStream data"
  grep -q '<release ' "$usr/share/metainfo/$id.metainfo.xml" || fail "no release in the AppStream data"
else
  skipped+=("appstreamcli is not installed (Debian: appstream)")
fi

# The icons are SVG a desktop's own renderer draws.
if command -v rsvg-convert >/dev/null; then
  for svg in "$usr"/share/icons/hicolor/*/*/$id*.svg; do
    rsvg-convert -w 64 -h 64 -o "$work/icon.png" "$svg" || fail "rsvg-convert ${svg#$work/root}"
  done
else
  skipped+=("rsvg-convert is not installed (Debian: librsvg2-bin)")
fi

# The manual pages render, and vaultry-cli's names every command group, the exit codes, the
# files and the environment.
if command -v man >/dev/null; then
  for page in vaultry vaultry-cli; do
    warnings=$(MANWIDTH=80 man --warnings -l "$usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man -l $page.1: $warnings"
  done
  text=$(MANWIDTH=200 man -l "$usr/share/man/man1/vaultry-cli.1.gz" 2>/dev/null)
  groups=$("$usr/bin/vaultry-cli" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }')
  [ -n "$groups" ] || fail "no command groups in vaultry-cli --help"
  for g in $groups; do grep -q "^   *$g\b\|^       $g " <<<"$text" || fail "vaultry-cli.1 does not describe '$g'"; done
  for word in "EXIT STATUS" "declined by the user" "wrong password" "ENVIRONMENT" "XDG_CONFIG_HOME" \
    "VAULTRY_UPDATE_URL" "com.Quenmark.vaultry.plist" "vaultry.data" "com.Quenmark.sortello" \
    "autostart/vaultry.desktop" "Trash"; do
    grep -q "$word" <<<"$text" || fail "vaultry-cli.1 does not mention $word"
  done
else
  skipped+=("man is not installed (Debian: man-db)")
fi

# The installed bash completion completes `vaultry-cli va<TAB>` to `vault`.
got=$(bash --norc --noprofile -c 'source "$1"; COMP_WORDS=(vaultry-cli va); COMP_CWORD=1; _vaultry_cli; echo "${COMPREPLY[*]}"' \
  _ "$usr/share/bash-completion/completions/vaultry-cli")
[ "$got" = vault ] || fail "bash completes 'vaultry-cli va' to '$got'"
if command -v zsh >/dev/null; then zsh -n "$usr/share/zsh/vendor-completions/_vaultry-cli" || fail "zsh -n"; fi
if command -v fish >/dev/null; then
  got=$(fish --no-config -c 'source $argv[1]; complete -C"vaultry-cli va"' "$usr/share/fish/vendor_completions.d/vaultry-cli.fish" | cut -f1)
  [ "$got" = vault ] || fail "fish completes 'vaultry-cli va' to '$got'"
fi

if [ ${#skipped[@]} -gt 0 ]; then
  printf 'skipped: %s\n' "${skipped[@]}"
  exit 77
fi
echo "installed into a DESTDIR and validated"
