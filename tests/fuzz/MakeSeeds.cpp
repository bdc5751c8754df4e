// Writes fuzz seeds from real capture files: one file a frame, its first byte the link
// type's selector. Frames of link types the decoder does not know are left out.
#include <pcap/pcap.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/fuzz/FuzzInput.h"

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
