// The descriptors and strings under the login-item layer: what the agent and the layer rely
// on when they build, carry and read events.
#include "AEObjects_p.h"
#include "AppleEvents_p.h"
#include "CoreFoundation.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

template<typename T>
QByteArray bytesOf(T value) { return QByteArray(reinterpret_cast<const char *>(&value), sizeof(T)); }

// An event like the layer's 'crel', with a record, an insertion location and text.
AppleEvent sampleEvent()
{
    AEDesc target{typeNull, nullptr}, record{typeNull, nullptr}, location{typeNull, nullptr},
        insl{typeNull, nullptr};
    AppleEvent event{typeNull, nullptr};
    const UInt32 psn[2] = {0, 42};
    AECreateDesc(typeProcessSerialNumber, psn, sizeof(psn), &target);
    AECreateAppleEvent(kAECoreSuite, kAECreateElement, &target, kAutoGenerateReturnID, kAnyTransactionID, &event);
    AECreateList(nullptr, 0, true, &record);
    const QString path = QStringLiteral("/Applications/Tävrin.app");
    AEPutParamPtr(&record, FOUR_CHAR_CODE("ppth"), typeUnicodeText, path.utf16(), path.size() * 2);
    const Boolean hidden = 1;
    AEPutParamPtr(&record, FOUR_CHAR_CODE("hidn"), typeBoolean, &hidden, 1);
    AECreateList(nullptr, 0, true, &location);
    AEPutParamPtr(&location, keyAEObject, typeNull, nullptr, 0);
    const DescType end = kAEEnd;
    AEPutParamPtr(&location, keyAEPosition, typeEnumerated, &end, sizeof(end));
    AECoerceDesc(&location, typeInsertionLoc, &insl);
    AEPutParamDesc(&event, keyAEPropData, &record);
    AEPutParamDesc(&event, keyAEInsertHere, &insl);
    for (AEDesc *d : {&target, &record, &location, &insl})
        AEDisposeDesc(d);
    return event;
}

} // namespace

class LoginItemsAEDescTests : public QObject {
    Q_OBJECT

private slots:
    void disposeLeavesNullDescriptor()
    {
        AEDesc desc{typeNull, nullptr};
        const SInt32 v = 7;
        QCOMPARE(AECreateDesc(typeSInt32, &v, sizeof(v), &desc), OSErr(noErr));
        QVERIFY(desc.dataHandle != nullptr);
        QCOMPARE(AEDisposeDesc(&desc), OSErr(noErr));
        QCOMPARE(desc.descriptorType, DescType(typeNull));
        QVERIFY(desc.dataHandle == nullptr);
        QCOMPARE(AEDisposeDesc(&desc), OSErr(noErr));
        QCOMPARE(desc.descriptorType, DescType(typeNull));
    }

    void coercion_data()
    {
        QTest::addColumn<DescType>("from");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<DescType>("to");
        QTest::addColumn<OSErr>("status");
        QTest::addColumn<QByteArray>("result");
        QTest::newRow("shor to long") << DescType(typeSInt16) << bytesOf(SInt16(-5)) << DescType(typeSInt32)
                                      << OSErr(noErr) << bytesOf(SInt32(-5));
        QTest::newRow("long to shor, fits") << DescType(typeSInt32) << bytesOf(SInt32(-32768)) << DescType(typeSInt16)
                                            << OSErr(noErr) << bytesOf(SInt16(-32768));
        QTest::newRow("long to shor, too big") << DescType(typeSInt32) << bytesOf(SInt32(32768)) << DescType(typeSInt16)
                                               << OSErr(errAECoercionFail) << QByteArray();
        QTest::newRow("short data as long") << DescType(typeSInt32) << QByteArray("\1\2", 2) << DescType(typeSInt16)
                                            << OSErr(errAECoercionFail) << QByteArray();
        QTest::newRow("text to bool") << DescType(typeUnicodeText) << QByteArray("t\0", 2) << DescType(typeBoolean)
                                      << OSErr(errAECoercionFail) << QByteArray();
        QTest::newRow("type to enum") << DescType(typeType) << bytesOf(FOUR_CHAR_CODE("end ")) << DescType(typeEnumerated)
                                      << OSErr(noErr) << bytesOf(FOUR_CHAR_CODE("end "));
        QTest::newRow("wildcard copies") << DescType(typeBoolean) << QByteArray("\1", 1) << DescType(typeWildCard)
                                         << OSErr(noErr) << QByteArray("\1", 1);
    }
    void coercion()
    {
        QFETCH(DescType, from);
        QFETCH(QByteArray, data);
        QFETCH(DescType, to);
        QFETCH(OSErr, status);
        QFETCH(QByteArray, result);
        AEDesc desc{typeNull, nullptr}, coerced{typeNull, nullptr};
        QCOMPARE(AECreateDesc(from, data.constData(), data.size(), &desc), OSErr(noErr));
        QCOMPARE(AECoerceDesc(&desc, to, &coerced), status);
        if (status == noErr) {
            // Read it back through a record, as the layer reads parameters.
            AERecord record{typeNull, nullptr};
            AECreateList(nullptr, 0, true, &record);
            AEPutParamDesc(&record, FOUR_CHAR_CODE("test"), &coerced);
            char buffer[16] = {};
            Size size = 0;
            DescType type = 0;
            QCOMPARE(AEGetParamPtr(&record, FOUR_CHAR_CODE("test"), typeWildCard, &type, buffer, sizeof(buffer), &size),
                     OSErr(noErr));
            QCOMPARE(type, to == typeWildCard ? from : to);
            QCOMPARE(QByteArray(buffer, int(size)), result);
            AEDisposeDesc(&record);
        } else {
            QCOMPARE(coerced.descriptorType, DescType(typeNull));
        }
        AEDisposeDesc(&desc);
        AEDisposeDesc(&coerced);
    }

