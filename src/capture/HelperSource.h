#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <string>

#include "capture/StreamSource.h"

namespace lumeno {

// Live capture through the capture helper, the one small program that holds the capture
// privilege: it streams the packets over a pipe and reports on standard error ("ready",
// "stats RECEIVED DROPPED IFDROPPED", "error TEXT").
class HelperSource : public StreamSource {
  public:
    HelperSource(SourceSink& sink, QString helperPath, std::string device, QString filter);
    ~HelperSource() override;

    bool Open(QString* error) override;
    void Start() override;
    void Stop() override;
    SourceStats Statistics() const override { return stats_; }
    qint64 ProcessId() const { return process_ ? process_->processId() : 0; }

  protected:
    ReadResult ReadSome(char* data, std::int64_t size, std::int64_t& n) override;
    void OnEnd(bool damagedTail) override;
    QString StreamName() const override;

  private:
    // Takes one message line of the helper; false when it is not one of the known kinds.
    bool TakeLine(const QByteArray& line);
    void OnMessages();
    void OnFinished();
    void EndProcess();

    QString helperPath_;
    std::string device_;
    QString filter_;
    QProcess* process_ = nullptr;
    QByteArray line_;
    QString error_;
    SourceStats stats_;
};

}  // namespace lumeno
