# shellcheck shell=bash
# Sourced, not run: the Debian packages a script needs, installed on demand.
#
# install_packages LIST... installs those of the packages named in the files
# LIST (one a line; blank lines and lines starting with # are skipped) that are
# not installed yet, through sudo unless already root. It names them and says
# why sudo asks before it does, and waits for another program that is
# installing packages instead of failing on its lock.
install_packages() {
  local wanted missing list
  for list in "$@"; do
    [[ -r $list ]] || { echo "No list of packages at $list" >&2; return 1; }
  done
  mapfile -t wanted < <(grep -hv '^\s*#' "$@" | sed '/^\s*$/d')
  ((${#wanted[@]})) || return 0
  mapfile -t missing < <(comm -23 <(printf '%s\n' "${wanted[@]}" | sort -u) \
    <(dpkg-query -W -f='${db:Status-Status} ${Package}\n' 2>/dev/null | sed -n 's/^installed //p' | sort -u))
  ((${#missing[@]})) || return 0
  echo "Installing the Debian packages that are missing: ${missing[*]}"
  local sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then
    echo "Installing packages takes administrator rights, so sudo may ask for your password; it is used for nothing else."
    sudo_cmd=(sudo)
  fi
  local wait_seconds=900
  if package_manager_busy; then
    echo "Another program is installing or updating packages; waiting for it to finish (at most $((wait_seconds / 60)) minutes)."
  fi
  local apt=("${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout="$wait_seconds")
  if ! "${apt[@]}" update -qq || ! "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"; then
    echo "The packages could not be installed (apt's reason is above). Once that is sorted out, run this again." >&2
    return 1
  fi
}

# True while another program holds one of the package manager's locks. apt
# and dpkg take them with fcntl (a flock does not stop them); /proc/locks
# lists every lock, by inode, to every user, so no root rights are needed.
package_manager_busy() {
  local lock inode
  for lock in /var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock /var/cache/apt/archives/lock; do
    inode=$(stat -c %i "$lock" 2>/dev/null) || continue
    awk -v inode="$inode" '/POSIX|OFDLCK/ {
      for (i = 1; i <= NF; i++)
        if ($i ~ /^[0-9a-f]+:[0-9a-f]+:[0-9]+$/) { n = split($i, id, ":"); if (id[n] == inode) found = 1 }
    } END { exit !found }' /proc/locks && return 0
  done
  return 1
}
