# Sourced by scripts/build-console.sh and scripts/console-system-test.sh: apt on a private
# configuration in build-console/apt that lists the archives this machine already uses, as
# deb-src (Debian's source packages) and as deb for mipsel (the kernel, busybox and the libraries
# whose sources cannot be had), so that the machine's own apt setup stays as it is.
# Needs $out (build-console/) set.
apt_dir=$out/apt
private_apt() {
  private_apt_tool apt-get "$@"
}
private_apt_tool() {
  tool=$1
  shift
  "$tool" -q -o APT::Architecture=mipsel -o APT::Architectures::=mipsel \
    -o Dir::Etc::SourceList="$apt_dir/sources.list" \
    -o Dir::Etc::SourceParts="$apt_dir/sources.list.d" -o Dir::State::Lists="$apt_dir/lists" \
    -o Dir::Cache="$apt_dir/cache" -o APT::Sandbox::User=root "$@"
}
write_sources() {
  mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  : >"$apt_dir/sources.list"
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^[[:space:]]*deb[[:space:]]\(.*\)/deb-src \1\ndeb \1/p' /etc/apt/sources.list \
      >>"$apt_dir/sources.list"
  fi
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    sed 's/^Types:.*/Types: deb-src deb/' "$file" >"$apt_dir/sources.list.d/$(basename "$file")"
  done
  for file in /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]\(.*\)/deb-src \1\ndeb \1/p' "$file" >>"$apt_dir/sources.list"
  done
  private_apt update
  mkdir -p "$out/stamps"
  touch "$out/stamps/apt-sources"
}
# Makes the private lists once.
private_apt_ready() {
  [ -f "$out/stamps/apt-sources" ] || write_sources
}
