#!/usr/bin/python3
# A pyftpdlib FTP server for tests and demos; run with Debian's /usr/bin/python3. Port 0 lets
# the system choose; the chosen port is printed as "port N". Every command received is appended
# to --command-log as sent ("PASS <password>" for passwords) before it is answered.

import argparse
import logging
import os
import socket
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


# Names a careless client would turn into paths outside its download folder. Every listing
# (MLSD and LIST) carries them after the real entries.
HOSTILE_NAMES = ['..', '.', '../escape.txt', '../../escape-dir', '/tmp/zandrel-absolute.txt',
                 'sub/../../up.txt', '']


class HostileFS(AbstractedFS):
    def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
        yield from AbstractedFS.format_mlsx(self, basedir, listing, perms, facts, ignore_err)
        for name in HOSTILE_NAMES:
            kind = 'dir' if name.endswith('dir') else 'file'
            yield ('modify=20260101120000;size=6;type=%s; %s\r\n' % (kind, name)).encode()

    def format_list(self, basedir, listing, ignore_err=True):
        yield from AbstractedFS.format_list(self, basedir, listing, ignore_err)
        for name in HOSTILE_NAMES:
            kind = 'd' if name.endswith('dir') else '-'
            yield ('%srw-r--r--   1 owner group 6 Jan 01 12:00 %s\r\n' % (kind, name)).encode()


class UnreadableFS(AbstractedFS):
    """Answers every listing with one line per entry that no listing form explains: an MLSD
    fact list without its closing ";", a LIST line without a date."""
    def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
        for name in listing:
            yield ('type=file;size=4 %s\r\n' % name).encode('utf8', 'surrogateescape')

    def format_list(self, basedir, listing, ignore_err=True):
        for name in listing:
            yield ('?rw-r--r--   1 owner group 4 someday %s\r\n' % name).encode(
                'utf8', 'surrogateescape')


# The prefix of the names a safe upload sends its copy under.
SAFE_UPLOAD_TEMPORARY = 'zandrel-upload-'


