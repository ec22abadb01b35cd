# Shared by scripts/windows and scripts/test-windows (sourced): installs the cross compiler, its zlib and
# Wine from Debian, unpacks the Windows kit (Qt and the C libraries cross-built for x86_64 Windows) and
# configures a cross build. Needs $top, the repository.

kit_root=/build/winkit
# The kit's CMake files name this folder, so it is unpacked there and nowhere else.
kit_archive_candidates=(
  "${CORVANE_WINDOWS_KIT:-}"
  "$top/tools/windows-kit/winkit.tar.xz"
  "$top/../shared/windows-kit/winkit.tar.xz"
)

install_windows_packages() {
  local packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev
    wine wine64 fonts-wine xvfb xauth nsis)
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  if [ "$(id -u)" -ne 0 ]; then
    echo "run as root to install: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# PostgreSQL's client programs cross-built for Windows (psql.exe, pg_restore.exe, ...), which the
# restore tests run under Wine; the archive lies beside the kit's.
pgclient_root=/build/pgclient-win
pgclient_archive_name=pgclient-15.18-mingw64.tar.xz

# The kit's archive: the first of the candidates that exists; empty when none does.
find_kit_archive() {
  local candidate
  for candidate in "${kit_archive_candidates[@]}"; do
    if [ -n "$candidate" ] && [ -f "$candidate" ]; then echo "$candidate"; return; fi
  done
}

# Unpacks the kit to $kit_root unless the kit there came from an archive of the same content.
unpack_kit() {
  local archive
  archive=$(find_kit_archive)
  # A kit unpacked before (by another checkout) serves without its archive.
  if [ -z "$archive" ] && [ -f "$kit_root/.unpacked-from" ]; then return; fi
  if [ -z "$archive" ]; then
    echo "The Windows kit winkit.tar.xz was not found. Put it at tools/windows-kit/winkit.tar.xz or name" >&2
    echo "it with CORVANE_WINDOWS_KIT=/path/to/winkit.tar.xz (looked in: ${kit_archive_candidates[*]})." >&2
    exit 1
  fi
  unpack_archive "$archive" "$kit_root"
}

# Unpacks the client programs' archive, found beside the kit's, to $pgclient_root.
unpack_pgclient() {
  local archive
  archive="$(dirname "$(find_kit_archive)")/$pgclient_archive_name"
  if [ ! -f "$archive" ] && [ -f "$pgclient_root/.unpacked-from" ]; then return; fi
  if [ ! -f "$archive" ]; then
    echo "The PostgreSQL client programs for Windows ($pgclient_archive_name) were not found beside the" >&2
    echo "Windows kit's archive." >&2
    exit 1
  fi
  unpack_archive "$archive" "$pgclient_root"
}

# unpack_archive <archive> <root>: unpacks the archive, whose one top folder is named like root, to root
# unless what is there came from an archive of the same content. Checkouts on one machine share the
# root: the unpack holds a lock next to it, and a new copy is unpacked beside it and renamed into place,
# so that a build reading it never sees it half unpacked.
unpack_archive() {
  local archive=$1 root=$2
  local parent
  parent=$(dirname "$root")
  if ! mkdir -p "$parent" 2>/dev/null || [ ! -w "$parent" ]; then
    echo "cannot write to $parent: run as root once to unpack $archive" >&2
    exit 1
  fi
  local identity name
  identity="sha256 $(sha256sum <"$archive" | cut -d' ' -f1)"
  name=$(basename "$root")
  (
    flock 9
    if [ "$(cat "$root/.unpacked-from" 2>/dev/null)" = "$identity" ]; then exit 0; fi
    echo "Unpacking $archive to $root"
    unpack=$(mktemp -d "$root.unpack.XXXXXX")
    trap 'rm -rf "$unpack"' EXIT
    tar -xJf "$archive" -C "$unpack"
    echo "$identity" >"$unpack/$name/.unpacked-from"
    # Between the two renames there is no copy at all, never part of one.
    if [ -e "$root" ]; then mv "$root" "$unpack/previous"; fi
    mv "$unpack/$name" "$root"
  ) 9>"$root.lock"
}

# QtKeychain built against the kit's Qt (the Credential Manager backend, a static library), an archive
# of its own beside the kit. Its CMake files find their folder wherever it is, so each checkout unpacks
# it into its own build folder.
qtkeychain_root="$top/build/windows-qtkeychain"
qtkeychain_archive_candidates=(
  "${CORVANE_QTKEYCHAIN_KIT:-}"
  "$top/tools/windows-kit/qtkeychain-0.13.2-mingw64.tar.xz"
  "$top/../shared/windows-kit/qtkeychain-0.13.2-mingw64.tar.xz"
)

