// ArchiveRobustness [COUNT [SEED]]   (defaults: 4000, 20261205; bench/archive-robustness.sh)
//
// A seeded robustness run of the schedule list reader: COUNT mutated and truncated copies of
// valid schedule list files (one laid out as the Mac does, one written here) go through the
// real reader and, when a list comes back, through every record operation and a write and
// read again. A crash, a hang or an escaping exception ends the program; a list read that
// cannot be stored and read again makes it exit 1. The concrete inputs such runs found are
// rows of the Schedules tests.
#include "NSArray_Extensions.h"
#include "TavrinScheduleItem.h"
#include "TestSupport.h"
#include "ZVScheduleItem.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <plist/plist.h>
#include <random>

namespace {

using Rng = std::mt19937_64;

quint64 below(Rng &rng, quint64 n) { return n ? rng() % n : 0; }

// ---- byte mutations ----

QByteArray mutateBytes(const QByteArray &good, Rng &rng)
{
    QByteArray b = good;
    const int rounds = 1 + int(below(rng, 4));
    for (int r = 0; r < rounds && !b.isEmpty(); ++r) {
        // Half of the changes hit the trailer and offset table, where a binary list keeps its
        // sizes and offsets.
        const qsizetype tail = std::min<qsizetype>(b.size(), 64);
        auto pos = [&]() { return below(rng, 2) ? qsizetype(below(rng, b.size())) : b.size() - 1 - qsizetype(below(rng, tail)); };
        switch (below(rng, 6)) {
        case 0: b[pos()] = char(b[pos()] ^ char(1 << below(rng, 8))); break;
        case 1: {
            static const char interesting[] = {0, 1, 0x7f, char(0x80), char(0xff), 0x10, 0x20, 0x40};
            b[pos()] = interesting[below(rng, sizeof interesting)];
            break;
        }
        case 2: b[pos()] = char(rng()); break;
        case 3: b.truncate(qsizetype(below(rng, b.size()))); break;
        case 4: { // copy a range over another
            const qsizetype from = qsizetype(below(rng, b.size())), to = qsizetype(below(rng, b.size()));
            const qsizetype n = std::min<qsizetype>({qsizetype(1 + below(rng, 16)), b.size() - from, b.size() - to});
            b.replace(to, n, b.mid(from, n));
            break;
        }
        default: { // insert or delete a few bytes
            const qsizetype at = qsizetype(below(rng, b.size()));
            if (below(rng, 2))
                b.insert(at, QByteArray(qsizetype(1 + below(rng, 4)), char(rng())));
            else
                b.remove(at, qsizetype(1 + below(rng, 4)));
        }
        }
    }
    return b;
}

// ---- structural mutations: a valid property list with a broken object graph ----

void collect(plist_t node, std::vector<plist_t> &out, int depth = 0)
{
    if (depth > 64)
        return;
    out.push_back(node);
    if (plist_get_node_type(node) == PLIST_ARRAY) {
        plist_array_iter it = nullptr;
        plist_array_new_iter(node, &it);
        for (plist_t item = nullptr;;) {
            item = nullptr;
            plist_array_next_item(node, it, &item);
            if (!item)
                break;
            collect(item, out, depth + 1);
        }
        free(it);
    } else if (plist_get_node_type(node) == PLIST_DICT) {
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            free(key);
            if (!value)
                break;
            collect(value, out, depth + 1);
        }
        free(it);
    }
}

plist_t randomNode(Rng &rng, uint64_t objectCount)
{
    switch (below(rng, 9)) {
    case 0: return plist_new_uid(below(rng, objectCount + 3));
    case 1: return plist_new_uid(rng());
    case 2: return plist_new_string(below(rng, 2) ? "TavrinScheduleItem" : "NoSuchClass");
    case 3: return plist_new_uint(rng());
    case 4: return plist_new_real(below(rng, 2) ? std::numeric_limits<double>::quiet_NaN() : 1e300);
    case 5: return plist_new_bool(1);
    case 6: return plist_new_dict();
    case 7: return plist_new_array();
    default: return plist_new_data("\x00\xff", 2);
    }
}

