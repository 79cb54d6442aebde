#!/usr/bin/env bash
# Builds the Debian package and checks it as a new operator would meet it: the files it holds
# and those it must never hold, Debian's own checker, its maintainer scripts run into a
# temporary root (service user, samples copied only where the operator has nothing, a random
# password for the sample network), the systemd units and their sandbox, then the installed
# server started on the README's example network and administered with the installed
# velmora-admin (log in, kick, ban, list and lift the ban), and two instances of the template
# unit side by side.
set -euo pipefail
cd "$(dirname "$0")/../.."

fail() {
  echo "package: FAILED: $*" >&2
  exit 1
}
# shellcheck source=scripts/lib/free-port.sh
. scripts/lib/free-port.sh

if ! scripts/install-deps.sh package; then
  fail "could not install dpkg-dev, fakeroot, lintian and systemd"
fi

# A build of its own, optimised, of the two programs and what the package holds beside them:
# no tests, no load generator. With Debian's hardening flags for packages, all of them: checked
# string and memory functions, and a relocation table made read-only before the program runs.
build=build-package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
export DEB_CXXFLAGS_MAINT_STRIP=-g  # the package's binaries are stripped anyway
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF \
  -DVELMORA_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

work=$(mktemp -d /tmp/velmora-package.XXXXXX)
server_pid=
declare -A instance_pid=()
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  for pid in "${instance_pid[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in $(jobs -p); do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null) || fail "cpack -G DEB"
deb=$(ls "$work"/out/velmora_*.deb)
echo "package: built $(basename "$deb")"

# --- what the package holds --------------------------------------------------------------
[ "$(dpkg-deb -f "$deb" Package)" = velmora ] || fail "package name"
dpkg-deb -f "$deb" Depends | grep -q libsqlite3 || fail "no library dependencies found"
contents=$(dpkg-deb -c "$deb" | awk '{print $6, $7, $8}' | sed 's/ *$//')
for path in ./opt/velmora/velmora ./opt/velmora/velmora-admin \
  ./opt/velmora/share/samples/sample.conf ./opt/velmora/share/samples/velmora.conf \
  ./opt/velmora/share/doc/README.md ./lib/systemd/system/velmora.service \
  ./lib/systemd/system/velmora@.service ./usr/share/man/man8/velmora.8.gz \
  ./usr/share/man/man1/velmora-admin.1.gz ./usr/share/doc/velmora/copyright \
  ./usr/share/doc/velmora/changelog.Debian.gz \
  "./usr/bin/velmora-admin -> /opt/velmora/velmora-admin"; do
  grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done
programs=$(dpkg-deb -c "$deb" | awk '$1 ~ /^-..x/ { print $6 }' | sort | tr '\n' ' ')
[ "$programs" = "./opt/velmora/velmora ./opt/velmora/velmora-admin " ] ||
  fail "the package's programs are $programs, not the server and velmora-admin alone"
# dpkg replaces the files it owns on every upgrade: none of the operator's may be among them.
for path in ./opt/velmora/velmora.conf ./opt/velmora/velmora-server/ ./opt/velmora/velmora.db; do
  if grep -q "^$path" <<<"$contents"; then fail "the package would overwrite $path"; fi
done

# A plain cmake --install lays out the same files.
DESTDIR="$work/installed" cmake --install "$build" --prefix /opt/velmora >/dev/null
for path in opt/velmora/velmora opt/velmora/velmora-admin opt/velmora/share/samples/sample.conf \
  opt/velmora/share/samples/velmora.conf lib/systemd/system/velmora.service \
  lib/systemd/system/velmora@.service usr/share/man/man8/velmora.8.gz usr/bin/velmora-admin; do
  [ -e "$work/installed/$path" ] || [ -L "$work/installed/$path" ] ||
    fail "cmake --install lacks $path"
done

# Debian's checker: only what the lintian override file in the package explains may be left.
# (It says on standard error that root should not run it; that is all it says there.)
lintian_out=$(lintian --fail-on error,warning --display-level '>=warning' "$deb" \
  2>"$work/lintian.err") || fail "lintian: $lintian_out $(cat "$work/lintian.err")"
