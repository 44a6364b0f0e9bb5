# Sourced by the install scripts: a private apt configuration whose entries are derived from the
# machine's own apt sources, so the system's apt setup stays untouched and no archive address is
# written down anywhere in the project.
#
#   apt_private DIR TYPE [SUITE]
#     writes DIR/sources.list and DIR/sources.list.d/ with the machine's entries turned into TYPE
#     entries (deb or deb-src). With SUITE, only the entries of the machine's own release suite
#     are kept (not its -updates or -security suites), renamed to SUITE: an older release's main
#     suite is complete on its own. Sets the array aptopts to the options that make apt-get use DIR
#     for its lists, its cache and an empty package status.
#   apt_private_mirror DIR
#     prints the address of the first entry in DIR (for debootstrap).

apt_private() {
  local dir=$1 type=$2 suite=${3:-} own f
  own=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial" "$dir/sources.list.d"
  rm -f "$dir/sources.list.d/"*
  : > "$dir/sources.list"
  : > "$dir/status"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk -v type="$type" -v own="$own" -v suite="$suite" '
      $1 == "deb" {
        line = $0; sub(/^[ \t]*deb[ \t]+/, "", line); options = ""
        if (line ~ /^\[/) { options = substr(line, 1, index(line, "]")) " "; line = substr(line, index(line, "]") + 1) }
        n = split(line, field, /[ \t]+/); if (field[1] == "") { for (i = 1; i < n; i++) field[i] = field[i + 1]; n-- }
        if (suite != "") { if (field[2] != own) next; field[2] = suite }
        out = type " " options field[1]; for (i = 2; i <= n; i++) out = out " " field[i]; print out
      }' "$f" >> "$dir/sources.list"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v type="$type" -v own="$own" -v suite="$suite" 'BEGIN { RS = ""; FS = "\n" }
      { keep = (suite == ""); out = ""
        for (i = 1; i <= NF; i++) {
          line = $i
          if (line ~ /^Types:/) line = "Types: " type
          if (line ~ /^Suites:/ && suite != "") {
            n = split(line, word, /[ \t]+/); for (j = 2; j <= n; j++) if (word[j] == own) keep = 1
            line = "Suites: " suite
          }
          out = out line "\n"
        }
        if (keep) printf "%s\n", out }' "$f" > "$dir/sources.list.d/$(basename "$f")"
  done
  aptopts=(-o "Dir::Etc::SourceList=$dir/sources.list"
           -o "Dir::Etc::SourceParts=$dir/sources.list.d"
           -o "Dir::State::Lists=$dir/lists"
           -o "Dir::State::status=$dir/status"
           -o "Dir::Cache=$dir/cache"
           -o "APT::Sandbox::User=root")
}

apt_private_mirror() {
  local dir=$1 f
  {
    awk '$1 == "deb" { sub(/\[[^]]*\]/, ""); print $2 }' "$dir/sources.list"
    for f in "$dir/sources.list.d/"*.sources; do
      [ -f "$f" ] || continue
      awk '/^URIs:/ { print $2 }' "$f"
    done
  } | head -n1
}
