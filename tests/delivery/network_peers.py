#!/usr/bin/env python3
"""Loopback peers for the network channels, and the driver that runs a test program beside them.

    network_peers.py OUTDIR -- COMMAND [ARGS...]

Starts, on 127.0.0.x only:
  - an aiosmtpd server with AUTH LOGIN over plain text (account "reporter", password
    "s3cret:pw"), whose whole dialogue goes to OUTDIR/plain-N.txt; every message is parsed with the email package and written to
    OUTDIR/mail-N/ as summary.txt (envelope, headers, parts) and part-K.bin (decoded bytes);
  - two scripted SMTP servers: one that splits its replies over several sends, offers AUTH
    in the old "AUTH=LOGIN" form and sends a continuation line longer than 1024 bytes (the
    raw DATA bytes go to OUTDIR/scripted-N.txt), one that greets with only "220" in its
    first send;
  - an http.server that reads the multipart/form-data body, checks that Content-Length
    equals the bytes received, parses it with the email package (OUTDIR/upload-N/) and
    answers by path: .../ok 200, .../redirect 302 with Location, .../redirect-file 302 to
    a file, .../fail 500, .../continue 100 then 200, .../silent nothing;
  - a dnslib DNS server on 127.0.0.1, .2, .3 and .4 (one port): MX and NS records, a
    referral chain from .2 (the "root") on, and hostile replies for names under
    hostile.test;
  - TLS peers with certificates made here by openssl (OUTDIR/tls/): "trusted" for
    localhost, 127.0.0.1 and 127.0.0.5, "untrusted" for the same names, "misnamed" for
    wrong.test only; OUTDIR/tls/trust.pem holds "trusted" and "misnamed", for the test to
    put beside its program. aiosmtpd offering STARTTLS (AUTH offered in clear text too),
    one requiring it, one offering it with the untrusted certificate, and one in TLS from
    the first byte on 127.0.0.5:465; each writes what crossed before TLS to
    OUTDIR/plain-N.txt. The http.server above in TLS with each certificate, and a CONNECT
    proxy that tunnels to 127.0.0.1 and writes each request line to OUTDIR/connect-N.txt.
The command runs with QX_SMTP_PORT, QX_SMTP_SCRIPTED_PORT, QX_SMTP_SHORT_PORT,
QX_HTTP_PORT, QX_DNS_PORT, QX_SMTP_STARTTLS_PORT, QX_SMTP_STARTTLS_REQUIRED_PORT,
QX_SMTP_STARTTLS_UNTRUSTED_PORT, QX_HTTPS_PORT, QX_HTTPS_UNTRUSTED_PORT,
QX_HTTPS_MISNAMED_PORT, QX_CONNECT_PROXY_PORT, QX_SMTP_IMPLICIT_TLS (set when 465 could
be bound) and QX_PEER_OUT (OUTDIR as a Wine path) set; its exit code is ours. Everything
stops when the command ends or after a hard limit.
"""
import asyncio
import base64
import email
import email.header
import email.policy
import http.server
import logging
import os
import select
import shutil
import signal
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import threading
import time
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword
from dnslib import DNSRecord, DNSHeader, RR, QTYPE, MX, NS, A

# aiosmtpd's own notes about its session fields, not about what we send.
warnings.simplefilter("ignore", DeprecationWarning)
logging.getLogger("mail.log").setLevel(logging.ERROR)

HARD_LIMIT_SECONDS = 900
ACCOUNT, PASSWORD = b"reporter", b"s3cret:pw"
OUT = None
counter_lock = threading.Lock()
counters = {}


def next_dir(kind):
    with counter_lock:
        counters[kind] = counters.get(kind, 0) + 1
        path = os.path.join(OUT, "%s-%d" % (kind, counters[kind]))
    os.makedirs(path, exist_ok=True)
    return path


def write_summary(path, lines):
    with open(os.path.join(path, "summary.txt"), "w", encoding="utf-8", newline="\n") as f:
        for line in lines:
            f.write(line + "\n")