// Replaces NODE inside its parent; false for the root.
bool replace(plist_t node, plist_t with)
{
    plist_t parent = plist_get_parent(node);
    if (!parent) {
        plist_free(with);
        return false;
    }
    if (plist_get_node_type(parent) == PLIST_ARRAY) {
        plist_array_set_item(parent, with, plist_array_get_item_index(node));
    } else {
        char *key = nullptr;
        plist_get_key_val(plist_dict_item_get_key(node), &key);
        plist_dict_set_item(parent, key ? key : "", with);
        free(key);
    }
    return true;
}

QByteArray mutateGraph(const QByteArray &good, Rng &rng)
{
    plist_t root = nullptr;
    plist_from_bin(good.constData(), uint32_t(good.size()), &root);
    if (!root)
        return good;
    plist_t objects = plist_dict_get_item(root, "$objects");
    const uint64_t objectCount = objects ? plist_array_get_size(objects) : 0;
    const int rounds = 1 + int(below(rng, 3));
    for (int r = 0; r < rounds; ++r) {
        std::vector<plist_t> nodes;
        collect(root, nodes);
        plist_t victim = nodes[below(rng, nodes.size())];
        switch (below(rng, 4)) {
        case 0: // another value in its place
            replace(victim, randomNode(rng, objectCount));
            break;
        case 1: { // a dictionary loses a key
            plist_t parent = plist_get_parent(victim);
            if (parent && plist_get_node_type(parent) == PLIST_DICT) {
                char *key = nullptr;
                plist_get_key_val(plist_dict_item_get_key(victim), &key);
                plist_dict_remove_item(parent, key ? key : "");
                free(key);
            }
            break;
        }
        case 2: { // a UID points elsewhere (often a cycle: a record or list reaching itself)
            std::vector<plist_t> uids;
            for (plist_t n : nodes)
                if (plist_get_node_type(n) == PLIST_UID)
                    uids.push_back(n);
            if (!uids.empty())
                plist_set_uid_val(uids[below(rng, uids.size())], below(rng, objectCount + 2));
            break;
        }
        default: // a copy of another node in its place
            replace(victim, plist_copy(nodes[below(rng, nodes.size())]));
        }
    }
    char *bytes = nullptr;
    uint32_t length = 0;
    if (below(rng, 8) == 0)
        plist_to_xml(root, &bytes, &length);
    else
        plist_to_bin(root, &bytes, &length);
    QByteArray out(bytes ? bytes : "", bytes ? qsizetype(length) : 0);
    free(bytes);
    plist_free(root);
    return out;
}

// Everything a caller can do with what the reader returned.
template <typename T>
int exercise(const T &r)
{
    int n = 0;
    n += r.statusString().size() + r.frequencyString().size() + r.scheduledDays().size();
    n += r.scheduleTypeString().size() + r.scheduleTimeString().size();
    if (r.scheduleTime())
        n += r.scheduleTime()->description().size();
    const auto copy = r.copyWithZone();
    n += copy->isEqualToScheduleItem(r) ? 1 : 0;
    n += r.isEqualToScheduleItem(*copy) ? 1 : 0;
    return n;
}

} // namespace

// Whether a list read from an archive holds a text with a NUL character, in a record's text
// fields or as an element of its own.
static bool holdsTextWithNul(const QVariantList &list)
{
    const QChar nul(0);
    for (const QVariant &v : list) {
        if (v.typeId() == QMetaType::QString && v.toString().contains(nul))
            return true;
        const NSObjectPtr object = objectFromVariant(v);
        QStringList texts;
        if (auto *t = dynamic_cast<TavrinScheduleItem *>(object.get()))
            texts << t->destination() << t->username() << t->tavrinUserName() << t->userAtServer()
                  << t->serverName() << t->password() << t->processReferenceFile() << t->emailids()
                  << t->quotaServername();
        else if (auto *z = dynamic_cast<ZVScheduleItem *>(object.get()))
            texts << z->destination() << z->username() << z->userAtServer() << z->serverName()
                  << z->password() << z->processReferenceFile() << z->emailids() << z->quotaServername();
        for (const QString &text : texts)
            if (text.contains(nul))
                return true;
        if (auto *t = dynamic_cast<TavrinScheduleItem *>(object.get());
            t && t->selectedDaysForSchedule() && holdsTextWithNul(*t->selectedDaysForSchedule()))
            return true;
        if (auto *z = dynamic_cast<ZVScheduleItem *>(object.get());
            z && z->selectedDaysForSchedule() && holdsTextWithNul(*z->selectedDaysForSchedule()))
            return true;
        if (v.typeId() == QMetaType::QVariantList && holdsTextWithNul(v.toList()))
            return true;
    }
    return false;
}

