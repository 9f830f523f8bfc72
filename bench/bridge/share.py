"""Ten PJLink controllers polling once a second while a person clicks through the command port, then
controllers coming and going for a soak, with the bridge's resident memory through it."""
import selectors
import socket
import statistics
import sys
import time

from peer import controller, read_line, resident_kib

pjlink, commands, seconds, soak, pid = (int(argument) for argument in sys.argv[1:6])
POLLS = (b"%1POWR ?", b"%1ERST ?", b"%1LAMP ?", b"%1AVMT ?")
CLICK = b"FREZ   0"


def summary(times):
    times = sorted(times)
    return (f"median {statistics.median(times):7.3f} ms, "
            f"p99 {statistics.quantiles(times, n=100, method='inclusive')[-1]:7.3f} ms, max {times[-1]:7.3f} ms")


class Peer:
    def __init__(self, sock, requests, interval, start):
        self.sock, self.requests, self.interval = sock, requests, interval
        self.sock.setblocking(False)
        self.buffer, self.sent_at, self.next_at, self.turn = b"", None, start, 0
        self.times = []


def share():
    selector = selectors.DefaultSelector()
    start = time.monotonic()
    peers = [Peer(controller(pjlink, f"127.0.0.{2 + i}"), POLLS, 1.0, start + i / 10) for i in range(10)]
    person = socket.create_connection(("127.0.0.1", commands))
    person.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    # A click every 300 ms, about a person's pace through a menu.
    clicker = Peer(person, (CLICK,), 0.3, start + 0.05)
    for peer in peers + [clicker]:
        selector.register(peer.sock, selectors.EVENT_READ, peer)
    while time.monotonic() < start + seconds:
        now = time.monotonic()
        for peer in peers + [clicker]:
            if peer.sent_at is None and now >= peer.next_at:
                peer.sock.sendall(peer.requests[peer.turn % len(peer.requests)] + b"\r")
                peer.turn += 1
                peer.sent_at = time.perf_counter_ns()
                peer.next_at += peer.interval
        for key, _ in selector.select(0.01):
            peer = key.data
            peer.buffer += peer.sock.recv(4096)
            while b"\r" in peer.buffer:
                _, peer.buffer = peer.buffer.split(b"\r", 1)
                peer.times.append((time.perf_counter_ns() - peer.sent_at) / 1e6)
                peer.sent_at = None
    polls = [t for peer in peers for t in peer.times]
    print(f"share  10 controllers, {len(polls):5} polls answered:  {summary(polls)}")
    print(f"share  click on the command port, {len(clicker.times):4} clicks: {summary(clicker.times)}")
    for peer in peers + [clicker]:
        peer.sock.close()


def churn():
    # Rounds of 16 controllers, two from each of eight addresses, each asking
    # once and leaving; the bridge's memory read once a minute.
    start, samples, rounds, refused = time.monotonic(), [resident_kib(pid)], 0, 0
    next_sample = start + 60
    while time.monotonic() < start + soak:
        socks = [controller(pjlink, f"127.0.0.{20 + i % 8}") for i in range(16)]
        refused += socks.count(None)
        for sock in filter(None, socks):
            sock.sendall(b"%1LAMP ?\r")
        for sock in filter(None, socks):
            read_line(sock)
            sock.close()
        rounds += 1
        time.sleep(0.05)
        if time.monotonic() >= next_sample:
            samples.append(resident_kib(pid))
            next_sample += 60
    samples.append(resident_kib(pid))
    print(f"soak   {soak} s, {rounds} rounds of 16 connections ({refused} refused), resident memory KiB: "
          + " ".join(str(sample) for sample in samples))


share()
churn()
