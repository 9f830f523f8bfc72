"""One PJLink controller's round trips to qvx-bridge, then the bridge's memory with 64 controllers."""
import statistics
import sys
import time

from peer import controller, read_line, resident_kib

port, count, label, pid = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]


def ask(sock, request):
    sock.sendall(request + b"\r")
    if read_line(sock) is None:
        raise SystemExit("the bridge closed the connection")


def milliseconds(request):
    sock = controller(port)
    times = []
    for _ in range(count):
        start = time.perf_counter_ns()
        ask(sock, request)
        times.append((time.perf_counter_ns() - start) / 1e6)
    sock.close()
    times.sort()
    return statistics.median(times), statistics.quantiles(times, n=100, method="inclusive")[-1]


for request in (b"%1POWR ?", b"%1LAMP ?"):
    median, p99 = milliseconds(request)
    print(f"{label:6} {request.decode():9} {count:5} requests: median {median:7.3f} ms, p99 {p99:7.3f} ms")

idle = resident_kib(pid)
controllers = [controller(port, f"127.0.0.{2 + i // 8}") for i in range(64)]
for sock in controllers:
    ask(sock, b"%1POWR ?")
print(f"{label:6} resident memory: {idle} KiB idle, {resident_kib(pid)} KiB with 64 controllers")