#define CHECK(condition, ...) \
    do { if (!(condition)) { std::fprintf(stderr, __VA_ARGS__); std::fputc('\n', stderr); return 1; } } while (0)

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 4000;
    const quint64 seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20261205;
    // Memory-backed when possible: the writer syncs every file it stores.
    QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                          ? QStringLiteral("/dev/shm/ArchiveRobustness-XXXXXX") : QString());
    CHECK(dir.isValid(), "no temporary folder");
    // Two valid files: one laid out as the Mac does, one written here.
    const TestSupport::Run made = TestSupport::runProgram(
        QStringLiteral("python3"), {QStringLiteral(SCHEDULES_FIXTURES "/mac_archives.py"), QStringLiteral("make"), dir.path()});
    CHECK(made.exitCode == 0, "mac_archives.py failed: %s", made.err.constData());
    const QString apple = dir.filePath(QStringLiteral("good.plist"));
    const QString ours = dir.filePath(QStringLiteral("ours.plist"));
    QVariantList list;
    for (int i = 0; i < 6; ++i) {
        if (i % 2) {
            auto t = std::make_shared<TavrinScheduleItem>();
            t->setFrequency(5);
            t->setSelectedDaysForSchedule(std::make_shared<QVariantList>(QVariantList{i, QString::number(i + 1)}));
            list.append(QVariant::fromValue(NSObjectPtr(t)));
        } else {
            auto z = std::make_shared<ZVScheduleItem>();
            z->setStatus(1);
            z->setEmailids(QString());
            list.append(QVariant::fromValue(NSObjectPtr(z)));
        }
    }
    CHECK(MyExtensions::writeToArchivedFileWithKey(list, ours, QStringLiteral("Schedules")), "cannot write %s", qPrintable(ours));
    const QByteArray goods[] = {TestSupport::readFile(apple), TestSupport::readFile(ours)};
    CHECK(!goods[0].isEmpty() && !goods[1].isEmpty(), "no valid files");

    Rng rng(seed);
    const QString path = dir.filePath(QStringLiteral("mutated.plist"));
    const QString again = dir.filePath(QStringLiteral("again.plist"));
    int none = 0, lists = 0, records = 0, checksum = 0, refusedNul = 0;
    for (int i = 0; i < count; ++i) {
        const QByteArray &good = goods[i % 2];
        const QByteArray bytes = below(rng, 2) ? mutateBytes(good, rng) : mutateGraph(good, rng);
        CHECK(TestSupport::writeFile(path, bytes), "cannot write %s", qPrintable(path));
        const auto read = MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Schedules"));
        if (!read) {
            ++none;
            continue;
        }
        ++lists;
        for (const QVariant &v : *read) {
            NSObject *o = objectFromVariant(v).get();
            if (auto *t = dynamic_cast<TavrinScheduleItem *>(o)) {
                checksum += exercise(*t);
                ++records;
            } else if (auto *z = dynamic_cast<ZVScheduleItem *>(o)) {
                checksum += exercise(*z);
                ++records;
            }
        }
        // Whatever was read can be stored again and read back, except a text holding a NUL
        // character, which the writer refuses rather than store it cut short.
        if (!MyExtensions::writeToArchivedFileWithKey(*read, again, QStringLiteral("Schedules"))) {
            CHECK(holdsTextWithNul(*read), "iteration %d: a list read could not be written", i);
            ++refusedNul;
            continue;
        }
        const auto back = MyExtensions::initWithContentsOfArchivedFileWithKey(again, QStringLiteral("Schedules"));
        CHECK(back && back->size() == read->size(), "iteration %d: a list written could not be read back", i);
    }
    std::printf("robustness run: %d inputs, seed %llu: %d read as none, %d as lists (%d records, %d lists "
                "not stored again for a text with a NUL), crashes: 0 (checksum %d)\n",
                count, static_cast<unsigned long long>(seed), none, lists, records, refusedNul, checksum);
    CHECK(none > 0 && lists > 0, "the mutations should break some files and leave some lists");
    return 0;
}
