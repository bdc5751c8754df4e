// Frames built byte by byte for the tests and the fuzzer's seeds; nothing here needs Qt.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumeno::test {

using Bytes = std::vector<std::uint8_t>;

struct Ipv4Fields {
    std::uint8_t protocol = 6;
    std::uint32_t source = 0x0A000001, destination = 0xC0A80165;  // 10.0.0.1, 192.168.1.101
    std::uint16_t sourcePort = 80, destinationPort = 1025;
    std::size_t payload = 8;     // bytes after the ports
    int ihl = 5, version = 4;    // ihl: the header length in 32-bit words
    int totalLength = -1;        // -1: the real length
    std::uint16_t fragment = 0;  // flags and fragment offset
};

// 2001:db8::1 (source) and 2001:db8:0:1::65 (destination).
inline const Bytes kIpv6Source = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
inline const Bytes kIpv6Destination = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1,
                                       0,    0,    0,    0,    0, 0, 0, 0x65};

// One extension header; its first byte (the next header) is filled in by Ipv6().
struct Extension {
    std::uint8_t type;
    Bytes bytes;
};
// Appends the low n bytes of v, most significant first.
inline void Put(Bytes& b, std::uint32_t v, int n) {
    while (n-- > 0) b.push_back(std::uint8_t(v >> (8 * n)));
}

// An IPv4 datagram with a TCP or UDP header start (ports, then payload).
inline Bytes Ipv4(const Ipv4Fields& s = {}) {
    const std::size_t header = std::max(std::size_t(s.ihl) * 4, std::size_t{20});
    Bytes b = {std::uint8_t((s.version << 4) | (s.ihl & 0x0F)), 0};
    Put(b, std::uint32_t(s.totalLength < 0 ? int(header + 4 + s.payload) : s.totalLength), 2);
    Put(b, (0x1234u << 16) | s.fragment, 4);                     // identification, fragment
    Put(b, (64u << 24) | (std::uint32_t(s.protocol) << 16), 4);  // time to live, protocol, checksum
    Put(b, s.source, 4);
    Put(b, s.destination, 4);
    b.resize(header, 0x01);  // options: no-ops
    Put(b, (std::uint32_t(s.sourcePort) << 16) | s.destinationPort, 4);
    for (std::size_t i = 0; i < s.payload; ++i) b.push_back(std::uint8_t(i));
    return b;
}

// Hop-by-hop, routing, destination options and others of their form: (units + 1) * 8 bytes.
inline Extension Options(std::uint8_t type, std::uint8_t units = 0) {
    Bytes b((units + 1u) * 8, 0x00);
    b[1] = units;
    b[2] = 0x01;  // a PadN option over the rest
    b[3] = std::uint8_t(b.size() - 4);
    return {type, b};
}

// A fragment header with the given offset (in 8-byte units) and more-fragments flag.
inline Extension Fragment(std::uint16_t offset, bool more = false) {
    Bytes b = {0, 0};
    Put(b, (std::uint32_t(offset) << 3) | (more ? 1u : 0u), 2);
    Put(b, 0xC0FFEE01, 4);  // identification
    return {44, b};
}

// An authentication header of (words + 2) * 4 bytes.
inline Extension Authentication(std::uint8_t words = 1) {
    Bytes b((words + 2u) * 4, 0xA5);
    b[1] = words;
    return {51, b};
}

struct Ipv6Fields {
    std::uint8_t next = 6;  // what follows the last extension header
    Bytes source = kIpv6Source, destination = kIpv6Destination;
    std::uint16_t sourcePort = 80, destinationPort = 1025;
    std::size_t payload = 8;  // bytes after the ports
    std::vector<Extension> extensions = {};
    int payloadLength = -1;  // -1: the real length
    int version = 6;
    Bytes rest = {};  // when given, these bytes follow the ports instead
};

// An IPv6 datagram with its extension headers and a TCP or UDP header start.
inline Bytes Ipv6(const Ipv6Fields& s = {}) {
    Bytes tail;
    for (std::size_t i = 0; i < s.extensions.size(); ++i) {
        Bytes h = s.extensions[i].bytes;
        h[0] = i + 1 < s.extensions.size() ? s.extensions[i + 1].type : s.next;
        tail.insert(tail.end(), h.begin(), h.end());
    }
    Put(tail, (std::uint32_t(s.sourcePort) << 16) | s.destinationPort, 4);
    for (std::size_t i = 0; i < s.payload && s.rest.empty(); ++i) tail.push_back(std::uint8_t(i));
    tail.insert(tail.end(), s.rest.begin(), s.rest.end());
    Bytes b;
    Put(b, (std::uint32_t(s.version) << 28) | 0x00012345, 4);  // class 0, a flow label
    Put(b, std::uint32_t(s.payloadLength < 0 ? int(tail.size()) : s.payloadLength), 2);
    b.push_back(s.extensions.empty() ? s.next : s.extensions[0].type);
    b.push_back(64);  // hop limit
    b.insert(b.end(), s.source.begin(), s.source.end());
    b.insert(b.end(), s.destination.begin(), s.destination.end());
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

// An Ethernet frame from 00:1a:2b:3c:4d:5e to aa:bb:cc:dd:ee:ff, behind the given VLAN tags.
inline Bytes Ethernet(const Bytes& payload, const std::vector<std::uint16_t>& tags = {},
                      std::uint16_t etherType = 0x0800) {
    Bytes b = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    for (std::uint16_t tag : tags) Put(b, (std::uint32_t(tag) << 16) | 0x0064, 4);  // VLAN 100
    Put(b, etherType, 2);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

// The payload behind a link-layer header.
inline Bytes Behind(Bytes head, const Bytes& payload) {
    head.insert(head.end(), payload.begin(), payload.end());
    return head;
}

// Linux cooked captures, version 1 and 2, sent by 00:1a:2b:3c:4d:5e (with an address length
// of 6).
inline Bytes Sll(const Bytes& payload, std::uint16_t addrLen = 6, std::uint16_t protocol = 0x0800) {
    Bytes b = {0, 0, 0, 1};
    Put(b, addrLen, 2);
    b.insert(b.end(), {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0, 0});
    Put(b, protocol, 2);
    return Behind(b, payload);
}
inline Bytes Sll2(const Bytes& payload, std::uint8_t addrLen = 6, std::uint16_t protocol = 0x0800) {
    Bytes b;
    Put(b, protocol, 2);
    b.insert(b.end(),
             {0, 0, 0, 0, 0, 2, 0, 1, 0, addrLen, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0, 0});
    return Behind(b, payload);
}

}  // namespace lumeno::test
