#pragma once

#include <QString>

namespace lumeno {

class frmMain;

struct HeadlessOptions {
    QString source;                // a capture file, or with live set an adapter's device name
    bool live = false;             // capture on the adapter for `seconds`
    double seconds = 0;            // live: how long; 0 until interrupted
    int loops = 1;                 // a file is replayed this many times over
    bool keepPace = false;         // replay at the window's pace, not as fast as possible
    bool summaryToStderr = false;  // standard output carries the packet records
    // Measures the event loop while it runs: the longest time without a timer event, and
    // with stopAfter > 0 how long a Stop asked for after that many seconds takes.
    bool probe = false;
    double stopAfter = 0;
};

// Runs capture without a user through the main window and every view, saves the
// snapshots and prints a summary with the rate and the memory used. Returns the process
// exit status.
int RunHeadless(frmMain& window, const HeadlessOptions& options);

// The largest resident size of this process so far, in bytes; 0 where unknown.
long long PeakResidentBytes();

}  // namespace lumeno
