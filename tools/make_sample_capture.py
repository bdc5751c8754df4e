#!/usr/bin/env python3
"""Writes samples/sample.pcap: a synthetic minute of traffic of one workstation.

The monitored host is 192.168.1.101 on an Ethernet LAN behind the router 192.168.1.1.
The capture holds web browsing (HTTP and TLS), DNS, NTP, mail, an incoming SSH session,
an incoming port scan and an incoming UDP media stream, plus traffic every view must
ignore: ARP, ICMP, IPv6 and packets between other hosts. Every address outside the LAN
is from the documentation ranges or a well-known public service; no byte comes from a
real capture.

The output is the same on every run (fixed seed, fixed start time), so the file in the
repository can be checked against this script:

    python3 tools/make_sample_capture.py samples/sample.pcap

Only the Python standard library is used.
"""

import random
import struct
import sys

HOST_IP = "192.168.1.101"
HOST_MAC = "00:16:3e:5a:01:65"
ROUTER_IP = "192.168.1.1"
ROUTER_MAC = "00:0d:b9:4a:22:01"
LAN_PEER_IP = "192.168.1.20"
LAN_PEER_MAC = "3c:52:82:10:aa:14"
OTHER_HOST_IP = "192.168.1.50"
OTHER_HOST_MAC = "b8:27:eb:33:9c:02"
BROADCAST_MAC = "ff:ff:ff:ff:ff:ff"

START = 1796115600  # 2026-12-01 09:00:00 UTC
DURATION = 60.0

rng = random.Random(20261201)
frames = []  # (time, bytes)


def mac(text):
    return bytes(int(x, 16) for x in text.split(":"))


def ip4(text):
    return bytes(int(x) for x in text.split("."))


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def ethernet(dst, src, ethertype, payload):
    frame = mac(dst) + mac(src) + struct.pack("!H", ethertype) + payload
    return frame + b"\0" * max(0, 60 - len(frame))  # pad short frames as a NIC does


def ipv4(src, dst, proto, payload, ttl=64):
    ident = rng.randrange(0x10000)
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), ident, 0x4000, ttl,
                         proto, 0, ip4(src), ip4(dst))
    header = header[:10] + struct.pack("!H", checksum(header)) + header[12:]
    return header + payload


def transport_checksum(src, dst, proto, segment):
    pseudo = ip4(src) + ip4(dst) + struct.pack("!BBH", 0, proto, len(segment))
    return checksum(pseudo + segment)


def tcp(src, sport, dst, dport, seq, ack, flags, payload=b"", window=64240):
    header = struct.pack("!HHIIBBHHH", sport, dport, seq & 0xFFFFFFFF, ack & 0xFFFFFFFF,
                         5 << 4, flags, window, 0, 0)
    segment = header + payload
    csum = transport_checksum(src, dst, 6, segment)
    return ipv4(src, dst, 6, segment[:16] + struct.pack("!H", csum) + segment[18:])


def udp(src, sport, dst, dport, payload):
    segment = struct.pack("!HHHH", sport, dport, 8 + len(payload), 0) + payload
    csum = transport_checksum(src, dst, 17, segment) or 0xFFFF
    return ipv4(src, dst, 17, segment[:6] + struct.pack("!H", csum) + segment[8:])


def emit(t, frame):
    if 0 <= t < DURATION:
        frames.append((t, frame))


FIN, SYN, RST, PSH, ACK = 0x01, 0x02, 0x04, 0x08, 0x10
MSS = 1460


def mac_of(ip):
    """The MAC on the wire: LAN hosts have their own, everything else comes via the router."""
    return {HOST_IP: HOST_MAC, LAN_PEER_IP: LAN_PEER_MAC, OTHER_HOST_IP: OTHER_HOST_MAC}.get(
        ip, ROUTER_MAC)


def tcp_frame(src, sport, dst, dport, seq, ack, flags, payload=b""):
    return ethernet(mac_of(dst), mac_of(src), 0x0800,
                    tcp(src, sport, dst, dport, seq, ack, flags, payload))


def udp_frame(src, sport, dst, dport, payload, dst_mac=None):
    return ethernet(dst_mac or mac_of(dst), mac_of(src), 0x0800,
                    udp(src, sport, dst, dport, payload))


