"""FTP server for the update tests: serves ROOT on 127.0.0.1 at a free port.

Usage: /usr/bin/python3 ftp_test_server.py ROOT USER PASSWORD
Prints the port on the first line of standard output and runs until standard input closes.
"""
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, user, password = sys.argv[1:4]
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elr")
    authorizer.add_anonymous(root, perm="elr")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.banner = "update test server"
    handler.auth_failed_timeout = 0.1
    server = FTPServer(("127.0.0.1", 0), handler)
    server.max_cons = 16
    print(server.socket.getsockname()[1], flush=True)

    def stop_when_parent_goes():
        sys.stdin.read()
        server.close_all()

    threading.Thread(target=stop_when_parent_goes, daemon=True).start()
    try:
        server.serve_forever(timeout=0.1, handle_exit=False)
    except Exception:
        pass


if __name__ == "__main__":
    main()
