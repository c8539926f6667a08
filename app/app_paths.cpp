#include "app_paths.h"

#include <QCoreApplication>

namespace {
QString &overrideDir()
{
    static QString dir;
    return dir;
}
} // namespace

QString appDataDir()
{
    return overrideDir().isEmpty() ? QCoreApplication::applicationDirPath() : overrideDir();
}

void setAppDataDir(const QString &dir)
{
    overrideDir() = dir;
}

QString appDataFile(const QString &fileName)
{
    return appDataDir() + QLatin1Char('/') + fileName;
}
