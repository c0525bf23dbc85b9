// A schedule record of brand Tavrin.
#pragma once

#include "NSObject.h"

class TavrinScheduleItem : public NSObject {
public:
    QString className() const override { return QStringLiteral("TavrinScheduleItem"); }

    qint32 status() const { return m_status; }
    void setStatus(qint32 status) { m_status = status; }

private:
    qint32 m_status = 0;
};
