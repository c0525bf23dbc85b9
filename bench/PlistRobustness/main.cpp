// A seeded robustness run of the property-list reader: COUNT copies of a valid XML and a valid
// binary property list, each with 1 to 6 random edits (a byte changed, the rest cut off, a
// byte inserted), go through PropertyList::fromData. Prints how many still parsed; a crash
// ends the run (exit status other than 0). A damaged copy that a run shows to crash belongs,
// as it is, among the reading rows of Tests/Foundation.
//   build/bin/PlistRobustness [COUNT [SEED]]      (defaults: 3000, 20261205)
#include "PropertyList_p.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QRandomGenerator>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 3000;
    const quint32 seed = argc > 2 ? quint32(std::strtoul(argv[2], nullptr, 10)) : 20261205;
    const QVariantMap sample{{"text", "Grüße, 日本 and \"quotes\" <&>"}, {"empty", ""}, {"yes", true}, {"no", false},
                             {"big", qint64(1) << 40}, {"negative", qint64(-5)}, {"real", 2.5},
                             {"data", QByteArray("\x00\x01\xff", 3)}, {"date", QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC)},
                             {"list", QVariantList{"a", qint64(1), QVariantMap{{"k", "v"}}}}};
    const QByteArray forms[] = {PropertyList::toData(sample, PropertyList::Format::XML),
                                PropertyList::toData(sample, PropertyList::Format::Binary)};
    QRandomGenerator random(seed);
    int parsed = 0;
    for (int i = 0; i < count; ++i) {
        QByteArray bytes = forms[i % 2];
        for (int e = 1 + int(random.bounded(6)); e > 0; --e) {
            const int at = int(random.bounded(bytes.size()));
            switch (random.bounded(3)) {
            case 0: bytes[at] = char(random.bounded(256)); break;
            case 1: bytes.truncate(at + 1); break;
            default: bytes.insert(at, char(random.bounded(256))); break;
            }
        }
        parsed += PropertyList::fromData(bytes).has_value();
    }
    std::printf("%d mutated files (seed %u): %d still parsed, none crashed\n", count, seed, parsed);
    return 0;
}
