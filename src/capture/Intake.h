#pragma once

#include <optional>
#include <string_view>

#include "capture/Decoder.h"
#include "packet/PacketRecord.h"

namespace lumeno {

// Receives every accepted packet; the view manager is the real one.
class RecordSink {
  public:
    virtual ~RecordSink() = default;
    virtual void PlotPacket(const PacketRecord& record) = 0;
};

// An address matches when it begins with the monitor text, exactly and case-sensitively;
// the empty monitor text matches every address.
inline bool MatchesMonitor(std::string_view address, std::string_view monitor) {
    return address.starts_with(monitor);
}

// The intake's decision: a TCP or UDP packet whose destination (tested first) or else
// source matches the monitor becomes a record oriented external -> internal. Anything
// else gives no record. Pure: no colour is touched.
std::optional<PacketRecord> ClassifyPacket(const DecodedPacket& packet, std::string_view monitor);

// The packet event: classify, set the drawing colour, hand the record to the sink.
// Returns true when the record was handed over.
bool IntakePacket(const DecodedPacket& packet, std::string_view monitor, RecordSink& sink);

}  // namespace lumeno
