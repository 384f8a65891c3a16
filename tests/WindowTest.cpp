// The main window as a keyboard or screen-reader user meets it: tab order, mnemonics, shortcuts,
// names, tooltips and placeholders, and the About box.
#include "app/AppDelegate.h"
#include "app/AppInfo.h"
#include "app/MainInterface.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtPreferences.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"
#include "ui_MainWindow.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <optional>

using namespace Plovermantle;
namespace fs = std::filesystem;

namespace {

fs::path home;

// The real window, built as the app builds it, against a settings file of the test's own.
struct Window {
    Window()
        : prefs(dir.filePath(QStringLiteral("prefs.ini"))), interface({files, prefs, dialogs}) {}

    Ui::MainWindow& ui() { return interface.ui(); }
    QMainWindow& window() { return interface.window(); }

    // Shows the window and makes it the one that receives keys, as a user's click would.
    bool showActive() {
        window().show();
        QApplication::setActiveWindow(&window());
        return QTest::qWaitForWindowActive(&window());
    }

    // Every control is enabled, as once the server folder and world are chosen; disabled ones
    // take no focus and no keys.
    void enableEverything() {
        for (QWidget* child : window().findChildren<QWidget*>()) {
            child->setEnabled(true);
        }
        for (QAction* action : window().findChildren<QAction*>()) {
            action->setEnabled(true);
        }
    }

    QTemporaryDir dir;
    PosixFileSystem files;
    QtPreferences prefs;
    Testing::RecordingDialogs dialogs;
    MainInterface interface;
};

// The controls that a user reaches with the Tab key, in the order they meet them.
QStringList tabChain(QWidget* first, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QStringList names;
    first->setFocus(Qt::TabFocusReason);
    QWidget* current = QApplication::focusWidget();
    for (int step = 0; current != nullptr && step < 20; ++step) {
        names << current->objectName();
        QTest::keyClick(current, key, modifiers);
        current = QApplication::focusWidget();
        if (current == first) {
            break;
        }
    }
    return names;
}

// The focusable controls of the window, the menu bar aside.
QList<QWidget*> controls(QMainWindow& window) {
    QList<QWidget*> found;
    for (QWidget* child :
         window.centralWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->focusPolicy() & Qt::TabFocus) {
            found << child;
        }
    }
    return found;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { home = Testing::isolateHome(); }

private slots:
    void cleanup() {
        fs::remove_all(home / ".minecraft");
        globalFullPath() = std::string();
        globalServerPath() = std::string();
    }

    void tabOrderFollowsTheReadingOrder() {
        Window w;
        w.enableEverything();
        QVERIFY(w.showActive());
        const QStringList forward{"worldList", "txtServerPath", "chooseServerButton", "quitButton",
                                  "copyButton"};
        QCOMPARE(tabChain(w.ui().worldList, Qt::Key_Tab, Qt::NoModifier), forward);

        QStringList backward{"worldList"};
        for (auto it = forward.crbegin(); it != forward.crend() - 1; ++it) {
            backward << *it;
        }
        QCOMPARE(tabChain(w.ui().worldList, Qt::Key_Backtab, Qt::ShiftModifier), backward);
    }

    void mnemonicsFocusFieldsAndPressButtons_data() {
        QTest::addColumn<Qt::Key>("key");
        QTest::addColumn<QString>("target");
        QTest::newRow("world label") << Qt::Key_W << QStringLiteral("worldList");
        QTest::newRow("server folder label") << Qt::Key_S << QStringLiteral("txtServerPath");
        QTest::newRow("choose") << Qt::Key_O << QStringLiteral("chooseServerButton");
        QTest::newRow("copy") << Qt::Key_C << QStringLiteral("copyButton");
        QTest::newRow("quit") << Qt::Key_Q << QStringLiteral("quitButton");
    }

