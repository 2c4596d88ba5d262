// SPDX-License-Identifier: MIT
#include "core/datafolder.h"

#include <QCoreApplication>
#include <QDir>

#ifdef Q_OS_WIN
#include <shlobj.h>
#endif

namespace {

// %ProgramData%\Tarvik, asked of Windows rather than of the environment,
// which the user may change.
QString programDataFolder()
{
#ifdef Q_OS_WIN
    PWSTR path = nullptr;
    QString folder;
    if (SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path) == S_OK)
        folder
            = QDir::fromNativeSeparators(QString::fromWCharArray(path)) + QStringLiteral("/Tarvik");
    CoTaskMemFree(path);
    return folder;
#else
    return {};
#endif
}

} // namespace

QString tarvikDataFolder(DataPlace place, const QString& builtInFolder)
{
    const QString folder = place == DataPlace::ProgramData ? programDataFolder() : builtInFolder;
    return folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
}
