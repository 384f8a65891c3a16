// The main window: what a launch shows, the server folder's round trip through the chooser and a
// restart, quitting; and as a keyboard user meets it: tab order, mnemonics and shortcuts, its size
// with long names and large fonts, the About box.
#include "app/AppInfo.h"
#include "settings/Settings.h"
#include "support/TestApp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Plovermantle;
namespace fs = std::filesystem;
using App = Testing::TestApp<>;

namespace {

fs::path home;

// Where the game keeps its worlds, spelled out here so that a wrong path in the app shows.
fs::path saves() {
#ifdef Q_OS_MACOS
    return home / "Library/Application Support/minecraft/saves";
#else
    return home / ".minecraft/saves";
#endif
}

// The three places the server folder lives in during a run: remembered, shown and in use.
struct Places {
    std::string remembered;
    QString shown;
    std::optional<std::string> current;
    bool operator==(const Places&) const = default;
};

Places places(App& app) {
    return {getPrefs(app.prefs), app.ui().txtServerPath->text(), globalServerPath()};
}

Places everywhere(const QString& folder) {
    return {folder.toStdString(), folder, folder.toStdString()};
}

// Every control enabled, as once the server folder and world are chosen (disabled ones take no
// keys), shown and receiving keys as after a user's click.
bool showActive(App& app) {
    for (QWidget* child : app.window().findChildren<QWidget*>()) {
        child->setEnabled(true);
    }
    for (QAction* action : app.window().findChildren<QAction*>()) {
        action->setEnabled(true);
    }
    app.window().show();
    QApplication::setActiveWindow(&app.window());
    return QTest::qWaitForWindowActive(&app.window());
}

// The controls that a user reaches with the Tab key from `first`, in the order they meet them.
QStringList tabChain(QWidget* first) {
    QStringList names;
    first->setFocus(Qt::TabFocusReason);
    QWidget* current = QApplication::focusWidget();
    for (int step = 0; current != nullptr && step < 20; ++step) {
        names << current->objectName();
        QTest::keyClick(current, Qt::Key_Tab);
        current = QApplication::focusWidget();
        if (current == first) {
            break;
        }
    }
    return names;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { home = Testing::isolateHome(); }

private slots:
    void cleanup() { Testing::forgetLaunch(); }

    void listsTheWorldsWithNoneSelected_data() {
        QTest::addColumn<QStringList>("worlds");
        QTest::addColumn<QString>("placeholder");
        QTest::newRow("worlds found")
            << QStringList{"Alpha", "Beta Größe 世界"} << "Choose a world";
        QTest::newRow("no saves folder") << QStringList{} << "No worlds found";
    }

    void listsTheWorldsWithNoneSelected() {
        QFETCH(QStringList, worlds);
        QFETCH(QString, placeholder);
        for (const QString& world : worlds) {
            fs::create_directories(saves() / world.toStdString());
        }
        App app;
        app.launch();

        QComboBox& list = *app.ui().worldList;
        QCOMPARE(list.count(), worlds.size());
        for (const QString& world : worlds) {
            QVERIFY(list.findText(world) >= 0);
        }
        QCOMPARE(list.currentIndex(), -1);
        QVERIFY(!app.interface.delegate().selectedWorld().has_value());
        QCOMPARE(list.placeholderText(), placeholder);
        // Where the worlds were looked for is the first thing to check when one is missing.
        QVERIFY2(list.toolTip().contains(QString::fromStdString(saves())),
                 qPrintable(list.toolTip()));
        QCOMPARE(fs::exists(saves()), !worlds.isEmpty()); // looked at, never created
        QVERIFY(app.dialogs.alerts.empty());

        if (!worlds.isEmpty()) {
            list.setCurrentIndex(list.findText(worlds.last()));
            QCOMPARE(app.interface.delegate().selectedWorld(),
                     std::optional(worlds.last().toStdString()));
        }
    }

    void quitFromMenuOrButtonEndsTheRun() {
        App app;
        app.window().show();
        QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);
        // A quit that does nothing would otherwise hang the test rather than fail it.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        QTimer::singleShot(0, app.ui().actionQuit, &QAction::trigger);
        watchdog.start(5000);
        QCOMPARE(QApplication::exec(), 0);
        QTimer::singleShot(0, app.ui().quitButton, &QAbstractButton::click);
        watchdog.start(5000);
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(aboutToQuit.count(), 2);
        QVERIFY(app.dialogs.alerts.empty());
    }

    // Chosen by button or menu, kept through a cancelled choice, remembered over a restart, and
    // shown exactly, blanks and all.
    void serverFolderGoesToAllThreePlacesAndOutlivesARestart() {
        const QString odd = QStringLiteral(" /home/me/Mein Server/Größe 世界 ");
        QTemporaryDir dir;
        const QString prefsFile = dir.filePath(QStringLiteral("prefs.ini"));
        {
            globalServerPath() = "/left over";
            App app(prefsFile);
            app.launch();
            QVERIFY(places(app) == everywhere(QString()));

            app.dialogs.folderAnswers = {"/srv/first", odd.toStdString(), std::nullopt, ""};
            QTest::mouseClick(app.ui().chooseServerButton, Qt::LeftButton);
            QVERIFY(places(app) == everywhere(QStringLiteral("/srv/first")));
            app.ui().actionChooseServer->trigger();
            QVERIFY(places(app) == everywhere(odd));
            app.ui().actionChooseServer->trigger(); // cancelled
            app.ui().actionChooseServer->trigger(); // accepted with no folder
            QVERIFY(places(app) == everywhere(odd));
            QCOMPARE(app.dialogs.folderChooserRuns, 4);
            QVERIFY(app.dialogs.alerts.empty());
        }
        globalServerPath() = std::string();
        App restarted(prefsFile);
        restarted.launch();
        QVERIFY(places(restarted) == everywhere(odd));
    }

