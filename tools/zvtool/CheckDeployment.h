// The deployment check behind `zvtool check-deployment`, also used by `zvtool uninstall plan`
// and by the tests that change the table of configured values.
#pragma once

#include "ZVConfiguredValues_p.h"

#include <QList>
#include <QString>
#include <QVariantMap>
#include <optional>

struct DeploymentFinding {
    QString key;
    QString category;     // "missing", "system-folder", "world-writable", ...
    QString explanation;
    // "KEY: CATEGORY: explanation", control characters escaped so that it is one line.
    QString line() const;
};

// The table of values in PLIST, or none with PROBLEM set ("no such file", ...).
std::optional<QVariantMap> readDeploymentTable(const QString &plist, QString *problem);
// Every finding for TABLE, in the order of VALUES' entries; "%@" stands for USER.
QList<DeploymentFinding> checkDeployment(const QVariantMap &table, const QString &user,
                                         const ZVConfiguredValues &values = ZVConfiguredValues::standard());
// The short login name of the effective user.
QString currentUserName();
