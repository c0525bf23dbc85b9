// zvtool schedules: shows and resets the records of a schedule list file.
//   zvtool schedules show FILE [--key KEY]
//   zvtool schedules reset FILE [--key KEY]
#include "Commands.h"

#include "NSArray_Extensions.h"
#include "ScheduleItemSupport_p.h"
#include "TavrinScheduleItem.h"
#include "ZVScheduleItem.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <cstdio>

namespace {

// One JSON object whose keys keep the order in which they are added (QJsonObject sorts them).
class OrderedJson {
public:
    void add(const char *key, const QJsonValue &value)
    {
        const QByteArray wrapped = QJsonDocument(QJsonArray{QJsonValue(QLatin1String(key)), value})
                                       .toJson(QJsonDocument::Compact);
        // "[\"key\",value]" -> "\"key\":value"
        const QByteArray inner = wrapped.mid(1, wrapped.size() - 2);
        const qsizetype comma = inner.indexOf("\",") + 1;
        m_text += (m_text.isEmpty() ? "" : ",") + inner.left(comma) + ':' + inner.mid(comma + 1);
    }
    QByteArray text() const { return '{' + m_text + '}'; }

private:
    QByteArray m_text;
};

QJsonValue text(const QString &s) { return s.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(s); }

QJsonValue time(const std::optional<NSCalendarDate> &t) { return t ? QJsonValue(t->description()) : QJsonValue(QJsonValue::Null); }

QJsonValue days(const QVariantList *list)
{
    if (!list)
        return QJsonValue(QJsonValue::Null);
    QJsonArray values;
    for (const QVariant &day : *list)
        values.append(ScheduleItemSupport::intValue(day));
    return values;
}

QByteArray describe(const ZVScheduleItem &r)
{
    OrderedJson j;
    j.add("class", r.className());
    j.add("scheduleType", r.scheduleType());
    j.add("scheduleTime", time(r.scheduleTime()));
    j.add("frequency", r.frequency());
    j.add("status", r.status());
    j.add("destination", text(r.destination()));
    j.add("username", text(r.username()));
    j.add("emailids", text(r.emailids()));
    j.add("displayDesktopNotification", r.displayDesktopNotification());
    j.add("sendEmailNotification", r.sendEmailNotification());
    j.add("userAtServer", text(r.userAtServer()));
    j.add("serverName", text(r.serverName()));
    j.add("password", text(r.password()));
    j.add("processReferenceFile", text(r.processReferenceFile()));
    j.add("isUseSSL", r.isUseSSL());
    j.add("scheduleTimeSettings", r.scheduleTimeSettings());
    j.add("selectedDaysForSchedule", days(r.selectedDaysForSchedule() ? &*r.selectedDaysForSchedule() : nullptr));
    j.add("quotaServerName", text(r.quotaServername()));
    j.add("statusString", text(r.statusString()));
    j.add("frequencyString", text(r.frequencyString()));
    j.add("scheduleTypeString", text(r.scheduleTypeString()));
    j.add("scheduledDays", text(r.scheduledDays()));
    j.add("scheduleTimeString", text(r.scheduleTimeString()));
    return j.text();
}

QByteArray describe(const TavrinScheduleItem &r)
{
    OrderedJson j;
    j.add("class", r.className());
    j.add("scheduleType", r.scheduleType());
    j.add("scheduleTime", time(r.scheduleTime()));
    j.add("frequency", r.frequency());
    j.add("status", r.status());
    j.add("destination", text(r.destination()));
    j.add("username", text(r.username()));
    j.add("tavrinUserName", text(r.tavrinUserName()));
    j.add("emailids", text(r.emailids()));
    j.add("displayDesktopNotification", r.displayDesktopNotification());
    j.add("shouldStartMissedScheduleBackup", r.shouldStartMissedScheduleBackup());
    j.add("sendEmailNotification", r.sendEmailNotification());
    j.add("userAtServer", text(r.userAtServer()));
    j.add("serverName", text(r.serverName()));
    j.add("quotaServerName", text(r.quotaServername()));
    j.add("password", text(r.password()));
    j.add("processReferenceFile", text(r.processReferenceFile()));
    j.add("isUseSSL", r.isUseSSL());
    j.add("scheduleTimeSettings", r.scheduleTimeSettings());
    j.add("selectedDaysForSchedule", days(r.selectedDaysForSchedule().get()));
    j.add("sendLogExtract", r.sendLogExtract());
    j.add("notifyOnFailure", r.notifyOnFailure());
    j.add("isAutoSyncEnabled", r.isAutoSyncEnabled());
    j.add("statusString", text(r.statusString()));
    j.add("frequencyString", text(r.frequencyString()));
    j.add("scheduleTypeString", text(r.scheduleTypeString()));
    j.add("scheduledDays", text(r.scheduledDays()));
    j.add("scheduleTimeString", text(r.scheduleTimeString()));
    return j.text();
}

} // namespace

int cmdSchedules(const QStringList &args)
{
    const QString usage = QStringLiteral("usage: schedules show|reset FILE [--key KEY]");
    if (args.size() < 2)
        return usageError(usage);
    const QString action = args.at(0);
    if (action != QLatin1String("show") && action != QLatin1String("reset"))
        return usageError(QStringLiteral("unknown schedules action '%1' (%2)").arg(action, usage));
    QString file, key = QStringLiteral("Schedules");
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--key")) {
            if (i + 1 >= args.size())
                return usageError(QStringLiteral("--key needs a value"));
            key = args.at(++i);
        } else if (args.at(i).startsWith(QLatin1String("--")) || !file.isNull()) {
            return usageError(QStringLiteral("unexpected argument '%1' (%2)").arg(args.at(i), usage));
        } else {
            file = args.at(i);
        }
    }
    if (file.isEmpty())
        return usageError(usage);

    std::optional<QVariantList> list = MyExtensions::initWithContentsOfArchivedFileWithKey(file, key);
    if (!list) {
        std::fprintf(stderr, "zvtool: %s: not a readable schedule list\n", file.toUtf8().constData());
        return 1;
    }

    if (action == QLatin1String("show")) {
        for (const QVariant &element : *list) {
            NSObject *object = objectFromVariant(element).get();
            if (auto *t = dynamic_cast<TavrinScheduleItem *>(object))
                out() << describe(*t) << '\n';
            else if (auto *z = dynamic_cast<ZVScheduleItem *>(object))
                out() << describe(*z) << '\n';
            else
                out() << "{\"class\":null}\n"; // an element that is no schedule record
        }
        return 0;
    }

    // reset: as the uninstall does, every record in progress becomes none.
    int changed = 0;
    for (const QVariant &element : *list) {
        NSObject *object = objectFromVariant(element).get();
        if (auto *t = dynamic_cast<TavrinScheduleItem *>(object); t && t->status() == ScheduleStatusInProgress) {
            t->setStatus(ScheduleStatusNone);
            ++changed;
        } else if (auto *z = dynamic_cast<ZVScheduleItem *>(object); z && z->status() == ScheduleStatusInProgress) {
            z->setStatus(ScheduleStatusNone);
            ++changed;
        }
    }
    if (!MyExtensions::writeToArchivedFileWithKey(*list, file, key)) {
        std::fprintf(stderr, "zvtool: %s: could not store the schedule list\n", file.toUtf8().constData());
        return 1;
    }
    out() << changed << '\n';
    return 0;
}
