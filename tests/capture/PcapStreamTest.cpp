#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "capture/CaptureTestSupport.h"
#include "capture/Decoder.h"
#include "capture/PcapStream.h"

namespace lumeno {
namespace {

using test::Bytes;

Bytes FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A stream as libpcap writes it: three frames of different sizes.
Bytes ThreeFrameStream() {
    std::vector<test::TimedFrame> frames;
    for (int i = 0; i < 3; ++i) {
        test::Ipv4Fields s;
        s.payload = 10 + 500 * i;
        s.sourcePort = static_cast<std::uint16_t>(1000 + i);
        frames.push_back({100.25 + i, test::Ethernet(test::Ipv4(s))});
    }
    return FileBytes(test::WriteEthernetFile("stream.pcap", frames));
}

std::vector<Bytes> Drain(PcapStreamReader& reader, PcapStreamReader::Status& last) {
    std::vector<Bytes> out;
    StreamFrame f;
    while ((last = reader.Next(f)) == PcapStreamReader::Status::kFrame) {
        out.emplace_back(f.bytes.begin(), f.bytes.end());
    }
    return out;
}

TEST(PcapStream, PiecesOfAnySizeGiveTheSameFrames) {
    const Bytes stream = ThreeFrameStream();
    PcapStreamReader whole;
    whole.Append(stream);
    PcapStreamReader::Status last;
    const std::vector<Bytes> expected = Drain(whole, last);
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(last, PcapStreamReader::Status::kNeedMore);
    EXPECT_EQ(whole.LinkType(), linktype::kEthernet);
    EXPECT_EQ(whole.Buffered(), 0u);

    for (std::size_t piece : {1u, 7u, 16u, 17u, 1000u}) {
        PcapStreamReader reader;
        std::vector<Bytes> got;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            const std::size_t n = std::min(piece, stream.size() - at);
            reader.Append({stream.data() + at, n});
            for (Bytes& b : Drain(reader, last)) got.push_back(std::move(b));
            ASSERT_NE(last, PcapStreamReader::Status::kDamaged) << reader.Error();
        }
        EXPECT_EQ(got, expected) << "pieces of " << piece;
    }
}

TEST(PcapStream, TimeStampsInEitherByteOrderAndResolution) {
    // Big-endian, nanosecond header, then one 4-byte record at 7.5 s.
    Bytes s = {0xA1, 0xB2, 0x3C, 0x4D, 0, 2, 0,    4,    0, 0, 0, 0,
               0,    0,    0,    0,    0, 0, 0xFF, 0xFF, 0, 0, 0, 1};
    const Bytes record = {0, 0, 0, 7, 0x1D, 0xCD, 0x65, 0x00, 0, 0, 0, 4, 0, 0, 0, 60, 1, 2, 3, 4};
    s.insert(s.end(), record.begin(), record.end());
    PcapStreamReader reader;
    reader.Append(s);
    StreamFrame f;
    ASSERT_EQ(reader.Next(f), PcapStreamReader::Status::kFrame) << reader.Error();
    EXPECT_EQ(f.seconds, 7);
    EXPECT_EQ(f.micros, 500000);
    EXPECT_EQ(f.wireLength, 60u);
    EXPECT_EQ(Bytes(f.bytes.begin(), f.bytes.end()), (Bytes{1, 2, 3, 4}));
}

TEST(PcapStream, WhatNoCaptureCouldHoldEndsTheStreamAsDamaged) {
    const Bytes good = ThreeFrameStream();
    struct Case {
        const char* what;
        std::size_t offset;
        Bytes patch;
    } cases[] = {
        {"not a pcap header", 0, {'G', 'E', 'T', ' '}},
        {"version 3", 4, {3, 0}},
        {"a record of 4 GiB", 24 + 8, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"a record just above the largest snap length", 24 + 8, {0x01, 0x00, 0x04, 0x00}},
        {"microseconds beyond a second", 24 + 4, {0x40, 0x42, 0x0F, 0x00}},
    };
    for (const Case& c : cases) {
        Bytes bad = good;
        std::copy(c.patch.begin(), c.patch.end(), bad.begin() + c.offset);
        PcapStreamReader reader;
        reader.Append(bad);
        PcapStreamReader::Status last;
        EXPECT_TRUE(Drain(reader, last).empty()) << c.what;
        EXPECT_EQ(last, PcapStreamReader::Status::kDamaged) << c.what;
        EXPECT_FALSE(reader.Error().empty()) << c.what;
        // Once damaged, more bytes do not revive it.
        reader.Append(good);
        StreamFrame f;
        EXPECT_EQ(reader.Next(f), PcapStreamReader::Status::kDamaged) << c.what;
    }
}

}  // namespace
}  // namespace lumeno
