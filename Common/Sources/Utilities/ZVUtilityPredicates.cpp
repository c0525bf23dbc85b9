// ZVUtility: predicates.
#include "ZVUtility.h"

#include "FileSystem_p.h"

#include <QApplication>
#include <QWidget>

bool ZVUtility::isEmailID(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('@'));
    if (parts.size() != 2)
        return false;
    const QStringList domain = parts[1].split(QLatin1Char('.'));
    return domain.size() >= 2 && !domain[0].isEmpty();
}

bool ZVUtility::isValidEmailID(const QString &text)
{
    if (!isEmailID(text))
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool allowed = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '@'
            || u == '-' || u == '.' || u == '_';
        if (!allowed)
            return false;
    }
    return true;
}

bool ZVUtility::isStringMatchesPattern(const QString &name, const QString &pattern)
{
    return FileSystem::matchesWildcard(name, pattern);
}

bool ZVUtility::isFrontWindow(QWidget *window)
{
    if (!window || !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return false;
    const auto onScreen = [](const QWidget *w) {
        return w->isWindow() && w->isVisible() && !w->isMinimized() && w->windowType() != Qt::ToolTip;
    };
    QWidget *front = QApplication::activeWindow();
    if (!front || !onScreen(front)) {
        front = nullptr;
        int count = 0;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (onScreen(w)) {
                front = w;
                ++count;
            }
        }
        if (count != 1)
            return false;
    }
    return front == window;
}
