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

// Takes every whole frame the reader holds into out; gives the status that ended it.
Status Drain(PcapStreamReader& reader, std::vector<Bytes>& out) {
    StreamFrame f;
    Status status;
    while ((status = reader.Next(f)) == Status::kFrame)
        out.emplace_back(f.bytes.begin(), f.bytes.end());
    return status;
}

// The stream arrives in pieces of any size, headers split anywhere: fed in pieces of a few
// sizes, a big-endian stream with nanosecond time stamps (one 4-byte record at 7.5 s; little-
// endian pcap: the PCAP-over-IP test) and every real pcapng capture give the frames, time
// stamps and link type that libpcap reads from the file; a file libpcap refuses is not read
// whole.
TEST(PcapStream, StreamsInPiecesGiveWhatLibpcapReadsFromTheFile) {
    namespace fs = std::filesystem;
    const Bytes bigEndianBytes = {0xA1, 0xB2, 0x3C, 0x4D, 0,    2, 0, 4, 0, 0,  0, 0, 0, 0,    0,
                                  0,    0,    0,    0xFF, 0xFF, 0, 0, 0, 1, 0,  0, 0, 7, 0x1D, 0xCD,
                                  0x65, 0x00, 0,    0,    0,    4, 0, 0, 0, 60, 1, 2, 3, 4};
    const std::string bigEndian = test::TempPath("big-endian.pcap");
    std::ofstream(bigEndian, std::ios::binary)
        .write(reinterpret_cast<const char*>(bigEndianBytes.data()), 44);
    std::vector<fs::path> paths = {bigEndian};
    if (fs::is_directory(LUMENO_CAPTURES_DIR)) {
        for (const auto& entry : fs::directory_iterator(LUMENO_CAPTURES_DIR)) {
            if (entry.path().extension() == ".pcapng") paths.push_back(entry.path());
        }
    }
    int files = 0;
    for (const fs::path& path : paths) {
        const test::LibpcapRead expected = test::ByLibpcap(path);
        if (!expected.opened) {
            EXPECT_EQ(path.extension(), ".pcapng")
                << expected.error;  // the stream made here is read
            continue;
        }
        const Bytes stream = test::ReadFile(path);
        for (std::size_t piece : {1u, 13u, 4096u}) {
            PcapStreamReader reader;
            std::vector<test::Packet> got;
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
            if (expected.error.empty()) {
                EXPECT_EQ(last, Status::kNeedMore) << name << ": " << reader.Error();
                EXPECT_EQ(reader.Buffered(), 0u) << name;
                EXPECT_TRUE(got == expected.packets) << name << ", pieces of " << piece;
                EXPECT_EQ(reader.LinkType(), expected.linkType) << name;
            } else {
                // libpcap stops at damage; the stream reader must not deliver past it either.
                EXPECT_LE(got.size(), expected.packets.size() + 1) << name;
            }
        }
        ++files;
    }
    EXPECT_GE(files, fs::is_directory(LUMENO_CAPTURES_DIR) ? 26 : 1);
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What no capture could hold (pcap or pcapng) ends the stream as damaged, with the reason,
// for good.
TEST(PcapStream, WhatNoCaptureCouldHoldEndsTheStreamAsDamaged) {
    const Bytes frame = test::Ethernet(test::Ipv4({.payload = 510}));
    const Bytes pcap =
        test::ReadFile(test::WriteEthernetFile("stream.pcap", {{1, frame}, {2, frame}}));
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
