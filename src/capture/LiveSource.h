#pragma once

#include <pcap/pcap.h>

#include <QSocketNotifier>
#include <memory>
#include <string>

#include "capture/CaptureSource.h"

namespace lumeno {

// Capture on a network adapter in this process, which then needs the capture privilege.
class LiveSource : public CaptureSource {
  public:
    // program: what the permission advice names when the adapter may not be opened.
    LiveSource(SourceSink& sink, std::string device, std::string filter, std::string program);
    ~LiveSource() override;

    bool Open(QString* error) override;
    void Start() override;
    void Stop() override;
    SourceStats Statistics() const override;
    int LinkType() const override { return linkType_; }

  private:
    void OnReadable();
    static void Callback(u_char* user, const pcap_pkthdr* header, const u_char* bytes);

    std::string device_, filter_, program_;
    pcap_t* handle_ = nullptr;
    int linkType_ = -1;
    bool running_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
    SourceStats last_;
};

}  // namespace lumeno