def decoded_header(value):
    if value is None:
        return "(none)"
    return str(email.header.make_header(email.header.decode_header(value)))


def describe_parts(message, path, lines):
    """Appends one line per leaf part and writes its decoded bytes."""
    index = 0
    for part in message.walk():
        if part.is_multipart():
            continue
        index += 1
        data = part.get_payload(decode=True) or b""
        with open(os.path.join(path, "part-%d.bin" % index), "wb") as f:
            f.write(data)
        lines.append("part %d: %s; name=%s; filename=%s; encoding=%s; bytes=%d" % (
            index, part.get_content_type(), part.get_param("name", header="content-disposition")
            or part.get_param("name") or "", part.get_filename() or "",
            part.get("Content-Transfer-Encoding", ""), len(data)))


# ---- SMTP (aiosmtpd) -------------------------------------------------------------------

class MailRecorder:
    async def handle_DATA(self, server, session, envelope):
        if envelope.rcpt_tos == ["bench@example.test"]:
            return "250 OK"  # the benchmark measures the transfer, not our parsing
        path = next_dir("mail")
        raw = envelope.original_content or envelope.content
        with open(os.path.join(path, "raw.eml"), "wb") as f:
            f.write(raw)
        message = email.message_from_bytes(raw)
        login = session.auth_data.login.decode() if isinstance(session.auth_data, LoginPassword) else ""
        lines = ["mail from: " + envelope.mail_from,
                 "rcpt to: " + " ".join(envelope.rcpt_tos),
                 "auth: " + login]
        for name in ("To", "From", "Subject", "Date", "Message-ID", "MIME-Version"):
            lines.append("header %s: %s" % (name, decoded_header(message.get(name))))
        lines.append("raw subject: " + (message.get("Subject") or ""))
        lines.append("header count: %d" % len(message.keys()))
        tls = server.transport.get_extra_info("ssl_object") if server.transport else None
        lines.append("tls: " + (tls.version() if tls else "none"))
        lines.append("multipart: " + ("yes" if message.is_multipart() else "no"))
        if message.is_multipart():
            lines.append("boundary: " + (message.get_boundary() or ""))
        describe_parts(message, path, lines)
        write_summary(path, lines)
        return "250 OK"


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (mechanism == "LOGIN" and isinstance(auth_data, LoginPassword)
          and auth_data.login == ACCOUNT and auth_data.password == PASSWORD)
    return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)


def start_smtp(loop):
    factory = lambda: RecordingSMTP(MailRecorder(), hostname="peer.test", auth_require_tls=False,
                                    authenticator=authenticator, timeout=60)
    server = loop.run_until_complete(loop.create_server(factory, "127.0.0.1", 0))
    return server.sockets[0].getsockname()[1]


# ---- scripted SMTP -----------------------------------------------------------------------

def send_pieces(conn, pieces):
    for piece in pieces:
        conn.sendall(piece)
        time.sleep(0.05)  # separate sends, so the client's receives see the pieces apart


def read_line(conn, buffer):
    while b"\r\n" not in buffer[0]:
        data = conn.recv(4096)
        if not data:
            raise EOFError
        buffer[0] += data
    line, buffer[0] = buffer[0].split(b"\r\n", 1)
    return line


