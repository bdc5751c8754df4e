#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <tuple>

#include "capture/CaptureCtrl.h"
#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

using test::Bytes;
using test::ExpectContains;

// A PCAP-over-IP peer on 127.0.0.1: it serves the bytes to its first client in pieces of
// random sizes, then closes.
struct Peer {
    std::uint16_t port = 0;
    int listener = test::BoundSocket(SOCK_STREAM, port);
    std::thread thread;

    explicit Peer(const Bytes& bytes) {
        ::listen(listener, 1);
        thread = std::thread([this, bytes] {
            const int fd = ::accept(listener, nullptr, nullptr);
            test::WriteInPieces(fd, bytes, 20);
            ::close(fd);
        });
    }
    ~Peer() {
        ::shutdown(listener, SHUT_RDWR);  // wakes the accept when nobody came
        thread.join();
        ::close(listener);
    }
    std::string Address() const { return "pcap-over-ip://127.0.0.1:" + std::to_string(port); }
};

// Capture from the source named by text until it ends or fails.
test::FileRun ReadStream(const std::string& text, const std::string& monitor,
                         const QString& filter = {}) {
    const std::optional<Adapter> adapter = CaptureCtrl::StreamAdapter(QString::fromStdString(text));
    if (!adapter) return {};
    return test::RunCapture(*adapter, monitor, 0, filter, 30000);
}

// A capture served over TCP in pieces of random sizes (a named pipe: the window's test) gives
// the same records as the file itself, filtered or not, and its end ends the capture with
// a message that says so. A peer that sends garbage, nothing, or stops inside a record
// fails with the reason, after drawing what came whole.
TEST(StreamSources, PcapOverIpGivesTheFilesRecordsOrFailsClearly) {
    const std::string path = LUMENO_SAMPLE_CAPTURE;
    const Bytes sample = test::ReadFile(path);
    ASSERT_GT(sample.size(), 1000u);
    const test::FileRun file = test::ReplayFile(path, "192.168.1.101");
    const test::FileRun udp = test::ReplayFile(path, "192.168.1.101", 0, "udp");
    ASSERT_TRUE(file.finished && udp.finished && file.rows.size() > 1000);
    const Bytes cut(sample.begin(), sample.begin() + 24 + 16 + 30);  // inside the first record
    const std::string http = "HTTP/1.1 200 OK\r\nContent-L\r";
    const Bytes garbage(http.begin(), http.end());

    // what is sent, filter, records expected, the end's words (failures say why)
    const std::tuple<Bytes, QString, const test::FileRun*, QStringList> cases[] = {
        {sample, "", &file, {"closed the connection", "4325 packets read"}},
        {sample, "udp", &udp, {"closed the connection"}},
        {garbage, "", nullptr, {"damaged", "does not begin with a pcap or pcapng header"}},
        {{}, "", nullptr, {"without sending a pcap header"}},
        {cut, "", nullptr, {"in the middle of a packet"}},
    };
    for (const auto& [bytes, filter, expected, words] : cases) {
        Peer peer(bytes);
        const test::FileRun run = ReadStream(peer.Address(), "192.168.1.101", filter);
        ASSERT_TRUE(run.started) << peer.Address() << ": " << run.startError.toStdString();
        EXPECT_EQ(run.finished, expected != nullptr) << run.endMessage.toStdString();
        for (const QString& word : words) ExpectContains(run.endMessage, {word});
        if (expected) {
            EXPECT_EQ(run.seen, expected->seen) << peer.Address();
            EXPECT_TRUE(run.rows == expected->rows)
                << peer.Address() << " " << filter.toStdString();
        } else {
            EXPECT_TRUE(run.rows.empty());
        }
    }
}

// Addresses that cannot work are refused at Start with what is wrong.
TEST(StreamSources, AddressesThatCannotWorkAreRefusedSayingWhy) {
    std::uint16_t closed = 0;
    ::close(test::BoundSocket(SOCK_STREAM, closed));  // nobody listens there now
    const std::pair<std::string, QString> cases[] = {
        {"pcap-over-ip://127.0.0.1:" + std::to_string(closed), "Connection refused"},
        {"pcap-over-ip://127.0.0.1", "write pcap-over-ip://HOST:PORT"},
        {"pcap-over-ip://127.0.0.1:80/x", "write pcap-over-ip://HOST:PORT"},
        {"ssh://127.0.0.1", "write ssh://[USER@]HOST[:PORT]/ADAPTER"},
        {"ssh://-oProxyCommand=x/eth0", "not a remote capture address"},
        {"ssh://127.0.0.1:0/lo", "not a remote capture address"},
    };
    for (const auto& [address, why] : cases) {
        const test::FileRun run = ReadStream(address, "");
        EXPECT_FALSE(run.started) << address;
        ExpectContains(run.startError, {why});
    }
    // Only these forms, and paths of pipes, are streams.
    for (const char* other : {"eth0", "/etc/hostname", "/nonexistent", "", "http://x/"}) {
        EXPECT_FALSE(CaptureCtrl::StreamAdapter(other)) << other;
    }
    EXPECT_TRUE(CaptureCtrl::StreamAdapter(" - "));
    EXPECT_TRUE(CaptureCtrl::StreamAdapter("/dev/null"));  // a character device
}

}  // namespace
}  // namespace lumeno