class Session:
    """One TCP connection from client to server, with both directions' sequence numbers."""

    def __init__(self, t, client, cport, server, sport, rtt=0.02):
        self.t, self.rtt = t, rtt
        self.c, self.cp, self.s, self.sp = client, cport, server, sport
        self.cseq, self.sseq = rng.randrange(1 << 32), rng.randrange(1 << 32)
        emit(self.t, tcp_frame(client, cport, server, sport, self.cseq, 0, SYN))
        self.t += rtt
        emit(self.t, tcp_frame(server, sport, client, cport, self.sseq, self.cseq + 1, SYN | ACK))
        self.t += 0.0002
        self.cseq += 1
        self.sseq += 1
        emit(self.t, tcp_frame(client, cport, server, sport, self.cseq, self.sseq, ACK))

    def client_sends(self, data, gap=0.0005):
        for i in range(0, len(data), MSS):
            chunk = data[i:i + MSS]
            self.t += gap
            emit(self.t, tcp_frame(self.c, self.cp, self.s, self.sp, self.cseq, self.sseq,
                                   PSH | ACK, chunk))
            self.cseq += len(chunk)
        self.t += self.rtt / 2
        emit(self.t, tcp_frame(self.s, self.sp, self.c, self.cp, self.sseq, self.cseq, ACK))

    def server_sends(self, data, gap=0.00012):
        self.t += self.rtt / 2
        for n, i in enumerate(range(0, len(data), MSS)):
            chunk = data[i:i + MSS]
            self.t += gap
            last = i + MSS >= len(data)
            emit(self.t, tcp_frame(self.s, self.sp, self.c, self.cp, self.sseq, self.cseq,
                                   (PSH | ACK) if last else ACK, chunk))
            self.sseq += len(chunk)
            if n % 2 == 1 or last:  # delayed ACK: one for every second segment
                emit(self.t + 0.00005,
                     tcp_frame(self.c, self.cp, self.s, self.sp, self.cseq, self.sseq, ACK))

    def close(self):
        self.t += 0.001
        emit(self.t, tcp_frame(self.c, self.cp, self.s, self.sp, self.cseq, self.sseq, FIN | ACK))
        self.t += self.rtt
        emit(self.t, tcp_frame(self.s, self.sp, self.c, self.cp, self.sseq, self.cseq + 1,
                               FIN | ACK))
        self.t += 0.0002
        emit(self.t, tcp_frame(self.c, self.cp, self.s, self.sp, self.cseq + 1, self.sseq + 1, ACK))


def noise(n):
    return bytes(rng.randrange(256) for _ in range(n))


next_port = [49152]


def ephemeral():
    next_port[0] += rng.randrange(1, 9)
    return next_port[0]


def dns_name(name):
    return b"".join(bytes([len(p)]) + p.encode() for p in name.split(".")) + b"\0"


def dns_lookup(t, name, answer):
    qid, port = rng.randrange(0x10000), ephemeral()
    question = dns_name(name) + struct.pack("!HH", 1, 1)
    query = struct.pack("!HHHHHH", qid, 0x0100, 1, 0, 0, 0) + question
    reply = (struct.pack("!HHHHHH", qid, 0x8180, 1, 1, 0, 0) + question +
             struct.pack("!HHHIH", 0xC00C, 1, 1, 300, 4) + ip4(answer))
    emit(t, udp_frame(HOST_IP, port, ROUTER_IP, 53, query))
    emit(t + 0.012, udp_frame(ROUTER_IP, 53, HOST_IP, port, reply))
    return t + 0.013


def tls_records(content_type, size):
    """TLS records of random (encrypted-looking) content, at most 16 KiB each."""
    out = b""
    while size > 0:
        part = min(size, 16384)
        out += bytes([content_type, 3, 3]) + struct.pack("!H", part) + noise(part)
        size -= part
    return out


def html_page(title, size):
    words = ("traffic host packet adapter capture address port window plot colour time "
             "network view image file record").split()
    body = []
    while sum(len(w) + 1 for w in body) < size:
        body.append(rng.choice(words))
    return ("<!DOCTYPE html>\n<html><head><title>%s</title></head>\n<body><p>%s</p></body></html>\n"
            % (title, " ".join(body))).encode()


