#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/HeadlessRun.h"
#include "app/SourcePath.h"
#include "app/frmMain.h"

namespace {

bool HasArgument(int argc, char** argv, const char* wanted) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], wanted) == 0) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // Headless runs need no display: Qt's offscreen platform stands in for one. Help and
    // version open no window either.
    bool offscreen = HasArgument(argc, argv, "--headless");
    for (const char* quiet : {"--help", "-h", "--help-all", "--version", "-v"}) {
        offscreen = offscreen || HasArgument(argc, argv, quiet);
    }
    if (offscreen) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Without a desktop session Qt would complain about the missing runtime directory.
        if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
            const QByteArray dir = QDir::tempPath().toLocal8Bit() + "/lumeno-runtime-" +
                                   QByteArray::number(static_cast<qulonglong>(getuid()));
            if (mkdir(dir.constData(), 0700) == 0 || errno == EEXIST) {
                qputenv("XDG_RUNTIME_DIR", dir);
            }
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fprintf(stderr,
                     "lumeno: no display to open the windows on. Run it in a desktop session, "
                     "or use --headless FILE to replay a capture file without one.\n");
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumeno"));
    QApplication::setApplicationVersion(QStringLiteral(LUMENO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows the TCP and UDP traffic of one host as pictures."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("A capture file (pcap, pcapng) to replay."),
                                 QStringLiteral("[FILE]"));
    const QCommandLineOption replay(QStringLiteral("replay"),
                                    QStringLiteral("Replay the capture FILE at start-up."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption speed(
        QStringLiteral("speed"),
        QStringLiteral("Replay pace: 1 as recorded (default), 2 twice, or max."),
        QStringLiteral("FACTOR"), QStringLiteral("1"));
    const QCommandLineOption monitor(QStringLiteral("monitor"),
                                     QStringLiteral("The monitored address or address prefix."),
                                     QStringLiteral("TEXT"));
    const QCommandLineOption snapshotDir(
        QStringLiteral("snapshot-dir"),
        QStringLiteral("Save all images into DIR, not the program's folder."),
        QStringLiteral("DIR"));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("No display: replay FILE at full speed, save, summarise."));
    const QCommandLineOption records(
        QStringLiteral("records"),
        QStringLiteral("Print a tab-separated line per accepted packet."));
    const QCommandLineOption filter(
        QStringLiteral("filter"),
        QStringLiteral("Capture only what the BPF expression EXPR names."), QStringLiteral("EXPR"));
    const QCommandLineOption captureOn(
        QStringLiteral("capture-on"),
        QStringLiteral("With --headless: capture live on the adapter NAME for --seconds."),
        QStringLiteral("NAME"));
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("How long --capture-on captures."),
                                     QStringLiteral("S"));
    const QCommandLineOption loops(QStringLiteral("loop"),
                                   QStringLiteral("With --headless: replay FILE N times over."),
                                   QStringLiteral("N"));
    const QCommandLineOption threads(
        QStringLiteral("threads"),
        QStringLiteral("Draw on 1 thread, or always on 2 (by default on 2 while that gains)."),
        QStringLiteral("N"));
    const QCommandLineOption maxGap(
        QStringLiteral("max-gap"),
        QStringLiteral("Replay: cut longer gaps between packets to SECONDS (default 1; 0: keep)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption write(
        QStringLiteral("write"), QStringLiteral("Also write every frame read to the pcapng FILE."),
        QStringLiteral("FILE"));
    // Measurement hooks for the throughput benchmarks.
    QCommandLineOption probe(QStringLiteral("probe"),
                             QStringLiteral("Report the longest event-loop gap."));
    probe.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption probeStop(QStringLiteral("probe-stop"),
                                 QStringLiteral("Ask for Stop after S seconds, report the delay."),
                                 QStringLiteral("S"));
    probeStop.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({replay, speed, monitor, filter, snapshotDir, headless, records, captureOn,
                       seconds, loops, threads, probe, probeStop});
    // Images: annotated ones beside the snapshots, and the snapshots' format.
    const QCommandLineOption annotated(
        QStringLiteral("annotated"),
        QStringLiteral("With the snapshots, save each view's annotated image (PNG)."));
    const QCommandLineOption imageFormat(QStringLiteral("image-format"),
                                         QStringLiteral("Snapshots as bmp (default) or png."),
                                         QStringLiteral("FORMAT"), QStringLiteral("bmp"));
    parser.addOptions({annotated, imageFormat});
    parser.addOptions({maxGap, write});
    parser.process(app);

    QString file = parser.value(replay);
    if (file.isEmpty() && !parser.positionalArguments().isEmpty()) {
        file = parser.positionalArguments().constFirst();
    }
    double factor = 1;
    if (parser.value(speed) == QStringLiteral("max")) {
        factor = 0;
    } else {
        bool ok = false;
        factor = parser.value(speed).toDouble(&ok);
        if (!ok || !(factor > 0)) {
            std::fprintf(stderr, "lumeno: --speed takes a positive number or 'max', not '%s'\n",
                         qPrintable(parser.value(speed)));
            return 2;
        }
    }
    double gapLimit = 1;
    if (parser.isSet(maxGap)) {
        bool ok = false;
        gapLimit = parser.value(maxGap).toDouble(&ok);
        if (!ok || !(gapLimit >= 0) || gapLimit > 24 * 3600) {
            std::fprintf(stderr,
                         "lumeno: --max-gap takes a number of seconds (0: no limit), "
                         "not '%s'\n",
                         qPrintable(parser.value(maxGap)));
            return 2;
        }
    }
    lumeno::HeadlessOptions run;
    // A headless replay runs as fast as possible unless a pace is asked for.
    run.keepPace = parser.isSet(speed) || parser.isSet(maxGap);
    run.live = parser.isSet(captureOn);
    run.source = run.live ? parser.value(captureOn) : file;
    run.summaryToStderr = parser.isSet(records);
    run.probe = parser.isSet(probe) || parser.isSet(probeStop);
    const std::pair<const QCommandLineOption*, double*> numbers[] = {{&seconds, &run.seconds},
                                                                     {&probeStop, &run.stopAfter}};
    for (const auto& [option, value] : numbers) {
        if (!parser.isSet(*option)) continue;
        bool ok = false;
        *value = parser.value(*option).toDouble(&ok);
        if (!ok || !(*value > 0) || *value > 24 * 3600) {
            std::fprintf(stderr, "lumeno: --%s takes a number of seconds, not '%s'\n",
                         qPrintable(option->names().constFirst()),
                         qPrintable(parser.value(*option)));
            return 2;
        }
    }
    if (parser.isSet(threads) && parser.value(threads) != QStringLiteral("1") &&
        parser.value(threads) != QStringLiteral("2")) {
        std::fprintf(stderr, "lumeno: --threads takes 1 or 2, not '%s'\n",
                     qPrintable(parser.value(threads)));
        return 2;
    }
    if (parser.isSet(loops)) {
        bool ok = false;
        run.loops = parser.value(loops).toInt(&ok);
        if (!ok || run.loops < 1) {
            std::fprintf(stderr, "lumeno: --loop takes a count of 1 or more, not '%s'\n",
                         qPrintable(parser.value(loops)));
            return 2;
        }
    }
    if (parser.isSet(headless) && run.source.isEmpty()) {
        std::fprintf(stderr,
                     "lumeno: --headless needs a capture file to replay, or --capture-on\n");
        return 2;
    }
    if (run.live && (!parser.isSet(headless) || !parser.isSet(seconds))) {
        std::fprintf(stderr, "lumeno: --capture-on goes with --headless and --seconds\n");
        return 2;
    }
    if (parser.isSet(snapshotDir) && !QFileInfo(parser.value(snapshotDir)).isDir()) {
        std::fprintf(stderr, "lumeno: --snapshot-dir %s is not a directory\n",
                     qPrintable(parser.value(snapshotDir)));
        return 2;
    }

    const QString format = parser.value(imageFormat).toLower();
    if (format != QStringLiteral("bmp") && format != QStringLiteral("png")) {
        std::fprintf(stderr, "lumeno: --image-format takes bmp or png, not '%s'\n",
                     qPrintable(parser.value(imageFormat)));
        return 2;
    }

    // FILE is always a capture file: a name that is no path is not quietly taken for the
    // adapter of that name.
    QString fileProblem;
    if (!file.isEmpty() && !run.live && !lumeno::IsStreamName(file)) {
        fileProblem = lumeno::PathProblem(file);
        if (!fileProblem.isEmpty() && lumeno::CheckPath(file).kind == lumeno::PathKind::kMissing) {
            const QString adapter = file.contains(QLatin1Char('/')) ? QStringLiteral("NAME") : file;
            // In the window the adapter list is the way; headless, the option.
            fileProblem += parser.isSet(headless)
                               ? QStringLiteral(
                                     ". FILE is a capture file; to capture on an "
                                     "adapter use --headless --capture-on %1 "
                                     "--seconds S")
                                     .arg(adapter)
                               : QStringLiteral(
                                     ". FILE is a capture file; to capture on an "
                                     "adapter choose it in the adapter list, or use "
                                     "--headless --capture-on %1 --seconds S")
                                     .arg(adapter);
        }
        if (!fileProblem.isEmpty()) {
            std::fprintf(stderr, "lumeno: %s\n", qPrintable(fileProblem));
            if (parser.isSet(headless)) return 1;
        }
    }

    lumeno::frmMain window;
    window.SetImageFormat(format);
    window.SetAnnotatedWithSnapshots(parser.isSet(annotated));
    if (parser.isSet(monitor)) window.txtIP()->setText(parser.value(monitor));
    if (parser.isSet(filter)) {
        if (QString why; !window.Capture().SetFilter(parser.value(filter), &why)) {
            std::fprintf(stderr, "lumeno: %s\n", qPrintable(why));
            return 2;
        }
        window.txtFilter()->setText(parser.value(filter));
    }
    if (parser.isSet(snapshotDir)) {
        window.SetSnapshotDir(QDir(parser.value(snapshotDir)).absolutePath());
    }
    if (parser.isSet(records)) window.SetRecordsOutput(stdout);
    if (parser.isSet(threads)) {
        window.Views().SetDrawingThread(parser.value(threads) == QStringLiteral("2"), false);
    }
    window.SetReplaySpeed(factor);
    window.Capture().SetMaxGap(gapLimit);
    if (parser.isSet(write)) window.Capture().SetWriteFile(parser.value(write));
    window.show();

    if (parser.isSet(headless)) return lumeno::RunHeadless(window, run);
    if (!fileProblem.isEmpty()) {
        window.ShowMessage(fileProblem);
    } else if (lumeno::IsStreamName(file)) {
        window.cmbInterface()->setEnabled(true);
        window.cmbInterface()->setEditText(file);
        window.StartCapture();
    } else if (!file.isEmpty()) {
        window.ChooseFile(file);
        window.StartCapture();
    }
    return app.exec();
}
