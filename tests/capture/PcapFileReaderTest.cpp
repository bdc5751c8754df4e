#include "capture/PcapFileReader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Packet;

// What the reader gives for a file libpcap opened (the packets, then "" or the error);
// nullopt when the file is not one for it.
std::optional<std::pair<std::vector<Packet>, std::string>> ByReader(const std::string& path,
                                                                    const test::LibpcapRead& by) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::uint8_t header[24];
    if (!by.opened || ::pread(fd, header, 24, 0) != 24 ||
        !PcapFileReader::Suits(header, by.linkType)) {
        ::close(fd);
        return std::nullopt;
    }
    PcapFileReader reader(fd, header, static_cast<std::uint32_t>(by.snapshot));
    std::vector<Packet> packets;
    PcapFileReader::Record r;
    PcapFileReader::Status status;
    while ((status = reader.Next(r)) == PcapFileReader::Status::kRecord) {
        packets.emplace_back(Bytes(r.bytes.begin(), r.bytes.end()), r.ts.tv_sec, r.ts.tv_usec,
                             r.wireLength);
    }
    EXPECT_EQ(reader.Next(r), status) << "the end is for good";
    if (status == PcapFileReader::Status::kEnd) {
        EXPECT_EQ(reader.Consumed(), fs::file_size(path)) << path;
    }
    return std::pair{packets, reader.Error()};
}

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A little-endian pcap file of the given magic and snapshot length, Ethernet, with records of
// (seconds, fraction, captured length claimed, length, bytes actually there).
std::string MakeFile(const std::string& name, std::uint32_t magic, std::uint32_t snapshot,
                     const std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t,
                                                  std::uint32_t, std::size_t>>& records,
                     std::size_t extra = 0) {
    Bytes b;
    Put32(b, magic);
    for (std::uint8_t v : {2, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0}) b.push_back(v);
    Put32(b, snapshot);
    Put32(b, 1);
    int fill = 0;
    for (const auto& [seconds, fraction, captured, length, there] : records) {
        Put32(b, seconds);
        Put32(b, fraction);
        Put32(b, captured);
        Put32(b, length);
        for (std::size_t i = 0; i < there; ++i) b.push_back(static_cast<std::uint8_t>(fill++));
    }
    b.resize(b.size() + extra, 0x55);
    const std::string path = test::TempPath(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return path;
}

// Guards reading plain pcap files past libpcap: every packet, time stamp and length, and the
// end or the damage with libpcap's own words, are what pcap_next_ex gives, for every real
// capture the reader takes and for files made to hit each rule: nanosecond stamps, negative
// and out-of-range stamps, records cut to the snapshot length (also where the file ends in
// the part skipped), records over the largest any capture holds, files ending inside a
// header or a record, and records across the reader's blocks.
TEST(PcapFileReader, GivesWhatLibpcapGivesAndFailsInItsWords) {
    constexpr std::uint32_t kMicro = 0xA1B2C3D4, kNano = 0xA1B23C4D;
    using R = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::size_t>;
    std::vector<R> many;  // over a megabyte: several blocks, records split across them
    for (std::uint32_t i = 0; i < 1200; ++i)
        many.push_back({i, i, 60 + i % 1400, 1514, 60 + i % 1400});
    std::vector<std::string> paths = {
        MakeFile("r-micro.pcap", kMicro, 65535, many),
        MakeFile("r-nano.pcap", kNano, 65535,
                 {{1, 999999999, 4, 60, 4}, {2, 2000000000, 4, 60, 4}, {3, 3000000000u, 4, 4, 4}}),
        MakeFile("r-stamps.pcap", kMicro, 65535,
                 {{0xFFFFFFFF, 1000000, 4, 60, 4}, {0x80000000u, 0xFFFFFFFF, 4, 60, 4}}),
        MakeFile("r-cut.pcap", kMicro, 100, {{1, 0, 150, 150, 150}, {2, 0, 100, 100, 100}}),
        MakeFile("r-cut-short.pcap", kMicro, 100, {{1, 0, 150, 150, 120}}),
        MakeFile("r-cut-shorter.pcap", kMicro, 100, {{1, 0, 150, 150, 80}}),
        MakeFile("r-huge.pcap", kMicro, 65535, {{1, 0, 4, 4, 4}, {1, 0, 262145, 262145, 0}}),
        MakeFile("r-huge-snap.pcap", kMicro, 0, {{1, 0, 4, 4, 4}, {1, 0, 300000, 300000, 0}}),
        MakeFile("r-header-cut.pcap", kMicro, 65535, {{1, 0, 4, 4, 4}}, 7),
        MakeFile("r-record-cut.pcap", kMicro, 65535, {{1, 0, 4, 4, 4}, {1, 0, 90, 90, 33}}),
        MakeFile("r-empty.pcap", kMicro, 65535, {}),
    };
    if (fs::is_directory(LUMENO_CAPTURES_DIR)) {
        for (const auto& entry : fs::directory_iterator(LUMENO_CAPTURES_DIR))
            paths.push_back(entry.path().string());
    }
    int read = 0, real = 0;
    for (const std::string& path : paths) {
        const test::LibpcapRead expected = test::ByLibpcap(path);
        const auto got = ByReader(path, expected);
        if (!got) continue;
        ++read;
        real += path.find(LUMENO_CAPTURES_DIR) == 0;
        EXPECT_EQ(got->first.size(), expected.packets.size()) << path;
        EXPECT_TRUE(got->first == expected.packets) << path;
        EXPECT_EQ(got->second, expected.error) << path;
    }
    EXPECT_EQ(read - real, 11) << "every file made here is one for the reader";
    if (fs::is_directory(LUMENO_CAPTURES_DIR)) {
        EXPECT_GE(real, 50);
    }
}

// Guards a file that grows while it is read (a capture still being written): records
// appended after the reader began, larger than the file was, are read whole.
TEST(PcapFileReader, ReadsRecordsAppendedWhileItReads) {
    const std::string path = MakeFile("r-growing.pcap", 0xA1B2C3D4, 65535, {{1, 0, 60, 60, 60}});
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::uint8_t header[24];
    ASSERT_EQ(::pread(fd, header, 24, 0), 24);
    PcapFileReader reader(fd, header, 65535);
    PcapFileReader::Record r;
    ASSERT_EQ(reader.Next(r), PcapFileReader::Status::kRecord);
    EXPECT_EQ(r.bytes.size(), 60u);
    const Bytes whole = test::ReadFile(MakeFile("r-grown.pcap", 0xA1B2C3D4, 65535,
                                                {{1, 0, 60, 60, 60}, {2, 0, 50000, 50000, 50000}}));
    std::ofstream(path, std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(whole.data()) + 24 + 16 + 60, 16 + 50000);
    ASSERT_EQ(reader.Next(r), PcapFileReader::Status::kRecord) << reader.Error();
    EXPECT_TRUE(std::equal(r.bytes.begin(), r.bytes.end(), whole.end() - 50000, whole.end()));
    EXPECT_EQ(reader.Next(r), PcapFileReader::Status::kEnd);
}

}  // namespace
}  // namespace lumeno
