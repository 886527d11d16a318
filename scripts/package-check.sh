#!/usr/bin/env bash
# Builds the Debian package and checks that it installs and is complete on a
# fresh Debian 12: a minimal bookworm made by debootstrap under /var/tmp, with
# the Debian mirror this machine's apt uses. Where debootstrap cannot work, it
# installs the package on this machine with dpkg -i instead and removes it again.
#
#   scripts/package-check.sh
#
# Environment: BUILD_DIR (default build-package-check), KEEP_CHROOT=1 keeps the
# chroot for a look afterwards, CHECK_ON_HOST=1 skips the chroot and checks on
# this machine. Needs root (or sudo) for debootstrap, chroot and dpkg.
# Exits non-zero on any failure.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-package-check}
package=tallyronet-recorder
icon_sizes=(16 22 24 32 48 64 128 256)

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi

step() { printf '\n==> %s (%ds)\n' "$*" "$SECONDS"; }
fail() { printf 'FAILED: %s\n' "$*" >&2; exit 1; }

# ---------------------------------------------------------------- build
step "Building the package in $build"
for tool in cmake cpack dpkg-deb dpkg-shlibdeps desktop-file-validate; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLYRO_WERROR=ON \
  -DTALLYRO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/${package}_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build/${package}"_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "cpack made no single ${package}_*.deb"
fi
deb=${debs[0]}

step "dpkg-deb --info $(basename "$deb")"
dpkg-deb --info "$deb"
step "dpkg-deb --contents $(basename "$deb")"
dpkg-deb --contents "$deb"

[ "$(dpkg-deb --field "$deb" Package)" = "$package" ] || fail "package name is not $package"
depends=$(dpkg-deb --field "$deb" Depends)
for needed in libqt6webenginecore6 libqt6webenginecore6-bin; do
  grep -Eq "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends does not name $needed"
done

# ---------------------------------------------------------------- checks
# Checks an installed package under the root folder $1 ("" for this machine);
# "${run_in[@]}" runs a command there.
check_installed() {
  local top=$1 bin=$1/usr/bin/$package
  local desktop=$1/usr/share/applications/$package.desktop
  local problems=0

  step "Checking the installed package"
  if [ -x "$bin" ]; then echo "ok: /usr/bin/$package"; else echo "missing: /usr/bin/$package"; problems=1; fi

  local engine=$top/usr/lib/qt6/libexec/QtWebEngineProcess
  local plugin
  plugin=$(find "$top/usr/lib" -path '*/qt6/plugins/platforms/libqxcb.so' -print -quit 2>/dev/null || true)
  for f in "$bin" "$engine" "$plugin"; do
    if [ -z "$f" ] || [ ! -e "$f" ]; then
      echo "missing: ${f#"$top"} (program, engine helper or X11 platform plugin)"; problems=1; continue
    fi
    local missing
    missing=$("${run_in[@]}" ldd "${f#"$top"}" 2>&1 | grep 'not found' || true)
    if [ -n "$missing" ]; then
      echo "ldd ${f#"$top"}: libraries not found:"; echo "$missing"; problems=1
    else
      echo "ok: ldd ${f#"$top"} finds every library"
    fi
  done
  for f in /usr/share/qt6/resources/qtwebengine_resources.pak \
           /usr/share/qt6/translations/qtwebengine_locales/en-US.pak; do
    if [ -f "$top$f" ]; then echo "ok: $f"; else echo "missing: $f"; problems=1; fi
  done

  if [ -f "$desktop" ]; then
    if desktop-file-validate "$desktop"; then
      echo "ok: desktop entry valid"
    else
      echo "desktop-file-validate rejects the desktop entry"; problems=1
    fi
    local exec_name icon_name
    exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop" | head -n1)
    icon_name=$(sed -n 's/^Icon=//p' "$desktop" | head -n1)
    if [ -n "$exec_name" ] && "${run_in[@]}" sh -c "command -v '$exec_name'" >/dev/null; then
      echo "ok: Exec=$exec_name is $("${run_in[@]}" sh -c "command -v '$exec_name'")"
    else
      echo "Exec=$exec_name names no program on the PATH"; problems=1
    fi
    for size in "${icon_sizes[@]}"; do
      local png=$top/usr/share/icons/hicolor/${size}x${size}/apps/$icon_name.png
      # A PNG's width and height are the big-endian words at bytes 16 and 20.
      local w h
      w=$(od -An -tu1 -j16 -N4 "$png" 2>/dev/null | awk '{print $1*16777216+$2*65536+$3*256+$4}')
      h=$(od -An -tu1 -j20 -N4 "$png" 2>/dev/null | awk '{print $1*16777216+$2*65536+$3*256+$4}')
      if [ "$(head -c8 "$png" 2>/dev/null | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] \
         && [ "$w" = "$size" ] && [ "$h" = "$size" ]; then
        echo "ok: icon ${size}x${size}"
      else
        echo "icon ${png#"$top"} is missing or not a ${size}x${size} PNG"; problems=1
      fi
    done
  else
    echo "missing: /usr/share/applications/$package.desktop"; problems=1
  fi

  # The program must start and keep running: a missing engine helper, resource
  # or plugin ends it at once. It runs off screen with a throw-away home.
  if [ -x "$bin" ]; then
    local home rc=0
    home=$("${run_in[@]}" mktemp -d /tmp/tallyro-home.XXXXXX)
    "${run_in[@]}" env HOME="$home" XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=offscreen \
      timeout -k 5 15 "/usr/bin/$package" >"$work/start.log" 2>&1 || rc=$?
    "${run_in[@]}" rm -rf "$home"
    if [ "$rc" -eq 124 ]; then
      echo "ok: the program started and was still running after 15 s"
    else
      echo "the program ended with status $rc within 15 s:"; cat "$work/start.log"; problems=1
    fi
  fi
  return "$problems"
}

# ---------------------------------------------------------------- fresh bookworm
# Debian bookworm entries of apt's sources, one "URI SUITE COMPONENTS" a line.
debian_sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '{ sub(/#.*/, "") } $1 == "deb" {
           i = 2
           if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
           comps = ""; for (k = i + 2; k <= NF; k++) comps = comps (comps == "" ? "" : " ") $k
           print $i, $(i + 1), comps }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'function flush(   n, m, i, j, u, s) {
           if (types ~ /(^| )deb( |$)/ && enabled != "no") {
             n = split(uris, u, " "); m = split(suites, s, " ")
             for (i = 1; i <= n; i++) for (j = 1; j <= m; j++) print u[i], s[j], comps
           }
           types = uris = suites = comps = enabled = ""
         }
         /^[ \t]*$/ { flush(); next }
         /^#/ || /^[ \t]/ { next }
         { key = tolower($0); sub(/:.*/, "", key); val = $0; sub(/^[^:]*:[ \t]*/, "", val)
           if (key == "types") types = val; else if (key == "uris") uris = val
           else if (key == "suites") suites = val; else if (key == "components") comps = val
           else if (key == "enabled") enabled = tolower(val) }
         END { flush() }' "$f"
  done | awk '$2 ~ /^bookworm(-updates|-security|\/updates)?$/'
}

