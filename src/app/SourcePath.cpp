#include "app/SourcePath.h"

#include <pcap/pcap.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "capture/Decoder.h"

namespace lumeno {

PathCheck CheckPath(const QString& path) {
    struct stat st {};
    if (path.isEmpty()) return {PathKind::kMissing, ENOENT};
    if (::stat(path.toLocal8Bit().constData(), &st) != 0) return {PathKind::kMissing, errno};
    if (S_ISREG(st.st_mode)) return {PathKind::kRegular, 0};
    if (S_ISDIR(st.st_mode)) return {PathKind::kDirectory, 0};
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) return {PathKind::kStream, 0};
    return {PathKind::kOther, 0};
}

bool IsStreamName(const QString& name) {
    return name == QStringLiteral("-") || name.contains(QStringLiteral("://"));
}

QString PathProblem(const QString& path) {
    const PathCheck check = CheckPath(path);
    switch (check.kind) {
        case PathKind::kRegular:
        case PathKind::kStream:
            return {};
        case PathKind::kDirectory:
            return QStringLiteral("\"%1\" is a directory, not a capture file").arg(path);
        case PathKind::kOther:
            return QStringLiteral("\"%1\" is not a regular file, not a capture file").arg(path);
        case PathKind::kMissing:
            break;
    }
    return QStringLiteral("\"%1\": %2")
        .arg(path, QString::fromLocal8Bit(std::strerror(check.error)));
}

QString UndecodableLinkTypeText(int linkType) {
    // A stream names its link type only once its header has come.
    if (linkType < 0 || DecodesLinkType(linkType)) return {};
    QString name;
    if (const char* short_name = pcap_datalink_val_to_name(linkType)) {
        name = QStringLiteral(" (%1").arg(QString::fromLatin1(short_name));
        if (const char* description = pcap_datalink_val_to_description(linkType)) {
            name += QStringLiteral(": ") + QString::fromLatin1(description);
        }
        name += QLatin1Char(')');
    }
    return QStringLiteral(
               "Frames of link type %1%2 cannot be decoded: no packet of this capture "
               "can be drawn.")
        .arg(linkType)
        .arg(name);
}

}  // namespace lumeno
