#pragma once

#include <cstdint>

#include "capture/Decoder.h"

namespace lumeno::fuzz {

// The link types worth fuzzing, picked by the first byte of a fuzz input; any byte past
// the table gives a link type the decoder does not know.
inline constexpr int kLinkTypes[] = {
    linktype::kEthernet,    linktype::kLinuxSll, linktype::kLinuxSll2, linktype::kRaw,
    linktype::kIPv4,        linktype::kNull,     linktype::kLoop,      linktype::kRawOpenBSD,
    linktype::kRawLinktype, linktype::kIPv6,
};
inline constexpr int kLinkTypeCount = sizeof kLinkTypes / sizeof kLinkTypes[0];

// This first byte makes the rest of the input a pcap stream instead of one frame.
inline constexpr std::uint8_t kStreamSelector = 0xFF;

inline int LinkTypeFromSelector(std::uint8_t selector) {
    return selector < kLinkTypeCount ? kLinkTypes[selector] : 1000 + selector;
}

inline int SelectorFromLinkType(int linkType) {
    for (int i = 0; i < kLinkTypeCount; ++i) {
        if (kLinkTypes[i] == linkType) return i;
    }
    return -1;
}

}  // namespace lumeno::fuzz
