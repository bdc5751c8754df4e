#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "capture/CaptureCtrl.h"
#include "capture/Frames.h"
#include "capture/Intake.h"
#include "views/WindowKit.h"

namespace lumeno::test {

// One accepted record, copied out of the packet event.
struct Row {
    std::string sourceMAC, sourceIP;
    int sourcePort = 0;
    std::string dstMAC, dstIP;
    int dstPort = 0;
    std::string transportType;
    int packetLen = 0;
    Bytes packetTxt;
    bool operator==(const Row&) const = default;
};

// Shown field by field when a comparison fails (the bytes by their count).
void PrintTo(const Row& row, std::ostream* out);

struct CollectingSink : RecordSink {
    void PlotPacket(const PacketRecord& record) override;
    std::vector<Row> rows;
};

// What replaying one capture file through the capture control gave.
struct FileRun {
    bool started = false, finished = false, failed = false;
    QString startError, endMessage;      // why it did not start; the finished or failed message
    std::uint64_t seen = 0, tcpUdp = 0;  // frames, and those decoded as TCP or UDP
    std::vector<Row> rows;               // records accepted for the monitor text
    double seconds = 0;
};

FileRun ReplayFile(const std::string& path, const std::string& monitor, double speed = 0,
                   const QString& filter = {});
// The same from any source, waiting at most timeoutMs.
FileRun RunCapture(const Adapter& adapter, const std::string& monitor, double speed,
                   const QString& filter, int timeoutMs);

struct TimedFrame {
    double time = 0;  // seconds
    Bytes bytes;
};

// A frame as a capture file holds it: bytes, seconds, microseconds, length on the wire.
using Packet = std::tuple<Bytes, long, long, std::uint32_t>;
// What libpcap reads from a file: nothing opened (error says why), or its link type,
// snapshot length, packets, and "" at the end or the error that stopped it.
struct LibpcapRead {
    bool opened = false;
    int linkType = 0, snapshot = 0;
    std::vector<Packet> packets{};
    std::string error;
};
LibpcapRead ByLibpcap(const std::string& path);

std::string TempPath(const std::string& name);
Bytes ReadFile(const std::string& path);
// Writes bytes to fd (a socket or a pipe) in pieces of random sizes (1 to 3000), now and then
// after a pause.
void WriteInPieces(int fd, const Bytes& bytes, unsigned seed);

// Writes the frames as an Ethernet capture file in the temporary folder; gives its path.
std::string WriteEthernetFile(const std::string& name, const std::vector<TimedFrame>& frames);

// A capture file of the given link type holding `count` all-zero frames of `size` bytes,
// written by hand: libpcap refuses to write link types it has no name for.
void WriteLinkTypeFile(const QString& path, std::uint32_t linkType, int count, int size = 60);

// While it lives, running images go to a fresh folder and nowhere is told of them.
struct RunningImagesHere {
    QTemporaryDir dir;
    ImageContext saved = std::exchange(RunningImageContext(), {dir.path(), {}});
    ~RunningImagesHere() { RunningImageContext() = saved; }
};

// A Unix socket bound at path: a name in the file system that is no regular file.
int UnixSocket(const QString& path);

// Runs the event loop until done() or the time is up; says whether done() came true.
bool WaitUntil(const std::function<bool()>& done, int ms = 5000);

// A test failure for each part the text lacks, with the whole text shown.
void ExpectContains(const QString& text, std::initializer_list<QString> parts);

// A failure for each regular expression (multi-line) that matches nowhere in the text.
void ExpectMatches(const QString& text, const QStringList& patterns);

// A tmpfs of the given size mounted on a fresh folder, unmounted at the end; Path() is
// empty (and Why() says why) where this process may not mount one.
class TinyDisk {
  public:
    explicit TinyDisk(const char* size);
    ~TinyDisk();
    const QString& Path() const { return path_; }
    const QString& Why() const { return why_; }

  private:
    QTemporaryDir dir_;
    QString path_, why_;
};

// A program run to its end: its exit status (-2: killed by a signal, -1: did not finish).
struct ProgramRun {
    int status = -1;
    QString out, err;
};
struct ProgramSetup {
    QString feed{};  // a file piped to standard input through cat; else none
    QString workingDir{}, stdoutFile{};
    std::function<void(QProcess&)> whileRunning{};
    std::function<void(QProcessEnvironment&)> environment{};  // after DISPLAY is removed
};
ProgramRun RunProgram(const QString& program, const QStringList& arguments,
                      const ProgramSetup& setup = {});
#ifdef LUMENO_EXECUTABLE
// The program itself, with no display to show windows on.
inline ProgramRun Lumeno(const QStringList& arguments, const ProgramSetup& setup = {}) {
    return RunProgram(QStringLiteral(LUMENO_EXECUTABLE), arguments, setup);
}
#endif

// A hexadecimal field of /proc/PID/status (SigCgt, CapEff, ...); none where it is not there.
std::optional<std::uint64_t> ProcStatusField(qint64 pid, const char* field);

// A socket bound to 127.0.0.1 (or ::1) on a port the kernel picks; -1 on failure (no IPv6).
int BoundSocket(int type, std::uint16_t& port, int family = AF_INET);
sockaddr_in Loopback(std::uint16_t port);
sockaddr_in6 Loopback6(std::uint16_t port);

// A UDP receiver on 127.0.0.1 and a sender, each on a port the kernel picks; closed at the end.
struct LoopbackUdp {
    std::uint16_t port = 0, sendPort = 0;
    int receiver = BoundSocket(SOCK_DGRAM, port), sender = BoundSocket(SOCK_DGRAM, sendPort);
    LoopbackUdp() = default;
    LoopbackUdp(const LoopbackUdp&) = delete;
    ~LoopbackUdp();
    bool Ok() const { return receiver >= 0 && sender >= 0; }
    // Sends the text (and its terminating zero when size says so) to the receiver's port, or
    // to another.
    void Send(const char* text, std::size_t size, int to = -1) const;
    // For a program run: after the delay, count datagrams of the text, gapMs apart, while it runs.
    std::function<void(QProcess&)> WhileRunning(const char* text, int count, int gapMs,
                                                int delayMs = 0) const;
};

}  // namespace lumeno::test
