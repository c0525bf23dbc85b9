// A schedule record of brand Pelloma.
#pragma once

#include "NSObject.h"

class ZVScheduleItem : public NSObject {
public:
    QString className() const override { return QStringLiteral("ZVScheduleItem"); }

    qint32 status() const { return m_status; }
    void setStatus(qint32 status) { m_status = status; }

private:
    qint32 m_status = 0;
};