[ -z "$lintian_out" ] || echo "$lintian_out"
echo "package: lintian passes"

root="$work/root"
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"
for script in postinst prerm postrm; do
  [ -x "$work/control/$script" ] || fail "$script is not executable"
  sh -n "$work/control/$script" || fail "$script does not parse"
done

# --- the units --------------------------------------------------------------------------
units="$root/lib/systemd/system"
# systemd-analyze verify checks what the unit names too: pointed at the extracted files, and
# at the package's man pages for Documentation=. An instance's binary appears only once it
# runs (see the instances below), so the template is verified there.
verify_unit() {  # FILE [COMMAND...]: the command runs the check (nsenter, for an instance's view)
  local file=$1 complaints
  shift
  complaints=$("$@" env MANPATH="$root/usr/share/man" systemd-analyze verify "$file" 2>&1) ||
    fail "systemd-analyze verify $(basename "$file"): $complaints"
  [ -z "$complaints" ] || fail "systemd-analyze verify $(basename "$file") complains: $complaints"
}
rooted_unit() {  # FILE NAME: the unit with its paths inside the temporary root
  mkdir -p "$work/unit"
  sed "s|/opt/velmora|$root/opt/velmora|g; s|/var/lib/velmora|$root/var/lib/velmora|g" "$1" \
    >"$work/unit/$2"
  echo "$work/unit/$2"
}
verify_unit "$(rooted_unit "$units/velmora.service" velmora.service)"
echo "package: velmora.service passes systemd-analyze verify"
for line in "Type=notify" "ExecReload=/bin/kill -HUP \$MAINPID" "User=velmora" \
  "ExecStart=/opt/velmora/velmora" "WorkingDirectory=/opt/velmora" "Restart=on-failure" \
  "KillSignal=SIGTERM" "NoNewPrivileges=yes" "ReadWritePaths=/opt/velmora" \
  "Environment=XDG_DATA_HOME=/var/lib/velmora HOME=/var/lib/velmora" "LimitNOFILE=200000"; do
  grep -qxF "$line" "$units/velmora.service" || fail "the unit lacks $line"
done
# The sandbox, rated as systemd rates it (0 is shut tight, 10 wide open); the template shares
# every restriction but the single server's writable install folder.
hardening() { sed -n '/^NoNewPrivileges=/,/^SystemCallArchitectures=/p' "$1" | grep -v '^#'; }
diff <(hardening "$units/velmora.service" | grep -v '^ReadWritePaths=') \
  <(hardening "$units/velmora@.service") >/dev/null ||
  fail "velmora@.service is sandboxed otherwise than velmora.service"
for unit in velmora.service velmora@.service; do
  rating=$(systemd-analyze security --offline=true "$units/$unit" 2>&1 |
    sed -n 's/.*Overall exposure level for .*: \([0-9.]*\).*/\1/p')
  [ -n "$rating" ] || fail "systemd-analyze security rated no $unit"
  awk -v r="$rating" 'BEGIN { exit !(r <= 2.0) }' ||
    fail "$unit is exposed $rating, more than 2.0: systemd-analyze security --offline=true"
  echo "package: systemd-analyze security rates $unit's exposure $rating"
done

# --- the maintainer scripts into a temporary root ------------------------------------------
prepare_root() {
  mkdir -p "$1/etc"
  printf 'root:x:0:0:root:/root:/bin/sh\n' >"$1/etc/passwd"
  printf 'root:x:0:\n' >"$1/etc/group"
  printf 'root:*:19000:0:99999:7:::\n' >"$1/etc/shadow"
  printf 'root:*::\n' >"$1/etc/gshadow"
}
postinst() { DPKG_ROOT="$1" "$work/control/postinst" configure "$2" >"$work/postinst.out"; }
mode() { stat -c %a "$1"; }
owner_uid() { stat -c %u "$1"; }

