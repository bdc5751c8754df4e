#pragma once

#include <QImage>
#include <QString>

namespace lumeno {

// Writes an image as a file in the given format ("bmp" or "png"). Returns an empty text on
// success, otherwise the system's reason ("No space left on device"); a half-written file is
// removed, so that nothing can pass for a saved image.
QString WriteImageFile(const QImage& image, const QString& path, const char* format);

// Whether this process can create a file in dir (tried, not guessed from permission bits:
// root may write where the bits say no, and nobody may write into /proc or a read-only
// mount).
bool CanCreateFilesIn(const QString& dir);

// The folder images go to when the user has chosen none: the program's own directory when
// files can be created there, otherwise the folder "Lumeno" in the user's pictures folder.
QString DefaultImageFolder(const QString& programDir, const QString& picturesDir);
// The same for this program: its directory, and $XDG_PICTURES_DIR, else the desktop's
// pictures folder, else ~/Pictures.
QString DefaultImageFolder();
QString UserPicturesFolder();

// Creates the per-user folder that DefaultImageFolder fell back to (and its parents) when
// missing; leaves every other folder as it is. Returns an empty text or why not.
QString MakeImageFolder(const QString& dir);

}  // namespace lumeno
