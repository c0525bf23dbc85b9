// A schedule record of brand Tavrin, stored in the schedule list file under the class name
// "TavrinScheduleItem": the twin of ZVScheduleItem with five more fields, a shared day list,
// a day display that consults the stored schedule list, and configuration lookups.
#pragma once

#include "zvcommon_export.h"

#include "NSCalendarDate.h"
#include "NSObject.h"
#include "ZVScheduleItem.h" // ScheduleStatus, ScheduleFrequency, ScheduleType

#include <QVariantList>
#include <memory>
#include <optional>

class NSKeyedUnarchiver;

class ZVCOMMON_EXPORT TavrinScheduleItem : public NSObject {
public:
    // A shared, changeable day list (numbers or numeric texts, 0 Sunday .. 6 Saturday).
    using DayList = std::shared_ptr<QVariantList>;

    // A new record: as ZVScheduleItem's with destination "My Tavrin", tavrinUserName "None",
    // the four new flags false and a new empty day list of its own.
    TavrinScheduleItem();

    QString className() const override { return QStringLiteral("TavrinScheduleItem"); }

    qint32 scheduleType() const { return m_scheduleType; }
    void setScheduleType(qint32 value) { m_scheduleType = value; }
    const std::optional<NSCalendarDate> &scheduleTime() const { return m_scheduleTime; }
    void setScheduleTime(const std::optional<NSCalendarDate> &value) { m_scheduleTime = value; }
    qint32 frequency() const { return m_frequency; }
    void setFrequency(qint32 value) { m_frequency = value; }
    qint32 status() const { return m_status; }
    void setStatus(qint32 value) { m_status = value; }

    // Texts: a null QString is an absent text (distinct from "").
    const QString &destination() const { return m_destination; }
    void setDestination(const QString &value) { m_destination = value; }
    const QString &username() const { return m_username; }
    void setUsername(const QString &value) { m_username = value; }
    const QString &tavrinUserName() const { return m_tavrinUsername; }
    void setTavrinUserName(const QString &value) { m_tavrinUsername = value; }
    const QString &userAtServer() const { return m_userAtServer; }
    void setUserAtServer(const QString &value) { m_userAtServer = value; }
    const QString &serverName() const { return m_serverName; }
    void setServerName(const QString &value) { m_serverName = value; }
    const QString &password() const { return m_password; }
    void setPassword(const QString &value) { m_password = value; }
    const QString &processReferenceFile() const { return m_processReferenceFile; }
    void setProcessReferenceFile(const QString &value) { m_processReferenceFile = value; }
    const QString &emailids() const { return m_emailids; }
    void setEmailids(const QString &value) { m_emailids = value; }
    const QString &quotaServername() const { return m_quotaServerName; }
    void setQuotaServerName(const QString &value) { m_quotaServerName = value; }

    bool displayDesktopNotification() const { return m_displayDesktopNotification; }
    void setDisplayDesktopNotification(bool value) { m_displayDesktopNotification = value; }
    bool shouldStartMissedScheduleBackup() const { return m_shouldStartMissedScheduleBackup; }
    void setShouldStartMissedScheduleBackup(bool value) { m_shouldStartMissedScheduleBackup = value; }
    bool sendEmailNotification() const { return m_sendEmailNotification; }
    void setSendEmailNotification(bool value) { m_sendEmailNotification = value; }
    bool isBackupNow() const { return m_isBackupNow; }
    void setBackupNow(bool value) { m_isBackupNow = value; }
    bool isUseSSL() const { return m_isUseSSL; }
    // The flag becomes true exactly when VALUE is "YES" (case-sensitive).
    void setSSL(const QString &value) { m_isUseSSL = value == QLatin1String("YES"); }
    qint32 scheduleTimeSettings() const { return m_scheduleTimeSettings; }
    void setScheduleTimeSettings(qint32 value) { m_scheduleTimeSettings = value; }
    bool sendLogExtract() const { return m_sendLogExtract; }
    void setSendLogExtract(bool value) { m_sendLogExtract = value; }
    bool notifyOnFailure() const { return m_notifyOnFailure; }
    void setNotifyOnFailure(bool value) { m_notifyOnFailure = value; }
    bool isAutoSyncEnabled() const { return m_isAutoSyncEnabled; }
    void setIsAutoSyncEnabled(bool value) { m_isAutoSyncEnabled = value; }