    void mnemonicsFocusFieldsAndPressButtons() {
        QFETCH(Qt::Key, key);
        QFETCH(QString, target);
        Window w;
        w.enableEverything();
        QVERIFY(w.showActive());
        auto* widget = w.window().findChild<QWidget*>(target);
        QVERIFY(widget != nullptr);
        auto* button = qobject_cast<QAbstractButton*>(widget);
        std::optional<QSignalSpy> clicked;
        if (button != nullptr) {
            // Only whether the key reaches the button matters here, not what the button does.
            disconnect(button, &QAbstractButton::clicked, nullptr, nullptr);
            clicked.emplace(button, &QAbstractButton::clicked);
        }
        // Start from a control that is not the target, so that a focus change shows.
        QWidget* start = target == "worldList" ? static_cast<QWidget*>(w.ui().txtServerPath)
                                               : static_cast<QWidget*>(w.ui().worldList);
        start->setFocus();

        QTest::keyClick(&w.window(), key, Qt::AltModifier);
        if (clicked) {
            QTRY_COMPARE(clicked->count(), 1);
        } else {
            QCOMPARE(QApplication::focusWidget(), widget);
        }
    }

    // A letter that two controls or menus share reaches neither at the first press: every
    // control, menu and menu item needs a mnemonic of its own, whatever is added later.
    void mnemonicsAreUnique() {
        Window w;
        QHash<int, QString> owners;
        auto claim = [&](const QString& text, const QString& owner) {
            const QKeySequence mnemonic = QKeySequence::mnemonic(text);
            QVERIFY2(!mnemonic.isEmpty(), qPrintable(owner + " has no mnemonic"));
            QVERIFY2(!owners.contains(mnemonic[0].toCombined()),
                     qPrintable(owner + " shares its mnemonic with " +
                                owners.value(mnemonic[0].toCombined())));
            owners.insert(mnemonic[0].toCombined(), owner);
        };
        for (QLabel* label : w.window().centralWidget()->findChildren<QLabel*>()) {
            QVERIFY2(label->buddy() != nullptr, qPrintable(label->objectName() + " has no buddy"));
            claim(label->text(), label->objectName());
        }
        for (auto* button : w.window().centralWidget()->findChildren<QAbstractButton*>()) {
            claim(button->text(), button->objectName());
        }
        for (QAction* menu : w.window().menuBar()->actions()) {
            claim(menu->text(), menu->text());
        }
        // Inside an open menu, its items' letters only need to differ from each other.
        for (QAction* menu : w.window().menuBar()->actions()) {
            owners.clear();
            for (QAction* item : menu->menu()->actions()) {
                if (!item->isSeparator()) {
                    claim(item->text(), item->text());
                }
            }
        }
    }

    void shortcutsTriggerTheirActions_data() {
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("action");
        QTest::newRow("quit") << QKeySequence(Qt::CTRL | Qt::Key_Q) << QStringLiteral("actionQuit");
        QTest::newRow("choose server folder")
            << QKeySequence(QKeySequence::Open) << QStringLiteral("actionChooseServer");
    }

    void shortcutsTriggerTheirActions() {
        QFETCH(QKeySequence, keys);
        QFETCH(QString, action);
        Window w;
        w.enableEverything();
        QVERIFY(w.showActive());
        auto* target = w.window().findChild<QAction*>(action);
        QVERIFY(target != nullptr);
        disconnect(target, &QAction::triggered, nullptr, nullptr);
        QSignalSpy triggered(target, &QAction::triggered);

        QTest::keySequence(&w.window(), keys);
        QCOMPARE(triggered.count(), 1);
    }

    void controlsHaveDistinctAccessibleNamesAndTooltips() {
        Window w;
        QStringList names;
        const QList<QWidget*> found = controls(w.window());
        QVERIFY(found.size() >= 5);
        for (QWidget* control : found) {
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
            QVERIFY(accessible != nullptr);
            const QString name = accessible->text(QAccessible::Name);
            QVERIFY2(!name.isEmpty(), qPrintable(control->objectName() + " has no name"));
            QVERIFY2(!names.contains(name), qPrintable(name + " names two controls"));
            names << name;
            QVERIFY2(!control->toolTip().isEmpty(),
                     qPrintable(control->objectName() + " has no tooltip"));
        }
    }