def scripted_session(conn):
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    buffer = [b""]
    send_pieces(conn, [b"220-scripted", b" peer\r\n220 ready\r\n"])
    read_line(conn, buffer)  # EHLO
    send_pieces(conn, [b"250-scripted\r\n250-" + b"x" * 1500 + b"\r\n",
                       b"250-AUTH=LOGIN\r\n25", b"0 OK\r\n"])
    replies = {b"AUTH": b"334 VXNlcm5hbWU6\r\n", b"MAIL": b"250 sender ok\r\n",
               b"RCPT": b"250 rcpt ok\r\n", b"QUIT": b"221 bye\r\n", b"RSET": b"250 reset\r\n"}
    logins = 0
    while True:
        line = read_line(conn, buffer)
        verb = line[:4].upper()
        if verb == b"DATA":
            send_pieces(conn, [b"354 go", b" ahead\r\n"])
            while b"\r\n.\r\n" not in buffer[0]:
                data = conn.recv(65536)
                if not data:
                    raise EOFError
                buffer[0] += data
            data, buffer[0] = buffer[0].split(b"\r\n.\r\n", 1)
            with open(next_dir("scripted") + "/data.txt", "wb") as f:
                f.write(data)
            send_pieces(conn, [b"250 ", b"queued\r\n"])
        elif verb in replies:
            send_pieces(conn, [replies[verb]])
            if verb == b"QUIT":
                return
        elif logins < 2:  # the account, then the password
            logins += 1
            send_pieces(conn, [b"334 UGFzc3dvcmQ6\r\n" if logins == 1 else b"235 welcome\r\n"])
        else:
            send_pieces(conn, [b"500 what\r\n"])


def short_greeting_session(conn):
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    send_pieces(conn, [b"220", b" ready\r\n"])
    conn.settimeout(5)
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass


class ScriptedHandler(socketserver.BaseRequestHandler):
    def handle(self):
        self.request.settimeout(30)
        try:
            self.server.session(self.request)
        except (EOFError, OSError):
            pass


def start_tcp(session):
    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), ScriptedHandler)
    server.daemon_threads = True
    server.session = session
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


# ---- HTTP --------------------------------------------------------------------------------

class UploadHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_POST(self):
        route = self.path.rsplit("/", 1)[-1]
        if route == "continue":
            self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
            self.wfile.flush()
        length = int(self.headers.get("Content-Length", "-1"))
        body = self.rfile.read(length) if length >= 0 else b""
        # Anything after Content-Length bytes would be a miscount (the benchmark's uploads
        # are not waited for: they measure the transfer).
        extra = b""
        if "/bench/" not in self.path:
            self.connection.settimeout(0.3)
            try:
                extra = self.connection.recv(65536)
            except OSError:
                pass
        self.connection.settimeout(30)
        path = next_dir("upload")
        with open(os.path.join(path, "body.bin"), "wb") as f:
            f.write(body)
        lines = ["request: %s %s %s" % (self.command, self.path, self.request_version),
                 "content length: %d; received: %d; extra after it: %d" % (length, len(body), len(extra))]
        for name in ("Host", "Connection", "Pragma", "User-Agent", "From", "Content-Type"):
            lines.append("header %s: %s" % (name, self.headers.get(name, "(none)")))
        auth = self.headers.get("Authorization", "")
        lines.append("authorization: " + (base64.b64decode(auth[6:]).decode("latin-1")
                                          if auth.startswith("Basic ") else "(none)"))
        lines.append("header count: %d" % len(self.headers.keys()))
        lines.append("tls: " + (self.connection.version() if isinstance(self.connection, ssl.SSLSocket)
                                else "none"))
        form = email.message_from_bytes(b"Content-Type: " + self.headers.get("Content-Type", "").encode()
                                        + b"\r\n\r\n" + body, policy=email.policy.HTTP)
        lines.append("defects: %d" % len(form.defects))
        index = 0
        for part in form.iter_parts() if form.is_multipart() else []:
            index += 1
            data = part.get_payload(decode=True) or b""
            with open(os.path.join(path, "part-%d.bin" % index), "wb") as f:
                f.write(data)
            lines.append("part %d: name=%s; filename=%s; type=%s; bytes=%d" % (
                index, part.get_param("name", header="content-disposition"), part.get_filename() or "",
                part.get_content_type(), len(data)))
        write_summary(path, lines)
        if route == "silent":
            time.sleep(3)
            return
        if route in ("redirect", "redirect-file"):
            target = "http://127.0.0.1/thanks?id=%d" % counters["upload"] if route == "redirect" \
                else "file:///c:/windows/system32/calc.exe"
            self.reply(b"302 Found", b"Location: " + target.encode() + b"\r\n")
        elif route == "fail":
            self.reply(b"500 Internal Server Error")
        else:
            self.reply(b"200 OK")

    def reply(self, status, headers=b""):
        self.wfile.write(b"HTTP/1.1 " + status + b"\r\n" + headers +
                         b"Content-Length: 2\r\nConnection: close\r\n\r\nok")
        self.wfile.flush()
        self.close_connection = True


