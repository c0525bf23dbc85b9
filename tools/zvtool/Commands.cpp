#include "Commands.h"

#include <QCoreApplication>
#include <cstdio>

int usageError(const QString &message)
{
    std::fprintf(stderr, "zvtool: %s\n", message.toUtf8().constData());
    return 2;
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int cmdVersion(const QStringList &args)
{
    if (!args.isEmpty())
        return usageError(QStringLiteral("version takes no arguments"));
    out() << QCoreApplication::applicationVersion() << '\n';
    return 0;
}
