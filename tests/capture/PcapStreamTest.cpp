#include "capture/PcapStream.h"

#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "capture/CaptureTestSupport.h"
#include "capture/Decoder.h"

namespace lumeno {
namespace {

using test::Bytes;
using Status = PcapStreamReader::Status;

const std::vector<Bytes> kFrames = {test::Ethernet(test::Ipv4({.payload = 10})),
                                    test::Ethernet(test::Ipv4({.payload = 510})),
                                    test::Ethernet(test::Ipv4({.payload = 1010}))};

// The stream libpcap writes of kFrames.
Bytes Stream() {
    return test::ReadFile(test::WriteEthernetFile(
        "stream.pcap", {{1, kFrames[0]}, {2, kFrames[1]}, {3, kFrames[2]}}));
}

// Takes every whole frame the reader holds into out; gives the status that ended it.
Status Drain(PcapStreamReader& reader, std::vector<Bytes>& out) {
    StreamFrame f;
    Status status;
    while ((status = reader.Next(f)) == Status::kFrame)
        out.emplace_back(f.bytes.begin(), f.bytes.end());
    return status;
}

// The stream arrives in pieces of any size, headers split anywhere: fed in pieces of a few
// sizes, a stream as libpcap writes it here, a big-endian one with nanosecond time stamps
// (one 4-byte record at 7.5 s) and every real pcapng capture give the frames, time stamps
// and link type that libpcap reads from the file; a file libpcap refuses is not read whole.
TEST(PcapStream, StreamsInPiecesGiveWhatLibpcapReadsFromTheFile) {
    namespace fs = std::filesystem;
    const Bytes bigEndianBytes = {0xA1, 0xB2, 0x3C, 0x4D, 0,    2, 0, 4, 0, 0,  0, 0, 0, 0,    0,
                                  0,    0,    0,    0xFF, 0xFF, 0, 0, 0, 1, 0,  0, 0, 7, 0x1D, 0xCD,
                                  0x65, 0x00, 0,    0,    0,    4, 0, 0, 0, 60, 1, 2, 3, 4};
    const std::string bigEndian = test::TempPath("big-endian.pcap");
    std::ofstream(bigEndian, std::ios::binary)
        .write(reinterpret_cast<const char*>(bigEndianBytes.data()), 44);
    std::vector<fs::path> paths = {
        test::WriteEthernetFile("stream.pcap",
                                {{1, kFrames[0]}, {2, kFrames[1]}, {3.5, kFrames[2]}}),
        bigEndian};
    if (fs::is_directory(LUMENO_CAPTURES_DIR)) {
        for (const auto& entry : fs::directory_iterator(LUMENO_CAPTURES_DIR)) {
            if (entry.path().extension() == ".pcapng") paths.push_back(entry.path());
        }
    }
    int files = 0;
    for (const fs::path& path : paths) {
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        pcap_t* file = pcap_open_offline(path.c_str(), errbuf);
        if (!file) {
            EXPECT_EQ(path.extension(), ".pcapng") << errbuf;  // the streams made here are read
            continue;
        }
        std::vector<std::tuple<Bytes, std::int64_t, std::int32_t, std::uint32_t>> expected;
        pcap_pkthdr* h;
        const u_char* data;
        int status;
        while ((status = pcap_next_ex(file, &h, &data)) == 1) {
            expected.emplace_back(Bytes(data, data + h->caplen), h->ts.tv_sec, h->ts.tv_usec,
                                  h->len);
        }
        const int linkType = pcap_datalink(file);
        pcap_close(file);
        const Bytes stream = test::ReadFile(path);
        for (std::size_t piece : {1u, 13u, 4096u}) {
            PcapStreamReader reader;
            std::vector<std::tuple<Bytes, std::int64_t, std::int32_t, std::uint32_t>> got;
            Status last = Status::kNeedMore;
            for (std::size_t at = 0; at < stream.size() && last != Status::kDamaged; at += piece) {
                reader.Append({stream.data() + at, std::min(piece, stream.size() - at)});
                StreamFrame f;
                while ((last = reader.Next(f)) == Status::kFrame) {
                    got.emplace_back(Bytes(f.bytes.begin(), f.bytes.end()), f.seconds, f.micros,
                                     f.wireLength);
                }
            }
            const std::string name = path.filename().string();
            if (status == PCAP_ERROR_BREAK) {
                EXPECT_EQ(last, Status::kNeedMore) << name << ": " << reader.Error();
                EXPECT_EQ(reader.Buffered(), 0u) << name;
                EXPECT_TRUE(got == expected) << name << ", pieces of " << piece;
                EXPECT_EQ(reader.LinkType(), linkType) << name;
            } else {
                // libpcap stops at damage; the stream reader must not deliver past it either.
                EXPECT_LE(got.size(), expected.size() + 1) << name;
            }
        }
        ++files;
    }
    EXPECT_GE(files, fs::is_directory(LUMENO_CAPTURES_DIR) ? 27 : 2);
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What no capture could hold (pcap or pcapng) ends the stream as damaged, with the reason,
// for good.
TEST(PcapStream, WhatNoCaptureCouldHoldEndsTheStreamAsDamaged) {
    const Bytes pcap = Stream();
    const auto patched = [&](std::size_t offset, const Bytes& patch) {
        Bytes bad = pcap;
        std::copy(patch.begin(), patch.end(), bad.begin() + std::ptrdiff_t(offset));
        return bad;
    };
    auto put = [](Bytes& b, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) b.push_back(std::uint8_t(v >> (8 * i)));  // little-endian
    };
    auto block = [&](std::uint32_t type, const Bytes& body, int lengthDelta = 0,
                     int trailerDelta = 0) {
        Bytes b;
        const auto length = std::uint32_t(12 + body.size());
        put(b, type, 4);
        put(b, length + std::uint32_t(lengthDelta), 4);
        b.insert(b.end(), body.begin(), body.end());
        put(b, length + std::uint32_t(trailerDelta), 4);
        return b;
    };
    const Bytes shbBody = {0x4D, 0x3C, 0x2B, 0x1A, 1,    0,    0,    0,
                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const Bytes idbBody = {1, 0, 0, 0, 0, 0, 0, 0};  // Ethernet, no snap length
    auto epbBody = [&](std::uint32_t interface, std::uint32_t captured, std::size_t data) {
        Bytes b;
        put(b, interface, 4);
        put(b, 1, 4);        // 2^32 microseconds
        put(b, 1000000, 4);  // and one second
        put(b, captured, 4);
        put(b, captured, 4);
        b.resize(b.size() + data, 0xAB);
        return b;
    };
    const Bytes good = block(0x0A0D0D0A, shbBody);
    Bytes badMagic = shbBody;
    badMagic[0] = 0x4E;
    Bytes badClock = idbBody;
    for (std::uint8_t v : {9, 0, 1, 0, 30, 0, 0, 0}) badClock.push_back(v);  // if_tsresol 10^-30
    const std::pair<const char*, Bytes> cases[] = {
        {"does not begin with a pcap", patched(0, {'G', 'E', 'T', ' '})},
        {"version is not 2", patched(4, {3, 0})},
        {"claims 4294967295 bytes", patched(24 + 8, {0xFF, 0xFF, 0xFF, 0xFF})},
        {"claims 262145 bytes", patched(24 + 8, {0x01, 0x00, 0x04, 0x00})},
        {"time stamp", patched(24 + 4, {0x40, 0x42, 0x0F, 0x00})},  // microseconds past a second
        {"byte-order magic", block(0x0A0D0D0A, badMagic)},
        {"version",
         block(0x0A0D0D0A, {0x4D, 0x3C, 0x2B, 0x1A, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"claims", good + block(1, idbBody, 2, 2)},  // not a multiple of four
        {"claims", good + block(1, idbBody, 1 << 24, 1 << 24)},
        {"two lengths differ", good + block(1, idbBody, 0, 4)},
        {"not described", good + block(1, idbBody) + block(6, epbBody(1, 4, 4))},
        {"runs past its block", good + block(1, idbBody) + block(6, epbBody(0, 9, 8))},
        {"clock", good + block(1, badClock)},
    };
    for (const auto& [why, bytes] : cases) {
        PcapStreamReader reader;
        reader.Append(bytes);
        std::vector<Bytes> got;
        EXPECT_EQ(Drain(reader, got), Status::kDamaged) << why;
        EXPECT_NE(reader.Error().find(why), std::string::npos) << why << ": " << reader.Error();
        reader.Append(pcap);  // more bytes do not revive it
        EXPECT_EQ(Drain(reader, got), Status::kDamaged) << why;
        EXPECT_TRUE(got.empty()) << why;
    }
    // The same blocks made right give the frame, its time and its link type.
    PcapStreamReader reader;
    reader.Append(good + block(1, idbBody) + block(0x0BAD, {1, 2, 3, 4}) +
                  block(6, epbBody(0, 5, 8)));
    StreamFrame f;
    ASSERT_EQ(reader.Next(f), Status::kFrame) << reader.Error();
    EXPECT_EQ(std::tuple(f.seconds, f.micros, f.bytes.size(), reader.LinkType()),
              std::tuple(std::int64_t{4295}, 967296, std::size_t{5}, linktype::kEthernet));
}

}  // namespace
}  // namespace lumeno