def start_http():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), UploadHandler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


# ---- TLS ---------------------------------------------------------------------------------

def make_certificate(directory, name, names):
    """A self-signed server certificate for `names` (DNS names and IPv4 addresses)."""
    cert, key = os.path.join(directory, name + ".pem"), os.path.join(directory, name + ".key")
    san = ",".join(("IP:" if n[0].isdigit() else "DNS:") + n for n in names)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=" + names[0], "-addext", "subjectAltName=" + san],
                   check=True, capture_output=True, timeout=120)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return cert, context


def make_certificates():
    directory = os.path.join(OUT, "tls")
    os.makedirs(directory)
    names = ["localhost", "127.0.0.1", "127.0.0.5"]
    trusted, trusted_context = make_certificate(directory, "trusted", names)
    _, untrusted_context = make_certificate(directory, "untrusted", names)
    misnamed, misnamed_context = make_certificate(directory, "misnamed", ["wrong.test"])
    with open(os.path.join(directory, "trust.pem"), "wb") as out:
        for path in (trusted, misnamed):
            with open(path, "rb") as f:
                out.write(f.read())
    return {"trusted": trusted_context, "untrusted": untrusted_context, "misnamed": misnamed_context}


class RecordingSMTP(SMTP):
    """aiosmtpd that writes every byte received before TLS began to OUT/plain-N.txt."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        with counter_lock:
            counters["plain"] = counters.get("plain", 0) + 1
            self.plain_path = os.path.join(OUT, "plain-%d.txt" % counters["plain"])
        open(self.plain_path, "wb").close()

    def data_received(self, data):
        if self._tls_protocol is None and self.transport.get_extra_info("ssl_object") is None:
            with open(self.plain_path, "ab") as f:
                f.write(data)
        super().data_received(data)


def start_tls_smtp(loop, context, host="127.0.0.1", port=0, implicit=None, **options):
    factory = lambda: RecordingSMTP(MailRecorder(), hostname="peer.test", authenticator=authenticator,
                                    tls_context=context, timeout=60, **options)
    server = loop.run_until_complete(loop.create_server(factory, host, port, ssl=implicit))
    return server.sockets[0].getsockname()[1]


class TlsUploadServer(http.server.ThreadingHTTPServer):
    """The upload server in TLS; the handshake runs in the request's own thread."""
    daemon_threads = True

    def __init__(self, context):
        super().__init__(("127.0.0.1", 0), TlsUploadHandler)
        self.socket = context.wrap_socket(self.socket, server_side=True, do_handshake_on_connect=False)

    def handle_error(self, request, client_address):
        pass  # a client that refuses our certificate ends the handshake: expected


class TlsUploadHandler(UploadHandler):
    def setup(self):
        self.request.settimeout(30)
        self.request.do_handshake()
        super().setup()


def start_https(context):
    server = TlsUploadServer(context)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def pipe(a, b):
    """Copies both ways until either side closes or 30 s pass without a byte."""
    sockets = [a, b]
    while True:
        ready, _, _ = select.select(sockets, [], [], 30)
        if not ready:
            return
        for s in ready:
            data = s.recv(65536)
            if not data:
                return
            (b if s is a else a).sendall(data)


def connect_proxy_session(conn):
    buffer = [b""]
    request = read_line(conn, buffer)
    while read_line(conn, buffer):
        pass
    with open(os.path.join(OUT, "connect-%d.txt" % next_count("connect")), "wb") as f:
        f.write(request)
    parts = request.split()
    if len(parts) != 3 or parts[0] != b"CONNECT":
        conn.sendall(b"HTTP/1.1 405 Only CONNECT\r\n\r\n")
        return
    port = int(parts[1].rsplit(b":", 1)[1])
    with socket.create_connection(("127.0.0.1", port), timeout=10) as upstream:  # loopback only
        conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        upstream.sendall(buffer[0])
        pipe(conn, upstream)


