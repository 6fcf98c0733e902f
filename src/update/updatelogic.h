#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Decisions of the online update, kept free of widgets and sockets so that
// they can be checked with tables.

// Classification of the stored reminder time ("next upgrade time").
enum UpgradeTimeState
{
    NotDue = 0,      // a reminder is stored and its time has not passed
    Due = 1,         // a reminder is stored and its time has passed
    NonePending = 2, // the store holds UPGRADE_TIME_NONE
};

// What a check's result leads to.
enum class UpgradeAction
{
    Nothing,
    UpToDate,      // clear the reminder, stop the timer, say so
    OfferNow,      // store a fresh reminder and the version, then offer it
    ClearReminder, // clear the reminder and stop the timer, silently
    Wait,          // keep the stored reminder, let the timer look again
    RemindLater,   // store a fresh reminder and the version, start the timer
};

namespace UpdateLogic {

// Sentinel of "next upgrade time" meaning no reminder is pending.
constexpr quint64 UPGRADE_TIME_NONE = 998;
// Setting that names the last version found on the server without a package
// for this system; the automatic check does not offer it again.
inline const QString KEY_VERSION_WITHOUT_PACKAGE = QStringLiteral("upgrade version without package");
// Reminder timer period.
constexpr int CHECK_TIMER_INTERVAL_MS = 60000;
// Default control port of the update server.
constexpr quint16 FTP_PORT = 8887;
// Longest version directory name that is accepted from a listing.
constexpr int MAX_VERSION_NAME_LENGTH = 64;

// Looks the action up in the twelve-entry table indexed by
// bAuto * 6 + bHasNew * 3 + state.
UpgradeAction decideUpgradeAction(bool bAuto, bool bHasNew, UpgradeTimeState state);

// Classifies the stored text of "next upgrade time" against the current time
// in seconds since the epoch. A text that is not a number counts as 0, which
// is always due.
UpgradeTimeState classifyUpgradeTime(const QString& strStored, qint64 nNowSecs);

// Reminder delay in minutes from two raw rand() draws: (d1 % 78) * 256 + d2 % 192,
// so between 0 and 19903 minutes.
qint64 reminderDelayMinutes(int nDraw1, int nDraw2);

// Seeds the process-wide generator with the low 32 bits of nNowMsecs, draws
// two numbers and returns the reminder time in seconds since the epoch.
qint64 drawReminderTime(qint64 nNowMsecs);

// True for a name that may stand for a version directory: "V", a dotted run
// of decimal numbers, then an optional suffix of letters, digits, '-', '_'
// and '.', with no "..", at most MAX_VERSION_NAME_LENGTH characters. A
// listing is server input and the name becomes part of a local file name,
// so anything else is treated like a file and ignored.
bool isUsableVersionName(const QString& strName);

// Compares the dotted numbers after the leading "V" of two version names;
// a suffix after the numbers is ignored. Negative, zero or positive.
int compareVersionNames(const QString& strLeft, const QString& strRight);

// The name to keep when a listing shows strCandidate after strBest: the
// candidate only when it is usable and strictly newer (or nothing was kept).
QString pickNewerVersionName(const QString& strBest, const QString& strCandidate);

// strNewest when it is newer than strRunning, else the empty string.
QString newerThanRunning(const QString& strNewest, const QString& strRunning);

// Ping prints "ttl=" (Linux) or "TTL=" (other systems) on each echo reply.
bool pingOutputShowsReply(const QByteArray& output);

// The update server's host and control port.
struct UpdateServer
{
    QString host;
    quint16 port = 0;
};

// Parses "host:port" or "[ipv6]:port". Returns false, leaving *pServer
// untouched, for anything else: empty parts, a port outside 1..65535, a host
// with characters that do not belong in a host name, or a host starting
// with '-' (it would be read as an option by the probe).
bool parseUpdateServer(const QString& strValue, UpdateServer* pServer);

// The server from VARNOKS_UPDATE_SERVER when it is set and valid, otherwise
// COMMON::FTP_HOST on FTP_PORT. An invalid value is logged once per call.
UpdateServer updateServer();

} // namespace UpdateLogic