prepare_root "$root"
postinst "$root" ""
grep -q '^velmora:x:[0-9]*:[0-9]*:.*:/var/lib/velmora:/usr/sbin/nologin$' "$root/etc/passwd" ||
  fail "postinst made no service user"
uid=$(awk -F: '$1 == "velmora" { print $3 }' "$root/etc/passwd")
home="$root/opt/velmora"
[ "$(mode "$home")" = 1775 ] || fail "install folder mode $(mode "$home")"
[ "$(owner_uid "$home/velmora")" = 0 ] || fail "the binary must stay root's"
for path in "$home/velmora.conf" "$home/velmora-server" "$home/velmora-server/sample.conf" \
  "$root/var/lib/velmora"; do
  [ -e "$path" ] || fail "postinst did not lay out $path"
  [ "$(owner_uid "$path")" = "$uid" ] || fail "$path is not the service user's"
done
[ "$(mode "$home/velmora-server")" = 750 ] || fail "networks folder mode"
cmp -s "$home/velmora.conf" "$home/share/samples/velmora.conf" || fail "settings sample"
# The sample network goes live with a password of its own, told once, never the known one.
sample_password() {  # ROOT
  sed -n 's/.* password="\([^"]*\)".*/\1/p' "$1/opt/velmora/velmora-server/sample.conf"
}
password=$(sample_password "$root")
[[ "$password" =~ ^[0-9a-f]{20}$ ]] || fail "the sample's password is '$password'"
grep -qF "$password" "$work/postinst.out" || fail "postinst did not tell the password"
diff <(sed 's/ password="[^"]*"//' "$home/velmora-server/sample.conf") \
  <(sed 's/ password="[^"]*"//' "$home/share/samples/sample.conf") >/dev/null ||
  fail "postinst changed the sample network beyond its password"

# An upgrade keeps the operator's settings and does not bring back a sample he removed.
echo '<settings><setting namestring="AttachedNIC" valuestring="operator" /></settings>' \
  >"$home/velmora.conf"
rm "$home/velmora-server/sample.conf"
postinst "$root" 0.1.0
grep -q operator "$home/velmora.conf" || fail "an upgrade overwrote velmora.conf"
[ ! -e "$home/velmora-server/sample.conf" ] || fail "an upgrade brought the sample back"
postinst "$root" 0.1.0  # and running twice is harmless
[ "$(grep -c '^velmora:' "$root/etc/passwd")" = 1 ] || fail "a second service user"

# A first install onto an operator's existing files leaves them and adds no sample.
other="$work/other"
dpkg-deb -x "$deb" "$other"
prepare_root "$other"
mkdir -p "$other/opt/velmora/velmora-server"
echo mine >"$other/opt/velmora/velmora.conf"
echo mine >"$other/opt/velmora/velmora-server/arena.conf"
postinst "$other" ""
[ "$(cat "$other/opt/velmora/velmora.conf")" = mine ] || fail "install overwrote velmora.conf"
[ "$(cat "$other/opt/velmora/velmora-server/arena.conf")" = mine ] || fail "network file"
[ ! -e "$other/opt/velmora/velmora-server/sample.conf" ] || fail "sample beside own networks"
rm "$other/opt/velmora/velmora-server/arena.conf"
postinst "$other" ""
[ "$(sample_password "$other")" != "$password" ] || fail "two installs, one sample password"
echo "package: postinst lays out the service user and the samples without overwriting"