def next_count(kind):
    with counter_lock:
        counters[kind] = counters.get(kind, 0) + 1
        return counters[kind]


def start_tls_peers(loop, env):
    contexts = make_certificates()
    env.update({
        "QX_SMTP_STARTTLS_PORT": str(start_tls_smtp(loop, contexts["trusted"], auth_require_tls=False)),
        "QX_SMTP_STARTTLS_REQUIRED_PORT": str(start_tls_smtp(loop, contexts["trusted"], require_starttls=True)),
        "QX_SMTP_STARTTLS_UNTRUSTED_PORT": str(start_tls_smtp(loop, contexts["untrusted"],
                                                              auth_require_tls=False)),
        "QX_HTTPS_PORT": str(start_https(contexts["trusted"])),
        "QX_HTTPS_UNTRUSTED_PORT": str(start_https(contexts["untrusted"])),
        "QX_HTTPS_MISNAMED_PORT": str(start_https(contexts["misnamed"])),
        "QX_CONNECT_PROXY_PORT": str(start_tcp(connect_proxy_session)),
    })
    try:  # the port that means TLS from the first byte; on an address of its own
        start_tls_smtp(loop, None, "127.0.0.5", 465, implicit=contexts["trusted"], auth_require_tls=False)
        env["QX_SMTP_IMPLICIT_TLS"] = "1"
    except OSError as error:
        print("port 465 on 127.0.0.5 is not available:", error, file=sys.stderr)


# ---- DNS ---------------------------------------------------------------------------------

def name_bytes(name):
    out = b""
    for label in name.split("."):
        out += bytes([len(label)]) + label.encode()
    return out + b"\0"


