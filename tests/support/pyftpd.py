#!/usr/bin/python3
# A pyftpdlib FTP server for tests and demos; run with Debian's /usr/bin/python3.
#
#   pyftpd.py --root DIR [--user U] [--password P] [--host 127.0.0.1] [--port N]
#             [--pasv-min A --pasv-max B] [--bandwidth BYTES_PER_S]
#             [--command-log FILE] [--list-full-paths]
#
# Port 0 lets the system choose; the chosen port is printed as "port N". Every command
# received is appended to --command-log as sent ("PASS <password>" for passwords) before it
# is answered.

import argparse
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


class FullPathFS(AbstractedFS):
    """Names every listed entry by its full server path, as some servers do."""

    def _full(self, basedir, name, lines):
        full = self.fs2ftp(os.path.join(basedir, name))
        tail = name.encode('utf8', 'replace') + b'\r\n'
        for line in lines:
            if line.endswith(tail):
                line = line[:-len(tail)] + full.encode('utf8', 'replace') + b'\r\n'
            yield line

    def format_list(self, basedir, listing, ignore_err=True):
        for name in listing:
            yield from self._full(basedir, name, AbstractedFS.format_list(
                self, basedir, [name], ignore_err))

    def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
        for name in listing:
            yield from self._full(basedir, name, AbstractedFS.format_mlsx(
                self, basedir, [name], perms, facts, ignore_err))


def main():
    parser = argparse.ArgumentParser(description='pyftpdlib test server')
    parser.add_argument('--root', required=True)
    parser.add_argument('--user', default='test')
    parser.add_argument('--password', default='test')
    parser.add_argument('--host', default='127.0.0.1')
    parser.add_argument('--port', type=int, default=0)
    parser.add_argument('--pasv-min', type=int, default=0)
    parser.add_argument('--pasv-max', type=int, default=0)
    parser.add_argument('--bandwidth', type=int, default=0)
    parser.add_argument('--command-log', default='')
    parser.add_argument('--list-full-paths', action='store_true')
    args = parser.parse_args()

    logging.basicConfig(stream=sys.stderr, level=logging.INFO,
                        format='[%(asctime)s] %(message)s')

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, os.path.abspath(args.root),
                        perm='elradfmwMT')

    command_log = open(args.command_log, 'a', buffering=1,
                       encoding='utf8', errors='replace') if args.command_log else None

    class Handler(FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            if command_log:
                command_log.write('PASS <password>\n' if cmd == 'PASS' else line + '\n')
            return FTPHandler.pre_process_command(self, line, cmd, arg)

    Handler.authorizer = authorizer
    Handler.permit_foreign_addresses = True
    if args.pasv_min and args.pasv_max:
        Handler.passive_ports = range(args.pasv_min, args.pasv_max + 1)
    if args.list_full_paths:
        Handler.abstracted_fs = FullPathFS
    if args.bandwidth > 0:
        dtp = type('Throttled', (ThrottledDTPHandler,), {})
        dtp.read_limit = args.bandwidth
        dtp.write_limit = args.bandwidth
        Handler.dtp_handler = dtp

    server = FTPServer((args.host, args.port), Handler)
    print('port %d' % server.address[1], flush=True)
    try:
        server.serve_forever()
    finally:
        server.close_all()


if __name__ == '__main__':
    main()
