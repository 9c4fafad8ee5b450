#!/usr/bin/python3
"""A scripted SFTP server for the tests (asyncssh): it logs a user in by password or by
keyboard-interactive, which the fixtures' sshd cannot offer without the machine's own accounts,
and serves a folder as "/"."""
import argparse
import asyncio

import asyncssh


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--host-key", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--auth", choices=["password", "keyboard-interactive"], required=True)
    args = parser.parse_args()

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

    async def serve():
        await asyncssh.listen("127.0.0.1", args.port, server_factory=Server,
                              server_host_keys=[args.host_key],
                              sftp_factory=lambda channel: asyncssh.SFTPServer(channel,
                                                                               chroot=args.root))
        await asyncio.Event().wait()

    asyncio.run(serve())


if __name__ == "__main__":
    main()
