#pragma once

#include <QSocketNotifier>
#include <memory>
#include <string>

#include "capture/CaptureCtrl.h"
#include "capture/StreamSource.h"

namespace lumeno {

// A pcap stream read from a file descriptor that never has to be waited on: standard input
// ("-"), a named pipe, or a TCP connection to a PCAP-over-IP peer ("pcap-over-ip://HOST:
// PORT"). Its end ends the capture, with a message that says so.
class PipeSource : public StreamSource {
  public:
    PipeSource(SourceSink& sink, SourceKind kind, std::string name, std::string filter);
    ~PipeSource() override;

    bool Open(QString* error) override;
    void Stop() override;
    SourceStats Statistics() const override;

    // "HOST:PORT" of a pcap-over-ip:// address, or false with the reason.
    static bool ParseAddress(const QString& text, QString& host, quint16& port, QString& why);

  protected:
    ReadResult ReadSome(char* data, std::int64_t size, std::int64_t& n) override;
    void OnEnd(bool damagedTail) override;
    void SetReading(bool reading) override;
    QString StreamName() const override;

  private:
    bool Connect(QString* error);
    QString What() const;  // "standard input", "the named pipe /tmp/p", "pcap-over-ip://h:1"

    SourceKind kind_;
    std::string name_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QString readError_;
    bool notified_ = false;  // the system said the descriptor is readable (or hung up)
};

}  // namespace lumeno
