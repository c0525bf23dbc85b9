// The wizard's pages, texts and buttons, driven by pressing its real buttons and answering
// its real alert. One process serves one brand (the configuration table is process-wide):
// ZV_TEST_BRAND is "tavrin", "pelloma" or "none" (no table and no bundle information).
// Screenshots of the pages go to <build>/screenshots/<brand>/.
#include "MainInterface.h"
#include "ModalAnswerer.h"
#include "NSBundle_p.h"
#include "NSProgressIndicator.h"
#include "PropertyList_p.h"
#include "TestSupport.h"
#include "ZVUninstaller.h"
#include "ZVUninstallerWindow.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

class PagesTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_brand;
    std::unique_ptr<MainInterface> m_ui;
    ZVUninstaller *c = nullptr;
    QString m_shots;

    QString expectedName() const
    {
        return m_brand == QLatin1String("tavrin") ? QStringLiteral("Tavrin for Mac") : QStringLiteral("Pelloma for Mac");
    }
    QString brandWord() const { return m_brand == QLatin1String("tavrin") ? QStringLiteral("Tavrin") : QStringLiteral("Pelloma"); }
    void shoot(const QString &name) { QVERIFY(m_ui->window()->grab().save(m_shots + QLatin1Char('/') + name)); }
    void checkCells(int blueRow)
    {
        const QImage blue = NSImageNamed(QStringLiteral("DotBlue.tif")).toImage();
        const QImage gray = NSImageNamed(QStringLiteral("DotGray.tif")).toImage();
        for (int row = 0; row < 3; ++row) {
            QLabel *cell = c->cellAtRowColumn(row, 0);
            QVERIFY(cell);
            QCOMPARE(cell->pixmap().toImage(), row == blueRow ? blue : gray);
        }
    }
    // What a button shows for TEXT: "&&" is one "&", a single "&" marks a shortcut and is hidden.
    static QString shown(const QString &text)
    {
        QString out;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text.at(i) == QLatin1Char('&') && i + 1 < text.size())
                ++i;
            out += text.at(i);
        }
        return out;
    }
    // The window system's close request (delivered to the window as the platform delivers
    // it) and close() leave the window open and the program running, on every page.
    void checkCloseRefused()
    {
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        QCloseEvent request;
        QApplication::sendEvent(m_ui->window()->windowHandle(), &request);
        QVERIFY(!request.isAccepted());
        QVERIFY(!m_ui->window()->close());
        QCoreApplication::processEvents();
        QVERIFY(m_ui->window()->isVisible());
        QCOMPARE(lastClosed.count(), 0);
    }
    // Presses "Continue" and answers the alert with the button named BUTTON; returns the alert's
    // title and message as seen.
    QStringList continueAnswering(const QString &button)
    {
        QStringList seen;
        ModalAnswerer answer([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (box) {
                seen << box->windowTitle() << box->informativeText();
                for (auto *b : box->buttons()) {
                    seen << b->objectName() + QLatin1Char('=') + shown(b->text());
                    QVERIFY(QKeySequence::mnemonic(b->text()).isEmpty());
                }
                for (auto *label : box->findChildren<QLabel *>(QRegularExpression("qt_msgbox_(informative)?label")))
                    QCOMPARE(label->textFormat(), Qt::PlainText);
                QVERIFY(box->grab().save(m_shots + QStringLiteral("/alert.png")));
            }
            ModalAnswerer::clickButton(modal, button);
        });
        QTest::mouseClick(c->nextButton, Qt::LeftButton);
        return seen;
    }

