// Writes a synthetic Ethernet capture (classic pcap) for throughput measurements.
//
//   lumeno-make-capture [--kind mixed|small|worst|mixed6] [--packets N] [--seed S] FILE
//
// mixed:  frames of 60 to 1514 bytes from a few hundred flows of the monitored host
//         192.168.1.101, sent in runs as on a real link, with bursts, an incoming port scan,
//         and about one frame in ten that is not IPv4 TCP/UDP (ARP, ICMP, IPv6) in between.
// small:  the same traffic with every frame cut to the 60-byte minimum.
// worst:  60-byte frames where no frame belongs to the flow of the one before it.
// mixed6: the mixed traffic over IPv6: the monitored host is 2001:db8:1::65, the remote
//         ends lie in six /48 networks of different providers; the frames in between are
//         the same ARP, ICMP and IPv6 multicast as in mixed.
//
// The output depends only on the arguments: the same seed gives the same bytes, and a
// shorter file is the start of a longer one.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kMonitored = 0xC0A80165;  // 192.168.1.101
// In mixed6 the monitored host, and the /48 networks the remote ends lie in.
constexpr std::uint8_t kMonitored6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 1, 0, 0,
                                          0,    0,    0,    0,    0, 0, 0, 0x65};
constexpr std::uint8_t kRemoteNets6[6][6] = {
    {0x20, 0x01, 0x0d, 0xb8, 0x01, 0x00}, {0x2a, 0x00, 0x14, 0x50, 0x40, 0x01},
    {0x26, 0x06, 0x47, 0x00, 0x47, 0x00}, {0x20, 0x01, 0x48, 0x60, 0x48, 0x60},
    {0x26, 0x20, 0x00, 0xfe, 0x00, 0x00}, {0xfd, 0x00, 0x12, 0x34, 0x56, 0x78}};
constexpr int kFlows = 400;

class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 1) {}
    std::uint64_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }

  private:
    std::uint64_t state_;
};

struct Flow {
    std::uint32_t remote;
    std::uint16_t remotePort;
    std::uint16_t localPort;
    bool tcp;
    bool serverIsLocal;  // the monitored host listens; traffic mostly flows out
};

enum class Kind { kMixed, kSmall, kWorst, kMixed6 };

class Writer {
  public:
    explicit Writer(std::FILE* out) : out_(out) { buffer_.reserve(1 << 20); }

    void FileHeader() {
        Put32(0xA1B2C3D4);
        Put16(2);
        Put16(4);
        Put32(0);
        Put32(0);
        Put32(65535);
        Put32(1);  // Ethernet
    }

    // One frame, already built in frame[0, length).
    void Frame(std::uint64_t micros, const std::uint8_t* frame, std::uint32_t length) {
        Put32(static_cast<std::uint32_t>(micros / 1000000));
        Put32(static_cast<std::uint32_t>(micros % 1000000));
        Put32(length);
        Put32(length);
        buffer_.insert(buffer_.end(), frame, frame + length);
        if (buffer_.size() >= (1 << 20)) Flush();
    }

    bool Flush() {
        const bool ok = std::fwrite(buffer_.data(), 1, buffer_.size(), out_) == buffer_.size();
        buffer_.clear();
        return ok;
    }

