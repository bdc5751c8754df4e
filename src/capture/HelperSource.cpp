#include "capture/HelperSource.h"

#include <QElapsedTimer>
#include <QFileInfo>

namespace lumeno {

namespace {

// Lines of text the helper sends; more than this without a line break is not the helper.
constexpr int kMaxHelperLine = 4096;
constexpr int kHelperStartMillis = 5000;

}  // namespace

HelperSource::HelperSource(SourceSink& sink, QString helperPath, std::string device, QString filter)
    : StreamSource(sink),
      helperPath_(std::move(helperPath)),
      device_(std::move(device)),
      filter_(std::move(filter)) {
    SetPausable(false);
}

HelperSource::~HelperSource() {
    EndProcess();
}

QString HelperSource::StreamName() const {
    return QStringLiteral("Capture on %1 stopped: the capture helper's stream")
        .arg(QString::fromStdString(device_));
}

bool HelperSource::Open(QString* error) {
    const QString device = QString::fromStdString(device_);
    auto fail = [&](const QString& text) {
        EndProcess();
        if (error) *error = text;
        return false;
    };
    if (device_.empty()) return fail(QStringLiteral("No adapter is chosen."));
    if (!QFileInfo(helperPath_).isExecutable()) {
        return fail(QStringLiteral("Cannot capture on %1: the capture helper %2 is missing. "
                                   "Build or install Lumeno with it.")
                        .arg(device, helperPath_));
    }
    process_ = new QProcess(this);
    QStringList arguments{device};
    if (!filter_.isEmpty()) arguments << filter_;
    process_->start(helperPath_, arguments);
    if (!process_->waitForStarted(kHelperStartMillis)) {
        return fail(QStringLiteral("Cannot start the capture helper %1: %2")
                        .arg(helperPath_, process_->errorString()));
    }
    // The helper says "ready" once the adapter is open, or why it could not open it; the
    // packets it sends meanwhile wait in the process's buffer.
    process_->setReadChannel(QProcess::StandardError);
    QElapsedTimer waited;
    waited.start();
    bool ready = false;
    while (!ready && error_.isEmpty() && waited.elapsed() < kHelperStartMillis) {
        while (!ready && process_->canReadLine()) {
            const QByteArray line = process_->readLine(kMaxHelperLine).trimmed();
            if (line.startsWith("ready")) {
                ready = true;
            } else {
                TakeLine(line);
            }
        }
        if (ready || !error_.isEmpty()) break;
        if (process_->state() == QProcess::NotRunning) {
            process_->waitForReadyRead(0);
            if (!process_->canReadLine()) break;
            continue;
        }
        process_->waitForReadyRead(100);
    }
    process_->setReadChannel(QProcess::StandardOutput);
    if (!ready) {
        if (error_.isEmpty()) {
            error_ = process_->state() == QProcess::NotRunning
                         ? QStringLiteral("the capture helper ended without a word")
                         : QStringLiteral("the capture helper did not answer");
            error_ = QStringLiteral("Cannot capture on %1: %2").arg(device, error_);
        }
        return fail(error_);
    }
    return true;
}

void HelperSource::Start() {
    connect(process_, &QProcess::readyReadStandardOutput, this, &HelperSource::Wake);
    connect(process_, &QProcess::readyReadStandardError, this, &HelperSource::OnMessages);
    connect(process_, &QProcess::finished, this, &HelperSource::OnFinished);
    OnMessages();
    StreamSource::Start();  // packets that came with the greeting
}

StreamSource::ReadResult HelperSource::ReadSome(char* data, std::int64_t size, std::int64_t& n) {
    if (!process_ || process_->bytesAvailable() <= 0) return ReadResult::kNothingNow;
    n = process_->read(data, size);
    return n > 0 ? ReadResult::kData : ReadResult::kNothingNow;
}

void HelperSource::Stop() {
    StreamSource::Stop();
    EndProcess();
}

void HelperSource::EndProcess() {
    QProcess* process = TakeProcess(process_);
    if (!process) return;
    // Closing its input asks the helper to finish; it answers with its last figures.
    process->closeWriteChannel();
    // Not from inside a packet event: that may run within the process's own signal.
    if (!Pumping() && process->state() != QProcess::NotRunning) {
        process->terminate();
        process->waitForFinished(500);
    }
    if (process->state() != QProcess::NotRunning) process->kill();
    process->setReadChannel(QProcess::StandardError);
    while (process->canReadLine()) TakeLine(process->readLine(kMaxHelperLine).trimmed());
    LetGo(process);
}

bool HelperSource::TakeLine(const QByteArray& line) {
    if (line.startsWith("stats ")) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() == 4) {
            stats_.received = f[1].toULongLong();
            stats_.dropped = f[2].toULongLong();
            stats_.ifDropped = f[3].toULongLong();
            return true;
        }
    } else if (line.startsWith("error ")) {
        QByteArray text = line.mid(6);
        text.replace('\x1f', '\n');
        error_ = QString::fromLocal8Bit(text);
        return true;
    } else if (line.startsWith("ready")) {
        return true;
    }
    return false;
}

void HelperSource::OnMessages() {
    if (!process_) return;
    line_ += process_->readAllStandardError();
    qsizetype end;
    while ((end = line_.indexOf('\n')) >= 0) {
        const QByteArray line = line_.left(end).trimmed();
        line_.remove(0, end + 1);
        if (!TakeLine(line) && !line.isEmpty()) {
            // Anything else (a sanitizer, the loader) is kept as the reason should it end.
            error_ = QString::fromLocal8Bit(line);
        }
    }
    if (line_.size() > kMaxHelperLine) line_.clear();
}

void HelperSource::OnFinished() {
    if (!Running() || !process_) return;
    // What the helper sent before it ended is still drawn.
    OnMessages();
    Drain();
}

void HelperSource::OnEnd(bool damagedTail) {
    const QString device = QString::fromStdString(device_);
    QString text =
        damagedTail ? QStringLiteral(
                          "Capture on %1 stopped: the capture helper ended in the "
                          "middle of a packet")
                          .arg(device)
                    : QStringLiteral("Capture on %1 stopped: the capture helper ended").arg(device);
    if (!error_.isEmpty()) text += QStringLiteral(": ") + error_;
    if (process_ && process_->exitStatus() == QProcess::CrashExit) {
        text += QStringLiteral(" (it crashed)");
    }
    sink_.Failed(text + QLatin1Char('.'));
}

}  // namespace lumeno
