#include "capture/SshSource.h"

#include <QRegularExpression>
#include <QUrl>

namespace lumeno {

namespace {

constexpr int kMaxLine = 4096;
constexpr int kMaxMessages = 20;
constexpr int kStartMillis = 5000;
// How long a stopped remote tcpdump gets to say its last figures.
constexpr int kStopMillis = 3000;

// Runs on the remote host under sh, with the adapter and the user's filter as $1 and $2.
// tcpdump leaves out the ssh connection itself ($SSH_CONNECTION: client address and port,
// server address and port); a second process ends it when ssh's input closes.
constexpr const char* kRemoteScript =
    "a=$1; u=$2; set -f; set -- $SSH_CONNECTION; "
    "x=\"not (host $1 and host $3 and tcp port $2 and tcp port $4)\"; "
    "[ -n \"$u\" ] && x=\"($x) and ($u)\"; "
    "exec 3<&0; "
    "tcpdump -U -s 0 -w - -i \"$a\" \"$x\" & p=$!; "
    "(read r <&3; kill $p) >/dev/null 2>&1 & w=$!; "
    "wait $p; s=$?; kill $w 2>/dev/null; exit $s";

// Quoted for a POSIX shell: the remote login shell reads the command as one line of text.
QString ShellQuote(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

}  // namespace

SshSource::SshSource(SourceSink& sink, QStringList command, std::string address, QString filter)
    : StreamSource(sink),
      command_(std::move(command)),
      address_(std::move(address)),
      filter_(std::move(filter)) {
    SetPausable(false);  // a live capture: pausing would only make the remote kernel drop
    stats_.dropsKnown = false;
}

SshSource::~SshSource() {
    EndProcess();
}

QString SshSource::StreamName() const {
    return QStringLiteral("Capture over %1 stopped: the stream")
        .arg(QString::fromStdString(address_));
}

bool SshSource::ParseAddress(const QString& text, Target& target, QString& why) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    QString adapter = url.path();
    if (adapter.startsWith(QLatin1Char('/'))) adapter.remove(0, 1);
    const QString user = url.userName();
    const bool bad = !url.isValid() || url.host().isEmpty() || adapter.isEmpty() ||
                     adapter.contains(QLatin1Char('/')) || url.port() == 0 ||
                     !url.password().isEmpty() || url.host().startsWith(QLatin1Char('-')) ||
                     user.startsWith(QLatin1Char('-'));
    if (bad) {
        why = QStringLiteral(
                  "\"%1\" is not a remote capture address: write "
                  "ssh://[USER@]HOST[:PORT]/ADAPTER, for example ssh://admin@web1/eth0.")
                  .arg(text);
        return false;
    }
    target.user = user;
    target.host = url.host();
    target.port = url.port(0);
    target.adapter = adapter;
    return true;
}

QStringList SshSource::Arguments(const Target& target, const QString& filter) {
    QStringList arguments{QStringLiteral("-o"), QStringLiteral("BatchMode=yes"),
                          QStringLiteral("-T"), QStringLiteral("-x")};
    if (target.port > 0) arguments << QStringLiteral("-p") << QString::number(target.port);
    if (!target.user.isEmpty()) arguments << QStringLiteral("-l") << target.user;
    arguments << QStringLiteral("--") << target.host
              << QStringLiteral("sh -c %1 lumeno %2 %3")
                     .arg(ShellQuote(QString::fromLatin1(kRemoteScript)),
                          ShellQuote(target.adapter), ShellQuote(filter));
    return arguments;
}

bool SshSource::Open(QString* error) {
    Target target;
    QString why;
    if (!ParseAddress(QString::fromStdString(address_), target, why)) {
        if (error) *error = why;
        return false;
    }
    if (command_.isEmpty()) command_ << QStringLiteral("ssh");
    process_ = new QProcess(this);
    process_->start(command_.constFirst(), command_.mid(1) + Arguments(target, filter_));
    if (!process_->waitForStarted(kStartMillis)) {
        if (error) {
            *error = QStringLiteral("Cannot start %1 for %2: %3")
                         .arg(command_.constFirst(), QString::fromStdString(address_),
                              process_->errorString());
        }
        EndProcess();
        return false;
    }
    return true;
}

void SshSource::Start() {
    connect(process_, &QProcess::readyReadStandardOutput, this, &SshSource::Wake);
    connect(process_, &QProcess::readyReadStandardError, this, &SshSource::OnMessages);
    connect(process_, &QProcess::finished, this, &SshSource::OnFinished);
    StreamSource::Start();
}

void SshSource::Stop() {
    StreamSource::Stop();
    EndProcess();
}

StreamSource::ReadResult SshSource::ReadSome(char* data, std::int64_t size, std::int64_t& n) {
    if (!process_ || process_->bytesAvailable() <= 0) return ReadResult::kNothingNow;
    n = process_->read(data, size);
    return n > 0 ? ReadResult::kData : ReadResult::kNothingNow;
}

void SshSource::TakeLine(const QByteArray& raw) {
    const QString line = QString::fromLocal8Bit(raw).trimmed();
    if (line.isEmpty()) return;
    // tcpdump's last words: its figures.
    static const QRegularExpression figures(
        QStringLiteral("^(\\d+) packets? (received by filter|dropped by kernel|dropped by "
                       "interface)$"));
    if (const QRegularExpressionMatch m = figures.match(line); m.hasMatch()) {
        const std::uint64_t value = m.captured(1).toULongLong();
        if (m.captured(2).startsWith(QStringLiteral("received"))) {
            stats_.received = value;
        } else if (m.captured(2).endsWith(QStringLiteral("kernel"))) {
            stats_.dropped = value;
            stats_.dropsKnown = true;
        } else {
            stats_.ifDropped = value;
        }
        return;
    }
    if (line.contains(QStringLiteral("packets captured")) ||
        line.startsWith(QStringLiteral("tcpdump: listening on"))) {
        return;
    }
    messages_ << line;
    if (messages_.size() > kMaxMessages) messages_.removeFirst();
}

void SshSource::OnMessages() {
    if (!process_) return;
    line_ += process_->readAllStandardError();
    qsizetype end;
    while ((end = line_.indexOf('\n')) >= 0) {
        TakeLine(line_.left(end));
        line_.remove(0, end + 1);
    }
    if (line_.size() > kMaxLine) line_.clear();
}

void SshSource::OnFinished() {
    if (!Running() || !process_) return;
    OnMessages();
    if (!line_.isEmpty()) TakeLine(line_);
    line_.clear();
    Drain();
}

void SshSource::OnEnd(bool damagedTail) {
    const QString address = QString::fromStdString(address_);
    QString text = QStringLiteral("Capture over %1 stopped: ").arg(address);
    if (damagedTail) text += QStringLiteral("the stream ended in the middle of a packet. ");
    if (process_ && process_->exitStatus() == QProcess::CrashExit) {
        text += QStringLiteral("ssh ended abnormally.");
    } else if (process_ && process_->exitCode() == 255) {
        text += QStringLiteral("ssh could not connect or log in.");
    } else {
        text += QStringLiteral("the remote capture ended (status %1).")
                    .arg(process_ ? process_->exitCode() : -1);
    }
    if (!messages_.isEmpty()) text += QLatin1Char('\n') + messages_.join(QLatin1Char('\n'));
    sink_.Failed(text);
}

void SshSource::EndProcess() {
    QProcess* process = TakeProcess(process_);
    if (!process) return;
    // Closing ssh's input ends the remote tcpdump, which then says its last figures.
    process->closeWriteChannel();
    if (!Pumping() && process->state() != QProcess::NotRunning) {
        process->waitForFinished(kStopMillis);
    }
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!Pumping()) process->waitForFinished(500);
    }
    if (process->state() != QProcess::NotRunning) process->kill();
    line_ += process->readAllStandardError();
    for (const QByteArray& line : line_.split('\n')) TakeLine(line);
    line_.clear();
    LetGo(process);
}

}  // namespace lumeno
