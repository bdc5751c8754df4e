#include "capture/PcapStream.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
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
    std::ifstream in(
        test::WriteEthernetFile("stream.pcap", {{1, kFrames[0]}, {2, kFrames[1]}, {3, kFrames[2]}}),
        std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Takes every whole frame the reader holds into out; gives the status that ended it.
Status Drain(PcapStreamReader& reader, std::vector<Bytes>& out) {
    StreamFrame f;
    Status status;
    while ((status = reader.Next(f)) == Status::kFrame)
        out.emplace_back(f.bytes.begin(), f.bytes.end());
    return status;
}

// The helper's pipe delivers the stream in pieces of any size, headers split anywhere;
// the frames must come out whole and the same, from a stream as libpcap writes it here
// and from a big-endian one with nanosecond time stamps (one 4-byte record at 7.5 s).
TEST(PcapStream, PiecesOfAnySizeGiveTheSameFrames) {
    const Bytes bigEndian = {0xA1, 0xB2, 0x3C, 0x4D, 0,    2, 0, 4, 0, 0,  0, 0, 0, 0,    0,
                             0,    0,    0,    0xFF, 0xFF, 0, 0, 0, 1, 0,  0, 0, 7, 0x1D, 0xCD,
                             0x65, 0x00, 0,    0,    0,    4, 0, 0, 0, 60, 1, 2, 3, 4};
    for (const auto& [stream, frames] :
         {std::pair{Stream(), kFrames}, {bigEndian, {{1, 2, 3, 4}}}}) {
        for (std::size_t piece : {1u, 7u, 16u, 17u, 100000u}) {
            PcapStreamReader reader;
            std::vector<Bytes> got;
            for (std::size_t at = 0; at < stream.size(); at += piece) {
                reader.Append({stream.data() + at, std::min(piece, stream.size() - at)});
                ASSERT_EQ(Drain(reader, got), Status::kNeedMore) << reader.Error();
            }
            EXPECT_EQ(got, frames) << "pieces of " << piece;
            EXPECT_EQ(reader.LinkType(), linktype::kEthernet);
        }
    }
}

// What no capture could hold ends the stream as damaged, with a reason, for good.
TEST(PcapStream, WhatNoCaptureCouldHoldEndsTheStreamAsDamaged) {
    const Bytes good = Stream();
    const std::tuple<const char*, std::size_t, Bytes> cases[] = {
        {"not a pcap header", 0, {'G', 'E', 'T', ' '}},
        {"version 3", 4, {3, 0}},
        {"a record of 4 GiB", 24 + 8, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"a record just above the largest snap length", 24 + 8, {0x01, 0x00, 0x04, 0x00}},
        {"microseconds beyond a second", 24 + 4, {0x40, 0x42, 0x0F, 0x00}},
    };
    for (const auto& [what, offset, patch] : cases) {
        Bytes bad = good;
        std::copy(patch.begin(), patch.end(), bad.begin() + offset);
        PcapStreamReader reader;
        reader.Append(bad);
        std::vector<Bytes> got;
        EXPECT_EQ(Drain(reader, got), Status::kDamaged) << what;
        EXPECT_FALSE(reader.Error().empty()) << what;
        reader.Append(good);  // more bytes do not revive it
        EXPECT_EQ(Drain(reader, got), Status::kDamaged) << what;
        EXPECT_TRUE(got.empty()) << what;
    }
}

}  // namespace
}  // namespace lumeno