private slots:
    void initTestCase()
    {
        m_brand = qEnvironmentVariable("ZV_TEST_BRAND", QStringLiteral("tavrin"));
        QVERIFY(m_dir.isValid());
        NSBundle::mainBundle().setResourcePath(m_dir.path());
        if (m_brand != QLatin1String("none")) {
            QVariantMap table{{QStringLiteral("ApplicationName"), expectedName()},
                              {ZVUninstaller::kAlertMessageKey, QStringLiteral("Really remove %% of it?\n Sure?")}};
            if (m_brand == QLatin1String("tavrin")) {
                table.insert(QStringLiteral("Yes"), QStringLiteral("&Ja"));
                table.insert(QStringLiteral("No"), QStringLiteral("Nein & Tschüss"));
            }
            QVERIFY(PropertyList::writeFile(table, m_dir.filePath(QStringLiteral("Localizable.plist")), PropertyList::Format::XML, true));
            QVERIFY(PropertyList::writeFile(QVariantMap{{QStringLiteral("CFBundleVersion"), QStringLiteral("3.2.1")}},
                                            m_dir.filePath(QStringLiteral("Info.plist")), PropertyList::Format::XML, true));
        }
        m_shots = TestSupport::binaryDir() + QStringLiteral("/screenshots/") + m_brand;
        QDir().mkpath(m_shots);
        m_ui = std::make_unique<MainInterface>();
        c = m_ui->controller();
        c->awakeFromNib();
        QVERIFY(QTest::qWaitForWindowExposed(m_ui->window()));
    }

    void welcomePage()
    {
        QCOMPARE(c->tabView->currentIndex(), 0);
        QVERIFY(!c->previousButton->isEnabled());
        QVERIFY(c->nextButton->isEnabled());
        QCOMPARE(c->nextButton->text(), QStringLiteral("Continue"));
        checkCells(0);
        if (m_brand == QLatin1String("none")) {
            // Without a table the name is the key itself, which is not Tavrin's: brand Pelloma.
            QCOMPARE(c->applicationName(), QStringLiteral("ApplicationName"));
            QVERIFY(!c->isTavrinApplication());
            QCOMPARE(c->tabTitle->text(), QStringLiteral("Welcome to  Pelloma for Mac Uninstaller"));
            QCOMPARE(c->mApplicationNameField->text(), QStringLiteral("Pelloma for Mac"));
            QCOMPARE(c->versionField->text(), QStringLiteral("(null)"));
        } else {
            QCOMPARE(c->isTavrinApplication(), m_brand == QLatin1String("tavrin"));
            QCOMPARE(c->tabTitle->text(), QStringLiteral("Welcome to  %1 Uninstaller").arg(expectedName()));
            QCOMPARE(c->mApplicationNameField->text(), expectedName());
            QCOMPARE(c->versionField->text(), QStringLiteral("3.2.1"));
        }
        QVERIFY(c->displayTimer == nullptr);
        shoot(QStringLiteral("page-1-welcome.png"));
        checkCloseRefused();
    }

    void alertAnsweredNoStays()
    {
        const QStringList seen = continueAnswering(QStringLiteral("defaultButton"));
        QVERIFY(seen.size() >= 4);
        const bool table = m_brand != QLatin1String("none");
        QCOMPARE(seen.at(0), table ? expectedName() : QStringLiteral("ApplicationName"));
        // The message is the looked-up text used as a format: "%%" prints one "%".
        QCOMPARE(seen.at(1), table ? QStringLiteral("Really remove % of it?\n Sure?") : ZVUninstaller::kAlertMessageKey);
        const bool german = m_brand == QLatin1String("tavrin");
        // Configured labels are shown unchanged: an "&" is no shortcut mark.
        QVERIFY(seen.contains(QStringLiteral("defaultButton=") + (german ? QStringLiteral("Nein & Tschüss") : QStringLiteral("No"))));
        QVERIFY(seen.contains(QStringLiteral("alternateButton=") + (german ? QStringLiteral("&Ja") : QStringLiteral("Yes"))));
        QCOMPARE(seen.size(), 4);  // no third button
        QCOMPARE(c->tabView->currentIndex(), 0);
        QCOMPARE(c->nextButton->text(), QStringLiteral("Continue"));
    }

    void alertClosedOtherwiseStays()
    {
        ModalAnswerer answer([](QWidget *modal) { QTest::keyClick(modal, Qt::Key_Escape); });
        QTest::mouseClick(c->nextButton, Qt::LeftButton);
        QVERIFY(answer.answered());
        QCOMPARE(c->tabView->currentIndex(), 0);
    }

    void alertAnsweredYesOpensTheUninstallPage()
    {
        continueAnswering(QStringLiteral("alternateButton"));
        QCOMPARE(c->tabView->currentIndex(), 1);
        QCOMPARE(c->tabTitle->text(), QStringLiteral("Easy Uninstaller on Mac "));
        QCOMPARE(c->nextButton->text(), QStringLiteral("Uninstall"));
        QVERIFY(c->previousButton->isEnabled());
        QVERIFY(c->nextButton->isEnabled());
        QVERIFY(!c->uninstallPaneBox1->isHidden());
        QVERIFY(c->uninstallPaneBox2->isHidden());
        QCOMPARE(c->mPaneBox1TextField->text(), QStringLiteral("Click Uninstall to remove %1 for Mac from your machine").arg(brandWord()));
        QCOMPARE(c->uninstallationProgress->doubleValue(), 0.0);
        checkCells(1);
        shoot(QStringLiteral("page-2-uninstall.png"));
        checkCloseRefused();
    }

    void progressSteps()
    {
        for (int step = 1; step <= 17; ++step) {
            c->increamentProgress();
            QCOMPARE(c->uninstallationProgress->doubleValue(), 8.0 * step);
            QCOMPARE(c->uninstallProgressText->text(), QString::asprintf("%d.000000", 8 * step));
        }
        QCOMPARE(c->uninstallProgressText->text(), QStringLiteral("136.000000"));
        QCOMPARE(c->uninstallationProgress->value(), c->uninstallationProgress->maximum());
        c->displayTimerFireMethod(nullptr);
        QCOMPARE(c->uninstallProgressText->text(), QStringLiteral("144.000000"));
    }

    void goingBackAndReturningResetsTheUninstallPage()
    {
        c->uninstallPaneBox1->setHidden(true);
        c->uninstallPaneBox2->setHidden(false);
        QTest::mouseClick(c->previousButton, Qt::LeftButton);
        QCOMPARE(c->tabView->currentIndex(), 0);
        QVERIFY(!c->previousButton->isEnabled());
        checkCells(0);
        continueAnswering(QStringLiteral("alternateButton"));
        QCOMPARE(c->tabView->currentIndex(), 1);
        QCOMPARE(c->uninstallationProgress->doubleValue(), 0.0);
        QVERIFY(!c->uninstallPaneBox1->isHidden());
        QVERIFY(c->uninstallPaneBox2->isHidden());
        // Only a progress step changes the progress text.
        QCOMPARE(c->uninstallProgressText->text(), QStringLiteral("144.000000"));
    }

    void completionPage()
    {
        c->tabView->setCurrentIndex(2);
        c->updateUI();
        QCOMPARE(c->tabTitle->text(), QString());
        QCOMPARE(c->nextButton->text(), QStringLiteral("Close"));
        QVERIFY(!c->previousButton->isEnabled());
        QCOMPARE(c->mPaneBox3TextField->text(), QStringLiteral("Successfully Uninstalled %1 for Mac").arg(brandWord()));
        checkCells(2);
        shoot(QStringLiteral("page-3-completion.png"));
        checkCloseRefused();
    }

    void closeEndsTheApplication()
    {
        QTimer::singleShot(0, this, [this] { QTest::mouseClick(c->nextButton, Qt::LeftButton); });
        QTimer::singleShot(10000, [] { QApplication::exit(99); });
        QCOMPARE(QApplication::exec(), 0);
    }
};

QTEST_MAIN(PagesTest)
#include "tst_Pages.moc"