def hostile_reply(request_id, question, label):
    """Raw replies that break the rules in one way each."""
    head = lambda an, ns=0, rcode=0: struct.pack(">HBBHHHH", request_id, 0x81, 0x80 | rcode, 1, an, ns, 0)
    q = question
    rr = lambda data, owner=b"\xc0\x0c", rtype=15: owner + struct.pack(">HHIH", rtype, 1, 60, len(data)) + data
    if label == "loop":  # the exchange name points at itself
        at = 12 + len(q) + 12 + 2
        return head(1) + q + rr(struct.pack(">H", 10) + struct.pack(">H", 0xC000 | at))
    if label == "forward":  # a pointer past the end
        return head(1) + q + rr(struct.pack(">H", 10) + b"\xc1\xf0")
    if label == "truncated":  # three answers announced, one and a half present
        whole = rr(struct.pack(">H", 10) + name_bytes("127.0.0.1"))
        return head(3) + q + whole + whole[:7]
    if label == "length":  # a data length past the end
        return head(1) + q + b"\xc0\x0c" + struct.pack(">HHIH", 15, 1, 60, 4000) + b"\x00\x0a\x00"
    if label == "labels":  # 512 bytes: an answer whose name is one-byte labels to the end
        prefix = head(1) + q + b"\xc0\x0c"
        length = 512 - len(prefix) - 10
        data = b"\x00\x0a" + b"\x01x" * ((length - 2) // 2)
        data += b"\x01" * (length - len(data))
        return prefix + struct.pack(">HHIH", 15, 1, 60, length) + data
    if label == "rcode":
        return head(0, 0, 2) + q
    return None


class DnsPeer:
    def __init__(self):
        self.sockets = []
        port = 0
        for host in ("127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"):
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.bind((host, port))
            port = s.getsockname()[1]
            self.sockets.append(s)
        self.port = port
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            ready, _, _ = select.select(self.sockets, [], [], 1.0)
            for s in ready:
                try:
                    data, peer = s.recvfrom(4096)
                    for reply in self.replies(s.getsockname()[0], data):
                        s.sendto(reply, peer)
                except Exception as error:  # a bad request must not stop the peer
                    print("dns peer:", error, file=sys.stderr)

    def replies(self, host, data):
        request = DNSRecord.parse(data)
        qname = str(request.q.qname).rstrip(".")
        qtype = QTYPE[request.q.qtype]
        question = data[12:]
        parts = qname.split(".")
        if qname.endswith("hostile.test"):
            if parts[0] == "silent":
                return []
            if parts[0] == "wrongid":
                wrong = request.reply()
                wrong.header.id = (request.header.id + 1) & 0xFFFF
                wrong.add_answer(RR(qname, QTYPE.MX, rdata=MX("evil.test", 1)))
                right = request.reply()
                right.add_answer(RR(qname, QTYPE.MX, rdata=MX("mx.good.test", 5)))
                return [wrong.pack(), right.pack()]
            raw = hostile_reply(request.header.id, question, parts[0])
            return [raw] if raw is not None else []
        reply = request.reply()
        if host == "127.0.0.2":  # the root: refers every question on
            reply.add_auth(RR("test", QTYPE.NS, rdata=NS("127.0.0.3")))
        elif host == "127.0.0.3":
            if qtype == "NS" and qname == "iter.test":
                reply.add_answer(RR(qname, QTYPE.NS, rdata=NS("127.0.0.4")))
        elif host == "127.0.0.4":
            if qtype == "MX" and qname == "iter.test":
                reply.add_answer(RR(qname, QTYPE.MX, rdata=MX("mx.iter.test", 10)))
        elif qtype == "MX" and qname == "example.test":
            reply.add_answer(RR(qname, QTYPE.CNAME, rdata=NS("alias.example.test")))
            reply.add_answer(RR(qname, QTYPE.MX, rdata=MX("mx1.example.test", 10)))
            reply.add_answer(RR(qname, QTYPE.MX, rdata=MX("mx2.example.test", 20)))
        elif qtype == "MX" and qname == "mail.example.test":
            reply.add_answer(RR(qname, QTYPE.MX, rdata=MX("parent-mx.example.test", 10)))
        elif qtype == "MX" and qname == "loopback.test":
            reply.add_answer(RR(qname, QTYPE.MX, rdata=MX("127.0.0.1", 10)))
        elif qtype == "NS" and qname == "example.test":
            reply.add_answer(RR(qname, QTYPE.NS, rdata=NS("ns1.example.test")))
        return [reply.pack()]


# ---- driver ------------------------------------------------------------------------------

def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    global OUT
    if "--" not in sys.argv or sys.argv.index("--") != 2:
        print(__doc__, file=sys.stderr)
        return 2
    OUT = os.path.abspath(sys.argv[1])
    command = sys.argv[3:]
    shutil.rmtree(OUT, ignore_errors=True)
    os.makedirs(OUT)
    signal.signal(signal.SIGALRM, lambda *args: os._exit(124))
    signal.alarm(HARD_LIMIT_SECONDS)

    loop = asyncio.new_event_loop()
    smtp_port = start_smtp(loop)
    tls_env = {}
    start_tls_peers(loop, tls_env)
    threading.Thread(target=loop.run_forever, daemon=True).start()
    env = dict(os.environ)
    env.update({
        "QX_SMTP_PORT": str(smtp_port),
        "QX_SMTP_SCRIPTED_PORT": str(start_tcp(scripted_session)),
        "QX_SMTP_SHORT_PORT": str(start_tcp(short_greeting_session)),
        "QX_HTTP_PORT": str(start_http()),
        "QX_DNS_PORT": str(DnsPeer().port),
        "QX_PEER_OUT": wine_path(OUT),
    })
    env.update(tls_env)
    try:
        result = subprocess.run(command, env=env, timeout=HARD_LIMIT_SECONDS - 30)
        code = result.returncode
    except subprocess.TimeoutExpired:
        print("the test program did not end in time", file=sys.stderr)
        code = 124
    loop.call_soon_threadsafe(loop.stop)
    return code


if __name__ == "__main__":
    sys.exit(main())
