# shellcheck shell=bash
# Helpers shared by scripts/windows-deps and scripts/build-windows (sourced, not run).

# mingw_triple ARCH: the compiler prefix of a Windows architecture.
mingw_triple() {
  case "$1" in
    x86) echo i686-w64-mingw32 ;;
    x64) echo x86_64-w64-mingw32 ;;
    *) echo "unknown architecture '$1' (x86 or x64)" >&2; return 1 ;;
  esac
}

# quietly LOG CMD...: runs CMD with its output in LOG; on failure shows the end of LOG.
quietly() {
  local log=$1
  shift
  mkdir -p "$(dirname "$log")"
  # A function run as a condition would lose errexit, so it runs in a subshell that keeps it.
  local rc=0
  set +e
  (set -e; "$@") >"$log" 2>&1
  rc=$?
  set -e
  if [ "$rc" -ne 0 ]; then
    echo "failed: $*" >&2
    echo "---- last lines of $log ----" >&2
    tail -n 40 "$log" >&2
    return 1
  fi
}

# check_system_imports ARCH FILE [ALLOWED...]: FILE must import nothing but Windows' own DLLs
# (and the named extra DLLs); a user has no mingw runtime DLL to give it.
check_system_imports() {
  local arch=$1 file=$2
  shift 2
  local allowed=" kernel32.dll msvcrt.dll user32.dll gdi32.dll opengl32.dll glu32.dll advapi32.dll"
  allowed+=" shell32.dll ole32.dll comdlg32.dll ws2_32.dll winmm.dll"
  local extra
  for extra in "$@"; do allowed+=" ${extra,,}"; done
  local dll bad=()
  while read -r dll; do
    case " $allowed " in *" ${dll,,} "*) continue ;; esac
    case "${dll,,}" in api-ms-win-*) continue ;; esac
    bad+=("$dll")
  done < <("$(mingw_triple "$arch")-objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p')
  if [ "${#bad[@]}" -gt 0 ]; then
    echo "$file imports DLLs a user would not have: ${bad[*]}" >&2
    return 1
  fi
}

# runtime_dll_names ARCH: the compiler's run-time DLLs that the program and Lua51.dll import on
# that architecture (none where they are linked in), dependencies of each other included.
runtime_dll_names() {
  case "$1" in
    x86) echo libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll ;;
    *) ;;
  esac
}

# runtime_dll_path ARCH DLL: where the compiler keeps one of them.
runtime_dll_path() {
  local triple path
  triple=$(mingw_triple "$1") || return 1
  path=$("$triple-g++-posix" -print-file-name="$2")
  if [ ! -f "$path" ]; then
    echo "the compiler's $2 is missing (is g++-mingw-w64 installed?)" >&2
    return 1
  fi
  echo "$path"
}

# skip_reason ARCH: why this machine cannot run the programs of that architecture under Wine,
# or nothing when it can.
skip_reason() {
  case "$1" in
    x86)
      local scripts_dir
      scripts_dir=$(dirname "${BASH_SOURCE[0]}")
      "$scripts_dir/runs-32bit" || return 0
      if [ ! -x /usr/lib/wine/wine ] || ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null |
        grep -q "install ok installed"; then
        echo "32-bit Wine (wine32:i386) is not installed"
      fi
      ;;
    *) ;;
  esac
}