    // The layer reads paths into a fixed buffer: at most that much is copied, the whole size
    // is reported.
    void getParamPtrCopiesAtMostTheBuffer()
    {
        AERecord record{typeNull, nullptr};
        AECreateList(nullptr, 0, true, &record);
        const QByteArray text(40, 'a');
        AEPutParamPtr(&record, FOUR_CHAR_CODE("ppth"), typeUnicodeText, text.constData(), text.size());
        char buffer[11];
        std::memset(buffer, 'z', sizeof(buffer));
        Size size = 0;
        QCOMPARE(AEGetParamPtr(&record, FOUR_CHAR_CODE("ppth"), typeUnicodeText, nullptr, buffer, 10, &size), OSErr(noErr));
        QCOMPARE(size, Size(40));
        QCOMPARE(QByteArray(buffer, 11), QByteArray(10, 'a') + 'z');
        QCOMPARE(AEGetParamPtr(&record, FOUR_CHAR_CODE("none"), typeUnicodeText, nullptr, buffer, 10, &size),
                 OSErr(errAEDescNotFound));
        AEDisposeDesc(&record);
    }

    void objectSpecifier()
    {
        AEDesc container{typeNull, nullptr}, index{typeNull, nullptr}, specifier{typeNull, nullptr};
        const SInt32 position = 3;
        AECreateDesc(typeSInt32, &position, sizeof(position), &index);
        QCOMPARE(CreateObjSpecifier(FOUR_CHAR_CODE("logi"), &container, formAbsolutePosition, &index, true, &specifier),
                 OSErr(noErr));
        QCOMPARE(index.descriptorType, DescType(typeNull)); // disposed as asked
        QCOMPARE(specifier.descriptorType, DescType(typeObjectSpecifier));
        DescType want = 0, form = 0;
        SInt32 seld = 0;
        AEDesc from{typeNull, nullptr};
        QCOMPARE(AEGetParamPtr(&specifier, keyAEDesiredClass, typeType, nullptr, &want, 4, nullptr), OSErr(noErr));
        QCOMPARE(AEGetParamPtr(&specifier, keyAEKeyForm, typeEnumerated, nullptr, &form, 4, nullptr), OSErr(noErr));
        QCOMPARE(AEGetParamPtr(&specifier, keyAEKeyData, typeSInt32, nullptr, &seld, 4, nullptr), OSErr(noErr));
        QCOMPARE(AEGetParamDesc(&specifier, keyAEContainer, typeWildCard, &from), OSErr(noErr));
        QCOMPARE(want, DescType(FOUR_CHAR_CODE("logi")));
        QCOMPARE(form, DescType(formAbsolutePosition));
        QCOMPARE(seld, position);
        QCOMPARE(from.descriptorType, DescType(typeNull));
        AEDisposeDesc(&specifier);
    }

