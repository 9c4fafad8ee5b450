# Sourced by the adapters when BENCH_SERVER is sshd: gives the run's HOME (BENCH_STATE) the
# bench key as ~/.ssh/id_ed25519 and the bench server's host key in ~/.ssh/known_hosts, and
# puts ssh/sftp wrappers first on PATH that use exactly those (OpenSSH's own tools take their
# folder from the password database, not HOME, and must not read the machine user's ~/.ssh).
ssh_home() {
  mkdir -p -m 700 "$BENCH_STATE/.ssh" "$BENCH_STATE/bin"
  install -m 600 "$BENCH_SSH_KEY" "$BENCH_STATE/.ssh/id_ed25519"
  install -m 644 "$BENCH_SSH_KEY.pub" "$BENCH_STATE/.ssh/id_ed25519.pub"
  install -m 600 "$BENCH_SSH_KNOWN_HOSTS" "$BENCH_STATE/.ssh/known_hosts"
  local t port
  # sftp gets the bench port too: sitecopy runs "sftp user@host" and gives no port
  for t in ssh sftp; do
    port=; [ $t = sftp ] && port="-P $BENCH_PORT"
    printf '#!/bin/sh\nexec /usr/bin/%s -F /dev/null -i "%s" -o IdentitiesOnly=yes -o BatchMode=yes -o UserKnownHostsFile="%s" -o StrictHostKeyChecking=yes %s "$@"\n' \
      "$t" "$BENCH_STATE/.ssh/id_ed25519" "$BENCH_STATE/.ssh/known_hosts" "$port" > "$BENCH_STATE/bin/$t"
    chmod 755 "$BENCH_STATE/bin/$t"
  done
}
[ "${BENCH_SERVER:-}" = sshd ] && export PATH="$BENCH_STATE/bin:$PATH"
unset SSH_AUTH_SOCK
