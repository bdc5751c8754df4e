// libFuzzer harness over decoding and intake. The first input byte picks the link type,
// the rest is the captured frame; or, with the stream selector, the rest is a pcap stream
// as the capture helper sends it, arriving in small pieces, and the same bytes as a capture
// file read by the plain pcap reader.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "capture/Intake.h"
#include "capture/PcapFileReader.h"
#include "capture/PcapStream.h"
#include "packet/Library.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

class CheckingSink : public lumeno::RecordSink {
  public:
    void PlotPacket(const lumeno::PacketRecord& r) override {
        // Touch everything a view would: the texts, the scale and every byte handed over.
        volatile std::uint32_t sum = 0;
        for (std::uint8_t b : r.packetTxt) sum = sum + b;
        if (r.packetLen < 0 || static_cast<std::size_t>(r.packetLen) != r.packetTxt.size()) {
            __builtin_trap();
        }
        if (r.sourcePort < 0 || r.sourcePort > 65535 || r.dstPort < 0 || r.dstPort > 65535) {
            __builtin_trap();
        }
        if (!lumeno::ScaleIP(r.sourceIP, 400) || !lumeno::ScaleIP(r.dstIP, 400)) __builtin_trap();
        lumeno::ScalePort(r.sourcePort, 400);
        for (char c : r.sourceMAC) sum = sum + static_cast<std::uint8_t>(c);
        for (char c : r.dstMAC) sum = sum + static_cast<std::uint8_t>(c);
    }
};

void DecodeAndTake(int linkType, std::span<const std::uint8_t> bytes, std::uint32_t wireLength) {
    lumeno::DecodedPacket packet;
    lumeno::DecodeFrame(linkType, bytes, wireLength, packet);
    CheckingSink sink;
    lumeno::IntakePacket(packet, "", sink);
    // A monitor that matches the source only, to take the outgoing branch as well.
    const std::string_view source = packet.sourceIP;
    if (!source.empty() && source != packet.destinationIP.view()) {
        lumeno::IntakePacket(packet, source, sink);
    }
    lumeno::IntakePacket(packet, "192.168.", sink);
}

void FuzzStream(const std::uint8_t* data, std::size_t size) {
    lumeno::PcapStreamReader reader;
    constexpr std::size_t kPiece = 61;
    for (std::size_t at = 0; at < size; at += kPiece) {
        const std::size_t n = std::min(kPiece, size - at);
        auto piece = std::make_unique<std::uint8_t[]>(n);
        std::copy_n(data + at, n, piece.get());
        reader.Append({piece.get(), n});
        lumeno::StreamFrame frame;
        lumeno::PcapStreamReader::Status status;
        while ((status = reader.Next(frame)) == lumeno::PcapStreamReader::Status::kFrame) {
            if (frame.bytes.size() > lumeno::PcapStreamReader::kMaxRecordBytes) __builtin_trap();
            // Exactly the record's size, so an over-read past it is caught.
            auto copy =
                std::make_unique<std::uint8_t[]>(std::max<std::size_t>(frame.bytes.size(), 1));
            std::copy(frame.bytes.begin(), frame.bytes.end(), copy.get());
            DecodeAndTake(reader.LinkType(), {copy.get(), frame.bytes.size()}, frame.wireLength);
        }
        if (status == lumeno::PcapStreamReader::Status::kDamaged) return;
    }
}

// The bytes as a file, read as Lumeno reads one that suits the reader, with libpcap's
// snapshot length for the header (0 or over the largest record: the largest).
void FuzzFile(const std::uint8_t* data, std::size_t size) {
    if (size < 24) return;
    std::uint32_t linkType, snapshot;
    std::memcpy(&snapshot, data + 16, 4);
    std::memcpy(&linkType, data + 20, 4);
    if (!lumeno::PcapFileReader::Suits({data, 24}, static_cast<int>(linkType & 0xFFFF))) return;
    if (snapshot == 0 || snapshot > lumeno::PcapFileReader::kMaxRecord) {
        snapshot = lumeno::PcapFileReader::kMaxRecord;
    }
    const int fd = ::memfd_create("fuzz.pcap", 0);
    if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size)) {
        if (fd >= 0) ::close(fd);
        return;
    }
    lumeno::PcapFileReader reader(fd, {data, 24}, snapshot);
    lumeno::PcapFileReader::Record record;
    while (reader.Next(record) == lumeno::PcapFileReader::Status::kRecord) {
        if (record.bytes.size() > snapshot) __builtin_trap();
        auto copy = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(record.bytes.size(), 1));
        std::copy(record.bytes.begin(), record.bytes.end(), copy.get());
        DecodeAndTake(static_cast<int>(linkType & 0xFFFF), {copy.get(), record.bytes.size()},
                      record.wireLength);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] == lumeno::fuzz::kStreamSelector) {
        FuzzStream(data + 1, size - 1);
        FuzzFile(data + 1, size - 1);
        return 0;
    }
    const int linkType = lumeno::fuzz::LinkTypeFromSelector(data[0]);
    // A heap copy of exactly the frame's size, so any over-read is caught.
    const std::size_t n = size - 1;
    auto frame = std::make_unique<std::uint8_t[]>(n ? n : 1);
    std::copy_n(data + 1, n, frame.get());

    DecodeAndTake(linkType, {frame.get(), n}, static_cast<std::uint32_t>(n));
    return 0;
}