    // The day list is shared, not copied: the record holds the very list it is given, so a
    // later change by another holder shows here, and hands that same list out. Null: no list
    // (a record read from an archive without "selectedDaysForSchedule").
    const DayList &selectedDaysForSchedule() const { return m_selectedDaysArray; }
    void setSelectedDaysForSchedule(const DayList &days) { m_selectedDaysArray = days; }

    // "" (0), "In progress" (1), "Canceled" (2), "Completed" (3), otherwise "InvalidStatus".
    QString statusString() const;
    QString frequencyString() const;     // as ZVScheduleItem's
    QString scheduleTypeString() const;  // as ZVScheduleItem's
    QString scheduleTimeString() const;  // as ZVScheduleItem's
    // Frequency 5 with days of its own: their names as ZVScheduleItem gives them. Frequency 5
    // without (an empty or no list): the days of a stored record of the same username in the
    // schedule list file (pathForApplicationFile(), key "Schedules"), read anew at every call:
    // the names of its days, or "Monday,...,Friday" when its list is empty or absent; "None"
    // when the file cannot be read or no stored record (of either brand) has that username
    // (an absent username matches nothing). When several stored records have that username,
    // the last of them in list order decides, as each match in turn replaces the text.
    // Any other frequency: frequencyString().
    QString scheduledDays() const;

    // Receiver against OTHER: type; the time test (receiver minus OTHER in 0..60 s; a record
    // without a time, on either side, fails it); status; destination; username; emailids
    // (an absent text equals nothing); desktop notification; missed-backup start; e-mail
    // notification; log extract; notify on failure.
    bool isEqualToScheduleItem(const TavrinScheduleItem &other) const;
    // True exactly when both statuses are equal; no other field takes part.
    bool compareScheduleItems(const TavrinScheduleItem &other) const;

    // A new record (defaults, then) with every field but scheduleTimeSettings (0), the day
    // list (a new empty one) and isBackupNow (false).
    std::shared_ptr<TavrinScheduleItem> copyWithZone() const;

    // The configured "ApplicationName" (the key itself when the table lacks it).
    static QString applicationName();
    // The configured "SchedulerSettingsFile": the schedule list file.
    static QString pathForApplicationFile();
    // applicationName() is exactly "Tavrin for Mac" (case-sensitive).
    static bool isTavrinApplication();

    // Keyed coding: the 22 keys of this record's format, in order (see ZVScheduleItem).
    void encodeWithCoder(NSKeyedArchiver &coder) const override;
    static std::shared_ptr<TavrinScheduleItem> initWithCoder(NSKeyedUnarchiver &coder);

private:
    struct Bare {};
    explicit TavrinScheduleItem(Bare) {}

    qint32 m_scheduleType = 0;
    std::optional<NSCalendarDate> m_scheduleTime;
    qint32 m_frequency = 0;
    qint32 m_status = 0;
    QString m_destination;
    QString m_username;
    QString m_tavrinUsername;
    QString m_userAtServer;
    QString m_serverName;
    QString m_password;
    QString m_processReferenceFile;
    QString m_emailids;
    QString m_quotaServerName;
    bool m_displayDesktopNotification = false;
    bool m_shouldStartMissedScheduleBackup = false;
    bool m_sendEmailNotification = false;
    bool m_isUseSSL = false;
    bool m_isBackupNow = false;
    qint32 m_scheduleTimeSettings = 0;
    DayList m_selectedDaysArray;
    bool m_sendLogExtract = false;
    bool m_notifyOnFailure = false;
    bool m_isAutoSyncEnabled = false;
};
