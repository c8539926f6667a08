#pragma once

#include <QString>

// The directory that holds the INI file, the recordings and the dump file:
// the executable's directory, unless a test has pointed it elsewhere.
QString appDataDir();
void setAppDataDir(const QString &dir);

// Full path of a file in that directory.
QString appDataFile(const QString &fileName);
