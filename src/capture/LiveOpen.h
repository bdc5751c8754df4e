#pragma once

#include <pcap/pcap.h>

#include <string>

// Opening a network adapter for capture, shared by the window program (when it may capture
// itself) and the capture helper, so that both capture the same way. No Qt here: the
// helper is a small program of its own.
namespace lumeno {

// Snap length and kernel buffer of a live capture.
inline constexpr int kLiveSnapLength = 65535;
inline constexpr int kLiveBufferBytes = 32 * 1024 * 1024;
// The longest a captured packet waits in the kernel before it is handed over.
inline constexpr int kLiveTimeoutMillis = 10;

enum class OpenFailure { kNone, kPermission, kNoSuchDevice, kFilter, kOther };

struct LiveOpenResult {
    pcap_t* handle = nullptr;  // activated, filtered, non-blocking; nullptr on failure
    OpenFailure failure = OpenFailure::kNone;
    std::string error;  // "Cannot capture on eth0: …", libpcap's words
};

// Opens device promiscuous, with the snap length, buffer and timeout above, and
// applies filter (a BPF expression; empty: everything).
LiveOpenResult OpenLive(const std::string& device, const std::string& filter);

// Compiles filter for handle and applies it. On failure error gets libpcap's message.
bool ApplyFilter(pcap_t* handle, const std::string& filter, std::string& error);

// Checks a BPF expression without any adapter (as for Ethernet frames).
bool CheckFilter(const std::string& filter, std::string& error);

// What to tell a user who may not capture: the one command that gives program the right.
std::string PermissionAdvice(const std::string& program);

// The path of the running executable, or fallback when the system does not say.
std::string SelfPath(const std::string& fallback);

}  // namespace lumeno
