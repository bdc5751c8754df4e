#include "capture/LiveOpen.h"

#include <unistd.h>

#include <climits>

namespace lumeno {

namespace {

std::string FilterMessage(const std::string& filter, const char* why) {
    return "Invalid capture filter \"" + filter + "\": " + why;
}

}  // namespace

bool ApplyFilter(pcap_t* handle, const std::string& filter, std::string& error) {
    if (filter.empty()) return true;
    bpf_program program{};
    if (pcap_compile(handle, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
        error = FilterMessage(filter, pcap_geterr(handle));
        return false;
    }
    const bool ok = pcap_setfilter(handle, &program) == 0;
    if (!ok) error = FilterMessage(filter, pcap_geterr(handle));
    pcap_freecode(&program);
    return ok;
}

bool CheckFilter(const std::string& filter, std::string& error) {
    if (filter.empty()) return true;
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, kLiveSnapLength);
    if (!dead) {
        error = "Cannot check the capture filter: out of memory";
        return false;
    }
    bpf_program program{};
    const bool ok = pcap_compile(dead, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0;
    if (ok) {
        pcap_freecode(&program);
    } else {
        error = FilterMessage(filter, pcap_geterr(dead));
    }
    pcap_close(dead);
    return ok;
}

LiveOpenResult OpenLive(const std::string& device, const std::string& filter) {
    LiveOpenResult result;
    auto fail = [&](OpenFailure failure, const std::string& why) {
        result.failure = failure;
        result.error = why;
        if (result.handle) pcap_close(result.handle);
        result.handle = nullptr;
        return result;
    };
    if (device.empty()) return fail(OpenFailure::kOther, "No adapter is chosen.");

    char errbuf[PCAP_ERRBUF_SIZE] = {};
    result.handle = pcap_create(device.c_str(), errbuf);
    if (!result.handle) {
        return fail(OpenFailure::kOther, "Cannot open adapter " + device + ": " + errbuf);
    }
    pcap_set_snaplen(result.handle, kLiveSnapLength);
    pcap_set_promisc(result.handle, 1);
    // Not immediate mode: on Linux that gives fixed slots of the snap length, so the
    // buffer holds a few hundred packets and a busy link overflows it within milliseconds.
    // Blocks filled with packets end to end, handed over at the latest after the timeout,
    // hold a hundred thousand or more.
    pcap_set_timeout(result.handle, kLiveTimeoutMillis);
    pcap_set_buffer_size(result.handle, kLiveBufferBytes);
    const int status = pcap_activate(result.handle);
    if (status < 0) {
        std::string text = "Cannot capture on " + device + ": " + pcap_geterr(result.handle);
        if (status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED) {
            return fail(OpenFailure::kPermission, text);
        }
        if (status == PCAP_ERROR_NO_SUCH_DEVICE) {
            return fail(OpenFailure::kNoSuchDevice,
                        text + "\nNo adapter of that name exists on this machine.");
        }
        return fail(OpenFailure::kOther, text);
    }
    std::string filterError;
    if (!ApplyFilter(result.handle, filter, filterError)) {
        return fail(OpenFailure::kFilter, filterError);
    }
    if (pcap_setnonblock(result.handle, 1, errbuf) != 0) {
        return fail(OpenFailure::kOther, "Cannot capture on " + device + ": " + errbuf);
    }
    if (pcap_get_selectable_fd(result.handle) < 0) {
        return fail(OpenFailure::kOther,
                    "Cannot capture on " + device + ": the adapter cannot be watched.");
    }
    return result;
}

std::string PermissionAdvice(const std::string& program) {
    return "Capturing needs the capture capability. Give it to " + program +
           " once (a rebuild or reinstall removes it again):\n"
           "    sudo setcap cap_net_raw,cap_net_admin=eip " +
           program;
}

std::string SelfPath(const std::string& fallback) {
    char path[PATH_MAX + 1] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, PATH_MAX);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : fallback;
}

}  // namespace lumeno
