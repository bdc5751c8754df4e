// lumeno-capture: the only part of Lumeno that holds the capture privilege.
//
//   lumeno-capture --list             the adapters, one "name<TAB>description" line each
//   lumeno-capture ADAPTER [FILTER]   capture on ADAPTER
//
// It opens the adapter, applies the BPF filter, gives up every privilege, and then writes
// the packets to standard output in the pcap stream format. Standard error carries short
// lines for the window program: "ready LINKTYPE" once capturing, "stats RECEIVED DROPPED
// IFDROPPED" twice a second and at the end, "error TEXT" before a failing exit. It stops
// when its standard input closes (the window program stopped or went away), on SIGTERM,
// or when nobody reads its output any more. It writes no file.
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "capture/LiveOpen.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
    stopRequested = 1;
}

// Messages go out with one write each so that lines never interleave.
void Say(const std::string& line) {
    std::string text = line;
    text += '\n';
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

int Fail(const std::string& text) {
    // One line: the window program shows the text as it stands, line breaks restored.
    std::string flat = text;
    for (char& c : flat) {
        if (c == '\n') c = '\x1f';
    }
    Say("error " + flat);
    return 2;
}

int ListAdapters() {
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, errbuf) != 0) return Fail(errbuf);
    for (const pcap_if_t* d = devices; d; d = d->next) {
        std::printf("%s\t%s\n", d->name ? d->name : "", d->description ? d->description : "");
    }
    pcap_freealldevs(devices);
    return 0;
}

// Gives up the capabilities that opened the adapter (and a set-user-ID identity, should an
// installation use one): the handle stays open, nothing new can be opened.
bool DropPrivileges(std::string& why) {
    const gid_t gid = ::getgid();
    const uid_t uid = ::getuid();
    if (::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0) {
        why = std::string("cannot give up the user identity: ") + std::strerror(errno);
        return false;
    }
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capset, &header, data) != 0) {
        why = std::string("cannot give up the capture capability: ") + std::strerror(errno);
        return false;
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        why = std::string("cannot forbid new privileges: ") + std::strerror(errno);
        return false;
    }
    // Fail closed: verify that nothing is left.
    __user_cap_data_struct left[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, left) != 0 || left[0].effective || left[0].permitted ||
        left[1].effective || left[1].permitted) {
        why = "capabilities are still held after giving them up";
        return false;
    }
    return true;
}

void ReportStats(pcap_t* handle) {
    pcap_stat ps{};
    if (pcap_stats(handle, &ps) != 0) return;
    Say("stats " + std::to_string(ps.ps_recv) + " " + std::to_string(ps.ps_drop) + " " +
        std::to_string(ps.ps_ifdrop));
}

double Now() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

int Capture(const std::string& device, const std::string& filter) {
    if (::isatty(STDOUT_FILENO)) {
        return Fail(
            "lumeno-capture streams packets to Lumeno; its output is not for a "
            "terminal.");
    }
    lumeno::LiveOpenResult open = lumeno::OpenLive(device, filter);
    if (!open.handle) {
        std::string text = open.error;
        if (open.failure == lumeno::OpenFailure::kPermission) {
            text += "\n" + lumeno::PermissionAdvice(lumeno::SelfPath("lumeno-capture"));
        }
        return Fail(text);
    }
    pcap_t* handle = open.handle;
    std::string why;
    if (!DropPrivileges(why)) {
        pcap_close(handle);
        return Fail("Capture helper: " + why);
    }

    static char outBuffer[1 << 16];
    std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
    pcap_dumper_t* dumper = pcap_dump_fopen(handle, stdout);
    if (!dumper || pcap_dump_flush(dumper) != 0) {
        pcap_close(handle);
        return Fail("Capture helper: cannot write to Lumeno");
    }
    Say("ready " + std::to_string(pcap_datalink(handle)));

    int status = 0;
    double nextStats = Now();
    pollfd fds[2] = {{pcap_get_selectable_fd(handle), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    while (!stopRequested) {
        const int ready = ::poll(fds, 2, 250);
        if (ready < 0 && errno != EINTR) break;
        if (fds[1].revents) {
            char buf[64];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0 && !(n < 0 && errno == EINTR)) break;  // the window program is gone
        }
        if (fds[0].revents) {
            const int n =
                pcap_dispatch(handle, 4096, &pcap_dump, reinterpret_cast<u_char*>(dumper));
            if (n == PCAP_ERROR) {
                status = Fail("Capture on " + device + " stopped: " + pcap_geterr(handle));
                break;
            }
            if (pcap_dump_flush(dumper) != 0) break;  // nobody reads the packets any more
        }
        if (Now() >= nextStats) {
            ReportStats(handle);
            nextStats = Now() + 0.5;
        }
    }
    ReportStats(handle);
    pcap_dump_flush(dumper);
    pcap_close(handle);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // A closed output must come back as a failed write, not end the program unannounced.
    ::signal(SIGPIPE, SIG_IGN);
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;  // no SA_RESTART: a blocked write or poll returns
    for (int s : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(s, &stop, nullptr);
    // Leave with the window program even if it could not close our input.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM, 0, 0, 0);

    if (argc == 2 && std::strcmp(argv[1], "--list") == 0) return ListAdapters();
    if (argc < 2 || argc > 3 || argv[1][0] == '-') {
        std::fprintf(stderr,
                     "usage: lumeno-capture --list\n"
                     "       lumeno-capture ADAPTER [FILTER]\n"
                     "Captures on ADAPTER for Lumeno and streams the packets to standard "
                     "output (pcap format) until standard input closes.\n");
        return 2;
    }
    return Capture(argv[1], argc == 3 ? argv[2] : "");
}
