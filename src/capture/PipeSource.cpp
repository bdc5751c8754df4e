#include "capture/PipeSource.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QUrl>
#include <cerrno>
#include <cstring>

namespace lumeno {

namespace {

constexpr int kConnectMillis = 5000;

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

PipeSource::PipeSource(SourceSink& sink, SourceKind kind, std::string name, std::string filter)
    : StreamSource(sink), kind_(kind), name_(std::move(name)) {
    SetLocalFilter(std::move(filter));
}

PipeSource::~PipeSource() {
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);
}

QString PipeSource::What() const {
    switch (kind_) {
        case SourceKind::kStdin:
            return QStringLiteral("standard input");
        case SourceKind::kPipe:
            return QStringLiteral("the pipe %1").arg(QString::fromStdString(name_));
        default:
            return QString::fromStdString(name_);
    }
}

QString PipeSource::StreamName() const {
    return QStringLiteral("The pcap stream from %1").arg(What());
}

bool PipeSource::ParseAddress(const QString& text, QString& host, quint16& port, QString& why) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString path = url.path();
    if (!url.isValid() || url.host().isEmpty() || url.port() < 1 ||
        (!path.isEmpty() && path != QStringLiteral("/")) || !url.userInfo().isEmpty()) {
        why = QStringLiteral(
                  "\"%1\" is not a PCAP-over-IP address: write "
                  "pcap-over-ip://HOST:PORT, for example pcap-over-ip://10.0.0.5:57012.")
                  .arg(text);
        return false;
    }
    host = url.host();
    port = static_cast<quint16>(url.port());
    return true;
}

bool PipeSource::Connect(QString* error) {
    QString host, why;
    quint16 port = 0;
    if (!ParseAddress(QString::fromStdString(name_), host, port, why)) {
        if (error) *error = why;
        return false;
    }
    const QString where = QString::fromStdString(name_);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(host.toLocal8Bit().constData(),
                                     QByteArray::number(port).constData(), &hints, &found);
    if (status != 0) {
        if (error) {
            *error = QStringLiteral("Cannot connect to %1: %2")
                         .arg(where, QString::fromLocal8Bit(gai_strerror(status)));
        }
        return false;
    }
    int lastError = ETIMEDOUT;
    for (addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
            lastError = errno;
            ::close(fd);
            continue;
        }
        pollfd p{fd, POLLOUT, 0};
        int soError = ETIMEDOUT;
        if (::poll(&p, 1, kConnectMillis) == 1) {
            socklen_t length = sizeof soError;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
        }
        if (soError != 0) {
            lastError = soError;
            ::close(fd);
            continue;
        }
        fd_ = fd;
    }
    ::freeaddrinfo(found);
    if (fd_ < 0 && error) {
        *error = QStringLiteral("Cannot connect to %1: %2").arg(where, SystemError(lastError));
    }
    return fd_ >= 0;
}

bool PipeSource::Open(QString* error) {
    if (kind_ == SourceKind::kPcapOverIp) {
        if (!Connect(error)) return false;
    } else if (kind_ == SourceKind::kStdin) {
        if (::isatty(STDIN_FILENO)) {
            if (error) {
                *error = QStringLiteral(
                    "Standard input is a terminal, not a pcap stream. Feed one in, for example: "
                    "tcpdump -U -w - | lumeno -");
            }
            return false;
        }
        fd_ = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
        if (fd_ < 0) {
            if (error) {
                *error = QStringLiteral("Cannot read standard input: %1").arg(SystemError(errno));
            }
            return false;
        }
    } else {
        // Without O_NONBLOCK opening a pipe waits for its writer.
        fd_ = ::open(name_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            if (error) {
                *error = QStringLiteral("Cannot read %1: %2").arg(What(), SystemError(errno));
            }
            return false;
        }
    }
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
        if (error) *error = QStringLiteral("Cannot read %1: %2").arg(What(), SystemError(errno));
        return false;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    notifier_->setEnabled(false);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        notified_ = true;
        Wake();
        notified_ = false;
    });
    return true;
}

void PipeSource::Stop() {
    StreamSource::Stop();
    // A peer that still writes learns at once that nobody reads.
    if (fd_ >= 0 && kind_ == SourceKind::kPcapOverIp) ::shutdown(fd_, SHUT_RDWR);
}

void PipeSource::SetReading(bool reading) {
    if (notifier_) notifier_->setEnabled(reading);
}

SourceStats PipeSource::Statistics() const {
    SourceStats stats;
    stats.dropsKnown = false;  // the writer's kernel may have lost packets; a stream never says
    return stats;
}

StreamSource::ReadResult PipeSource::ReadSome(char* data, std::int64_t size, std::int64_t& n) {
    n = ::read(fd_, data, static_cast<std::size_t>(size));
    if (n > 0) return ReadResult::kData;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return ReadResult::kNothingNow;
    }
    if (n < 0) {
        readError_ = SystemError(errno);
    } else if (kind_ == SourceKind::kPipe && !notified_ && Position().bytesRead == 0) {
        // A named pipe reads as ended until its writer comes; the system tells when one has
        // come and gone.
        return ReadResult::kNothingNow;
    }
    return ReadResult::kEnd;
}

void PipeSource::OnEnd(bool damagedTail) {
    const QString count = QString::number(Delivered());
    if (!readError_.isEmpty()) {
        sink_.Failed(QStringLiteral("Reading %1 failed after %2 packets: %3")
                         .arg(What(), count, readError_));
    } else if (!reader_.HaveHeader()) {
        sink_.Failed(kind_ == SourceKind::kPcapOverIp
                         ? QStringLiteral("%1 closed the connection without sending a pcap "
                                          "header.")
                               .arg(What())
                         : QStringLiteral("%1 ended without a pcap header.").arg(StreamName()));
    } else if (damagedTail) {
        sink_.Failed(QStringLiteral("%1 ended in the middle of a packet, after %2 packets.")
                         .arg(StreamName(), count));
    } else if (kind_ == SourceKind::kPcapOverIp) {
        sink_.Finished(
            QStringLiteral("%1 closed the connection: %2 packets read.").arg(What(), count));
    } else {
        sink_.Finished(
            QStringLiteral("End of the pcap stream from %1: %2 packets read.").arg(What(), count));
    }
}

}  // namespace lumeno
