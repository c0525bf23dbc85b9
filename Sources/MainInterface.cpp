#include "MainInterface.h"

#include "ZVUninstaller.h"
#include "ZVUninstallerWindow.h"
#include "ui_MainMenu.h"

#include <QApplication>
#include <QPushButton>
#include <QShortcut>

static void initResources() { Q_INIT_RESOURCE(Uninstaller); }

MainInterface::MainInterface()
{
    initResources();
    // The style, backing and defer arguments are replaced by the window class itself.
    m_window = std::make_unique<ZVUninstallerWindow>(QRect(0, 0, 660, 440),
                                                     NSTitledWindowMask | NSClosableWindowMask | NSResizableWindowMask,
                                                     NSBackingStoreBuffered, true);
    Ui::MainMenu ui;
    ui.setupUi(m_window.get());
    m_window->setFixedSize(660, 440);

    m_controller = std::make_unique<ZVUninstaller>();
    ZVUninstaller *c = m_controller.get();
    c->tabTitle = ui.tabTitle;
    c->tabView = ui.tabView;
    c->uninstallationProgress = ui.uninstallationProgress;
    c->previousButton = ui.previousButton;
    c->nextButton = ui.nextButton;
    c->imagesMatrix = ui.imagesMatrix;
    c->uninstallProgressText = ui.uninstallProgressText;
    c->uninstallPaneBox1 = ui.uninstallPaneBox1;
    c->uninstallPaneBox2 = ui.uninstallPaneBox2;
    c->versionField = ui.versionField;
    c->mApplicationNameField = ui.mApplicationNameField;
    c->mPaneBox1TextField = ui.mPaneBox1TextField;
    c->mPaneBox2TextField = ui.mPaneBox2TextField;
    c->mPaneBox3TextField = ui.mPaneBox3TextField;
    ui.uninstallationProgress->setMinValue(0.0);
    ui.uninstallationProgress->setMaxValue(136.0);
    ui.tabView->setCurrentIndex(0);
    QObject::connect(ui.nextButton, &QPushButton::clicked, c, [c] { c->nextScreen(c->nextButton); });
    QObject::connect(ui.previousButton, &QPushButton::clicked, c, [c] { c->previousScreen(c->previousButton); });
    // The next button is the window's default button: Return and Enter press it.
    for (const QKeySequence &key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto *shortcut = new QShortcut(key, m_window.get());
        QObject::connect(shortcut, &QShortcut::activated, c, [c] {
            if (c->nextButton->isEnabled())
                c->nextButton->animateClick();
        });
    }
}

MainInterface::~MainInterface() = default;

int NSApplicationMain()
{
    MainInterface interface;
    interface.controller()->awakeFromNib();
    return QApplication::exec();
}
