// Writes fuzz seeds: IPv6 datagrams made here (extension-header chains, fragments, odd
// payload lengths, cut short) on every link layer, then frames from real capture files.
// One file a frame, its first byte the link type's selector. Frames of link types the
// decoder does not know are left out.
#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzInput.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// An IPv6 datagram from 2001:db8::1 to 2001:db8:0:1::65 whose extension headers (given by
// type, each the smallest of its kind, a fragment header with the given offset word) end
// in next, then ports 80 and 1025 and a few bytes. payloadLength < 0: the real length.
Bytes Ipv6(const std::vector<std::uint8_t>& headers, std::uint8_t next, int payloadLength = -1,
           std::uint16_t fragment = 0) {
    Bytes tail;
    for (std::size_t i = 0; i < headers.size(); ++i) {
        const std::uint8_t following = i + 1 < headers.size() ? headers[i + 1] : next;
        if (headers[i] == 44) {
            tail.insert(tail.end(), {following, 0, std::uint8_t(fragment >> 8),
                                     std::uint8_t(fragment), 0xC0, 0xFF, 0xEE, 0x01});
        } else if (headers[i] == 51) {
            tail.insert(tail.end(), {following, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
        } else if (headers[i] == 0 && payloadLength == 0) {
            tail.insert(tail.end(), {following, 0, 0xC2, 4, 0, 1, 0x38, 0x80});  // jumbo
        } else {
            tail.insert(tail.end(), {following, 0, 1, 4, 0, 0, 0, 0});
        }
    }
    tail.insert(tail.end(), {0, 80, 4, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0x50, 0x18, 0xFA, 0xF0});
    const std::size_t length = payloadLength < 0 ? tail.size() : std::size_t(payloadLength);
    Bytes b = {0x60,
               0x01,
               0x23,
               0x45,
               std::uint8_t(length >> 8),
               std::uint8_t(length),
               headers.empty() ? next : headers[0],
               64};
    b.insert(b.end(), {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
    b.insert(b.end(), {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x65});
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

Bytes Behind(Bytes head, const Bytes& datagram) {
    head.insert(head.end(), datagram.begin(), datagram.end());
    return head;
}

// The datagrams, each on every link layer and cut short at a few places.
std::vector<std::pair<int, Bytes>> Ipv6Seeds() {
    const std::vector<Bytes> datagrams = {
        Ipv6({}, 6),
        Ipv6({}, 17),
        Ipv6({0, 43, 60, 44, 51}, 6),
        Ipv6({135, 139, 140, 253, 254}, 17),
        Ipv6({44}, 17, -1, 0x0001),  // the first fragment of several
        Ipv6({44}, 17, -1, 0x0008),  // a later one
        Ipv6({0}, 50),
        Ipv6({}, 59),
        Ipv6({60}, 4),
        Ipv6({0}, 6, 0),  // a jumbogram
        Ipv6({}, 6, 3),
        Ipv6({}, 6, 60000),
        Ipv6(std::vector<std::uint8_t>(17, 60), 6),
    };
    std::vector<std::pair<int, Bytes>> frames;
    for (const Bytes& d : datagrams) {
        using namespace lumeno;
        const Bytes ethernet = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF,
                                0,    0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
        frames.push_back({linktype::kEthernet, Behind(Behind(ethernet, {0x86, 0xDD}), d)});
        frames.push_back(
            {linktype::kEthernet,
             Behind(Behind(ethernet, {0x88, 0xA8, 0, 1, 0x81, 0, 0, 2, 0x86, 0xDD}), d)});
        frames.push_back(
            {linktype::kLinuxSll,
             Behind({0, 0, 0, 1, 0, 6, 0, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0, 0, 0x86, 0xDD}, d)});
        frames.push_back(
            {linktype::kLinuxSll2, Behind({0x86, 0xDD, 0, 0,    0,    0,    0,    2,    0, 1,
                                           0,    6,    0, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0, 0},
                                          d)});
        for (int link :
             {linktype::kRaw, linktype::kRawOpenBSD, linktype::kRawLinktype, linktype::kIPv6}) {
            frames.push_back({link, d});
        }
        for (std::uint8_t family : {10, 24, 28, 30}) {
            frames.push_back({linktype::kNull, Behind({family, 0, 0, 0}, d)});
            frames.push_back({linktype::kLoop, Behind({0, 0, 0, family}, d)});
        }
    }
    const std::size_t whole = frames.size();
    for (std::size_t i = 0; i < whole; i += 3) {
        for (std::size_t cut : {7u, 23u, 41u, 47u}) {
            const Bytes& f = frames[i].second;
            if (f.size() > cut)
                frames.push_back({frames[i].first, Bytes(f.begin(), f.end() - cut)});
        }
    }
    return frames;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s CAPTURE_DIR SEED_DIR MAX_SEEDS\n", argv[0]);
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path out = argv[2];
    const long maxSeeds = std::stol(argv[3]);
    fs::create_directories(out);
    long written = 0;
    const auto seed = [&](int selector, const void* data, std::size_t size) {
        std::ofstream file(out / ("seed-" + std::to_string(written++)), std::ios::binary);
        file.put(static_cast<char>(selector));
        file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    };
    for (const auto& [linkType, frame] : Ipv6Seeds()) {
        seed(lumeno::fuzz::SelectorFromLinkType(linkType), frame.data(), frame.size());
    }
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(argv[1], ec)) {
        // The head of every pcap file (either byte order, micro- or nanoseconds) and pcapng
        // seeds the stream reader.
        unsigned char head[4000];
        std::ifstream in(entry.path(), std::ios::binary);
        in.read(reinterpret_cast<char*>(head), sizeof head);
        const std::size_t got = static_cast<std::size_t>(in.gcount());
        const unsigned magic = got >= 24 ? (head[0] << 8) | head[1] : 0;
        if (written < maxSeeds &&
            (magic == 0xD4C3 || magic == 0xA1B2 || magic == 0x4D3C || magic == 0x0A0D)) {
            seed(lumeno::fuzz::kStreamSelector, head, got);
        }
        char errbuf[PCAP_ERRBUF_SIZE];
        pcap_t* p = pcap_open_offline(entry.path().c_str(), errbuf);
        if (!p) continue;
        const int selector = lumeno::fuzz::SelectorFromLinkType(pcap_datalink(p));
        pcap_pkthdr* header = nullptr;
        const u_char* bytes = nullptr;
        while (selector >= 0 && written < maxSeeds && pcap_next_ex(p, &header, &bytes) == 1) {
            seed(selector, bytes, header->caplen);
        }
        pcap_close(p);
    }
    std::printf("%ld seeds from %s\n", written, argv[1]);
    return written > 0 ? 0 : 1;
}
