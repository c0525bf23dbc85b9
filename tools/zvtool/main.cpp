// zvtool: a command-line front end to the shared classes, for the product's scripts,
// support staff and checks. "zvtool help" lists the subcommands.
#include "Commands.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

struct Subcommand {
    const char *name;
    int (*run)(const QStringList &args);
    const char *usage;
};

// One row per subcommand.
const Subcommand kSubcommands[] = {
    {"version", cmdVersion, "version"},
    {"check-deployment", cmdCheckDeployment, "check-deployment PLIST [--user NAME] [--quiet]"},
    {"uninstall", cmdUninstall, "uninstall plan DEPLOYMENT_DIR [--json] | uninstall run DEPLOYMENT_DIR [--report FILE]"},
    {"size-text", cmdSizeText, "size-text bytes|truncated|bits|outline VALUE...   (VALUE: decimal size or - for none)"},
    {"time-text", cmdTimeText, "time-text H M S"},
    {"email", cmdEmail, "email [--strict] [--] TEXT..."},
    {"match", cmdMatch, "match PATTERN [--] NAME..."},
    {"listing", cmdListing, "listing records FILE | listing bracketed FOLDER FILE | listing columns FOLDER PLIST"},
    {"login-items", cmdLoginItems, "login-items list | add PATH [--hidden] | remove PATH | quit-agent"},
    {"schedules", cmdSchedules, "schedules show|reset FILE [--key KEY]"},
    {"folder-size", cmdFolderSize, "folder-size PATH..."},
    {"volumes", cmdVolumes, "volumes"},
};

void printUsage(FILE *to)
{
    std::fputs("usage: zvtool SUBCOMMAND [ARGUMENTS...]\n", to);
    for (const Subcommand &s : kSubcommands)
        std::fprintf(to, "  zvtool %s\n", s.usage);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(ZV_VERSION));
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        printUsage(stderr);
        return 2;
    }
    const QString name = args.takeFirst();
    if (name == QLatin1String("help") || name == QLatin1String("--help")) {
        printUsage(stdout);
        return 0;
    }
    for (const Subcommand &s : kSubcommands) {
        if (name == QLatin1String(s.name)) {
            const int status = s.run(args);
            out().flush();
            return status;
        }
    }
    return usageError(QStringLiteral("unknown subcommand '%1' (see zvtool help)").arg(name));
}
