# shellcheck shell=bash
# Sourced, not run: the Debian packages a script needs, installed on demand.
#
# install_packages LIST installs those of the packages named in the file LIST
# (one a line; blank lines and lines starting with # are skipped) that are
# not installed yet, through sudo unless already root.
install_packages() {
  local list=$1 wanted missing=() pkg
  mapfile -t wanted < <(grep -v '^\s*#' "$list" | sed '/^\s*$/d')
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  ((${#missing[@]})) || return 0
  echo "Installing: ${missing[*]}"
  local sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
