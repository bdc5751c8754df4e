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
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(argv[1], ec)) {
        // The head of every classic pcap file seeds the stream reader.
        if (written < maxSeeds) {
            std::ifstream in(entry.path(), std::ios::binary);
            char head[4000];
            in.read(head, sizeof head);
            const std::streamsize got = in.gcount();
            const unsigned char* m = reinterpret_cast<const unsigned char*>(head);
            const bool pcap =
                got >= 24 && ((m[0] == 0xD4 && m[1] == 0xC3) || (m[0] == 0xA1 && m[1] == 0xB2) ||
                              (m[0] == 0x4D && m[1] == 0x3C));
            if (pcap) {
                std::ofstream seed(out / ("seed-" + std::to_string(written++)), std::ios::binary);
                seed.put(static_cast<char>(lumeno::fuzz::kStreamSelector));
                seed.write(head, got);
            }
        }
        char errbuf[PCAP_ERRBUF_SIZE];
        pcap_t* p = pcap_open_offline(entry.path().c_str(), errbuf);
        if (!p) continue;
        const int selector = lumeno::fuzz::SelectorFromLinkType(pcap_datalink(p));
        pcap_pkthdr* header = nullptr;
        const u_char* bytes = nullptr;
        while (selector >= 0 && written < maxSeeds && pcap_next_ex(p, &header, &bytes) == 1) {
            std::ofstream seed(out / ("seed-" + std::to_string(written++)), std::ios::binary);
            seed.put(static_cast<char>(selector));
            seed.write(reinterpret_cast<const char*>(bytes), header->caplen);
        }
        pcap_close(p);
    }
    std::printf("%ld seeds from %s\n", written, argv[1]);
    return written > 0 ? 0 : 1;
}