def web_visit(t, name, server, page_size, tls):
    t = dns_lookup(t, name, server)
    s = Session(t, HOST_IP, ephemeral(), server, 443 if tls else 80, rtt=rng.uniform(0.01, 0.04))
    if tls:
        s.client_sends(tls_records(23, 512))
        s.server_sends(tls_records(23, 2900))
        s.client_sends(tls_records(23, 300))
        s.server_sends(tls_records(23, page_size))
    else:
        s.client_sends(("GET /index.html HTTP/1.1\r\nHost: %s\r\nUser-Agent: Mozilla/5.0\r\n"
                        "Accept: text/html\r\nConnection: close\r\n\r\n" % name).encode())
        page = html_page(name, page_size)
        s.server_sends(("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                        "Content-Length: %d\r\n\r\n" % len(page)).encode() + page)
    s.close()


def browsing():
    sites = [("example.com", "93.184.216.34", False), ("www.iana.org", "192.0.43.8", True),
             ("news.example.net", "198.51.100.80", True), ("docs.example.org", "203.0.113.80", False),
             ("cdn.example.net", "198.51.100.81", True), ("www.example.edu", "192.0.2.44", False)]
    t = 0.3
    while t < DURATION - 3:
        name, server, tls = rng.choice(sites)
        web_visit(t, name, server, rng.choice([2000, 6000, 15000, 30000]), tls)
        t += rng.uniform(1.5, 5.0)


def ntp():
    for t in (1.0, 33.0):
        port = 123
        request = bytes([0x23]) + b"\0" * 39 + struct.pack("!II", START + 2208988800, 0)
        emit(t, udp_frame(HOST_IP, port, "162.159.200.1", 123, request))
        emit(t + 0.018, udp_frame("162.159.200.1", 123, HOST_IP, port,
                                  bytes([0x24, 2, 0, 0xE9]) + noise(44)))


def mail():
    s = Session(12.0, HOST_IP, ephemeral(), "203.0.113.25", 587, rtt=0.03)
    s.server_sends(b"220 mail.example.org ESMTP ready\r\n")
    for line in (b"EHLO workstation.example.org\r\n", b"STARTTLS\r\n"):
        s.client_sends(line)
        s.server_sends(b"250 OK\r\n")
    s.client_sends(tls_records(23, 3500))
    s.server_sends(tls_records(23, 1800))
    s.close()
    imap = Session(40.0, HOST_IP, ephemeral(), "203.0.113.26", 993, rtt=0.03)
    imap.client_sends(tls_records(23, 517))
    imap.server_sends(tls_records(23, 16000))
    imap.close()


def ssh_session():
    s = Session(5.0, "198.51.100.7", 51022, HOST_IP, 22, rtt=0.05)
    s.server_sends(b"SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n")
    s.client_sends(b"SSH-2.0-OpenSSH_9.6\r\n")
    s.client_sends(noise(1500))
    s.server_sends(noise(1100))
    t = s.t
    while t < 50.0:  # typing: one keystroke out, its echo back
        t += rng.expovariate(4.0)
        s.t = t
        s.client_sends(noise(36), gap=0)
        s.server_sends(noise(36), gap=0)
        t = s.t
        if rng.random() < 0.05:
            s.server_sends(noise(rng.randrange(2000, 12000)))
            t = s.t
    s.close()


def port_scan():
    scanner, sport, t = "203.0.113.66", 61001, 20.0
    ports = list(range(1, 1025))
    rng.shuffle(ports)
    for port in ports:
        t += 0.004
        seq = rng.randrange(1 << 32)
        emit(t, tcp_frame(scanner, sport, HOST_IP, port, seq, 0, SYN))
        if port in (22, 80):
            emit(t + 0.0001, tcp_frame(HOST_IP, port, scanner, sport, 777, seq + 1, SYN | ACK))
            emit(t + 0.002, tcp_frame(scanner, sport, HOST_IP, port, seq + 1, 0, RST))
        else:
            emit(t + 0.0001, tcp_frame(HOST_IP, port, scanner, sport, 0, seq + 1, RST | ACK))


def media_stream():
    source, t, seqno = "198.51.100.20", 26.0, rng.randrange(0x10000)
    while t < 36.0:
        t += 0.02
        for _ in range(rng.choice([1, 1, 2, 3])):  # video frames span one to three packets
            rtp = struct.pack("!BBHII", 0x80, 96, seqno & 0xFFFF, int(t * 90000), 0x5EED)
            emit(t, udp_frame(source, 5004, HOST_IP, 5004, rtp + noise(rng.randrange(200, 1300))))
            seqno += 1
        if int(t * 50) % 250 == 0:  # a receiver report now and then
            emit(t + 0.001, udp_frame(HOST_IP, 5005, source, 5005, b"\x81\xc9\x00\x07" + noise(28)))


def lan_file_copy():
    """A LAN host pushing a backup to the monitored host's rsync daemon."""
    s = Session(45.0, LAN_PEER_IP, 50410, HOST_IP, 873, rtt=0.0004)
    s.server_sends(b"@RSYNCD: 31.0\n")
    s.client_sends(b"@RSYNCD: 31.0\nbackup\n")
    for _ in range(2):
        s.client_sends(noise(30000), gap=0.00005)
    s.close()


def ignored_traffic():
    """Frames every view must pass over."""
    t = 0.1
    while t < DURATION:
        # ARP: who has the router, and its answer.
        arp = struct.pack("!HHBBH", 1, 0x0800, 6, 4, 1) + mac(HOST_MAC) + ip4(HOST_IP) + \
            b"\0" * 6 + ip4(ROUTER_IP)
        emit(t, ethernet(BROADCAST_MAC, HOST_MAC, 0x0806, arp))
        # ICMP echo to the router.
        icmp = struct.pack("!BBHHH", 8, 0, 0, 0x1234, int(t)) + b"lumeno ping" * 3
        icmp = icmp[:2] + struct.pack("!H", checksum(icmp)) + icmp[4:]
        emit(t + 0.5, ethernet(ROUTER_MAC, HOST_MAC, 0x0800, ipv4(HOST_IP, ROUTER_IP, 1, icmp)))
        # IPv6 multicast DNS announcement from the monitored host.
        query = struct.pack("!HHHHHH", 0, 0, 1, 0, 0, 0) + dns_name("_ipp._tcp.local") + \
            struct.pack("!HH", 12, 1)
        src6 = bytes.fromhex("fe8000000000000002163efffe5a0165")
        dst6 = bytes.fromhex("ff0200000000000000000000000000fb")
        mdns = struct.pack("!HHHH", 5353, 5353, 8 + len(query), 0) + query
        csum = checksum(src6 + dst6 + struct.pack("!IxxxB", len(mdns), 17) + mdns)
        mdns = mdns[:6] + struct.pack("!H", csum) + mdns[8:]
        ipv6 = struct.pack("!IHBB", 0x60000000, len(mdns), 17, 255) + src6 + dst6
        emit(t + 1.0, ethernet("33:33:00:00:00:fb", HOST_MAC, 0x86DD, ipv6 + mdns))
        # Another LAN host browsing: TCP and UDP that is not the monitored host's.
        port = 40000 + int(t)
        emit(t + 1.5, udp_frame(OTHER_HOST_IP, port, "8.8.8.8", 53,
                                struct.pack("!HHHHHH", port, 0x0100, 1, 0, 0, 0) +
                                dns_name("example.org") + struct.pack("!HH", 1, 1)))
        emit(t + 1.6, tcp_frame(OTHER_HOST_IP, port, "198.51.100.90", 443, 1, 1, PSH | ACK,
                                noise(200)))
        t += 2.5


def write_pcap(path):
    frames.sort(key=lambda f: f[0])
    with open(path, "wb") as out:
        out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        for t, frame in frames:
            micros = round(t * 1e6)
            out.write(struct.pack("<IIII", START + micros // 1000000, micros % 1000000,
                                  len(frame), len(frame)))
            out.write(frame)


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "samples/sample.pcap"
    browsing()
    ntp()
    mail()
    ssh_session()
    port_scan()
    media_stream()
    lan_file_copy()
    ignored_traffic()
    write_pcap(path)
    print("%s: %d frames" % (path, len(frames)))


if __name__ == "__main__":
    main()
