# Sourced by the CI checks that start a server of their own.
#
# free_port [PORT...]: prints a loopback port nothing listens on, other than the ones given
# (handed out already, though nothing listens on them yet). It is drawn below the range the
# kernel hands out to outgoing connections, so that none of theirs takes it before the server
# binds it. Fails after 50 tries.
free_port() {
  local port
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 12000))
    [[ " $* " == *" $port "* ]] && continue
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}
