#ifndef SETTINGS_H
#define SETTINGS_H

#include <QString>

// The files the program keeps in its working directory, and what a job looks for: named
// here once for the window and for halcyon --run.
namespace Settings {

inline QString sourcePathFile() { return QStringLiteral("filepath.ini"); }
inline QString outputPathFile() { return QStringLiteral("CompressFileFath.ini"); }
inline QString scheduleFile() { return QStringLiteral("schedule.ini"); }
inline QString styleSheetFile() { return QStringLiteral("skin.css"); }
inline QString backupSuffix() { return QStringLiteral(".bak"); }

} // namespace Settings

#endif // SETTINGS_H
