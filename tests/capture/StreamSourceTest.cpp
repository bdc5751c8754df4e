#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "capture/CaptureCtrl.h"
#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

using test::Bytes;
using test::ExpectContains;

// A PCAP-over-IP peer on 127.0.0.1 (or the writer of a named pipe): it serves the bytes
// to its first reader in pieces of random sizes, then closes.
class Peer {
  public:
    enum Transport { kTcp, kPipe };

    Peer(Transport transport, Bytes bytes) {
        if (transport == kTcp) {
            listener_ = test::BoundSocket(SOCK_STREAM, port_);
            ::listen(listener_, 1);
            address_ = "pcap-over-ip://127.0.0.1:" + std::to_string(port_);
        } else {
            address_ = test::TempPath("stream-" + std::to_string(++count_) + ".fifo");
            ::unlink(address_.c_str());
            ::mkfifo(address_.c_str(), 0600);
        }
        thread_ = std::thread([this, transport, bytes = std::move(bytes)] {
            int fd = -1;
            for (int waited = 0; fd < 0 && waited < 10000 && !quit_; waited += 10) {
                if (transport == kTcp) {
                    pollfd p{listener_, POLLIN, 0};
                    if (::poll(&p, 1, 10) == 1) fd = ::accept(listener_, nullptr, nullptr);
                } else {
                    // Opens once a reader is there (ENXIO before).
                    fd = ::open(address_.c_str(), O_WRONLY | O_NONBLOCK);
                    if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            }
            if (fd < 0) return;
            test::WriteInPieces(fd, bytes, 20);
            ::close(fd);
        });
    }
    ~Peer() {
        quit_ = true;
        thread_.join();
        if (listener_ >= 0) ::close(listener_);
    }
    const std::string& Address() const { return address_; }

  private:
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::string address_;
    std::atomic<bool> quit_{false};
    std::thread thread_;
    static inline int count_ = 0;
};

// Capture from the source named by text until it ends or fails.
test::FileRun ReadStream(const std::string& text, const std::string& monitor,
                         const QString& filter = {}) {
    const std::optional<Adapter> adapter = CaptureCtrl::StreamAdapter(QString::fromStdString(text));
    if (!adapter) return {};
    CaptureStats stats;
    test::FileRun run = test::RunCapture(*adapter, monitor, 0, filter, 30000, &stats);
    EXPECT_FALSE(run.started && stats.dropsKnown) << text;
    return run;
}

// A capture served over TCP or written into a named pipe, in pieces of random sizes, gives
// the same records as the file itself, filtered or not, and its end ends the capture with
// a message that says so. A peer that sends garbage, nothing, or stops inside a record
// fails with the reason, after drawing what came whole.
TEST(StreamSources, PcapOverIpAndPipesGiveTheFilesRecordsOrFailClearly) {
    const std::string path = LUMENO_SAMPLE_CAPTURE;
    const Bytes sample = test::ReadFile(path);
    ASSERT_GT(sample.size(), 1000u);
    const test::FileRun file = test::ReplayFile(path, "192.168.1.101");
    const test::FileRun udp = test::ReplayFile(path, "192.168.1.101", 0, "udp");
    ASSERT_TRUE(file.finished && udp.finished && file.rows.size() > 1000);
    const Bytes cut(sample.begin(), sample.begin() + 24 + 16 + 30);  // inside the first record
    const std::string http = "HTTP/1.1 200 OK\r\nContent-L\r";
    const Bytes garbage(http.begin(), http.end());
    const QStringList notPcap = {"damaged", "does not begin with a pcap or pcapng header"};

    // transport, what is sent, filter, records expected, the end's words (failures say why)
    const std::tuple<Peer::Transport, Bytes, QString, const test::FileRun*, QStringList> cases[] = {
        {Peer::kTcp, sample, "", &file, {"closed the connection", "4325 packets read"}},
        {Peer::kPipe, sample, "", &file, {"End of the pcap stream from the pipe", "4325"}},
        {Peer::kTcp, sample, "udp", &udp, {"closed the connection"}},
        {Peer::kTcp, garbage, "", nullptr, notPcap},
        {Peer::kTcp, {}, "", nullptr, {"without sending a pcap header"}},
        {Peer::kTcp, cut, "", nullptr, {"in the middle of a packet"}},
    };
    for (const auto& [transport, bytes, filter, expected, words] : cases) {
        Peer peer(transport, bytes);
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
