#include "ZVScheduleItem.h"

#include "NSKeyedArchiver.h"
#include "NSKeyedUnarchiver.h"
#include "ScheduleItemSupport_p.h"

using namespace ScheduleItemSupport;

namespace {

// Records of this class are rebuilt by name from any keyed archive read in this process.
const bool registered = [] {
    NSKeyedUnarchiver::setClassForClassName(QStringLiteral("ZVScheduleItem"),
        [](NSKeyedUnarchiver &coder) -> NSObjectPtr { return ZVScheduleItem::initWithCoder(coder); });
    return true;
}();

} // namespace

ZVScheduleItem::ZVScheduleItem()
{
    Q_UNUSED(registered);
    setScheduleType(ScheduleTypeBackup);
    setScheduleTime(NSCalendarDate::calendarDate());
    setFrequency(ScheduleFrequencyDaily);
    setStatus(ScheduleStatusNone);
    setDestination(QStringLiteral("MyPelloma"));
    setUsername(QStringLiteral("None"));
    setUserAtServer(QStringLiteral(""));
    setServerName(QStringLiteral(""));
    setPassword(QStringLiteral(""));
    setProcessReferenceFile(QStringLiteral(""));
    setEmailids(QStringLiteral(""));
    setDisplayDesktopNotification(false);
    setSendEmailNotification(false);
    setSSL(QStringLiteral("NO"));
    setScheduleTimeSettings(0);
    setSelectedDaysForSchedule(QVariantList());
    setQuotaServerName(QStringLiteral(""));
}

QString ZVScheduleItem::statusString() const { return statusText(m_status, QStringLiteral("InProgress")); }

QString ZVScheduleItem::frequencyString() const
{
    return m_frequency == ScheduleFrequencySelectedDays ? scheduledDays() : frequencyText(m_frequency);
}

QString ZVScheduleItem::scheduleTypeString() const { return scheduleTypeText(m_scheduleType); }

QString ZVScheduleItem::scheduledDays() const
{
    const bool hasDays = m_selectedDaysArray && !m_selectedDaysArray->isEmpty();
    if (hasDays && m_frequency == ScheduleFrequencySelectedDays)
        return dayNames(*m_selectedDaysArray);
    if (!hasDays && m_frequency == ScheduleFrequencySelectedDays)
        return weekdayNames();
    return frequencyString();
}

QString ZVScheduleItem::scheduleTimeString() const { return scheduleTimeText(m_scheduleTime); }

bool ZVScheduleItem::isEqualToScheduleItem(const ZVScheduleItem &other) const
{
    return m_scheduleType == other.m_scheduleType
        && timeTestPasses(m_scheduleTime, other.m_scheduleTime)
        && m_status == other.m_status
        && textsEqual(m_username, other.m_username)
        && textsEqual(m_destination, other.m_destination)
        && textsEqual(m_emailids, other.m_emailids)
        && m_displayDesktopNotification == other.m_displayDesktopNotification
        && m_sendEmailNotification == other.m_sendEmailNotification;
}

std::shared_ptr<ZVScheduleItem> ZVScheduleItem::copyWithZone() const
{
    auto copy = std::make_shared<ZVScheduleItem>();
    copy->setScheduleType(scheduleType());
    copy->setScheduleTime(scheduleTime());
    copy->setFrequency(frequency());
    copy->setStatus(status());
    copy->setDestination(destination());
    copy->setUsername(username());
    copy->setEmailids(emailids());
    copy->setDisplayDesktopNotification(displayDesktopNotification());
    copy->setSendEmailNotification(sendEmailNotification());
    copy->setUserAtServer(userAtServer());
    copy->setServerName(serverName());
    copy->setPassword(password());
    copy->setProcessReferenceFile(processReferenceFile());
    copy->setSSL(isUseSSL() ? QStringLiteral("YES") : QStringLiteral("NO"));
    copy->setQuotaServerName(quotaServername());
    return copy;
}

void ZVScheduleItem::encodeWithCoder(NSKeyedArchiver &coder) const
{
    coder.encodeIntForKey(scheduleType(), QStringLiteral("scheduleType"));
    encodeDate(coder, scheduleTime(), QStringLiteral("scheduleTime"));
    coder.encodeIntForKey(frequency(), QStringLiteral("frequency"));
    coder.encodeIntForKey(status(), QStringLiteral("status"));
    encodeText(coder, destination(), QStringLiteral("destination"));
    encodeText(coder, username(), QStringLiteral("username"));
    encodeText(coder, emailids(), QStringLiteral("emailids"));
    coder.encodeBoolForKey(displayDesktopNotification(), QStringLiteral("displayDesktopNotification"));
    coder.encodeBoolForKey(sendEmailNotification(), QStringLiteral("sendEmailNotification"));
    encodeText(coder, userAtServer(), QStringLiteral("userAtServer"));
    encodeText(coder, serverName(), QStringLiteral("serverName"));
    encodeText(coder, password(), QStringLiteral("password"));
    encodeText(coder, processReferenceFile(), QStringLiteral("processReferenceFile"));
    coder.encodeBoolForKey(isUseSSL(), QStringLiteral("isUseSSL"));
    coder.encodeIntForKey(scheduleTimeSettings(), QStringLiteral("scheduleTimeSettings"));
    encodeDays(coder, m_selectedDaysArray ? &*m_selectedDaysArray : nullptr, QStringLiteral("selectedDaysForSchedule"));
    encodeText(coder, quotaServername(), QStringLiteral("quotaServerName"));
}

std::shared_ptr<ZVScheduleItem> ZVScheduleItem::initWithCoder(NSKeyedUnarchiver &coder)
{
    std::shared_ptr<ZVScheduleItem> item(new ZVScheduleItem(Bare{}));
    item->setScheduleType(coder.decodeIntForKey(QStringLiteral("scheduleType")));
    item->setScheduleTime(decodeDate(coder, QStringLiteral("scheduleTime")));
    item->setFrequency(coder.decodeIntForKey(QStringLiteral("frequency")));
    item->setStatus(coder.decodeIntForKey(QStringLiteral("status")));
    item->setDestination(decodeText(coder, QStringLiteral("destination")));
    item->setUsername(decodeText(coder, QStringLiteral("username")));
    item->setEmailids(decodeText(coder, QStringLiteral("emailids")));
    item->setDisplayDesktopNotification(coder.decodeBoolForKey(QStringLiteral("displayDesktopNotification")));
    item->setSendEmailNotification(coder.decodeBoolForKey(QStringLiteral("sendEmailNotification")));
    item->setUserAtServer(decodeText(coder, QStringLiteral("userAtServer")));
    item->setServerName(decodeText(coder, QStringLiteral("serverName")));
    item->setPassword(decodeText(coder, QStringLiteral("password")));
    item->setProcessReferenceFile(decodeText(coder, QStringLiteral("processReferenceFile")));
    item->setSSL(coder.decodeBoolForKey(QStringLiteral("isUseSSL")) ? QStringLiteral("YES") : QStringLiteral("NO"));
    item->setScheduleTimeSettings(coder.decodeIntForKey(QStringLiteral("scheduleTimeSettings")));
    item->setSelectedDaysForSchedule(decodeDays(coder, QStringLiteral("selectedDaysForSchedule")));
    item->setQuotaServerName(decodeText(coder, QStringLiteral("quotaServerName")));
    if (coder.failed())
        return nullptr;
    return item;
}
