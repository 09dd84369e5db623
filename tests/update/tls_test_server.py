"""HTTPS server for the update tests, with a certificate from a test certificate authority.

Usage: /usr/bin/python3 tls_test_server.py ROOT CA_FILE
Makes a fresh certificate authority, writes its certificate to CA_FILE (a client that trusts
that file trusts this server; no other client does) and serves the files under ROOT on
127.0.0.1 at a free port. A file NAME.location beside a requested NAME turns the answer into
a redirect (302) to the URL it holds. Prints the port on the first line of standard output
and runs until standard input closes.
"""
import functools
import http.server
import os
import ssl
import subprocess
import sys
import tempfile
import threading


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def make_certificates(keys, ca_file):
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    ca_key = os.path.join(keys, "ca.key")
    openssl("req", "-x509", *ec, "-keyout", ca_key, "-out", ca_file, "-days", "1",
            "-subj", "/CN=Trawlex update test CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign")
    key = os.path.join(keys, "key.pem")
    request = os.path.join(keys, "server.csr")
    cert = os.path.join(keys, "cert.pem")
    openssl("req", "-new", *ec, "-keyout", key, "-out", request, "-subj", "/CN=127.0.0.1")
    extensions = os.path.join(keys, "server.ext")
    with open(extensions, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\n")
    openssl("x509", "-req", "-in", request, "-CA", ca_file, "-CAkey", ca_key,
            "-CAcreateserial", "-out", cert, "-days", "1", "-extfile", extensions)
    return cert, key


class Handler(http.server.SimpleHTTPRequestHandler):
    def send_head(self):
        location = self.translate_path(self.path) + ".location"
        if os.path.isfile(location):
            with open(location) as f:
                target = f.read().strip()
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return None
        return super().send_head()

    def log_message(self, *args):
        pass


def main():
    root, ca_file = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as keys:
        cert, key = make_certificates(keys, ca_file)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        handler = functools.partial(Handler, directory=root)
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
