#include "capture/CaptureTestSupport.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "capture/CaptureCtrl.h"
#include "capture/Decoder.h"

namespace lumeno::test {

namespace {
void Put16(Bytes& b, std::uint16_t v) {
    b.push_back(v >> 8);
    b.push_back(v & 0xFF);
}
void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v >> 16);
    Put16(b, v & 0xFFFF);
}
}  // namespace

Bytes Ipv4(const Ipv4Fields& s) {
    Bytes b;
    const std::size_t header = std::size_t(s.ihl) * 4;
    const std::size_t total = std::max<std::size_t>(header, 20) + 4 + s.payload;
    b.push_back(std::uint8_t((s.version << 4) | (s.ihl & 0x0F)));
    b.push_back(0);
    Put16(b, s.totalLength < 0 ? std::uint16_t(total) : std::uint16_t(s.totalLength));
    Put16(b, 0x1234);
    Put16(b, s.fragment);
    b.push_back(64);
    b.push_back(s.protocol);
    Put16(b, 0);
    Put32(b, s.source);
    Put32(b, s.destination);
    while (b.size() < header) b.push_back(0x01);  // options: no-ops
    Put16(b, s.sourcePort);
    Put16(b, s.destinationPort);
    for (std::size_t i = 0; i < s.payload; ++i) b.push_back(std::uint8_t(i));
    return b;
}

Bytes Ethernet(const Bytes& payload, const std::vector<std::uint16_t>& tags,
               std::uint16_t etherType) {
    Bytes b = kDstMac;
    b.insert(b.end(), kSrcMac.begin(), kSrcMac.end());
    for (std::uint16_t tag : tags) {
        Put16(b, tag);
        Put16(b, 0x0064);  // VLAN 100
    }
    Put16(b, etherType);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes LinuxSll(const Bytes& payload, std::uint16_t addrLen, std::uint16_t protocol) {
    Bytes b;
    Put16(b, 0);  // sent to us
    Put16(b, 1);  // ARPHRD_ETHER
    Put16(b, addrLen);
    b.insert(b.end(), kSrcMac.begin(), kSrcMac.end());
    Put16(b, 0);
    Put16(b, protocol);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes LinuxSll2(const Bytes& payload, std::uint8_t addrLen) {
    Bytes b;
    Put16(b, 0x0800);
    Put16(b, 0);
    Put32(b, 2);  // interface index
    Put16(b, 1);  // ARPHRD_ETHER
    b.push_back(0);
    b.push_back(addrLen);
    b.insert(b.end(), kSrcMac.begin(), kSrcMac.end());
    Put16(b, 0);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes BsdLoopback(const Bytes& payload, bool networkOrder) {
    Bytes b(4 + payload.size(), 0);
    b[networkOrder ? 3 : 0] = 2;  // the address family, AF_INET
    std::copy(payload.begin(), payload.end(), b.begin() + 4);
    return b;
}

Row ToRow(const PacketRecord& r) {
    Row row;
    row.sourceMAC = r.sourceMAC;
    row.sourceIP = r.sourceIP;
    row.sourcePort = r.sourcePort;
    row.dstMAC = r.dstMAC;
    row.dstIP = r.dstIP;
    row.dstPort = r.dstPort;
    row.transportType = r.transportType;
    row.packetLen = r.packetLen;
    row.packetTxt.assign(r.packetTxt.begin(), r.packetTxt.end());
    return row;
}

void PrintTo(const Row& r, std::ostream* out) {
    *out << r.transportType << " " << r.sourceMAC << " " << r.sourceIP << ":" << r.sourcePort
         << " -> " << r.dstMAC << " " << r.dstIP << ":" << r.dstPort << " length " << r.packetLen
         << ", " << r.packetTxt.size() << " bytes";
}

FileRun ReplayFile(const std::string& path, const std::string& monitor, double speed, int timeoutMs,
                   const QString& filter) {
    FileRun run;
    CaptureCtrl capture;
    CollectingSink sink;
    if (!capture.SetFilter(filter, &run.startError)) return run;
    capture.SetCurrentAdapter(CaptureCtrl::FileAdapter(path));
    capture.SetReplaySpeed(speed);
    capture.SetPacketHandler([&](const DecodedPacket& packet) {
        if (packet.protocolKind != kProtocolOther) ++run.tcpUdp;
        IntakePacket(packet, monitor, sink);
    });
    QEventLoop loop;
    QObject::connect(&capture, &CaptureCtrl::finished, [&](const QString& m) {
        run.finished = true;
        run.endMessage = m;
        loop.quit();
    });
    QObject::connect(&capture, &CaptureCtrl::failed, [&](const QString& m) {
        run.failed = true;
        run.endMessage = m;
        loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    run.started = capture.Start(&run.startError);
    if (run.started) {
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    run.seconds = clock.elapsed() / 1000.0;
    run.seen = capture.Statistics().seen;
    run.rows = std::move(sink.rows);
    return run;
}

void WriteCaptureFile(const std::string& path, int linkType,
                      const std::vector<TimedFrame>& frames) {
    pcap_t* dead = pcap_open_dead(linkType, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    if (!dumper) throw std::runtime_error("cannot write " + path);
    for (const TimedFrame& f : frames) {
        pcap_pkthdr h{};
        h.ts.tv_sec = static_cast<time_t>(f.time);
        h.ts.tv_usec = static_cast<suseconds_t>((f.time - static_cast<double>(h.ts.tv_sec)) * 1e6);
        h.caplen = h.len = static_cast<bpf_u_int32>(f.bytes.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, f.bytes.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

std::string TempPath(const std::string& name) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("lumeno-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

std::string WriteEthernetFile(const std::string& name, const std::vector<TimedFrame>& frames) {
    const std::string path = TempPath(name);
    WriteCaptureFile(path, linktype::kEthernet, frames);
    return path;
}

bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) QTest::qWait(5);
    return done();
}

void ExpectContains(const QString& text, std::initializer_list<QString> parts) {
    for (const QString& part : parts) {
        EXPECT_TRUE(text.contains(part)) << "no \"" << part.toStdString() << "\" in:\n"
                                         << text.toStdString();
    }
}

int BoundSocket(int type, std::uint16_t& port) {
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in a = Loopback(0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

}  // namespace lumeno::test
