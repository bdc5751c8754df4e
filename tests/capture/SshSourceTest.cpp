#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <tuple>

#include "capture/CaptureCtrl.h"
#include "capture/CaptureTestSupport.h"

namespace lumeno {
namespace {

using test::ExpectContains;
using test::WaitUntil;

// An OpenSSH server of this test's own on a high port of 127.0.0.1, with a host key and a
// user key (and one it does not know) made in a temporary folder.
class SshServer {
  public:
    SshServer() {
        const QString sshd = QStringLiteral("/usr/sbin/sshd");
        if (!QFileInfo(sshd).isExecutable()) {
            why_ = "no " + sshd.toStdString() + " (Debian package openssh-server)";
            return;
        }
        if (::geteuid() != 0) {
            why_ = "tcpdump on the server side needs root to capture";
            return;
        }
        for (const char* key : {"host", "user", "stranger"}) {
            if (QProcess::execute("ssh-keygen",
                                  {"-q", "-t", "ed25519", "-N", "", "-f", Path(key)}) != 0) {
                why_ = "ssh-keygen failed";
                return;
            }
        }
        QFile::copy(Path("user.pub"), Path("authorized_keys"));
        ::mkdir("/run/sshd", 0755);  // sshd's privilege separation needs it
        const int probe = test::BoundSocket(SOCK_STREAM, port_);
        ::close(probe);
        server_.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments = {"-D", "-e",        "-f", "/dev/null", "-p", QString::number(port_),
                                 "-h", Path("host")};
        for (const QString& option :
             QStringList{"ListenAddress=127.0.0.1", "AuthorizedKeysFile=" + Path("authorized_keys"),
                         "StrictModes=no", "UsePAM=no", "PidFile=none",
                         "PermitRootLogin=prohibit-password", "MaxStartups=50"}) {
            arguments << "-o" << option;
        }
        server_.start(sshd, arguments);
        if (!server_.waitForStarted() || !WaitUntil([&] {
                return server_.state() != QProcess::Running ||
                       server_.peek(4096).contains("Server listening");
            }) ||
            server_.state() != QProcess::Running) {
            why_ = "sshd did not start: " + server_.readAll().toStdString();
            return;
        }
        // The client knows the host key from the start: nothing to accept.
        QFile hostKey(Path("host.pub")), known(Path("known_hosts"));
        hostKey.open(QIODevice::ReadOnly);
        known.open(QIODevice::WriteOnly);
        known.write(QStringLiteral("[127.0.0.1]:%1 ").arg(port_).toUtf8() + hostKey.readAll());
    }
    ~SshServer() {
        server_.terminate();
        server_.waitForFinished(2000);
    }

    const std::string& WhyNot() const { return why_; }
    std::uint16_t Port() const { return port_; }
    // The ssh client with this server's keys in place of the user's own.
    QStringList Client(const char* key) const {
        return QStringList{"ssh", "-F", "/dev/null", "-i", Path(key), "-o", "IdentitiesOnly=yes"} +
               QStringList{"-o", "UserKnownHostsFile=" + Path("known_hosts"), "-o",
                           "StrictHostKeyChecking=yes"};
    }
    std::string Address(const std::string& adapter) const {
        const passwd* user = ::getpwuid(::geteuid());
        return "ssh://" + std::string(user ? user->pw_name : "root") +
               "@127.0.0.1:" + std::to_string(port_) + "/" + adapter;
    }

