#!/usr/bin/python3
"""A scripted SFTP server for the tests (asyncssh): it logs a user in by password or by
keyboard-interactive, which the fixtures' sshd cannot offer without the machine's own accounts,
serves a folder as "/", and shows faults a real server cannot be made to show.

--command-log gets each request, before it is answered, as the FTP command that does the same
("STOR /a", "RNFR /a" and "RNTO /b", "DELE", "MKD", "MLSD", "SITE CHMOD 755 /a"), so the
engine's tests judge both protocols by one log."""
import argparse
import asyncio
import os

import asyncssh

# The prefix of the names a safe upload sends its copy under.
SAFE_UPLOAD_TEMPORARY = b'zandrel-upload-'


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--host-key", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--auth", choices=["password", "keyboard-interactive"], required=True)
    parser.add_argument("--command-log")
    parser.add_argument("--bandwidth", type=int, help="bytes/s written to each file")
    # No posix-rename@openssh.com, and a rename over an existing file is refused; with
    # "lose-temporary" or "short-temporary" a safe upload's copy vanishes or keeps only its first
    # half when closed.
    parser.add_argument("--rename-fault",
                        choices=["refuse-replace", "lose-temporary", "short-temporary"])
    parser.add_argument("--chmod-fault", action="store_true", help="refuse every chmod")
    parser.add_argument("--full-at", type=int, help="writes past this offset fail: disk full")
    args = parser.parse_args()

    if args.rename_fault:
        handler = asyncssh.sftp.SFTPServerHandler
        handler._extensions = [e for e in handler._extensions
                               if e[0] != b'posix-rename@openssh.com']

    def log(*parts):
        if args.command_log:
            with open(args.command_log, "ab") as out:
                out.write(b" ".join(parts) + b"\n")

    class Server(asyncssh.SSHServer):
        def begin_auth(self, username):
            return True

        def password_auth_supported(self):
            return args.auth == "password"

        def validate_password(self, username, password):
            return username == args.user and password == args.password

        def kbdint_auth_supported(self):
            return args.auth == "keyboard-interactive"

        def get_kbdint_challenge(self, username, lang, submethods):
            return "", "", "", [("Password: ", False)]

        def validate_kbdint_response(self, username, responses):
            return username == args.user and list(responses) == [args.password]

    class Sftp(asyncssh.SFTPServer):
        def __init__(self, channel):
            super().__init__(channel, chroot=args.root)
            self.paths = {}  # open file -> the name it was opened by

        def open(self, path, pflags, attrs):
            written = pflags & asyncssh.FXF_WRITE
            # A write that keeps what the file holds goes on with it, as REST and STOR would.
            kept = written and not pflags & asyncssh.FXF_TRUNC
            log(b"APPE" if kept else b"STOR" if written else b"RETR", path)
            file = super().open(path, pflags, attrs)
            if written:
                self.paths[file] = path
            return file

        async def write(self, file, offset, data):
            if args.bandwidth:
                await asyncio.sleep(len(data) / args.bandwidth)
            if args.full_at is not None and offset + len(data) > args.full_at:
                raise asyncssh.SFTPFailure("No space left on device")
            return super().write(file, offset, data)

        def close(self, file):
            super().close(file)
            path = self.paths.pop(file, None)
            if path is None or not os.path.basename(path).startswith(SAFE_UPLOAD_TEMPORARY):
                return
            local = self.map_path(path)
            if args.rename_fault == "lose-temporary":
                os.remove(local)
            elif args.rename_fault == "short-temporary":
                os.truncate(local, os.path.getsize(local) // 2)

        def rename(self, oldpath, newpath):
            log(b"RNFR", oldpath)
            log(b"RNTO", newpath)
            return super().rename(oldpath, newpath)

        def posix_rename(self, oldpath, newpath):
            log(b"RNFR", oldpath)
            log(b"RNTO", newpath)
            return super().posix_rename(oldpath, newpath)

        def remove(self, path):
            log(b"DELE", path)
            return super().remove(path)

        def mkdir(self, path, attrs):
            log(b"MKD", path)
            return super().mkdir(path, attrs)

        def rmdir(self, path):
            log(b"RMD", path)
            return super().rmdir(path)

        def listdir(self, path):
            log(b"MLSD", path)
            return super().listdir(path)

        def setstat(self, path, attrs):
            if attrs.permissions is not None:
                log(b"SITE CHMOD", b"%o" % (attrs.permissions & 0o7777), path)
                if args.chmod_fault:
                    raise asyncssh.SFTPPermissionDenied("chmod is not allowed here")
            return super().setstat(path, attrs)

    async def serve():
        await asyncssh.listen("127.0.0.1", args.port, server_factory=Server,
                              server_host_keys=[args.host_key], sftp_factory=Sftp)
        await asyncio.Event().wait()

    asyncio.run(serve())


if __name__ == "__main__":
    main()
