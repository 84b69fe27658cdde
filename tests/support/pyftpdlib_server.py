"""A pyftpdlib server for the tests: one user with full rights over one folder.

Started by the PyftpdlibServer launcher (tests/support/ftp_servers.cpp) with
Debian's /usr/bin/python3; it serves until it is terminated.
"""
import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--root", required=True)
    p.add_argument("--user", required=True)
    p.add_argument("--password", required=True)
    p.add_argument("--passive", required=True, help="first-last")
    args = p.parse_args()

    logging.basicConfig(stream=sys.stderr, level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")

    first, last = (int(x) for x in args.passive.split("-"))

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.passive_ports = range(first, last + 1)
    Handler.permit_foreign_addresses = False
    Handler.use_sendfile = False
    # A refused login is answered at once, as the other test servers are
    # configured to (pyftpdlib waits 3 s by default).
    Handler.auth_failed_timeout = 0

    server = FTPServer(("127.0.0.1", args.port), Handler)
    server.max_cons = 64
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