  private:
    void Put16(std::uint16_t v) {
        buffer_.push_back(static_cast<std::uint8_t>(v));
        buffer_.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void Put32(std::uint32_t v) {
        Put16(static_cast<std::uint16_t>(v));
        Put16(static_cast<std::uint16_t>(v >> 16));
    }

    std::FILE* out_;
    std::vector<std::uint8_t> buffer_;
};

void Be16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
void Be32(std::uint8_t* p, std::uint32_t v) {
    Be16(p, v >> 16);
    Be16(p + 2, v & 0xFFFF);
}

// The Ethernet header of a frame from (out) or to the monitored host.
void WriteEthernet(std::uint8_t* f, bool out, std::uint16_t type) {
    static constexpr std::uint8_t kLocalMac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    static constexpr std::uint8_t kRouterMac[6] = {0x00, 0x0c, 0x29, 0x11, 0x22, 0x33};
    std::memcpy(f, out ? kRouterMac : kLocalMac, 6);
    std::memcpy(f + 6, out ? kLocalMac : kRouterMac, 6);
    Be16(f + 12, type);
}

// The TCP (segment bytes a sequence step) or UDP (udpLength) header at t, then a payload of
// printable bytes up to end.
void WriteTransport(std::uint8_t* t, const std::uint8_t* end, std::uint8_t protocol,
                    std::uint16_t sport, std::uint16_t dport, std::uint32_t sequence,
                    std::uint32_t segment, std::uint32_t udpLength) {
    Be16(t, sport);
    Be16(t + 2, dport);
    if (protocol == 6) {
        std::memset(t + 4, 0, 16);
        Be32(t + 4, sequence * segment);
        t[12] = 0x50;
        t[13] = 0x18;  // PSH, ACK
        Be16(t + 14, 64240);
    } else {
        Be16(t + 4, udpLength);
        Be16(t + 6, 0);
    }
    std::uint8_t* payload = t + (protocol == 6 ? 20 : 8);
    for (std::uint32_t i = 0; payload + i < end; ++i) {
        payload[i] = static_cast<std::uint8_t>(' ' + (sequence + i) % 95);
    }
}

// Builds an Ethernet + IPv4 + TCP/UDP frame of the given total length (at least 60) with
// a payload of printable bytes; returns the length.
std::uint32_t BuildIp(std::uint8_t* f, std::uint32_t length, std::uint32_t src, std::uint32_t dst,
                      std::uint8_t protocol, std::uint16_t sport, std::uint16_t dport,
                      std::uint32_t sequence) {
    WriteEthernet(f, src == kMonitored, 0x0800);
    std::uint8_t* ip = f + 14;
    const std::uint32_t transport = protocol == 6 ? 20 : 8;
    // A minimum frame carries the headers and Ethernet padding, not a longer datagram.
    const std::uint32_t ipLength = std::max<std::uint32_t>(20 + transport, length - 14);
    std::memset(ip, 0, 20);
    ip[0] = 0x45;
    Be16(ip + 2, std::min<std::uint32_t>(ipLength, length - 14));
    Be16(ip + 4, sequence & 0xFFFF);
    ip[6] = 0x40;  // don't fragment
    ip[8] = 64;
    ip[9] = protocol;
    Be32(ip + 12, src);
    Be32(ip + 16, dst);
    std::uint32_t sum = 0;
    for (int i = 0; i < 20; i += 2) sum += (ip[i] << 8) | ip[i + 1];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    Be16(ip + 10, ~sum & 0xFFFF);
    WriteTransport(ip + 20, f + length, protocol, sport, dport, sequence, 1448,
                   std::min<std::uint32_t>(ipLength, length - 14) - 20);
    return length;
}

// The IPv6 address standing for an IPv4 one in mixed6: the monitored host for kMonitored,
// otherwise one of six /48 networks (by the address's third octet) and the address itself
// as the interface identifier.
void Address6(std::uint8_t* p, std::uint32_t v4) {
    if (v4 == kMonitored) {
        std::memcpy(p, kMonitored6, 16);
        return;
    }
    std::memcpy(p, kRemoteNets6[(v4 >> 8 & 0xFF) % 6], 6);
    std::memset(p + 6, 0, 6);
    Be32(p + 12, v4);
}

// The same as BuildIp over IPv6 (at least 14 + 40 + the transport header long).
std::uint32_t BuildIp6(std::uint8_t* f, std::uint32_t length, std::uint32_t src, std::uint32_t dst,
                       std::uint8_t protocol, std::uint16_t sport, std::uint16_t dport,
                       std::uint32_t sequence) {
    const std::uint32_t transport = protocol == 6 ? 20 : 8;
    length = std::max<std::uint32_t>(length, 14 + 40 + transport);
    WriteEthernet(f, src == kMonitored, 0x86DD);
    std::uint8_t* ip = f + 14;
    Be32(ip, 0x60000000 | (sport ^ dport));  // version, class 0, a flow label
    Be16(ip + 4, length - 54);
    ip[6] = protocol;
    ip[7] = 64;
    Address6(ip + 8, src);
    Address6(ip + 24, dst);
    WriteTransport(ip + 40, f + length, protocol, sport, dport, sequence, 1428, length - 54);
    return length;
}

// A frame that no view draws: ARP, ICMP echo or an IPv6 UDP datagram.
std::uint32_t BuildOther(std::uint8_t* f, Random& random, bool minimum) {
    std::memset(f, 0, 60);
    std::memset(f, 0xFF, 6);
    f[6] = 0x00;
    f[7] = 0x1a;
    switch (random.Below(3)) {
        case 0:
            Be16(f + 12, 0x0806);
            Be16(f + 14, 1);
            Be16(f + 16, 0x0800);
            f[18] = 6;
            f[19] = 4;
            Be16(f + 20, 1);
            Be32(f + 28, 0xC0A80100 | random.Below(254));
            Be32(f + 38, kMonitored);
            return 60;
        case 1: {
            const std::uint32_t length = minimum ? 60 : 98;
            std::memset(f, 0, length);
            Be16(f + 12, 0x0800);
            f[14] = 0x45;
            Be16(f + 16, length - 14);
            f[22] = 64;
            f[23] = 1;
            Be32(f + 26, 0xC6336400 | random.Below(254));
            Be32(f + 30, kMonitored);
            f[34] = 8;
            return length;
        }
        default: {
            const std::uint32_t length = minimum ? 62 : 90;
            std::memset(f, 0, length);
            Be16(f + 12, 0x86DD);
            f[14] = 0x60;
            Be16(f + 18, length - 54);
            f[20] = 17;
            f[21] = 255;
            f[22] = 0xFE;
            f[23] = 0x80;
            f[38] = 0xFF;
            f[39] = 0x02;
            f[53] = 0xFB;
            Be16(f + 54, 5353);
            Be16(f + 56, 5353);
            return length;
        }
    }
}

std::uint32_t FrameLength(Random& random, bool tcp) {
    const std::uint32_t r = random.Below(100);
    if (tcp) {
        if (r < 40) return 60 + random.Below(20);  // acknowledgements
        if (r < 75) return 1514;                   // full segments
        return 60 + random.Below(1455);
    }
    if (r < 50) return 60 + random.Below(200);    // DNS, NTP, games
    if (r < 80) return 200 + random.Below(1100);  // media
    return 60 + random.Below(1455);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: lumeno-make-capture [--kind mixed|small|worst|mixed6] [--packets N] "
                 "[--seed S] FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Kind kind = Kind::kMixed;
    std::uint64_t packets = 2000000;
    std::uint64_t seed = 1;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--kind" && i + 1 < argc) {
            const std::string k = argv[++i];
            if (k == "mixed") {
                kind = Kind::kMixed;
            } else if (k == "small") {
                kind = Kind::kSmall;
            } else if (k == "worst") {
                kind = Kind::kWorst;
            } else if (k == "mixed6") {
                kind = Kind::kMixed6;
            } else {
                return Usage();
            }
        } else if (arg == "--packets" && i + 1 < argc) {
            packets = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (!arg.empty() && arg[0] != '-' && !path) {
            path = argv[i];
        } else {
            return Usage();
        }
    }
    if (!path) return Usage();
    std::FILE* out = std::fopen(path, "wb");
    if (!out) {
        std::fprintf(stderr, "lumeno-make-capture: cannot write %s: %s\n", path,
                     std::strerror(errno));
        return 1;
    }

