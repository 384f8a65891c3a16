// The questions a login asks, in dialogs from a worker thread and on a terminal, the Host aliases
// offered from ~/.ssh/config, and the SSH dialog filled from a destination chosen before.
#include "app/QtRemoteHostPrompts.h"
#include "app/RemoteFolderDialog.h"
#include "cli/TerminalPrompts.h"
#include "support/TestSupport.h"

#include <QTest>
#include <QtWidgets>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <functional>
#include <pty.h>
#include <termios.h>
#include <thread>

using namespace Plovermantle;
using namespace Plovermantle::Testing;

namespace {

using Answer = std::function<void(QWidget& dialog)>;
using Question = std::function<QString(RemoteHostPrompts&)>;
using Tree = std::vector<std::string>;

QString shown(const std::optional<std::string>& answer) {
    return answer ? QString::fromStdString(*answer) : QStringLiteral("<none>");
}

QString shown(const std::optional<std::vector<std::string>>& answers) {
    QStringList joined;
    for (const std::string& answer : answers.value_or(Tree{})) {
        joined << QString::fromStdString(answer);
    }
    return answers ? joined.join(',') : QStringLiteral("<none>");
}

const Question password = [](RemoteHostPrompts& p) {
    return shown(p.password("u@h's:"));
};
const Question hostKey = [](RemoteHostPrompts& p) {
    return QString::number(p.trustNewHostKey("[h]:2222", "ED25519", "SHA256:abc"));
};

Answer typeSecret(const QString& text, bool accept) {
    return [=](QWidget& dialog) {
        auto& input = dynamic_cast<QInputDialog&>(dialog);
        QCOMPARE(input.textEchoMode(), QLineEdit::Password);
        input.setTextValue(text);
        accept ? input.accept() : input.reject();
    };
}

} // namespace

class RemoteDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void configAliases_data() {
        QTest::addColumn<Tree>("tree");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char* name, Tree tree, QStringList expected) {
            QTest::newRow(name) << tree << expected;
        };
        row("several names, patterns and negations left out",
            {"f:.ssh/config=Host a b\n  HostName a.example\nHost *\nHost web? db !old *.lan\n"},
            {"a", "b", "db"});
        row("comments, Match, keyword case, '=' and repeats",
            {"f:.ssh/config=# Host commented\nMatch host x exec true\n"
             "HOST=alpha\n\thost beta alpha # old\nHost \"two words\" gamma\n"},
            {"alpha", "beta", "gamma"});
        row("includes followed in place, relative and from home",
            {"f:.ssh/config=Host first\nInclude conf.d/*\nInclude ~/more\nHost last\n",
             "f:.ssh/conf.d/b=Host bee\n", "f:.ssh/conf.d/a=Host ay\n", "f:more=Host more\n"},
            {"first", "ay", "bee", "more", "last"});
        row("an include of itself ends", {"f:.ssh/config=Include config\nHost self\n"}, {"self"});
        row("a pipe is not read", {"f:.ssh/config=Include pipe\nHost after\n", "p:.ssh/pipe"},
            {"after"});
        row("no config", {"d:.ssh"}, {});
    }

    void configAliases() {
        QFETCH(Tree, tree);
        QFETCH(QStringList, expected);
        QTemporaryDir home;
        buildTree(home.path().toStdString(), tree);
        QCOMPARE(sshConfigHostAliases(home.path()), expected);
    }

    // The server folder chosen before fills every field, and reads back as itself.
    void folderDialogShowsADestination() {
        QTemporaryDir home;
        RemoteFolderDialog dialog(home.path());
        const SshDestination before = parseDestination("ssh://me@host:2222/srv/mc").remote;
        dialog.setDestination(before);
        QVERIFY(dialog.destination() == before);
    }

    void dialogPrompts_data() {
        QTest::addColumn<bool>("fromWorker");
        QTest::addColumn<Question>("question");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("expected");
        const auto row = [](const QByteArray& name, bool worker, Question question, Answer answer,
                            QString expected) {
            QTest::newRow(name) << worker << question << answer << expected;
        };
        // The new host's question, answered by the button of that text, or by Enter.
        const auto keyAnswer = [](const QString& button) -> Answer {
            return [button](QWidget& dialog) {
                auto& box = dynamic_cast<QMessageBox&>(dialog);
                QVERIFY(box.text().contains("'[h]:2222'"));
                QVERIFY(box.informativeText().contains("ED25519 key fingerprint is SHA256:abc."));
                const auto buttons = box.buttons();
                const auto named = std::ranges::find(buttons, button, &QAbstractButton::text);
                named != buttons.end() ? (*named)->click() : QTest::keyClick(&box, Qt::Key_Return);
            };
        };
        for (const bool worker : {true, false}) {
            const QByteArray where = worker ? "worker: " : "GUI thread: ";
            row(where + "password typed", worker, password, typeSecret("s3cret", true), "s3cret");
            row(where + "host key, Enter is Cancel", worker, hostKey, keyAnswer({}), "0");
        }
        row(
            "passphrase declined", true,
            [](RemoteHostPrompts& p) { return shown(p.passphrase("/k/id_ed25519")); },
            typeSecret("typed", false), "<none>");
        row("host key, Connect", true, hostKey, keyAnswer("Connect"), "1");
        row(
            "keyboard-interactive, a field per prompt", true,
            [](RemoteHostPrompts& p) {
                return shown(p.keyboardInteractive("Sign in", "Code sent",
                                                   {{"Code:", true}, {"PIN:", false}}));
            },
            [](QWidget& dialog) {
                const auto fields = dialog.findChildren<QLineEdit*>();
                QCOMPARE(fields.size(), 2);
                QCOMPARE(fields[0]->echoMode(), QLineEdit::Normal);
                QCOMPARE(fields[1]->echoMode(), QLineEdit::Password);
                fields[0]->setText(QStringLiteral("123"));
                fields[1]->setText(QStringLiteral("42"));
                dynamic_cast<QDialog&>(dialog).accept();
            },
            "123,42");
        row(
            "keyboard-interactive, too many prompts", true,
            [](RemoteHostPrompts& p) {
                return shown(p.keyboardInteractive("", "", std::vector<KeyboardPrompt>(17)));
            },
            [](QWidget&) { QFAIL("no dialog expected"); }, "<none>");
    }

    void dialogPrompts() {
        QFETCH(bool, fromWorker);
        QFETCH(Question, question);
        QFETCH(Answer, answer);
        QFETCH(QString, expected);
        QWidget window;
        QtRemoteHostPrompts prompts(&window);
        // Answers whatever dialog comes up, on the GUI thread, as a user would.
        QTimer user;
        QObject::connect(&user, &QTimer::timeout, [&] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                user.stop();
                QCOMPARE(dialog->thread(), qApp->thread());
                answer(*dialog);
            }
        });
        user.start(20);
        QString got;
        if (fromWorker) {
            std::atomic<bool> done = false;
            std::thread worker([&] {
                got = question(prompts);
                done = true;
            });
            QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
            worker.join();
        } else {
            got = question(prompts);
        }
        QCOMPARE(got, expected);
    }

    void terminalPrompts_data() {
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<bool>("acceptNewKey");
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<Question>("question");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("said");
        const auto row = [](const char* name, bool terminal, bool acceptNewKey, QByteArray typed,
                            Question question, QString expected, QString said) {
            QTest::newRow(name) << terminal << acceptNewKey << typed << question << expected
                                << said;
        };
        row("password without echo", true, false, "s3cret\n", password, "s3cret", "u@h's:");
        row("input ended", true, false, "\x04", password, "<none>", "u@h's:");
        row("a long answer is cut", true, false, QByteArray(3000, 'x').append('\n'), password,
            QString(int(TerminalPrompts::maxAnswerBytes), 'x'), "u@h's:");
        row("not a terminal: never read", false, false, "s3cret\n", password, "<none>",
            "not a terminal");
        row("new key refused", true, false, {}, hostKey, "0", "--accept-new-host-key to trust it");
        row("new key accepted", false, true, {}, hostKey, "1",
            "ED25519 key fingerprint is SHA256:abc.");
        row(
            "the host's escapes are not passed to the terminal", true, false, "1\n",
            [](RemoteHostPrompts& p) {
                return shown(p.keyboardInteractive("", "\x1b[2Jcleared", {{"Code:", true}}));
            },
            "1", " [2Jcleared\nCode:");
    }

    void terminalPrompts() {
        QFETCH(bool, terminal);
        QFETCH(bool, acceptNewKey);
        QFETCH(QByteArray, typed);
        QFETCH(Question, question);
        QFETCH(QString, expected);
        QFETCH(QString, said);
        int ends[2] = {-1, -1}; // what the prompts read, and the user's end
        QVERIFY(terminal ? ::openpty(&ends[1], &ends[0], nullptr, nullptr, nullptr) == 0
                         : ::pipe(ends) == 0);
        const int input = ends[0];
        const int other = ends[1];
        // Types once the prompt has turned echo off (it flushes what was typed before), or soon.
        std::thread user([&] {
            termios now{};
            for (int i = 0;
                 i < 30 && terminal && ::tcgetattr(other, &now) == 0 && (now.c_lflag & ECHO) != 0;
                 ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            (void)!::write(other, typed.constData(), std::size_t(typed.size()));
        });
        char* written = nullptr;
        std::size_t writtenSize = 0;
        std::FILE* messages = ::open_memstream(&written, &writtenSize);
        TerminalPrompts prompts(acceptNewKey, input, messages);
        const QString got = question(prompts);
        user.join();
        QCOMPARE(got, expected);
        std::fflush(messages);
        QVERIFY(QString::fromUtf8(written, qsizetype(writtenSize)).contains(said));
        if (terminal) {
            termios after{};
            QVERIFY(::tcgetattr(input, &after) == 0 && (after.c_lflag & ECHO) != 0);
            // Nothing typed came back on the screen.
            ::fcntl(other, F_SETFL, O_NONBLOCK);
            char echoed[4096];
            const ssize_t count = ::read(other, echoed, sizeof echoed);
            const QByteArray screen(echoed, count > 0 ? int(count) : 0);
            QVERIFY2(!screen.contains("s3cret"), screen.constData());
        }
        std::fclose(messages);
        std::free(written);
        ::close(input);
        ::close(other);
    }
};

QTEST_MAIN(RemoteDialogsTest)
#include "RemoteDialogsTest.moc"
