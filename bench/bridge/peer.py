"""What the bridge's benchmarks share: a PJLink controller's connection and the bridge's memory."""
import socket


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def read_line(sock):
    """The next line, its CR included, or None when the bridge closed the connection."""
    line = b""
    while not line.endswith(b"\r"):
        chunk = sock.recv(256)
        if not chunk:
            return None
        line += chunk
    return line


def controller(port, source="127.0.0.1"):
    """A connection past its greeting, or None when the bridge refused it."""
    sock = socket.socket()
    sock.bind((source, 0))
    sock.connect(("127.0.0.1", port))
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    if read_line(sock) is None:
        sock.close()
        return None
    return sock
