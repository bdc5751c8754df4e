#include "capture/CaptureTestSupport.h"

#include <poll.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <thread>

#include "capture/CaptureCtrl.h"

namespace lumeno::test {

void PrintTo(const Row& r, std::ostream* out) {
    *out << r.transportType << " " << r.sourceMAC << " " << r.sourceIP << ":" << r.sourcePort
         << " -> " << r.dstMAC << " " << r.dstIP << ":" << r.dstPort << " length " << r.packetLen
         << ", " << r.packetTxt.size() << " bytes";
}

void CollectingSink::PlotPacket(const PacketRecord& r) {
    rows.push_back({std::string(r.sourceMAC), std::string(r.sourceIP), r.sourcePort,
                    std::string(r.dstMAC), std::string(r.dstIP), r.dstPort,
                    std::string(r.transportType), r.packetLen,
                    Bytes(r.packetTxt.begin(), r.packetTxt.end())});
}

FileRun ReplayFile(const std::string& path, const std::string& monitor, double speed,
                   const QString& filter) {
    return RunCapture(CaptureCtrl::FileAdapter(path), monitor, speed, filter, 60000);
}

FileRun RunCapture(const Adapter& adapter, const std::string& monitor, double speed,
                   const QString& filter, int timeoutMs) {
    FileRun run;
    CaptureCtrl capture;
    CollectingSink sink;
    if (!capture.SetFilter(filter, &run.startError)) return run;
    capture.SetCurrentAdapter(adapter);
    capture.SetReplaySpeed(speed);
    capture.SetPacketHandler([&](const DecodedPacket& packet) {
        run.tcpUdp += packet.protocolKind != kProtocolOther;
        IntakePacket(packet, monitor, sink);
    });
    QEventLoop loop;
    for (auto [signal, flag] :
         {std::pair{&CaptureCtrl::finished, &run.finished}, {&CaptureCtrl::failed, &run.failed}}) {
        QObject::connect(&capture, signal, [&run, &loop, flag](const QString& m) {
            *flag = true;
            run.endMessage = m;
            loop.quit();
        });
    }
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    run.started = capture.Start(&run.startError);
    if (run.started) loop.exec();
    run.seconds = clock.elapsed() / 1000.0;
    run.seen = capture.Statistics().seen;
    run.rows = std::move(sink.rows);
    return run;
}

LibpcapRead ByLibpcap(const std::string& path) {
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    LibpcapRead read;
    pcap_t* p = pcap_open_offline(path.c_str(), errbuf);
    if (!p) return {.error = errbuf};
    pcap_pkthdr* h;
    const u_char* data;
    int status;
    while ((status = pcap_next_ex(p, &h, &data)) == 1)
        read.packets.emplace_back(Bytes(data, data + h->caplen), h->ts.tv_sec, h->ts.tv_usec,
                                  h->len);
    read = {true, pcap_datalink(p), pcap_snapshot(p), std::move(read.packets),
            status == PCAP_ERROR_BREAK ? "" : pcap_geterr(p)};
    pcap_close(p);
    return read;
}

std::string TempPath(const std::string& name) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("lumeno-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Writes bytes to fd in pieces of random sizes (1 to 3000), now and then after a pause.
void WriteInPieces(int fd, const Bytes& bytes, unsigned seed) {
    std::mt19937 random(seed);
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t piece = std::min<std::size_t>(random() % 3000 + 1, bytes.size() - at);
        ssize_t n = ::send(fd, bytes.data() + at, piece, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK) n = ::write(fd, bytes.data() + at, piece);
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        if (n <= 0) return;  // the reader went away
        at += static_cast<std::size_t>(n);
        if (random() % 16 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string WriteEthernetFile(const std::string& name, const std::vector<TimedFrame>& frames) {
    const std::string path = TempPath(name);
    pcap_t* dead = pcap_open_dead(linktype::kEthernet, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    if (!dumper) throw std::runtime_error("cannot write " + path);
    for (const TimedFrame& f : frames) {
        const auto seconds = static_cast<time_t>(f.time);
        const auto size = static_cast<bpf_u_int32>(f.bytes.size());
        const pcap_pkthdr h{{seconds, suseconds_t((f.time - double(seconds)) * 1e6)}, size, size};
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, f.bytes.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return path;
}

void WriteLinkTypeFile(const QString& path, std::uint32_t linkType, int count, int size) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    const std::uint32_t header[] = {0xa1b2c3d4, 0x00040002, 0, 0, 65535, linkType};
    file.write(reinterpret_cast<const char*>(header), sizeof header);
    const std::vector<char> frame(static_cast<std::size_t>(size), 0);
    for (int i = 0; i < count; ++i) {
        const std::uint32_t record[] = {1700000000u + std::uint32_t(i), 0, std::uint32_t(size),
                                        std::uint32_t(size)};
        file.write(reinterpret_cast<const char*>(record), sizeof record);
        file.write(frame.data(), size);
    }
}

int UnixSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(path).constData(),
                 sizeof address.sun_path - 1);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
    ::close(fd);
    return -1;
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

void ExpectMatches(const QString& text, const QStringList& patterns) {
    for (const QString& pattern : patterns) {
        EXPECT_TRUE(text.contains(QRegularExpression(pattern, QRegularExpression::MultilineOption)))
            << pattern.toStdString() << "\n"
            << text.toStdString();
    }
}

TinyDisk::TinyDisk(const char* size) {
    if (!dir_.isValid()) return;
    const QByteArray options = QByteArray("size=") + size;
    if (::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", 0,
                options.constData()) == 0) {
        path_ = dir_.path();
    } else {
        why_ = QString::fromLocal8Bit(std::strerror(errno));
    }
}

TinyDisk::~TinyDisk() {
    if (!path_.isEmpty()) ::umount2(QFile::encodeName(path_).constData(), MNT_DETACH);
}

ProgramRun RunProgram(const QString& program, const QStringList& arguments,
                      const ProgramSetup& setup) {
    QProcess process, cat;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    if (setup.environment) setup.environment(env);
    process.setProcessEnvironment(env);
    if (!setup.workingDir.isEmpty()) process.setWorkingDirectory(setup.workingDir);
    if (!setup.stdoutFile.isEmpty()) process.setStandardOutputFile(setup.stdoutFile);
    if (setup.feed.isEmpty()) {
        process.setStandardInputFile(QProcess::nullDevice());
    } else {
        cat.setStandardOutputProcess(&process);
        cat.start("cat", {setup.feed});
    }
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForStarted()) return run;
    if (setup.whileRunning) setup.whileRunning(process);
    if (!process.waitForFinished(120000) && process.state() != QProcess::NotRunning) return run;
    cat.waitForFinished();
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

std::optional<std::uint64_t> ProcStatusField(qint64 pid, const char* field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray text = status.readAll(), key = "\n" + QByteArray(field) + ":";
    const qsizetype at = text.indexOf(key), end = text.indexOf('\n', at + 1);
    if (at < 0) return std::nullopt;
    return text.mid(at + key.size(), end - at - key.size()).trimmed().toULongLong(nullptr, 16);
}

int BoundSocket(int type, std::uint16_t& port, int family) {
    const int fd = ::socket(family, type, 0);
    sockaddr_in a4 = Loopback(0);
    sockaddr_in6 a6 = Loopback6(0);
    const bool v6 = family == AF_INET6;
    auto* a = v6 ? reinterpret_cast<sockaddr*>(&a6) : reinterpret_cast<sockaddr*>(&a4);
    socklen_t len = v6 ? sizeof a6 : sizeof a4;
    if (fd < 0 || ::bind(fd, a, len) != 0 || ::getsockname(fd, a, &len) != 0) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    port = ntohs(v6 ? a6.sin6_port : a4.sin_port);
    return fd;
}

sockaddr_in Loopback(std::uint16_t port) {
    return {AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
}

sockaddr_in6 Loopback6(std::uint16_t port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = in6addr_loopback;
    return a;
}

LoopbackUdp::~LoopbackUdp() {
    for (int fd : {receiver, sender}) {
        if (fd >= 0) ::close(fd);
    }
}

void LoopbackUdp::Send(const char* text, std::size_t size, int to) const {
    const sockaddr_in a = Loopback(to < 0 ? port : std::uint16_t(to));
    ::sendto(sender, text, size, 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

std::function<void(QProcess&)> LoopbackUdp::WhileRunning(const char* text, int count, int gapMs,
                                                         int delayMs) const {
    return [=, this](QProcess& process) {
        QTest::qWait(delayMs);
        for (int i = 0; i < count && process.state() == QProcess::Running; ++i) {
            Send(text, std::strlen(text));
            QTest::qWait(gapMs);
        }
    };
}

}  // namespace lumeno::test
