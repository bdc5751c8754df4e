#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "app/frmMain.h"
#include "capture/CaptureTestSupport.h"
#include "views/ImageFiles.h"

namespace lumeno {
namespace {

using test::ExpectContains;
using test::Lumeno;
using test::ProgramRun;
using test::TinyDisk;

QImage Rgb32(const QString& path) {
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

// A write that fails must say the system's reason (never "Unknown error") and leave no
// partial file behind, but never remove a device it was pointed at.
TEST(ImageFiles, AFailedWriteSaysTheSystemsReasonAndLeavesNoPartialFile) {
    // Noise, so that no format can squeeze it into the tiny disk.
    QImage image(300, 200, QImage::Format_RGB32);
    auto* pixels = reinterpret_cast<std::uint32_t*>(image.bits());
    std::generate(pixels, pixels + 300 * 200,
                  [rng = std::mt19937(12345)]() mutable { return 0xFF000000u | rng(); });
    TinyDisk disk("64k");
    std::vector<std::tuple<QString, const char*, QString>> cases = {
        {"/nonexistent-dir/x.bmp", "bmp", "No such file or directory"},
    };
    if (QFileInfo("/dev/full").exists())
        cases.push_back({"/dev/full", "bmp", "No space left on device"});
    if (!disk.Path().isEmpty()) {
        cases.push_back({disk.Path() + "/x.bmp", "bmp", "No space left on device"});
    }
    for (const auto& [path, format, reason] : cases) {
        EXPECT_EQ(WriteImageFile(image, path, format), reason) << path.toStdString();
        EXPECT_EQ(QFileInfo::exists(path), path == "/dev/full") << path.toStdString();
    }
    if (disk.Path().isEmpty()) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.Why().toStdString();
    }
}

// The folder for images: the program's directory when a file can really be created there
// (root included), else "Lumeno" in the pictures folder, made when first needed.
TEST(ImageFiles, TheFolderFallsBackToThePicturesFolderWhereNoFileCanBeCreated) {
    QTemporaryDir home;
    const QString pictures = home.filePath("Pictures");
    const std::tuple<QString, QString> cases[] = {
        {home.path(), home.path()},
        {"/proc", pictures + "/Lumeno"},  // not even root creates files there
        {"", pictures + "/Lumeno"},
    };
    for (const auto& [program, expected] : cases) {
        EXPECT_EQ(DefaultImageFolder(program, pictures), expected) << program.toStdString();
    }
    // Choosing creates nothing; the first image creates the fallback folder, parents and
    // all, but no other folder that is missing.
    EXPECT_FALSE(QFileInfo::exists(pictures));
    EXPECT_EQ(MakeImageFolder(pictures + "/Lumeno"), QString());
    EXPECT_TRUE(QFileInfo(pictures + "/Lumeno").isDir());
    EXPECT_EQ(MakeImageFolder(home.filePath("chosen")), QString());
    EXPECT_FALSE(QFileInfo::exists(home.filePath("chosen")));
}

// The program run as an unprivileged user from a directory it may not write (as an
// installed copy is): its images go to the pictures folder, created, named whole.
TEST(ImageFiles, AnUnprivilegedUserGetsItsImagesInItsPicturesFolder) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
    if (QProcess::execute("setpriv",
                          {"--reuid", "65534", "--regid", "65534", "--clear-groups", "test", "-x",
                           LUMENO_EXECUTABLE, "-a", "-r", LUMENO_SAMPLE_CAPTURE}) != 0) {
        GTEST_SKIP() << "user 65534 cannot run the build's program (or setpriv is missing)";
    }
    QTemporaryDir base;
    const QString home = base.filePath("home"), pictures = base.filePath("pics");
    ASSERT_TRUE(QDir().mkpath(home) && QDir().mkpath(pictures));
    for (const QString& d : {base.path(), home, pictures})
        ASSERT_EQ(::chown(QFile::encodeName(d).constData(), 65534, 65534), 0);
    // With and without the environment's pictures folder.
    const std::tuple<QString, QString> cases[] = {{pictures, pictures + "/Lumeno"},
                                                  {"", home + "/Pictures/Lumeno"}};
    for (const auto& [xdgPictures, expected] : cases) {
        const ProgramRun run = test::RunProgram(
            "setpriv",
            {"--reuid", "65534", "--regid", "65534", "--clear-groups", LUMENO_EXECUTABLE,
             "--headless", LUMENO_SAMPLE_CAPTURE},
            {.environment = [&](QProcessEnvironment& env) {
                for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_PICTURES_DIR"})
                    env.remove(name);
                env.insert("HOME", home);
                if (!xdgPictures.isEmpty()) env.insert("XDG_PICTURES_DIR", xdgPictures);
            }});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const QStringList listed = run.out.section("Images (10) in " + expected + ":\n", 1)
                                       .split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(listed.size(), 10) << run.out.toStdString();
        for (const QString& line : listed) {
            const QString path = line.trimmed();
            EXPECT_TRUE(path.startsWith(expected + "/") && QFileInfo(path).isFile())
                << path.toStdString();
        }
    }
}

// The folder chooser: a cancel changes nothing, a folder where no file can be created is
// taken but the user is told so, a chosen folder is shown and used from then on; every
// message about saved images, a running image's too, names each file by its whole path.
TEST(ImageFiles, TheChosenFolderIsUsedAndMessagesGiveWholePaths) {
    QTemporaryDir dir;
    frmMain w;
    const QString folder = dir.filePath("new/folder");
    QDir().mkpath(folder);
    const std::tuple<QString, QString, QString> cases[] = {
        {"", w.SnapshotDir(), ""},
        {"/proc", "/proc", "files cannot be created there"},
        {folder, folder, "Images go to " + folder},
    };
    for (const auto& [answer, chosen, message] : cases) {
        w.ShowMessage("");
        QString offered;
        w.SetFolderChooser([&](const QString& current, QWidget*) {
            offered = current;
            return answer;
        });
        const QString was = w.SnapshotDir();
        QTest::mouseClick(w.btnSnapshotDir(), Qt::LeftButton);
        EXPECT_EQ(offered, was);
        EXPECT_EQ(w.SnapshotDir(), chosen);
        EXPECT_EQ(w.txtSnapshotDir()->text(), chosen);
        if (!message.isEmpty()) ExpectContains(w.MessageText(), {message});
    }
    w.cmbImageFormat()->setCurrentIndex(1);
    const SnapshotResult result = w.SaveSnapshots();
    ASSERT_EQ(result.written.size(), 10);
    EXPECT_TRUE(result.written[0].endsWith("_parallel_port.png"));
    for (const QString& path : result.written) {
        EXPECT_TRUE(path.startsWith(folder + "/")) << path.toStdString();
        ExpectContains(w.MessageText(), {"\n" + path});
    }
    w.Views().WaterfallData().chkSnapshots()->setChecked(true);
    for (int i = 0; i < w.Views().WaterfallData().Surface().Height(); ++i) {
        w.Views().WaterfallData().PlotData(100);
    }
    const QString running = w.MessageText().section("Running image saved: ", 1);
    EXPECT_TRUE(running.startsWith(folder + "/") && running.endsWith("_runningwater1.bmp") &&
                QFileInfo(running).isFile())
        << w.MessageText().toStdString();
}

// An annotated image is its window's picture with a band of notes above: as wide as the
// window, the window's height below the band, the window's labels where they are, the
// plot pixel for pixel at its place, and a key of the class colours in the band.
TEST(AnnotatedImage, IsTheWindowWithItsPlotExactlyAndAColourKey) {
    QTemporaryDir dir;
    frmMain w;
    w.SetSnapshotDir(dir.path());
    w.Views().ParallelIP().show();
    const Rgb colours[] = {colorIncomingTCP, colorOutgoingTCP, colorIncomingUDP, colorOutgoingUDP};
    // A different picture in every view, drawn over every pixel row the band could hide.
    for (int n = 0; n < kSwitchCount; ++n) {
        if (auto* view = dynamic_cast<GraphWindow*>(&w.Views().View(n))) {
            PlotSurface& s = view->Surface();
            for (int y = 0; y < s.Height(); y += 3)
                s.Line(0, y, s.Width(), y + n, colours[(y + n) % 4]);
        }
    }
    const ImageNotes notes{"/captures/a long/path to a file.pcap",
                           "192.168.1.101",
                           QDateTime(QDate(2026, 12, 8), QTime(5, 37, 32)),
                           QDateTime(QDate(2026, 12, 8), QTime(5, 38, 2)),
                           false,
                           4205};
    const SnapshotResult shown = w.Views().SaveAnnotated(dir.path(), notes, false, "t");
    ASSERT_EQ(shown.written.size(), 6)
        << shown.written.join(' ').toStdString();  // the defaults and IP to IP
    const SnapshotResult all = w.Views().SaveAnnotated(dir.path(), notes, true, "t");
    ASSERT_EQ(all.written.size(), 10);
    for (const QString& path : all.written) {
        ASSERT_TRUE(path.endsWith("_annotated.png")) << path.toStdString();
        QString suffix = path.mid(path.indexOf('_', path.lastIndexOf('/')));
        suffix.replace("_annotated.png", ".bmp");
        GraphWindow* view = w.Views().GraphBySuffix(suffix);
        ASSERT_NE(view, nullptr) << suffix.toStdString();
        const QImage image = Rgb32(path);
        const int band = view->NotesHeight(notes);
        ASSERT_EQ(image.size(), QSize(view->width(), band + view->height())) << path.toStdString();
        // The window as it draws itself, labels and all, with the plot exactly at its place.
        QImage window(view->size(), QImage::Format_RGB32);
        view->render(&window);
        {
            QPainter painter(&window);
            painter.drawImage(view->picGraph()->geometry().topLeft(), view->Surface().Image());
        }
        EXPECT_EQ(image.copy(0, band, view->width(), view->height()), window) << path.toStdString();
        std::set<QRgb> key;
        for (int y = 0; y < band; ++y) {
            for (int x = 0; x < image.width(); ++x) key.insert(image.pixel(x, y));
        }
        for (Rgb c : colours) EXPECT_TRUE(key.contains(ToQRgb(c))) << path.toStdString();
    }
}

ProgramRun Headless(const QStringList& arguments) {
    return Lumeno(QStringList{"--headless", "--threads", "1"} + arguments);
}

// From the command line: PNG snapshots hold exactly the BMP snapshots' pixels under the
// same names, and --annotated adds the ten annotated images (their pixels: AnnotatedImage).
TEST(ImageFiles, TheCommandLineWritesPngSnapshotsAndAnnotatedImages) {
    QTemporaryDir bmp, png;
    const ProgramRun plain = Headless({"--snapshot-dir", bmp.path(), LUMENO_SAMPLE_CAPTURE});
    ASSERT_EQ(plain.status, 0) << plain.err.toStdString();
    const ProgramRun annotated = Headless({"--image-format", "png", "--annotated", "--snapshot-dir",
                                           png.path(), LUMENO_SAMPLE_CAPTURE});
    ASSERT_EQ(annotated.status, 0) << annotated.err.toStdString();
    const QStringList bmps = QDir(bmp.path()).entryList(QDir::Files, QDir::Name);
    const QStringList pngs = QDir(png.path()).entryList({"*.png"}, QDir::Files, QDir::Name);
    ASSERT_EQ(bmps.size(), 10);
    ASSERT_EQ(pngs.size(), 20);
    ExpectContains(annotated.out, {"Images (20) in " + png.path()});
    for (const QString& name : bmps) {
        QString stem = name.mid(name.indexOf('_', 9));  // past the timestamp
        stem.chop(4);
        const QStringList same = pngs.filter(QRegularExpression("^[0-9_]{15}" + stem + "\\.png$"));
        const QStringList notes =
            pngs.filter(QRegularExpression("^[0-9_]{15}" + stem + "_annotated\\.png$"));
        ASSERT_TRUE(same.size() == 1 && notes.size() == 1) << stem.toStdString();
        EXPECT_EQ(Rgb32(png.filePath(same[0])), Rgb32(bmp.filePath(name))) << stem.toStdString();
    }
}

}  // namespace
}  // namespace lumeno
