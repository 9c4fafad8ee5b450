#!/bin/sh
# Starts vsftpd for the test fixtures with a virtual user and a private PAM setup, changing
# nothing on the machine. Run as root inside a private mount namespace:
#
#   unshare --mount --propagation private /bin/sh vsftpd-run.sh DIR SERVICE USER PASSWORD
#
# DIR holds vsftpd.conf (pam_service_name=SERVICE); the user database is written to DIR/users.db.
set -eu
dir=$1
service=$2
user=$3
password=$4

hash=$(printf '%s' "$password" | openssl passwd -6 -stdin)
# pam_userdb reads Berkeley DB files; Debian's python3 writes them through dbm.ndbm.
/usr/bin/python3 -c 'import dbm.ndbm, sys
db = dbm.ndbm.open(sys.argv[1], "n", 0o600)
db[sys.argv[2]] = sys.argv[3]
db.close()' "$dir/users" "$user" "$hash"

# The tmpfs hides the machine's PAM files from this namespace only.
mount -t tmpfs -o mode=0755,size=1m zandrel-pam /etc/pam.d
printf 'auth required pam_userdb.so db=%s/users crypt=crypt\naccount required pam_userdb.so db=%s/users crypt=crypt\n' \
    "$dir" "$dir" >"/etc/pam.d/$service"
exec /usr/sbin/vsftpd "$dir/vsftpd.conf"
