#!/bin/sh
# Starts vsftpd, proftpd or pure-ftpd for the test fixtures with a virtual user mapped to the
# local user "ftp", changing nothing on the machine. Run as root inside a private mount namespace:
#
#   unshare --mount --propagation private /bin/sh ftpd-run.sh KIND DIR ROOT USER PASSWORD COMMAND...
#
# DIR is the fixture's folder (vsftpd.conf names pam_service_name=zandrel-vsftpd, proftpd.conf
# AuthUserFile DIR/passwd), ROOT the user's home; the last step runs COMMAND.
set -eu
kind=$1
dir=$2
root=$3
user=$4
# SHA-512 crypt: cheap to check, unlike pure-pw's argon2id default.
hash=$(printf '%s' "$5" | openssl passwd -6 -stdin)
shift 5
ftp="$(id -u ftp):$(id -g ftp)"
# ROOT goes to ftp, with a default ACL giving ftp full access to whatever the test (as root)
# writes below it later; ftp must pass through the temporary folders above it.
/usr/bin/python3 -c 'import os, pwd, struct, sys
ftp = pwd.getpwnam("ftp")
# posix_acl_xattr: version 2, then (tag, perm, id) sorted by tag: user::rwx, user:ftp:rwx,
# group::r-x, mask::rwx, other::r-x.
acl = struct.pack("<I" + "HHI" * 5, 2, 1, 7, 2**32 - 1, 2, 7, ftp.pw_uid, 4, 5, 2**32 - 1,
                  0x10, 7, 2**32 - 1, 0x20, 5, 2**32 - 1)
for folder, folders, files in os.walk(sys.argv[1]):
    for path in [folder] + [os.path.join(folder, name) for name in folders + files]:
        os.lchown(path, ftp.pw_uid, ftp.pw_gid)
    try:
        os.setxattr(folder, "system.posix_acl_default", acl)
    except OSError:
        pass # without ACL support the ownership alone must do
folder = os.path.dirname(sys.argv[1])
while folder.startswith(os.path.realpath(os.environ.get("TMPDIR", "/tmp")) + "/"):
    os.chmod(folder, os.stat(folder).st_mode & 0o7777 | 0o001)
    folder = os.path.dirname(folder)' "$root"
mkdir -p "$dir/empty" # vsftpd's secure_chroot_dir
case $kind in
vsftpd)
    # pam_userdb reads Berkeley DB files; Debian's python3 writes them through dbm.ndbm.
    /usr/bin/python3 -c 'import dbm.ndbm, sys
db = dbm.ndbm.open(sys.argv[1], "n", 0o600)
db[sys.argv[2]] = sys.argv[3]
db.close()' "$dir/users" "$user" "$hash"
    # The tmpfs hides the machine's PAM files from this namespace only.
    mount -t tmpfs -o mode=0755,size=1m zandrel-pam /etc/pam.d
    printf 'auth required pam_userdb.so db=%s/users crypt=crypt\naccount required pam_userdb.so db=%s/users crypt=crypt\n' \
        "$dir" "$dir" >/etc/pam.d/zandrel-vsftpd
    ;;
proftpd)
    (umask 077 && echo "$user:$hash:$ftp::$root:/bin/false" >"$dir/passwd")
    ;;
pure-ftpd)
    # "/./" chroots the user to its home.
    echo "$user:$hash:$ftp::$root/./::::::::::::" >"$dir/users.passwd"
    "$(dirname "$1")/../bin/pure-pw" mkdb "$dir/users.pdb" -f "$dir/users.passwd"
    ;;
esac
exec "$@"
