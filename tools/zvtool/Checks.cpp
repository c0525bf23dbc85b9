// zvtool email and match: the product's small predicates, one YES or NO per text.
#include "Commands.h"

#include "ZVUtility.h"

namespace {

const char *answer(bool yes) { return yes ? "YES" : "NO"; }

} // namespace

int cmdEmail(const QStringList &args)
{
    bool strict = false;
    qsizetype i = 0;
    // Options come first; "--" ends them, and so does the first text.
    for (; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--")) {
            ++i;
            break;
        }
        if (arg == QLatin1String("--strict")) {
            strict = true;
            continue;
        }
        if (arg.startsWith(QLatin1String("--")))
            return usageError(QStringLiteral("email: unknown option '%1' (put -- before a text that starts with --)").arg(arg));
        break;
    }
    const QStringList texts = args.mid(i);
    if (texts.isEmpty())
        return usageError(QStringLiteral("email needs at least one TEXT"));
    for (const QString &text : texts)
        out() << answer(strict ? ZVUtility::isValidEmailID(text) : ZVUtility::isEmailID(text)) << '\n';
    return 0;
}

int cmdMatch(const QStringList &args)
{
    if (args.isEmpty())
        return usageError(QStringLiteral("match needs a PATTERN and NAMEs"));
    const QString pattern = args[0];
    QStringList names = args.mid(1);
    if (!names.isEmpty() && names.first() == QLatin1String("--"))
        names.removeFirst();
    if (names.isEmpty())
        return usageError(QStringLiteral("match needs at least one NAME after the PATTERN"));
    for (const QString &name : names)
        out() << answer(ZVUtility::isStringMatchesPattern(name, pattern)) << '\n';
    return 0;
}
