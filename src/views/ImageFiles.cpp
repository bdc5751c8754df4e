#include "views/ImageFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>

namespace lumeno {

namespace {

QString SystemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

QString WriteImageFile(const QImage& image, const QString& path, const char* format) {
    // Encoded in memory first: Qt's image writers report a failed write as "Unknown error",
    // so the bytes go out through plain system calls whose errno says what went wrong.
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        if (!writer.write(image)) return writer.errorString();
    }
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return SystemReason(errno);
    int error = 0;
    const char* at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;  // a write of nothing: the device is full
            break;
        }
        at += n;
        left -= n;
    }
    struct stat info {};
    const bool plainFile = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    // Some file systems report a full disk only when the file is closed.
    if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
    if (error == 0) return {};
    // Never remove what is not a plain file, such as a device.
    if (plainFile) ::unlink(name.constData());
    return SystemReason(error);
}

bool CanCreateFilesIn(const QString& dir) {
    if (dir.isEmpty() || !QFileInfo(dir).isDir()) return false;
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".lumeno-probe-XXXXXX")));
    return probe.open();
}

namespace {

// The per-user folder chosen as the fallback: the one folder images may create.
QString& CreatableFolder() {
    static QString folder;
    return folder;
}

}  // namespace

QString DefaultImageFolder(const QString& programDir, const QString& picturesDir) {
    if (CanCreateFilesIn(programDir)) return programDir;
    const QString folder = QDir(picturesDir).filePath(QStringLiteral("Lumeno"));
    CreatableFolder() = QDir::cleanPath(folder);
    return folder;
}

QString UserPicturesFolder() {
    const QString fromEnvironment = qEnvironmentVariable("XDG_PICTURES_DIR");
    if (!fromEnvironment.isEmpty()) return fromEnvironment;
    // Reads the desktop's user-dirs.dirs; ~/Pictures where it names none.
    const QString standard = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return standard.isEmpty() ? QDir::home().filePath(QStringLiteral("Pictures")) : standard;
}

QString DefaultImageFolder() {
    return DefaultImageFolder(QCoreApplication::applicationDirPath(), UserPicturesFolder());
}

QString MakeImageFolder(const QString& dir) {
    // A folder the user named is used as it is: a missing one fails with the system's
    // reason when the image is written.
    if (QFileInfo(dir).isDir() || QDir::cleanPath(dir) != CreatableFolder()) return {};
    const QByteArray name = QFile::encodeName(QDir::cleanPath(dir));
    // Each missing parent in turn, so that the reason is the system's own.
    QByteArray partial;
    for (const QByteArray& part : name.split('/')) {
        if (part.isEmpty()) {
            if (partial.isEmpty()) partial = "/";
            continue;
        }
        if (!partial.isEmpty() && !partial.endsWith('/')) partial += '/';
        partial += part;
        if (::mkdir(partial.constData(), 0777) != 0 && errno != EEXIST) {
            return QStringLiteral("cannot create %1: %2")
                .arg(QFile::decodeName(partial), SystemReason(errno));
        }
    }
    return QFileInfo(dir).isDir() ? QString() : QStringLiteral("%1 is not a folder").arg(dir);
}

}  // namespace lumeno
