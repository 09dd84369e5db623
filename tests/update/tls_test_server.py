"""HTTPS server for the update tests, with a fresh self-signed certificate that no client trusts.

Usage: /usr/bin/python3 tls_test_server.py ROOT
Serves the files under ROOT on 127.0.0.1 at a free port, prints the port on the first line of
standard output and runs until standard input closes.
"""
import functools
import http.server
import os
import ssl
import subprocess
import sys
import tempfile
import threading


def main():
    root = sys.argv[1]
    with tempfile.TemporaryDirectory() as keys:
        cert = os.path.join(keys, "cert.pem")
        key = os.path.join(keys, "key.pem")
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
             "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1",
             "-addext", "subjectAltName=IP:127.0.0.1"],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=root)
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        server.socket = context.wrap_socket(server.socket, server_side=True)
        print(server.server_address[1], flush=True)

        def stop_when_parent_goes():
            sys.stdin.read()
            server.shutdown()

        threading.Thread(target=stop_when_parent_goes, daemon=True).start()
        server.serve_forever(poll_interval=0.1)


if __name__ == "__main__":
    main()
