// Offers UDP and TCP traffic on the loopback interface at a steady rate, for measuring live
// capture under load. It only ever sends to 127.0.0.1, to receivers of its own, and stops
// by itself.
//
//   lumeno-load --rate PACKETS_PER_SECOND --seconds S [--port P] [--tcp-percent N]
//
// UDP datagrams go to 127.0.0.1:P, TCP segments (32 bytes each, Nagle off) over one
// connection to 127.0.0.1:P+1. Prints what it offered and what the loopback interface
// carried meanwhile (acknowledgements included).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kMaxRate = 5e6;
constexpr double kMaxSeconds = 60;
constexpr int kBatch = 64;

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

std::uint64_t LoopbackPackets() {
    std::ifstream in("/sys/class/net/lo/statistics/tx_packets");
    std::uint64_t n = 0;
    in >> n;
    return n;
}

int Fail(const char* what) {
    std::fprintf(stderr, "lumeno-load: %s: %s\n", what, std::strerror(errno));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    double rate = 0;
    double seconds = 0;
    int port = 40000;
    int tcpPercent = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--rate") {
            rate = std::strtod(argv[i + 1], nullptr);
        } else if (arg == "--seconds") {
            seconds = std::strtod(argv[i + 1], nullptr);
        } else if (arg == "--port") {
            port = std::atoi(argv[i + 1]);
        } else if (arg == "--tcp-percent") {
            tcpPercent = std::atoi(argv[i + 1]);
        } else {
            rate = 0;
            break;
        }
    }
    if (argc % 2 == 0 || !(rate > 0) || rate > kMaxRate || !(seconds > 0) ||
        seconds > kMaxSeconds || port < 1024 || port > 65534 || tcpPercent < 0 ||
        tcpPercent > 100) {
        std::fprintf(stderr,
                     "usage: lumeno-load --rate PPS (up to 5000000) --seconds S (up to 60) "
                     "[--port P (1024-65534)] [--tcp-percent N]\n");
        return 2;
    }

    // Receivers of our own, so that nothing answers with "port unreachable". The UDP one
    // is never read: once its buffer is full the kernel drops there, after capture saw it.
    const int udpIn = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in udpAddr = Loopback(static_cast<std::uint16_t>(port));
    if (udpIn < 0 || bind(udpIn, reinterpret_cast<const sockaddr*>(&udpAddr), sizeof udpAddr) != 0)
        return Fail("UDP receiver");
    const int udpOut = socket(AF_INET, SOCK_DGRAM, 0);
    if (udpOut < 0 ||
        connect(udpOut, reinterpret_cast<const sockaddr*>(&udpAddr), sizeof udpAddr) != 0)
        return Fail("UDP sender");

    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in tcpAddr = Loopback(static_cast<std::uint16_t>(port + 1));
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (listener < 0 ||
        bind(listener, reinterpret_cast<const sockaddr*>(&tcpAddr), sizeof tcpAddr) != 0 ||
        listen(listener, 1) != 0)
        return Fail("TCP listener");
    const int tcpOut = socket(AF_INET, SOCK_STREAM, 0);
    if (tcpOut < 0 ||
        connect(tcpOut, reinterpret_cast<const sockaddr*>(&tcpAddr), sizeof tcpAddr) != 0)
        return Fail("TCP connection");
    setsockopt(tcpOut, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const int tcpIn = accept(listener, nullptr, nullptr);
    if (tcpIn < 0) return Fail("TCP accept");
    std::atomic<bool> done{false};
    std::thread drain([&] {
        std::vector<char> buffer(1 << 16);
        while (!done.load(std::memory_order_relaxed)) {
            if (recv(tcpIn, buffer.data(), buffer.size(), 0) <= 0) break;
        }
    });

    char payload[32];
    std::memset(payload, 'L', sizeof payload);
    mmsghdr messages[kBatch];
    iovec vectors[kBatch];
    for (int i = 0; i < kBatch; ++i) {
        vectors[i] = {payload, sizeof payload};
        messages[i] = {};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }

    const std::uint64_t loBefore = LoopbackPackets();
    const double tcpShare = tcpPercent / 100.0;
    std::uint64_t udpSent = 0;
    std::uint64_t tcpSent = 0;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (Clock::time_point now = start; now < end; now = Clock::now()) {
        const double elapsed = std::chrono::duration<double>(now - start).count();
        const auto due = static_cast<std::uint64_t>(rate * elapsed);
        const auto tcpDue = static_cast<std::uint64_t>(static_cast<double>(due) * tcpShare);
        const std::uint64_t udpDue = due - tcpDue;
        if (udpSent + tcpSent >= due) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            continue;
        }
        if (udpSent < udpDue) {
            const auto n = static_cast<unsigned>(std::min<std::uint64_t>(kBatch, udpDue - udpSent));
            const int sent = sendmmsg(udpOut, messages, n, 0);
            if (sent > 0) udpSent += static_cast<std::uint64_t>(sent);
        }
        for (int i = 0; i < kBatch && tcpSent < tcpDue; ++i) {
            if (send(tcpOut, payload, sizeof payload, MSG_DONTWAIT) <= 0) break;
            ++tcpSent;
        }
    }
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    const std::uint64_t carried = LoopbackPackets() - loBefore;

    done = true;
    shutdown(tcpOut, SHUT_RDWR);
    shutdown(tcpIn, SHUT_RDWR);
    drain.join();
    close(tcpIn);
    close(tcpOut);
    close(listener);
    close(udpOut);
    close(udpIn);
    std::printf(
        "offered %llu (udp %llu, tcp writes %llu) in %.2f s = %.0f/s; loopback carried %llu\n",
        static_cast<unsigned long long>(udpSent + tcpSent),
        static_cast<unsigned long long>(udpSent), static_cast<unsigned long long>(tcpSent), took,
        static_cast<double>(udpSent + tcpSent) / took, static_cast<unsigned long long>(carried));
    return 0;
}