    void tabOrderFollowsTheReadingOrder() {
        App app;
        QVERIFY(showActive(app));
        QCOMPARE(tabChain(app.ui().worldList),
                 (QStringList{"worldList", "txtServerPath", "chooseServerButton", "quitButton",
                              "copyButton"}));
    }

    // Mnemonics focus a field or press a button; shortcuts trigger their menu's action.
    void keysReachTheirControls_data() {
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("target");
        QTest::newRow("world label") << QKeySequence(Qt::ALT | Qt::Key_W) << "worldList";
        QTest::newRow("server label") << QKeySequence(Qt::ALT | Qt::Key_S) << "txtServerPath";
        QTest::newRow("choose") << QKeySequence(Qt::ALT | Qt::Key_O) << "chooseServerButton";
        QTest::newRow("copy") << QKeySequence(Qt::ALT | Qt::Key_C) << "copyButton";
        QTest::newRow("quit") << QKeySequence(Qt::ALT | Qt::Key_Q) << "quitButton";
        QTest::newRow("quit shortcut") << QKeySequence(Qt::CTRL | Qt::Key_Q) << "actionQuit";
        QTest::newRow("open shortcut") << QKeySequence(QKeySequence::Open) << "actionChooseServer";
    }

    void keysReachTheirControls() {
        QFETCH(QKeySequence, keys);
        QFETCH(QString, target);
        App app;
        QVERIFY(showActive(app));
        QObject* reached = app.window().findChild<QObject*>(target);
        QVERIFY(reached != nullptr);
        // Only whether the keys reach the target matters here, not what it does.
        const char* signal = qobject_cast<QAction*>(reached) != nullptr ? SIGNAL(triggered(bool))
                             : qobject_cast<QAbstractButton*>(reached) != nullptr
                                 ? SIGNAL(clicked(bool))
                                 : nullptr;
        std::optional<QSignalSpy> spy;
        if (signal != nullptr) {
            disconnect(reached, signal, nullptr, nullptr);
            spy.emplace(reached, signal);
        }
        // Start from a control that is not the target, so that a focus change shows.
        (target == "worldList" ? static_cast<QWidget*>(app.ui().txtServerPath)
                               : static_cast<QWidget*>(app.ui().worldList))
            ->setFocus();

        QTest::keySequence(&app.window(), keys);
        if (spy) {
            QTRY_COMPARE(spy->count(), 1);
        } else {
            QCOMPARE(QApplication::focusWidget(), reached);
        }
    }

    // However long a world's name, the window must still fit a small screen.
    void longWorldNamesDoNotWidenTheWindow() {
        fs::create_directories(saves() / "Short");
        App plain;
        plain.launch();
        fs::create_directories(saves() / std::string(200, 'w'));
        App longNames;
        longNames.launch();
        longNames.window().show();
        QCOMPARE(longNames.window().minimumSizeHint().width(),
                 plain.window().minimumSizeHint().width());
        QVERIFY(longNames.window().width() < 1000);
    }

    // At a large font and squeezed to its smallest, the window still shows every label and button
    // whole: sizes come from the layout and the font, never from fixed numbers.
    void largeFontsFitEvenAtTheSmallestSize() {
        const struct FontRestorer {
            QFont normal = QApplication::font();
            ~FontRestorer() { QApplication::setFont(normal); }
        } restorer;
        QFont large = restorer.normal;
        large.setPointSizeF(restorer.normal.pointSizeF() * 2);
        QApplication::setFont(large);
        App app;
        app.window().show();
        app.window().resize(1, 1);
        QApplication::processEvents();
        QCOMPARE(app.ui().quitButton->font().pointSizeF(), large.pointSizeF());

        QWidget* central = app.window().centralWidget();
        for (QWidget* child :
             central->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            QString text;
            if (auto* label = qobject_cast<QLabel*>(child)) {
                text = label->text();
            } else if (auto* button = qobject_cast<QAbstractButton*>(child)) {
                text = button->text();
            }
            const QFontMetrics metrics(child->font());
            QVERIFY2(child->width() >= metrics.horizontalAdvance(text.remove('&')) &&
                         child->height() >= metrics.height(),
                     qPrintable(child->objectName() + " is cut short"));
            QVERIFY2(central->rect().contains(child->geometry()),
                     qPrintable(child->objectName() + " sticks out of the window"));
        }
    }

    void aboutBoxNamesTheAppAndItsVersion() {
        App app;
        QString shown;
        QPointer<QWidget> parent;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                parent = box->parentWidget();
                box->accept();
            }
        });
        // A box that never opened would leave the test waiting here: close whatever is modal.
        QTimer::singleShot(5000, [] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                modal->close();
            }
        });
        app.ui().actionAbout->trigger();
        QVERIFY2(shown.contains(QString::fromUtf8(AppInfo::name)), qPrintable(shown));
        QVERIFY2(shown.contains(QString::fromUtf8(AppInfo::version)), qPrintable(shown));
        QCOMPARE(parent.data(), &app.window());
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