def rename_fault_handler(base, fault):
    """Refuses RNTO over an existing file, as some Windows servers do; with 'lose-temporary' a
    file stored under a safe upload's temporary name vanishes right after its 226 (as when
    another run renamed it away), with 'short-temporary' it keeps only its first half."""
    class RenameFault(base):
        def ftp_RNTO(self, path):
            if self._rnfr and self.fs.lexists(path):
                self._rnfr = None
                self.respond('550 Cannot create a file when that file already exists.')
                return None
            return base.ftp_RNTO(self, path)

        def on_file_received(self, file):
            base.on_file_received(self, file)
            if not os.path.basename(file).startswith(SAFE_UPLOAD_TEMPORARY):
                return
            if fault == 'lose-temporary':
                os.remove(file)
            elif fault == 'short-temporary':
                os.truncate(file, os.path.getsize(file) // 2)
    return RenameFault
# Servers that report success for a transfer that did not happen as a whole.
TRANSFER_FAULTS = {
    'stor-bare-226': 'answers STOR with 226 without using the data connection',
    'stor-truncate': 'keeps only the first half of every file stored',
    'retr-bare-226': 'answers RETR with 226 without using the data connection',
}


def with_transfer_fault(base, fault):
    class Faulty(base):
        def _answer_without_data(self):
            self._shutdown_connecting_dtp()
            if self.data_channel is not None:
                self.data_channel.close()
                self.data_channel = None
            self.respond('226 Transfer complete.')

        def ftp_STOR(self, file, mode='w'):
            if fault == 'stor-bare-226':
                return self._answer_without_data()
            return base.ftp_STOR(self, file, mode)

        def ftp_RETR(self, file):
            if fault == 'retr-bare-226':
                return self._answer_without_data()
            return base.ftp_RETR(self, file)

        def on_file_received(self, file):
            # Runs before the next command is read: the client's SIZE already sees the loss.
            if fault == 'stor-truncate':
                os.truncate(file, os.path.getsize(file) // 2)
            base.on_file_received(self, file)
    return Faulty


def with_pipelining_fault(base, fault):
    """As a proxy that cannot take commands sent together: of a read holding several command
    lines it passes on only the first ('drop'), or it closes the connection ('close')."""
    class Faulty(base):
        def recv(self, buffer_size):
            data = base.recv(self, buffer_size)
            end = data.find(b'\r\n')
            if 0 <= end < len(data) - 2:
                if fault == 'close':
                    self.close()
                    return b''
                data = data[:end + 2]
            return data
    return Faulty


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
    parser.add_argument('--idle-timeout', type=int, default=0)
    parser.add_argument('--certfile', default='')
    parser.add_argument('--keyfile', default='')
    parser.add_argument('--hostile-listing', action='store_true',
                        help='append entries whose names lead out of the listed folder')
    parser.add_argument('--rename-fault', default='',
                        choices=['', 'refuse-replace', 'lose-temporary', 'short-temporary'],
                        help='refuse RNTO over an existing file, and lose or cut short the '
                        'copies of safe uploads')
    parser.add_argument('--transfer-fault', choices=sorted(TRANSFER_FAULTS), default='',
                        help='; '.join('%s: %s' % item for item in TRANSFER_FAULTS.items()))
    parser.add_argument('--listing-fault', default='', choices=['', 'unreadable'],
                        help='answer LIST and MLSD with lines no listing form explains')
    parser.add_argument('--pipelining-fault', default='', choices=['', 'drop', 'close'],
                        help='mishandle commands that arrive together (see with_pipelining_fault)')
    args = parser.parse_args()

    logging.basicConfig(stream=sys.stderr, level=logging.INFO,
                        format='[%(asctime)s] %(message)s')

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, os.path.abspath(args.root),
                        perm='elradfmwMT')

    command_log = open(args.command_log, 'a', buffering=1,
                       encoding='utf8', errors='replace') if args.command_log else None

    base = FTPHandler
    if args.certfile:
        from pyftpdlib.handlers import TLS_FTPHandler
        base = TLS_FTPHandler
        base.certfile = args.certfile
        base.keyfile = args.keyfile

    class Handler(base):
        def pre_process_command(self, line, cmd, arg):
            if command_log:
                command_log.write('PASS <password>\n' if cmd == 'PASS' else line + '\n')
            return base.pre_process_command(self, line, cmd, arg)

    if args.rename_fault:
        Handler = rename_fault_handler(Handler, args.rename_fault)
    if args.transfer_fault:
        Handler = with_transfer_fault(Handler, args.transfer_fault)
    if args.pipelining_fault:
        Handler = with_pipelining_fault(Handler, args.pipelining_fault)
    Handler.authorizer = authorizer
    if args.hostile_listing:
        Handler.abstracted_fs = HostileFS
    if args.listing_fault == 'unreadable':
        Handler.abstracted_fs = UnreadableFS
    Handler.permit_foreign_addresses = True
    if args.idle_timeout > 0:
        Handler.timeout = args.idle_timeout
    if args.pasv_min and args.pasv_max:
        Handler.passive_ports = range(args.pasv_min, args.pasv_max + 1)
    if args.bandwidth > 0:
        bases = (ThrottledDTPHandler,)
        if args.certfile:
            from pyftpdlib.handlers import TLS_DTPHandler
            bases = (TLS_DTPHandler, ThrottledDTPHandler)
        def small_receive_buffer(self, sock, cmd_channel):
            # As behind a slow link: what the server has not written yet stays with the client,
            # not in megabytes of this side's kernel buffer filled between throttled reads.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 64 * 1024)
            bases[0].__init__(self, sock, cmd_channel)
        dtp = type('Throttled', bases, {'__init__': small_receive_buffer})
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