    // What goes over the socket comes back the same; damaged bytes never crash and give
    // errAECorruptData with the null descriptor, or a well-formed descriptor.
    void flattenRoundTripAndDamage()
    {
        AppleEvent event = sampleEvent();
        const QByteArray bytes = AEFlattenDescToBytes(&event);
        AppleEvent copy{typeNull, nullptr};
        QCOMPARE(AEUnflattenDescFromBytes(bytes, &copy), OSStatus(noErr));
        QCOMPARE(AEFlattenDescToBytes(&copy), bytes);
        AEDesc insl{typeNull, nullptr};
        QCOMPARE(AEGetParamDesc(&copy, keyAEInsertHere, typeWildCard, &insl), OSErr(noErr));
        QCOMPARE(insl.descriptorType, DescType(typeInsertionLoc));
        DescType pos = 0;
        QCOMPARE(AEGetParamPtr(&insl, keyAEPosition, typeEnumerated, nullptr, &pos, 4, nullptr), OSErr(noErr));
        QCOMPARE(pos, DescType(kAEEnd));
        AEDisposeDesc(&insl);
        AEDisposeDesc(&copy);

        for (int cut = 0; cut < bytes.size(); ++cut) {
            AEDesc damaged{typeNull, nullptr};
            QCOMPARE(AEUnflattenDescFromBytes(bytes.left(cut), &damaged), OSStatus(errAECorruptData));
            QCOMPARE(damaged.descriptorType, DescType(typeNull));
        }
        QRandomGenerator random(5);
        for (int i = 0; i < 3000; ++i) {
            QByteArray mutated = bytes;
            for (int n = 0; n < 3; ++n)
                mutated[random.bounded(int(mutated.size()))] = char(random.bounded(256));
            AEDesc damaged{typeNull, nullptr};
            const OSStatus err = AEUnflattenDescFromBytes(mutated, &damaged);
            QVERIFY(err == noErr || err == errAECorruptData);
            if (err != noErr)
                QCOMPARE(damaged.descriptorType, DescType(typeNull));
            AEDisposeDesc(&damaged);
        }
        AEDisposeDesc(&event);
    }

    // Strings as the layer's path conversion uses them.
    void stringBytes_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("converted"); // UTF-16 units written into CAPACITY bytes of UTF-16
        QTest::newRow("ascii") << QByteArray("/Applications") << true << 100 << 13;
        QTest::newRow("exactly fits") << QByteArray("/ab") << true << 6 << 3;
        QTest::newRow("one byte short") << QByteArray("/ab") << true << 5 << 2;
        QTest::newRow("surrogate pair kept whole") << QByteArray("/\xF0\x9F\x98\x80") << true << 4 << 1;
        QTest::newRow("invalid UTF-8") << QByteArray("/a\xC3(") << false << 100 << 0;
        QTest::newRow("encoded surrogate") << QByteArray("/\xED\xA0\x80") << false << 100 << 0;
    }
    void stringBytes()
    {
        QFETCH(QByteArray, utf8);
        QFETCH(bool, valid);
        QFETCH(int, capacity);
        QFETCH(int, converted);
        CFStringRef s = CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(utf8.constData()),
                                                utf8.size(), kCFStringEncodingUTF8, false);
        QCOMPARE(s != nullptr, valid);
        if (!s)
            return;
        QByteArray buffer(capacity, '\0');
        CFIndex used = -1;
        const CFIndex n = CFStringGetBytes(s, CFRangeMake(0, CFStringGetLength(s)), kCFStringEncodingUnicode, 0, false,
                                           reinterpret_cast<UInt8 *>(buffer.data()), capacity, &used);
        QCOMPARE(int(n), converted);
        QCOMPARE(int(used), converted * 2);
        const QString expected = QString::fromUtf8(utf8).left(converted);
        QCOMPARE(QByteArray(buffer.constData(), int(used)),
                 QByteArray(reinterpret_cast<const char *>(expected.utf16()), expected.size() * 2));
        // And back from UTF-16 in host order.
        CFStringRef back = CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(buffer.constData()), used,
                                                   kCFStringEncodingUnicode, false);
        QVERIFY(back);
        QCOMPARE(CFBridgingToQVariant(back).toString(), expected);
        CFRelease(back);
        CFRelease(s);
        QVERIFY(!CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>("abc"), 3, kCFStringEncodingUnicode, false));
    }
};

QTEST_GUILESS_MAIN(LoginItemsAEDescTests)
#include "tst_LoginItemsAEDesc.moc"
