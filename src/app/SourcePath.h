#pragma once

#include <QString>

namespace lumeno {

// What a name typed as a capture source is on disk.
enum class PathKind {
    kMissing,    // stat failed; error holds why
    kRegular,    // a capture file
    kStream,     // a FIFO or character device, read as a stream of pcap data
    kDirectory,  // never a capture file
    kOther,      // a socket or block device
};

struct PathCheck {
    PathKind kind = PathKind::kMissing;
    int error = 0;  // errno of stat for kMissing
};

PathCheck CheckPath(const QString& path);

// Names that are read as a stream rather than looked up as a path: "-" and "scheme://…".
bool IsStreamName(const QString& name);

// Why the path cannot be read as a capture file ("\"x\" is a directory, not a capture
// file"), or empty when it can be (a regular file, a FIFO or character device).
QString PathProblem(const QString& path);

// The note for a capture whose frames the decoder cannot read ("Frames of link type 105
// (IEEE802_11: 802.11) cannot be decoded: …"); empty when it can read them.
QString UndecodableLinkTypeText(int linkType);

}  // namespace lumeno