    void worldListTellsWhereItLooked_data() {
        QTest::addColumn<QStringList>("worlds");
        QTest::addColumn<QString>("placeholder");
        QTest::newRow("worlds found") << QStringList{"Alpha", "Beta"} << "Choose a world";
        QTest::newRow("none found") << QStringList{} << "No worlds found";
    }

    void worldListTellsWhereItLooked() {
        QFETCH(QStringList, worlds);
        QFETCH(QString, placeholder);
        for (const QString& world : worlds) {
            fs::create_directories(fs::path(savesFolderPath()) / world.toStdString());
        }
        Window w;
        w.interface.delegate().applicationDidFinishLaunching();

        QComboBox& list = *w.ui().worldList;
        QCOMPARE(list.count(), worlds.size());
        QCOMPARE(list.placeholderText(), placeholder);
        const QString saves = QDir::toNativeSeparators(QString::fromStdString(savesFolderPath()));
        QVERIFY2(list.toolTip().contains(saves), qPrintable(list.toolTip()));
        QVERIFY(w.dialogs.alerts.empty());
    }

    // However long a world's name, the window must still fit a small screen.
    void longWorldNamesDoNotWidenTheWindow() {
        fs::create_directories(fs::path(savesFolderPath()) / "Short");
        Window plain;
        plain.interface.delegate().applicationDidFinishLaunching();
        const int plainWidth = plain.window().minimumSizeHint().width();

        fs::create_directories(fs::path(savesFolderPath()) / std::string(200, 'w'));
        Window longNames;
        longNames.interface.delegate().applicationDidFinishLaunching();
        longNames.window().show();
        QCOMPARE(longNames.window().minimumSizeHint().width(), plainWidth);
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
        Window w;
        w.window().show();
        w.window().resize(1, 1);
        QApplication::processEvents();
        QCOMPARE(w.ui().quitButton->font().pointSizeF(), large.pointSizeF());

        QVERIFY(w.window().width() > 1 && w.window().height() > 1);
        for (QWidget* child : w.window().centralWidget()->findChildren<QWidget*>(
                 QString(), Qt::FindDirectChildrenOnly)) {
            QString text;
            if (auto* label = qobject_cast<QLabel*>(child)) {
                text = label->text();
            } else if (auto* button = qobject_cast<QAbstractButton*>(child)) {
                text = button->text();
            }
            text.remove('&');
            const QFontMetrics metrics(child->font());
            QVERIFY2(child->width() >= metrics.horizontalAdvance(text),
                     qPrintable(child->objectName() + " is cut short"));
            QVERIFY2(child->height() >= metrics.height(),
                     qPrintable(child->objectName() + " is too low"));
            QVERIFY2(child->geometry().right() < w.window().centralWidget()->width() &&
                         child->geometry().bottom() < w.window().centralWidget()->height(),
                     qPrintable(child->objectName() + " sticks out of the window"));
        }
    }

    void aboutBoxNamesTheAppAndItsVersion() {
        Window w;
        QVERIFY(w.ui().menuHelp->actions().contains(w.ui().actionAbout));
        QVERIFY(w.ui().menuHelp->actions().contains(w.ui().actionAboutQt));
        QVERIFY(w.ui().actionAbout->text().contains(QString::fromUtf8(AppInfo::name)));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$"))
                    .match(QString::fromUtf8(AppInfo::version))
                    .hasMatch());

        QString shown;
        QPointer<QWidget> parent;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box != nullptr) {
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
        w.ui().actionAbout->trigger();
        QVERIFY2(shown.contains(QString::fromUtf8(AppInfo::name)), qPrintable(shown));
        QVERIFY2(shown.contains(QString::fromUtf8(AppInfo::version)), qPrintable(shown));
        QCOMPARE(parent.data(), &w.window());
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