# Unpacks QtKeychain to $qtkeychain_root unless it came from an archive of the same content.
unpack_qtkeychain() {
  local archive="" candidate identity
  for candidate in "${qtkeychain_archive_candidates[@]}"; do
    if [ -n "$candidate" ] && [ -f "$candidate" ]; then archive=$candidate; break; fi
  done
  if [ -z "$archive" ]; then
    echo "QtKeychain for Windows (qtkeychain-0.13.2-mingw64.tar.xz) was not found; name it with" >&2
    echo "CORVANE_QTKEYCHAIN_KIT=/path/to/it (looked in: ${qtkeychain_archive_candidates[*]})." >&2
    exit 1
  fi
  identity="sha256 $(sha256sum <"$archive" | cut -d' ' -f1)"
  if [ "$(cat "$qtkeychain_root/.unpacked-from" 2>/dev/null)" = "$identity" ]; then return; fi
  rm -rf "$qtkeychain_root"
  mkdir -p "$qtkeychain_root"
  tar -xJf "$archive" -C "$qtkeychain_root" --strip-components=1
  echo "$identity" >"$qtkeychain_root/.unpacked-from"
}

# The cache variables of a configure preset in CMakePresets.json, as -D options.
preset_options() {
  python3 - "$top/CMakePresets.json" "$1" <<'PY'
import json, sys
presets = json.load(open(sys.argv[1]))["configurePresets"]
preset = next(p for p in presets if p["name"] == sys.argv[2])
for name, value in preset.get("cacheVariables", {}).items():
    print(f"-D{name}={value}")
PY
}

# configure_windows <build folder> <cmake options...>
configure_windows() {
  local build=$1
  shift
  # pkg-config reads the kit's .pc files only, never the host's.
  PKG_CONFIG_LIBDIR="$kit_root/deps/lib/pkgconfig" PKG_CONFIG_PATH="" \
    "$kit_root/qt6-mingw/bin/qt-cmake" -S "$top" -B "$build" -G Ninja --no-warn-unused-cli \
    -DCMAKE_PREFIX_PATH="$kit_root/deps;$qtkeychain_root" -DCMAKE_FIND_ROOT_PATH="$kit_root/deps;$qtkeychain_root" \
    "$@" >/dev/null
}

# add_wine_fonts <Wine prefix>: Wine's own Tahoma, which Wine 8 from Debian does not find by itself, into
# the prefix's font folder. Windows' dialog font (MS Shell Dlg) is Tahoma; without it Qt falls back to the
# first font it is offered (DejaVu Math TeX Gyre), and line edits show no text in that font.
add_wine_fonts() {
  local fonts="$1/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  cp -u /usr/share/wine/fonts/tahoma*.ttf "$fonts/"
}

# The C++ runtime of mingw-w64 that every program of the cross build needs beside it.
mingw_runtime_dlls=(
  /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll
  /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc_s_seh-1.dll
  /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll
)

# lay_out_dlls <folder> [Test]: copies the Qt and runtime DLLs and the plugins a window needs.
lay_out_dlls() {
  local folder=$1 module
  shift
  mkdir -p "$folder/platforms" "$folder/styles" "$folder/imageformats"
  for module in Core Gui Widgets "$@"; do
    cp -u "$kit_root/qt6-mingw/bin/Qt6$module.dll" "$folder/"
  done
  cp -u "${mingw_runtime_dlls[@]}" "$folder/"
  cp -u "$kit_root/qt6-mingw/plugins/platforms/qwindows.dll" "$folder/platforms/"
  cp -u "$kit_root/qt6-mingw/plugins/styles/qwindowsvistastyle.dll" "$folder/styles/"
  cp -u "$kit_root"/qt6-mingw/plugins/imageformats/*.dll "$folder/imageformats/"
}

# make_installer <dist folder> <setup.exe>: the per-user installer of the folder (packaging/windows/corvane.nsi),
# made with Debian's NSIS.
make_installer() {
  local dist=$1 setup=$2
  local version
  version=$(sed -n 's/^project(Corvane VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
  makensis -V2 -DDIST="$(readlink -f "$dist")" -DOUTFILE="$(readlink -m "$setup")" -DVERSION="$version" \
    -DICON="$top/packaging/icons/corvane.ico" "$top/packaging/windows/corvane.nsi"
}
