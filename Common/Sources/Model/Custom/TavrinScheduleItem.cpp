#include "TavrinScheduleItem.h"

#include "NSArray_Extensions.h"
#include "NSKeyedArchiver.h"
#include "NSKeyedUnarchiver.h"
#include "ScheduleItemSupport_p.h"
#include "ZVLocalizedString.h"

using namespace ScheduleItemSupport;

namespace {

const bool registered = [] {
    NSKeyedUnarchiver::setClassForClassName(QStringLiteral("TavrinScheduleItem"),
        [](NSKeyedUnarchiver &coder) -> NSObjectPtr { return TavrinScheduleItem::initWithCoder(coder); });
    return true;
}();

// The username and day list of a stored record of either brand; false for other elements.
bool storedRecord(const QVariant &element, QString *username, std::optional<QVariantList> *days)
{
    NSObject *object = objectFromVariant(element).get();
    if (auto *t = dynamic_cast<TavrinScheduleItem *>(object)) {
        *username = t->username();
        *days = t->selectedDaysForSchedule() ? std::optional<QVariantList>(*t->selectedDaysForSchedule())
                                             : std::nullopt;
        return true;
    }
    if (auto *z = dynamic_cast<ZVScheduleItem *>(object)) {
        *username = z->username();
        *days = z->selectedDaysForSchedule();
        return true;
    }
    return false;
}

} // namespace

TavrinScheduleItem::TavrinScheduleItem()
{
    Q_UNUSED(registered);
    setScheduleType(ScheduleTypeBackup);
    setScheduleTime(NSCalendarDate::calendarDate());
    setFrequency(ScheduleFrequencyDaily);
    setStatus(ScheduleStatusNone);
    setDestination(QStringLiteral("My Tavrin"));
    setUsername(QStringLiteral("None"));
    setTavrinUserName(QStringLiteral("None"));
    setUserAtServer(QStringLiteral(""));
    setServerName(QStringLiteral(""));
    setPassword(QStringLiteral(""));
    setProcessReferenceFile(QStringLiteral(""));
    setEmailids(QStringLiteral(""));
    setDisplayDesktopNotification(false);
    setShouldStartMissedScheduleBackup(false);
    setSendEmailNotification(false);
    setSSL(QStringLiteral("NO"));
    setScheduleTimeSettings(0);
    setSelectedDaysForSchedule(std::make_shared<QVariantList>());
    setQuotaServerName(QStringLiteral(""));
    setIsAutoSyncEnabled(false);
}

QString TavrinScheduleItem::statusString() const { return statusText(m_status, QStringLiteral("In progress")); }

QString TavrinScheduleItem::frequencyString() const
{
    return m_frequency == ScheduleFrequencySelectedDays ? scheduledDays() : frequencyText(m_frequency);
}

QString TavrinScheduleItem::scheduleTypeString() const { return scheduleTypeText(m_scheduleType); }

QString TavrinScheduleItem::scheduleTimeString() const { return scheduleTimeText(m_scheduleTime); }

QString TavrinScheduleItem::scheduledDays() const
{
    const bool hasDays = m_selectedDaysArray && !m_selectedDaysArray->isEmpty();
    if (hasDays && m_frequency == ScheduleFrequencySelectedDays)
        return dayNames(*m_selectedDaysArray);
    if (hasDays || m_frequency != ScheduleFrequencySelectedDays)
        return frequencyString();

    QString result = QStringLiteral("None");
    const std::optional<QVariantList> stored =
        MyExtensions::initWithContentsOfArchivedFileWithKey(pathForApplicationFile(), QStringLiteral("Schedules"));
    if (!stored)
        return result;
    for (const QVariant &element : *stored) {
        QString username;
        std::optional<QVariantList> days;
        if (!storedRecord(element, &username, &days) || !textsEqual(username, m_username))
            continue;
        result = days && !days->isEmpty() ? dayNames(*days) : weekdayNames();
    }
    return result;
}

bool TavrinScheduleItem::isEqualToScheduleItem(const TavrinScheduleItem &other) const
{
    return m_scheduleType == other.m_scheduleType
        && timeTestPasses(m_scheduleTime, other.m_scheduleTime)
        && m_status == other.m_status
        && textsEqual(m_destination, other.m_destination)
        && textsEqual(m_username, other.m_username)
        && textsEqual(m_emailids, other.m_emailids)
        && m_displayDesktopNotification == other.m_displayDesktopNotification
        && m_shouldStartMissedScheduleBackup == other.m_shouldStartMissedScheduleBackup
        && m_sendEmailNotification == other.m_sendEmailNotification
        && m_sendLogExtract == other.m_sendLogExtract
        && m_notifyOnFailure == other.m_notifyOnFailure;
}

bool TavrinScheduleItem::compareScheduleItems(const TavrinScheduleItem &other) const
{
    return m_status == other.m_status;
}

std::shared_ptr<TavrinScheduleItem> TavrinScheduleItem::copyWithZone() const
{
    auto copy = std::make_shared<TavrinScheduleItem>();
    copy->setScheduleType(scheduleType());
    copy->setScheduleTime(scheduleTime());
    copy->setFrequency(frequency());
    copy->setStatus(status());
    copy->setDestination(destination());
    copy->setUsername(username());
    copy->setTavrinUserName(tavrinUserName());
    copy->setEmailids(emailids());
    copy->setDisplayDesktopNotification(displayDesktopNotification());
    copy->setShouldStartMissedScheduleBackup(shouldStartMissedScheduleBackup());
    copy->setSendEmailNotification(sendEmailNotification());
    copy->setUserAtServer(userAtServer());
    copy->setServerName(serverName());
    copy->setPassword(password());
    copy->setProcessReferenceFile(processReferenceFile());
    copy->setSSL(isUseSSL() ? QStringLiteral("YES") : QStringLiteral("NO"));
    copy->setQuotaServerName(quotaServername());
    copy->setSendLogExtract(sendLogExtract());
    copy->setNotifyOnFailure(notifyOnFailure());
    copy->setIsAutoSyncEnabled(isAutoSyncEnabled());
    return copy;
}