    Random random(seed);
    std::vector<Flow> flows(kFlows);
    for (Flow& flow : flows) {
        flow.tcp = random.Below(10) < 7;
        flow.serverIsLocal = random.Below(10) < 2;
        static constexpr std::uint32_t kNets[] = {0xC0000200, 0xC6336400, 0xCB007100,
                                                  0x5DB8D800, 0x08080800, 0xC0A80100};
        flow.remote = kNets[random.Below(6)] | (1 + random.Below(253));
        if (flow.remote == kMonitored) ++flow.remote;
        static constexpr std::uint16_t kTcpServices[] = {80, 443, 443, 443, 22, 993, 8080, 25};
        static constexpr std::uint16_t kUdpServices[] = {53, 123, 5004, 443, 3478, 1900};
        const std::uint16_t service =
            flow.tcp ? kTcpServices[random.Below(8)] : kUdpServices[random.Below(6)];
        const auto ephemeral = static_cast<std::uint16_t>(32768 + random.Below(28000));
        flow.localPort = flow.serverIsLocal ? service : ephemeral;
        flow.remotePort = flow.serverIsLocal ? ephemeral : service;
    }

    Writer writer(out);
    writer.FileHeader();
    std::array<std::uint8_t, 1514> frame{};
    std::uint64_t micros = 1798761600ULL * 1000000;  // 2027-01-01
    const bool minimum = kind != Kind::kMixed && kind != Kind::kMixed6;
    const bool v6 = kind == Kind::kMixed6;
    const auto build = v6 ? BuildIp6 : BuildIp;
    const std::size_t tcpAt = v6 ? 14 + 40 : 14 + 20;
    std::uint64_t written = 0;
    std::uint32_t scanPort = 1;
    const std::uint32_t scanner = 0xCB0071C8;  // 203.0.113.200
    // About one frame in ten, in between the runs of flows, is one that no view draws.
    const auto interleave = [&] {
        if (random.Below(10) != 0 || written >= packets) return;
        micros += 1 + random.Below(20);
        writer.Frame(micros, frame.data(), BuildOther(frame.data(), random, minimum));
        ++written;
    };
    while (written < packets) {
        if (kind == Kind::kWorst) {
            // Every frame its own flow: another remote host, ports and class each time.
            const std::uint32_t remote = random.Next() & 0xFFFFFFFF;
            const bool tcp = written % 2 == 0;
            const bool incoming = (written / 2) % 2 == 0;
            const auto a = static_cast<std::uint16_t>(random.Next());
            const auto b = static_cast<std::uint16_t>(random.Next());
            std::uint32_t n = BuildIp(frame.data(), 60, incoming ? remote : kMonitored,
                                      incoming ? kMonitored : remote, tcp ? 6 : 17, a, b,
                                      static_cast<std::uint32_t>(written));
            micros += 1 + random.Below(3);
            writer.Frame(micros, frame.data(), n);
            ++written;
            continue;
        }
        const std::uint32_t choice = random.Below(100);
        std::uint32_t run;
        if (choice < 4) {
            // A stretch of the incoming port scan: SYNs to the next ports in turn.
            run = 16 + random.Below(48);
            for (std::uint32_t i = 0; i < run && written < packets; ++i, ++written) {
                interleave();
                micros += 2 + random.Below(20);
                const std::uint32_t n = build(frame.data(), 60, scanner, kMonitored, 6,
                                              static_cast<std::uint16_t>(40000 + scanPort % 1000),
                                              static_cast<std::uint16_t>(scanPort), scanPort);
                frame[tcpAt + 13] = 0x02;  // SYN
                writer.Frame(micros, frame.data(), n);
                scanPort = scanPort % 65535 + 1;
            }
        } else {
            // A run of one flow: a burst of segments one way, some answers the other.
            Flow& flow = flows[random.Below(kFlows)];
            const bool burst = random.Below(10) == 0;
            run = burst ? 64 + random.Below(192) : 1 + random.Below(12);
            const bool mostlyOut = flow.serverIsLocal;
            for (std::uint32_t i = 0; i < run && written < packets; ++i, ++written) {
                interleave();
                micros += burst ? 1 + random.Below(12) : 10 + random.Below(800);
                const bool out = (random.Below(4) != 0) == mostlyOut;
                const std::uint32_t length = minimum ? 60 : FrameLength(random, flow.tcp);
                const auto sequence = static_cast<std::uint32_t>(written);
                std::uint32_t n;
                if (out) {
                    n = build(frame.data(), length, kMonitored, flow.remote, flow.tcp ? 6 : 17,
                              flow.localPort, flow.remotePort, sequence);
                } else {
                    n = build(frame.data(), length, flow.remote, kMonitored, flow.tcp ? 6 : 17,
                              flow.remotePort, flow.localPort, sequence);
                }
                writer.Frame(micros, frame.data(), n);
            }
        }
    }
    const bool ok = writer.Flush() && std::fclose(out) == 0;
    if (!ok) {
        std::fprintf(stderr, "lumeno-make-capture: writing %s failed: %s\n", path,
                     std::strerror(errno));
        return 1;
    }
    return 0;
}
