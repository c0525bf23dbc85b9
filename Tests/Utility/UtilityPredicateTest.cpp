// E-mail checks, shell-style pattern matching and the front-window test (real widgets on the
// offscreen platform).
#include "ZVUtility.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QWidget>
#include <QtTest>
#include <clocale>

class UtilityPredicateTest : public QObject {
    Q_OBJECT
private slots:
    void email_data();
    void email();
    void pattern_data();
    void pattern();
    void patternUtf8();
    void frontWindow();
    void frontWindowWithoutWindows();
};

void UtilityPredicateTest::email_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("loose");
    QTest::addColumn<bool>("strict");
    QTest::newRow("plain address") << "ann.lee_2-x@mail.example.com" << true << true;
    QTest::newRow("capitals and digits") << "ANN9@EXAMPLE9.COM" << true << true;
    QTest::newRow("empty local part") << "@b.c" << true << true;
    QTest::newRow("ends with the domain's point") << "a@b." << true << true;
    QTest::newRow("two @") << "a@b@c.d" << false << false;
    QTest::newRow("no point after @") << "a@bc" << false << false;
    QTest::newRow("point right after @") << "a@.c" << false << false;
    QTest::newRow("no @") << "abc.d" << false << false;
    QTest::newRow("point before @ only") << "a.b@c" << false << false;
    QTest::newRow("space") << "a b@c.d" << true << false;
    QTest::newRow("plus") << "a+b@c.d" << true << false;
    QTest::newRow("non-ASCII letter") << QString::fromUtf8("jürgen@c.d") << true << false;
    QTest::newRow("fullwidth at sign") << QString::fromUtf8("a\xEF\xBC\xA0" "b.c") << false << false;
    QTest::newRow("empty") << "" << false << false;
    QTest::newRow("null") << QString() << false << false;
    QTest::newRow("just @.") << "@." << false << false;
    QTest::newRow("@x.") << "@x." << true << true;
}

void UtilityPredicateTest::email()
{
    QFETCH(QString, text);
    QFETCH(bool, loose);
    QFETCH(bool, strict);
    QCOMPARE(ZVUtility::isEmailID(text), loose);
    QCOMPARE(ZVUtility::isValidEmailID(text), strict);
}

void UtilityPredicateTest::pattern_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("matches");
    QTest::newRow("case folded") << "Report.PDF" << "*.pdf" << true;
    QTest::newRow("star crosses slashes") << "a/b.txt" << "*.txt" << true;
    QTest::newRow("question mark is one character") << "ab.txt" << "?.txt" << false;
    QTest::newRow("question mark") << "a.txt" << "?.txt" << true;
    QTest::newRow("leading point needs no match") << ".profile" << "*profile" << true;
    QTest::newRow("whole name") << "notes.txt.bak" << "*.txt" << false;
    QTest::newRow("bracket expression") << "File7" << "file[0-9]" << true;
    QTest::newRow("negated bracket") << "FileA" << "file[!a]" << false;
    QTest::newRow("escaped star") << "a*b" << "a\\*b" << true;
    QTest::newRow("escape is not a wildcard") << "axb" << "a\\*b" << false;
    QTest::newRow("empty pattern, empty name") << "" << "" << true;
    QTest::newRow("empty pattern") << "x" << "" << false;
    QTest::newRow("unclosed bracket is literal") << "[ab" << "[ab" << true;
    QTest::newRow("space in name") << "My File.doc" << "my*.DOC" << true;
    QTest::newRow("NUL in name is no match") << QString::fromUtf8("a\0b", 3) << "a" << false;
    QTest::newRow("NUL in pattern is no match") << "a" << QString::fromUtf8("a\0*", 3) << false;
}

void UtilityPredicateTest::pattern()
{
    QFETCH(QString, name);
    QFETCH(QString, pattern);
    QFETCH(bool, matches);
    QCOMPARE(ZVUtility::isStringMatchesPattern(name, pattern), matches);
}

void UtilityPredicateTest::patternUtf8()
{
    // Both texts go over as UTF-8: a non-ASCII name matches itself and its wildcards.
    const QString name = QString::fromUtf8("Résumé 日本.txt");
    QVERIFY(ZVUtility::isStringMatchesPattern(name, QString::fromUtf8("R*sumé*.TXT")));
    QVERIFY(ZVUtility::isStringMatchesPattern(name, name));
    QVERIFY(!ZVUtility::isStringMatchesPattern(name, QStringLiteral("Resume*")));
    // Under a UTF-8 character type, "?" is one character, not one byte.
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        QSKIP("C.UTF-8 is not installed");
    QVERIFY(ZVUtility::isStringMatchesPattern(QString::fromUtf8("é"), QStringLiteral("?")));
    QVERIFY(ZVUtility::isStringMatchesPattern(QString::fromUtf8("日"), QStringLiteral("?")));
}

void UtilityPredicateTest::frontWindow()
{
    QWidget first;
    first.setWindowTitle(QStringLiteral("first"));
    first.resize(200, 100);
    QWidget second;
    second.setWindowTitle(QStringLiteral("second"));
    second.resize(200, 100);

    first.show();
    QVERIFY(QTest::qWaitForWindowExposed(&first));
    QTRY_VERIFY(ZVUtility::isFrontWindow(&first));
    QVERIFY(!ZVUtility::isFrontWindow(&second)); // not on screen
    // One window on screen is the front one even when the application is not active (as when
    // another program's window is in front).
    QApplication::setActiveWindow(nullptr);
    QVERIFY(!QApplication::activeWindow());
    QVERIFY(ZVUtility::isFrontWindow(&first));

    second.show();
    second.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&second));
    QVERIFY(ZVUtility::isFrontWindow(&second));
    QVERIFY(!ZVUtility::isFrontWindow(&first));

    first.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&first));
    QVERIFY(ZVUtility::isFrontWindow(&first));
    QVERIFY(!ZVUtility::isFrontWindow(&second));

    // Two windows on screen and neither active: their order is unknown, neither is the front.
    QApplication::setActiveWindow(nullptr);
    QVERIFY(!ZVUtility::isFrontWindow(&first));
    QVERIFY(!ZVUtility::isFrontWindow(&second));
    first.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&first));

    // A child widget is not a window; a hidden window is not on screen.
    QLabel child(QStringLiteral("child"), &first);
    QVERIFY(!ZVUtility::isFrontWindow(&child));
    first.hide();
    QTRY_VERIFY(ZVUtility::isFrontWindow(&second));
    QVERIFY(!ZVUtility::isFrontWindow(&first));
    second.showMinimized();
    QTRY_VERIFY(!ZVUtility::isFrontWindow(&second));
}

void UtilityPredicateTest::frontWindowWithoutWindows()
{
    QWidget never;
    QVERIFY(!ZVUtility::isFrontWindow(&never));
    QVERIFY(!ZVUtility::isFrontWindow(nullptr));
}

QTEST_MAIN(UtilityPredicateTest)
#include "UtilityPredicateTest.moc"
