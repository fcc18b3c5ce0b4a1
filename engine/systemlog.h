#ifndef SYSTEMLOG_H
#define SYSTEMLOG_H

#include <QString>

// What the program tells the system's log, where the operators' monitoring looks: the
// Application log under the source "Halcyon" on Windows, syslog(3) as "halcyon" (facility
// user) elsewhere, each message beginning with its ID and a colon. A log that cannot be
// reached changes nothing: the caller never waits on it and never learns of it.
namespace SystemLog {

enum class Type { Information, Warning, Error };

// Fixed IDs, for monitoring to filter on.
enum Event {
    JobEnded = 100,
    ArchiveFailed = 101,
    SourceMissing = 102,
    NothingFound = 103,
    SlotCaughtUp = 104,
    DailyModeSwitched = 105,
    DirectoryUnreadable = 106,
    ReserveReached = 107,
    VerifyEnded = 108,
    ArchiveDamaged = 109,
    LockTakenOver = 110,
    WaitingForLock = 111,
    SettingsIgnored = 112,
    LastSuccessUnwritten = 113,
};

// Queued, never waited for. The text appears on one line: control characters and the bytes
// of names that are not UTF-8 are escaped (PrintableName).
void report(Event id, Type type, const QString &text);
// Before the process ends: waits for what was reported to reach the log as long as it keeps
// going out (some of it within each stallMsecs), at most totalMsecs in all.
void flush(int stallMsecs = 2000, int totalMsecs = 30000);

} // namespace SystemLog

#endif // SYSTEMLOG_H
