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

#include "tests/capture/Frames.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using namespace lumeno::test;

// The datagrams, each on every link layer and cut short at a few places.
std::vector<std::pair<int, Bytes>> Ipv6Seeds() {
    // Each with the rest of a TCP header after the ports.
    const auto ipv6 = [](Ipv6Fields f) {
        f.rest = {0, 0, 0, 1, 0, 0, 0, 0, 0x50, 0x18, 0xFA, 0xF0};
        return Ipv6(f);
    };
    const Extension auth = {51, {0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    const Extension jumbo = {0, {0, 0, 0xC2, 4, 0, 1, 0x38, 0x80}};
    const std::vector<Bytes> datagrams = {
        ipv6({}),
        ipv6({.next = 17}),
        ipv6({.extensions = {Options(0), Options(43), Options(60), Fragment(0), auth}}),
        ipv6(
            {.next = 17,
             .extensions = {Options(135), Options(139), Options(140), Options(253), Options(254)}}),
        ipv6({.next = 17, .extensions = {Fragment(0, true)}}),  // the first of several
        ipv6({.next = 17, .extensions = {Fragment(1)}}),        // a later one
        ipv6({.next = 50, .extensions = {Options(0)}}),
        ipv6({.next = 59}),
        ipv6({.next = 4, .extensions = {Options(60)}}),
        ipv6({.extensions = {jumbo}, .payloadLength = 0}),  // a jumbogram
        ipv6({.payloadLength = 3}),
        ipv6({.payloadLength = 60000}),
        ipv6({.extensions = std::vector<Extension>(17, Options(60))}),
    };
    std::vector<std::pair<int, Bytes>> frames;
    for (const Bytes& d : datagrams) {
        using namespace lumeno;
        frames.push_back({linktype::kEthernet, Ethernet(d, {}, 0x86DD)});
        frames.push_back({linktype::kEthernet,
                          Ethernet(Behind({0, 1, 0x81, 0, 0, 2, 0x86, 0xDD}, d), {}, 0x88A8)});
        frames.push_back({linktype::kLinuxSll, Sll(d, 6, 0x86DD)});
        frames.push_back({linktype::kLinuxSll2, Sll2(d, 6, 0x86DD)});
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