work=$(mktemp -d /var/tmp/tallyro-package-check.XXXXXX)
chroot_dir=$work/root
installed_here=0

cleanup() {
  local rc=$?
  set +e
  if [ -d "$chroot_dir" ]; then
    # Everything mounted inside the chroot, deepest first.
    findmnt -rn -o TARGET | grep -F "$chroot_dir" | sort -r | while read -r m; do
      "${as_root[@]}" umount "$m" || "${as_root[@]}" umount -l "$m"
    done
  fi
  if [ "$installed_here" = 1 ]; then
    step "Removing the package from this machine (dpkg -r)"
    "${as_root[@]}" dpkg -r "$package"
  fi
  if [ "${KEEP_CHROOT:-0}" = 1 ]; then
    echo "kept $work"
  elif findmnt -rn -o TARGET | grep -qF "$work"; then
    echo "WARNING: something is still mounted under $work; left in place" >&2
    rc=1
  else
    "${as_root[@]}" rm -rf --one-file-system "$work"
  fi
  printf '\nTotal time %ds; %s\n' "$SECONDS" "$([ "$rc" -eq 0 ] && echo PASSED || echo FAILED)"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fallback_reason=
mirror=
suites=$(debian_sources || true)
mirror=$(awk '$2 == "bookworm" { print $1; exit }' <<<"$suites")
if [ "${CHECK_ON_HOST:-0}" = 1 ]; then
  fallback_reason="CHECK_ON_HOST=1 asks for a check on this machine"
elif ! command -v debootstrap >/dev/null; then
  fallback_reason="debootstrap is not installed"
elif [ -z "$mirror" ]; then
  fallback_reason="apt's sources name no Debian bookworm mirror"
else
  step "Making a fresh Debian 12 (debootstrap --variant=minbase bookworm, mirror $mirror)"
  start=$SECONDS
  if "${as_root[@]}" debootstrap --variant=minbase bookworm "$chroot_dir" "$mirror" >"$work/debootstrap.log" 2>&1; then
    echo "debootstrap took $((SECONDS - start)) s"
  else
    tail -n 20 "$work/debootstrap.log"
    fallback_reason="debootstrap failed (see above)"
  fi
fi

if [ -z "$fallback_reason" ]; then
  run_in=("${as_root[@]}" chroot "$chroot_dir")
  # The suites this machine uses (bookworm, its updates, security), as a user's
  # Debian 12 would have them.
  awk '{ print "deb", $0 }' <<<"$suites" | "${as_root[@]}" tee "$chroot_dir/etc/apt/sources.list" >/dev/null
  echo "chroot sources:"; cat "$chroot_dir/etc/apt/sources.list"
  "${as_root[@]}" cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
  "${as_root[@]}" mount -t proc proc "$chroot_dir/proc"
  "${as_root[@]}" mount -t sysfs sysfs "$chroot_dir/sys"
  [ -c "$chroot_dir/dev/null" ] || "${as_root[@]}" mount --bind /dev "$chroot_dir/dev"
  "${as_root[@]}" mkdir -p "$chroot_dir/dev/shm" "$chroot_dir/dev/pts"
  "${as_root[@]}" mount --bind /dev/pts "$chroot_dir/dev/pts"
  "${as_root[@]}" mount -t tmpfs tmpfs "$chroot_dir/dev/shm"
  "${as_root[@]}" cp "$deb" "$chroot_dir/tmp/"

  step "apt install ./$(basename "$deb") in the chroot"
  start=$SECONDS
  # Recommends stay out: what the package declares in Depends must be enough.
  "${run_in[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${run_in[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt install -y --no-install-recommends "./tmp/$(basename "$deb")" </dev/null \
    || fail "apt install of the package failed in the chroot"
  echo "apt install took $((SECONDS - start)) s"
  check_installed "$chroot_dir" || fail "the package is incomplete in a fresh Debian 12"
else
  echo
  echo "*** No fresh Debian 12 chroot: $fallback_reason."
  echo "*** Falling back to dpkg -i on this machine, the same checks, then dpkg -r."
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    fail "$package is already installed on this machine; remove it first"
  fi
  run_in=()
  step "dpkg -i $(basename "$deb")"
  installed_here=1
  "${as_root[@]}" dpkg -i "$deb" || fail "dpkg -i failed (dependencies missing on this machine?)"
  check_installed "" || fail "the package is incomplete"
fi