# --- the installed server, administered with the installed tool -----------------------------
port=$(free_port) || fail "no free port"
# The guide's own example network, on a free port.
example=$(awk '/lobby\.conf`:$/ { found = 1 } found && /^```xml$/ { inside = 1; next }
  /^```$/ && inside { exit } inside' README.md)
[ -n "$example" ] || fail "README has no example network file"
sed "s/port=\"5000\"/port=\"$port\"/" <<<"$example" >"$home/velmora-server/lobby.conf"
printf '<?xml version="1.0"?>\n<settings><setting namestring="AttachedNIC" valuestring="" /></settings>\n' \
  >"$home/velmora.conf"
XDG_DATA_HOME="$root/var/lib/velmora" "$home/velmora" >"$work/server.out" 2>&1 &
server_pid=$!
log="$root/var/lib/velmora/com.velmora.log"
for _ in $(seq 1 500); do
  grep -q "Listening..." "$log" 2>/dev/null && break
  sleep 0.02
done
grep -q "Loaded Network: Lobby" "$log" || fail "the example network did not load: $(cat "$log")"

printf 'change me\n' >"$work/password"
admin() {
  local user=$1 host=$2
  shift 2
  timeout 60 "$home/velmora-admin" -H "$host" -p "$port" -n Lobby -u "$user" \
    --password-file "$work/password" "$@"
}
expect_status() {
  local want=$1
  shift
  local status=0
  "$@" >"$work/last.out" 2>&1 || status=$?
  [ "$status" = "$want" ] || fail "'$*' exited $status, not $want: $(cat "$work/last.out")"
}

expect_status 0 admin Operator 127.0.0.1 is-admin
expect_status 6 admin Ann 127.0.0.1 is-admin  # an administrator, but from another address

# The member: a watch from another address, so that banning it spares the administrator.
member_host=127.0.0.1
if "$home/velmora-admin" -H ::1 -p "$port" -n Lobby -u Probe --password-file "$work/password" \
  who >/dev/null 2>&1; then
  member_host=::1
fi
watch() {
  admin Bob "$member_host" watch >"$work/watch.out" 2>&1 &
  watch_pid=$!
  for _ in $(seq 1 250); do
    grep -q "Watching network" "$work/watch.out" && return
    sleep 0.02
  done
  fail "watch did not log in: $(cat "$work/watch.out")"
}
watch
expect_status 0 admin Operator 127.0.0.1 who
grep -q "^Bob " "$work/last.out" || fail "who does not list Bob"
expect_status 0 admin Operator 127.0.0.1 kick Bob please leave
status=0
wait "$watch_pid" || status=$?
[ "$status" = 9 ] || fail "the kicked watch exited $status"
grep -q "kicked: please leave" "$work/watch.out" || fail "no kick notice"

if [ "$member_host" = ::1 ]; then
  watch
  expect_status 0 admin Operator 127.0.0.1 ban Bob cheating
  wait "$watch_pid" || true
  expect_status 0 admin Operator 127.0.0.1 bans
  grep -q "::1 *Operator .*cheating" "$work/last.out" || fail "bans: $(cat "$work/last.out")"
  id=$(awk 'NR == 2 { print $1 }' "$work/last.out")
  expect_status 5 admin Bob ::1 who
  expect_status 0 admin Operator 127.0.0.1 unban "$id"
  expect_status 0 admin Bob ::1 who
  echo "package: installed server and tool: log-in, kick, ban, ban list and lifted ban"
else
  echo "package: no ::1 here; ban checks left to the test suite, kick checked"
fi

kill -TERM "$server_pid"
status=0
wait "$server_pid" || status=$?
server_pid=
[ "$status" = 0 ] || fail "the server exited $status on SIGTERM"
grep -q "Received quit signal." "$log" || fail "no orderly stop in the log"

# --- several servers on one host: two instances of velmora@.service ------------------------
# systemd does not run here, so each instance is started as the template would start it: the
# unit's folders and variables, read from the unit with %i replaced, inside the temporary root,
# and the installed binary mounted read-only onto velmora in the instance's folder, in a mount
# namespace of the server's own (a copy where namespaces are not allowed).
template="$units/velmora@.service"
unit_value() {  # KEY NAME
  sed -n "s/^$1=//p" "$template" |
    sed "s/%i/$2/g; s|/opt/velmora|$root/opt/velmora|g; s|/var/lib/velmora|$root/var/lib/velmora|g"
}
private_mounts=no
if unshare --mount true 2>/dev/null; then private_mounts=yes; fi
declare -A instance_port
start_instance() {  # NAME
  local name=$1 dir binary mount pre
  dir="$root/var/lib/velmora/instances/$name"
  [ "$(unit_value StateDirectory "$name")" = "velmora/instances/$name" ] || fail "StateDirectory"
  mount=$(unit_value BindReadOnlyPaths "$name")
  binary=$(unit_value ExecStart "$name")
  [ "${mount#*:}" = "$binary" ] || fail "the template runs $binary, not the binary it mounts"
  [ "$(unit_value WorkingDirectory "$name")" = "$dir" ] || fail "WorkingDirectory"
  mkdir -p "$dir/velmora-server"
  pre=$(unit_value ExecStartPre "$name")
  # shellcheck disable=SC2086  # a command line, word by word, as systemd splits it
  (cd "$dir" && ${pre#-}) || fail "ExecStartPre: $pre"
  cmp -s "$dir/velmora.conf" "$home/share/samples/velmora.conf" || fail "instance settings"
  instance_port[$name]=$(free_port "$port" "${instance_port[@]}") || fail "no free port"
  printf '<velmora><network name="%s" password="change me" maxusers="5" enabled="1" port="%s">
  <User Name="Operator" LastIP="127.0.0.1" IsAdmin="1" /></network></velmora>\n' \
    "$name" "${instance_port[$name]}" >"$dir/velmora-server/$name.conf"
  # The unit's Environment= line, word by word.
  if [ "$private_mounts" = yes ]; then
    touch "$binary"  # systemd makes the mount point as well
    (cd "$dir" && exec env $(unit_value Environment "$name") unshare --mount sh -c \
      'mount --bind -o ro "$1" "$2" && exec "$2"' sh "${mount%%:*}" "$binary") \
      >"$work/$name.out" 2>&1 &
  else
    cp "${mount%%:*}" "$binary"
    (cd "$dir" && exec env $(unit_value Environment "$name") "$binary") >"$work/$name.out" 2>&1 &
  fi
  instance_pid[$name]=$!
}
for name in One Two; do start_instance "$name"; done
for name in One Two; do
  dir="$root/var/lib/velmora/instances/$name"
  for _ in $(seq 1 500); do
    grep -q "Listening..." "$dir/com.velmora.log" 2>/dev/null && break
    sleep 0.02
  done
  grep -q "Loaded Network: $name" "$dir/com.velmora.log" ||
    fail "instance $name did not load its network: $(cat "$dir/com.velmora.log" "$work/$name.out")"
  [ "$(grep -c "Loaded Network" "$dir/com.velmora.log")" = 1 ] ||
    fail "instance $name loaded another's network"
  [ -e "$dir/velmora.db" ] || fail "instance $name has no database of its own"
done
instance_admin() {  # NAME PORT COMMAND
  timeout 60 "$home/velmora-admin" -p "$2" -n "$1" -u Operator --password-file "$work/password" "$3"
}
expect_status 0 instance_admin One "${instance_port[One]}" is-admin
expect_status 0 instance_admin Two "${instance_port[Two]}" is-admin
expect_status 3 instance_admin Two "${instance_port[One]}" who  # each serves its own network
expect_status 3 instance_admin One "${instance_port[Two]}" who
# Verified as the instance sees the file system, where its binary is mounted.
if [ "$private_mounts" = yes ]; then
  verify_unit "$(rooted_unit "$template" velmora@One.service)" \
    nsenter --mount --target "${instance_pid[One]}"
else
  verify_unit "$(rooted_unit "$template" velmora@One.service)"
fi
for name in One Two; do
  kill -TERM "${instance_pid[$name]}"
  status=0
  wait "${instance_pid[$name]}" || status=$?
  [ "$status" = 0 ] || fail "instance $name exited $status on SIGTERM"
  grep -q "Received quit signal." "$root/var/lib/velmora/instances/$name/com.velmora.log" ||
    fail "instance $name did not log its stop"
done
instance_pid=()
echo "package: two template instances side by side (binary mounted: $private_mounts), each" \
  "with its own network, database and log"
echo "package: passed"
