"""One PJLink controller's round trips to qvx-bridge, then the bridge's memory with 64 controllers."""
import socket
import statistics
import sys
import time

port, count, label, pid = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]


def resident_kib():
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def read_line(sock):
    line = b""
    while not line.endswith(b"\r"):
        chunk = sock.recv(256)
        if not chunk:
            raise SystemExit("the bridge closed the connection")
        line += chunk
    return line


def connect(source="127.0.0.1"):
    sock = socket.socket()
    sock.bind((source, 0))
    sock.connect(("127.0.0.1", port))
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    read_line(sock)
    return sock


def milliseconds(request):
    sock = connect()
    times = []
    for _ in range(count):
        start = time.perf_counter_ns()
        sock.sendall(request + b"\r")
        read_line(sock)
        times.append((time.perf_counter_ns() - start) / 1e6)
    sock.close()
    times.sort()
    return statistics.median(times), statistics.quantiles(times, n=100, method="inclusive")[-1]


for request in (b"%1POWR ?", b"%1LAMP ?"):
    median, p99 = milliseconds(request)
    print(f"{label:6} {request.decode():9} {count:5} requests: median {median:7.3f} ms, p99 {p99:7.3f} ms")

idle = resident_kib()
controllers = [connect(f"127.0.0.{2 + i // 8}") for i in range(64)]
for sock in controllers:
    sock.sendall(b"%1POWR ?\r")
    read_line(sock)
print(f"{label:6} resident memory: {idle} KiB idle, {resident_kib()} KiB with 64 controllers")
