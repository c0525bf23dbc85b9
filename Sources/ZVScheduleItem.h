// A schedule record of brand Pelloma: one scheduled backup or restore job, as stored in the
// schedule list file (NSArray_Extensions.h) under the class name "ZVScheduleItem".
#pragma once

#include "zvcommon_export.h"

#include "NSCalendarDate.h"
#include "NSObject.h"

#include <QVariantList>
#include <memory>
#include <optional>

class NSKeyedUnarchiver;

// The stored numbers; all 32-bit signed.
enum ScheduleStatus : qint32 { ScheduleStatusNone = 0, ScheduleStatusInProgress = 1,
                               ScheduleStatusCanceled = 2, ScheduleStatusCompleted = 3 };
enum ScheduleFrequency : qint32 { ScheduleFrequencyOnce = 0, ScheduleFrequencyHourly = 1,
                                  ScheduleFrequencyDaily = 2, ScheduleFrequencyWeekdays = 3,
                                  ScheduleFrequencyMonthly = 4, ScheduleFrequencySelectedDays = 5 };
enum ScheduleType : qint32 { ScheduleTypeBackup = 0, ScheduleTypeRestore = 1 };

class ZVCOMMON_EXPORT ZVScheduleItem : public NSObject {
public:
    // A new record: type 0 (backup), the current date and time, frequency 2 (daily), status 0,
    // destination "MyPelloma", username "None", the other texts "", flags false,
    // scheduleTimeSettings 0, an empty day list.
    ZVScheduleItem();

    QString className() const override { return QStringLiteral("ZVScheduleItem"); }

    qint32 scheduleType() const { return m_scheduleType; }
    void setScheduleType(qint32 value) { m_scheduleType = value; }
    // None for a record read from an archive without a usable date (or a copy of one).
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
    bool sendEmailNotification() const { return m_sendEmailNotification; }
    void setSendEmailNotification(bool value) { m_sendEmailNotification = value; }
    bool isBackupNow() const { return m_isBackupNow; }
    void setBackupNow(bool value) { m_isBackupNow = value; }
    bool isUseSSL() const { return m_isUseSSL; }
    // The flag becomes true exactly when VALUE is "YES" (case-sensitive).
    void setSSL(const QString &value) { m_isUseSSL = value == QLatin1String("YES"); }
    qint32 scheduleTimeSettings() const { return m_scheduleTimeSettings; }
    void setScheduleTimeSettings(qint32 value) { m_scheduleTimeSettings = value; }

    // The day numbers (0 Sunday .. 6 Saturday) as stored: numbers or numeric texts. None for a
    // record read from an archive without "selectedDaysForSchedule". The record keeps its own
    // copy: a later change to the caller's list does not show here.
    const std::optional<QVariantList> &selectedDaysForSchedule() const { return m_selectedDaysArray; }
    void setSelectedDaysForSchedule(const std::optional<QVariantList> &days) { m_selectedDaysArray = days; }

    // "" (0), "InProgress" (1), "Canceled" (2), "Completed" (3), otherwise "InvalidStatus".
    QString statusString() const;
    // "Once", "Hourly " (with its blank), "Daily", "Weekdays", "Monthly", scheduledDays() for 5,
    // otherwise "None".
    QString frequencyString() const;
    // "Backup", "Restore", otherwise a null QString.
    QString scheduleTypeString() const;
    // Frequency 5: the names of the listed days in list order joined with "," (values outside
    // 0..6 skipped), or "Monday,Tuesday,Wednesday,Thursday,Friday" for an empty list;
    // otherwise frequencyString().
    QString scheduledDays() const;
    // scheduleTime as "%a %b %d %Y %I:%M:%S %p" in its own zone, in English; null without a time.
    QString scheduleTimeString() const;

    // This record (the receiver) against OTHER: equal type; receiver's time minus OTHER's
    // between 0 and 60 s inclusive (not symmetric); equal status, username, destination and
    // emailids (an absent text equals nothing, not even another absent text); equal
    // desktop and e-mail notification flags. A record without a time (either side) fails the
    // time test: it equals no record, not even one also without a time, as a difference that
    // is no number fails.
    bool isEqualToScheduleItem(const ZVScheduleItem &other) const;

    // A new record (defaults, then) with this record's type, time, frequency, status,
    // destination, username, emailids, notification flags, userAtServer, serverName,
    // password, processReferenceFile, isUseSSL and quotaServerName; scheduleTimeSettings 0,
    // an empty day list and isBackupNow false.
    std::shared_ptr<ZVScheduleItem> copyWithZone() const;

    // Keyed coding: the 17 keys of this record's format, in order.
    void encodeWithCoder(NSKeyedArchiver &coder) const override;
    // A record from CODER's current object: keys missing leave zero, false or absent (not
    // the defaults of a new record); the time goes through its text form (whole seconds, the
    // zone's offset then). Null (and CODER failed) when a key holds a value of the wrong kind.
    static std::shared_ptr<ZVScheduleItem> initWithCoder(NSKeyedUnarchiver &coder);

private:
    struct Bare {};
    explicit ZVScheduleItem(Bare) {}

    qint32 m_scheduleType = 0;
    std::optional<NSCalendarDate> m_scheduleTime;
    qint32 m_frequency = 0;
    qint32 m_status = 0;
    QString m_destination;
    QString m_username;
    QString m_userAtServer;
    QString m_serverName;
    QString m_password;
    QString m_processReferenceFile;
    QString m_emailids;
    bool m_displayDesktopNotification = false;
    bool m_sendEmailNotification = false;
    bool m_isUseSSL = false;
    bool m_isBackupNow = false;
    qint32 m_scheduleTimeSettings = 0;
    std::optional<QVariantList> m_selectedDaysArray;
    QString m_quotaServerName;
};