  private:
    QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir_;
    QProcess server_;
    std::uint16_t port_ = 0;
    std::string why_;
};

// Processes running tcpdump on lo as the remote capture starts it.
int RemoteCaptures() {
    static const QByteArray kArguments("-U\0-s\0000\0-w\0-\0-i\0lo\0", 19);
    int count = 0;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile cmdline("/proc/" + pid + "/cmdline");
        if (!cmdline.open(QIODevice::ReadOnly)) continue;
        const QByteArray text = cmdline.readAll();
        count += text.startsWith("tcpdump") && text.contains(kArguments);
    }
    return count;
}

// Over ssh to the test's own server, tcpdump on its lo brings back the UDP and TCP traffic
// the test sends to 127.0.0.1, classified as from a local adapter; with the window's filter
// only what it names. The ssh connection's own packets are never among the records, Stop
// ends the remote tcpdump, and its figures then tell the kernel's drops. A key the server
// does not know, or an adapter the host does not have, ends the capture with ssh's or
// tcpdump's own words.
TEST(SshSource, RemoteCaptureBringsTheTrafficButNotItsOwnOrSaysWhyNot) {
    SshServer server;
    if (!server.WhyNot().empty()) GTEST_SKIP() << server.WhyNot();
    const test::LoopbackUdp udp;
    std::uint16_t tcpPort = 0;
    const int listener = test::BoundSocket(SOCK_STREAM, tcpPort);
    ASSERT_TRUE(udp.Ok() && listener >= 0);
    ::listen(listener, 64);
    const sockaddr_in tcpTo = test::Loopback(tcpPort);
    // key, adapter, filter, the failure's words (none: the capture runs)
    const std::tuple<const char*, std::string, QString, QStringList> cases[] = {
        {"user", "lo", "", {}},
        {"user", "lo", "udp", {}},
        {"stranger", "lo", "", {"could not connect or log in", "Permission denied (publickey"}},
        {"user", "nosuchadapter0", "", {"remote capture ended", "tcpdump: nosuchadapter0"}},
    };
    for (const auto& [key, adapter, filter, words] : cases) {
        SCOPED_TRACE(key + (" " + adapter) + " " + filter.toStdString());
        CaptureCtrl capture;
        test::CollectingSink sink;
        QString failure;
        capture.SetSshCommand(server.Client(key));
        capture.SetCurrentAdapter(
            *CaptureCtrl::StreamAdapter(QString::fromStdString(server.Address(adapter))));
        capture.SetPacketHandler(
            [&](const DecodedPacket& p) { IntakePacket(p, "127.0.0.1", sink); });
        QObject::connect(&capture, &CaptureCtrl::failed, [&](const QString& m) { failure = m; });
        ASSERT_TRUE(capture.SetFilter(filter, nullptr));
        ASSERT_TRUE(capture.Start(nullptr));
        if (!words.isEmpty()) {
            EXPECT_TRUE(WaitUntil([&] { return !failure.isEmpty(); }, 10000));
            for (const QString& word : words) ExpectContains(failure, {word});
            EXPECT_FALSE(capture.IsCapturing());
            continue;
        }
        const auto udpRows = [&] {
            return std::ranges::count(sink.rows, udp.port, &test::Row::dstPort);
        };
        // Bounded traffic until ten datagrams came back (the remote tcpdump needs a moment).
        for (int i = 0; i < 100 && udpRows() < 10 && failure.isEmpty(); ++i) {
            udp.Send("lumeno over ssh", 15);
            const int client = ::socket(AF_INET, SOCK_STREAM, 0);
            ::connect(client, reinterpret_cast<const sockaddr*>(&tcpTo), sizeof tcpTo);
            ::send(client, "hello", 5, MSG_NOSIGNAL);
            ::close(client);
            const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
            if (accepted >= 0) ::close(accepted);
            QTest::qWait(60);
        }
        ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();
        EXPECT_GE(udpRows(), 10);
        EXPECT_EQ(RemoteCaptures(), 1);
        QElapsedTimer clock;
        clock.start();
        capture.Stop();
        EXPECT_LT(clock.elapsed(), 4000);
        EXPECT_TRUE(WaitUntil([] { return RemoteCaptures() == 0; })) << "tcpdump left running";
        const CaptureStats stats = capture.Statistics();
        EXPECT_TRUE(stats.dropsKnown && stats.dropped == 0 && stats.received >= stats.seen)
            << stats.dropped << " dropped, " << stats.received << " received, " << stats.seen;
        const std::string udpRow =
            "incomingUDP 00:00:00:00:00:00 127.0.0.1:" + std::to_string(udp.sendPort) +
            " -> 00:00:00:00:00:00 127.0.0.1:" + std::to_string(udp.port) + " length 57, 57 bytes";
        int tcpRows = 0;
        for (const test::Row& r : sink.rows) {
            ASSERT_TRUE(r.sourcePort != server.Port() && r.dstPort != server.Port())
                << "the ssh connection itself: " << testing::PrintToString(r);
            EXPECT_TRUE(r.dstPort != udp.port || testing::PrintToString(r) == udpRow)
                << testing::PrintToString(r);
            tcpRows += r.transportType == "incomingTCP" &&
                       (r.dstPort == tcpPort || r.sourcePort == tcpPort);
        }
        EXPECT_EQ(tcpRows > 0, filter.isEmpty());
    }
    ::close(listener);
}

}  // namespace
}  // namespace lumeno