QString TavrinScheduleItem::applicationName()
{
    return ZVLocalizedString(QStringLiteral("ApplicationName"), QString());
}

QString TavrinScheduleItem::pathForApplicationFile()
{
    return ZVLocalizedString(QStringLiteral("SchedulerSettingsFile"), QString());
}

bool TavrinScheduleItem::isTavrinApplication()
{
    return applicationName() == QLatin1String("Tavrin for Mac");
}

void TavrinScheduleItem::encodeWithCoder(NSKeyedArchiver &coder) const
{
    coder.encodeIntForKey(scheduleType(), QStringLiteral("scheduleType"));
    encodeDate(coder, scheduleTime(), QStringLiteral("scheduleTime"));
    coder.encodeIntForKey(frequency(), QStringLiteral("frequency"));
    coder.encodeIntForKey(status(), QStringLiteral("status"));
    encodeText(coder, destination(), QStringLiteral("destination"));
    encodeText(coder, username(), QStringLiteral("username"));
    encodeText(coder, tavrinUserName(), QStringLiteral("tavrinUserName"));
    encodeText(coder, emailids(), QStringLiteral("emailids"));
    coder.encodeBoolForKey(displayDesktopNotification(), QStringLiteral("displayDesktopNotification"));
    coder.encodeBoolForKey(shouldStartMissedScheduleBackup(), QStringLiteral("shouldStartMissedScheduleBackup"));
    coder.encodeBoolForKey(sendEmailNotification(), QStringLiteral("sendEmailNotification"));
    encodeText(coder, userAtServer(), QStringLiteral("userAtServer"));
    encodeText(coder, serverName(), QStringLiteral("serverName"));
    encodeText(coder, quotaServername(), QStringLiteral("quotaServerName"));
    encodeText(coder, password(), QStringLiteral("password"));
    encodeText(coder, processReferenceFile(), QStringLiteral("processReferenceFile"));
    coder.encodeBoolForKey(isUseSSL(), QStringLiteral("isUseSSL"));
    coder.encodeIntForKey(scheduleTimeSettings(), QStringLiteral("scheduleTimeSettings"));
    encodeDays(coder, m_selectedDaysArray.get(), QStringLiteral("selectedDaysForSchedule"));
    coder.encodeBoolForKey(sendLogExtract(), QStringLiteral("sendLogExtract"));
    coder.encodeBoolForKey(notifyOnFailure(), QStringLiteral("notifyOnFailure"));
    coder.encodeBoolForKey(isAutoSyncEnabled(), QStringLiteral("isAutoSyncEnabled"));
}

std::shared_ptr<TavrinScheduleItem> TavrinScheduleItem::initWithCoder(NSKeyedUnarchiver &coder)
{
    std::shared_ptr<TavrinScheduleItem> item(new TavrinScheduleItem(Bare{}));
    item->setScheduleType(coder.decodeIntForKey(QStringLiteral("scheduleType")));
    item->setScheduleTime(decodeDate(coder, QStringLiteral("scheduleTime")));
    item->setFrequency(coder.decodeIntForKey(QStringLiteral("frequency")));
    item->setStatus(coder.decodeIntForKey(QStringLiteral("status")));
    item->setDestination(decodeText(coder, QStringLiteral("destination")));
    item->setUsername(decodeText(coder, QStringLiteral("username")));
    item->setTavrinUserName(decodeText(coder, QStringLiteral("tavrinUserName")));
    item->setEmailids(decodeText(coder, QStringLiteral("emailids")));
    item->setDisplayDesktopNotification(coder.decodeBoolForKey(QStringLiteral("displayDesktopNotification")));
    item->setShouldStartMissedScheduleBackup(coder.decodeBoolForKey(QStringLiteral("shouldStartMissedScheduleBackup")));
    item->setSendEmailNotification(coder.decodeBoolForKey(QStringLiteral("sendEmailNotification")));
    item->setUserAtServer(decodeText(coder, QStringLiteral("userAtServer")));
    item->setServerName(decodeText(coder, QStringLiteral("serverName")));
    item->setQuotaServerName(decodeText(coder, QStringLiteral("quotaServerName")));
    item->setPassword(decodeText(coder, QStringLiteral("password")));
    item->setProcessReferenceFile(decodeText(coder, QStringLiteral("processReferenceFile")));
    item->setSSL(coder.decodeBoolForKey(QStringLiteral("isUseSSL")) ? QStringLiteral("YES") : QStringLiteral("NO"));
    item->setScheduleTimeSettings(coder.decodeIntForKey(QStringLiteral("scheduleTimeSettings")));
    const std::optional<QVariantList> days = decodeDays(coder, QStringLiteral("selectedDaysForSchedule"));
    item->setSelectedDaysForSchedule(days ? std::make_shared<QVariantList>(*days) : nullptr);
    item->setSendLogExtract(coder.decodeBoolForKey(QStringLiteral("sendLogExtract")));
    item->setNotifyOnFailure(coder.decodeBoolForKey(QStringLiteral("notifyOnFailure")));
    item->setIsAutoSyncEnabled(coder.decodeBoolForKey(QStringLiteral("isAutoSyncEnabled")));
    if (coder.failed())
        return nullptr;
    return item;
}
