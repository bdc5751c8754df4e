#pragma once

#include <QProcess>
#include <QStringList>
#include <string>

#include "capture/StreamSource.h"

namespace lumeno {

// Live capture on another host: the system's ssh client (never prompting: BatchMode) starts
// tcpdump there and brings its pcap stream back. The remote capture always leaves out the
// ssh connection itself, and ends when its standard input closes, so Stop ends it too.
class SshSource : public StreamSource {
  public:
    struct Target {
        QString user, host, adapter;
        int port = 0;  // 0: ssh's own choice
    };

    SshSource(SourceSink& sink, QStringList command, std::string address, QString filter);
    ~SshSource() override;

    bool Open(QString* error) override;
    void Start() override;
    void Stop() override;
    SourceStats Statistics() const override { return stats_; }
    qint64 ProcessId() const { return process_ ? process_->processId() : 0; }

    // The parts of "ssh://[USER@]HOST[:PORT]/ADAPTER", or false with the reason.
    static bool ParseAddress(const QString& text, Target& target, QString& why);
    // The ssh arguments after the client's own command: options, destination, remote command.
    static QStringList Arguments(const Target& target, const QString& filter);

  protected:
    ReadResult ReadSome(char* data, std::int64_t size, std::int64_t& n) override;
    void OnEnd(bool damagedTail) override;
    QString StreamName() const override;

  private:
    void OnMessages();
    void OnFinished();
    void TakeLine(const QByteArray& line);
    void EndProcess();

    QStringList command_;
    std::string address_;
    QString filter_;
    QProcess* process_ = nullptr;
    QByteArray line_;
    QStringList messages_;  // what ssh and tcpdump said, for a failure
    SourceStats stats_;
};

}  // namespace lumeno
