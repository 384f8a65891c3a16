// The questions a login asks, in dialogs from a worker thread and on a terminal, and the Host
// aliases offered from ~/.ssh/config.
#include "app/QtRemoteHostPrompts.h"
#include "app/RemoteFolderDialog.h"
#include "cli/TerminalPrompts.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
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

QString shown(const std::optional<std::string>& answer) {
    return answer ? QString::fromStdString(*answer) : QStringLiteral("<none>");
}

void typeSecret(QWidget& dialog, const QString& text, bool accept) {
    auto& input = dynamic_cast<QInputDialog&>(dialog);
    QCOMPARE(input.textEchoMode(), QLineEdit::Password);
    input.setTextValue(text);
    accept ? input.accept() : input.reject();
}

// Everything the terminal prompts wrote to their message stream.
std::string drain(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        text.push_back(static_cast<char>(c));
    }
    return text;
}

} // namespace

class RemoteDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void configAliases_data();
    void configAliases();
    void dialogPrompts_data();
    void dialogPrompts();
    void terminalPrompts_data();
    void terminalPrompts();
};

void RemoteDialogsTest::configAliases_data() {
    QTest::addColumn<std::vector<std::string>>("tree");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("several names, patterns and negations left out")
        << std::vector<std::string>{"f:.ssh/config=Host a b\n  HostName a.example\nHost *\n"
                                    "Host web? db !old *.lan\n"}
        << QStringList{"a", "b", "db"};
    QTest::newRow("comments, Match, keyword case, '=' and repeats")
        << std::vector<
               std::string>{"f:.ssh/config=# Host commented\nMatch host x exec true\n"
                            "HOST=alpha\n\thost beta alpha # old\nHost \"two words\" gamma\n"}
        << QStringList{"alpha", "beta", "gamma"};
    QTest::newRow("includes followed in place, relative and from home")
        << std::vector<std::string>{"f:.ssh/config=Host first\nInclude conf.d/*\n"
                                    "Include ~/more\nHost last\n",
                                    "f:.ssh/conf.d/b=Host bee\n", "f:.ssh/conf.d/a=Host ay\n",
                                    "f:more=Host more\n"}
        << QStringList{"first", "ay", "bee", "more", "last"};
    QTest::newRow("an include of itself ends")
        << std::vector<std::string>{"f:.ssh/config=Include config\nHost self\n"}
        << QStringList{"self"};
    QTest::newRow("a pipe is not read")
        << std::vector<std::string>{"f:.ssh/config=Include pipe\nHost after\n", "p:.ssh/pipe"}
        << QStringList{"after"};
    QTest::newRow("no config") << std::vector<std::string>{"d:.ssh"} << QStringList{};
}

void RemoteDialogsTest::configAliases() {
    QFETCH(std::vector<std::string>, tree);
    QFETCH(QStringList, expected);
    QTemporaryDir home;
    buildTree(home.path().toStdString(), tree);
    QCOMPARE(sshConfigHostAliases(home.path()), expected);
}

void RemoteDialogsTest::dialogPrompts_data() {
    QTest::addColumn<bool>("fromWorker");
    QTest::addColumn<Question>("question");
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QString>("expected");

    const Question password = [](RemoteHostPrompts& p) {
        return shown(p.password("u@h's:"));
    };
    const Question passphrase = [](RemoteHostPrompts& p) {
        return shown(p.passphrase("/k/id_ed25519"));
    };
    const Question hostKey = [](RemoteHostPrompts& p) {
        return QString::number(p.trustNewHostKey("[h]:2222", "ED25519", "SHA256:abc"));
    };
    const Question login = [](RemoteHostPrompts& p) {
        const auto answers =
            p.keyboardInteractive("Sign in", "Code sent", {{"Code:", true}, {"PIN:", false}});
        return answers ? QString::fromStdString((*answers)[0] + "," + (*answers)[1])
                       : QStringLiteral("<none>");
    };
    const Answer keyQuestion = [](QWidget& dialog) {
        auto& box = dynamic_cast<QMessageBox&>(dialog);
        QVERIFY(box.text().contains("'[h]:2222'"));
        QVERIFY(box.informativeText().contains("ED25519 key fingerprint is SHA256:abc."));
    };

    for (const bool worker : {true, false}) {
        const QByteArray where = worker ? "worker: " : "GUI thread: ";
        QTest::newRow(where + "password typed") << worker << password << Answer([](QWidget& d) {
            typeSecret(d, QStringLiteral("s3cret"), true);
        }) << QStringLiteral("s3cret");
        QTest::newRow(where + "host key, Enter is Cancel")
            << worker << hostKey << Answer([keyQuestion](QWidget& d) {
                   keyQuestion(d);
                   QTest::keyClick(&d, Qt::Key_Return);
               })
            << QStringLiteral("0");
    }
    QTest::newRow("passphrase declined") << true << passphrase << Answer([](QWidget& d) {
        typeSecret(d, QStringLiteral("typed"), false);
    }) << QStringLiteral("<none>");
    QTest::newRow("host key, Connect") << true << hostKey << Answer([keyQuestion](QWidget& d) {
        keyQuestion(d);
        for (QAbstractButton* button : dynamic_cast<QMessageBox&>(d).buttons()) {
            if (button->text() == QStringLiteral("Connect")) {
                button->click();
            }
        }
    }) << QStringLiteral("1");
    QTest::newRow("keyboard-interactive, a field per prompt")
        << true << login << Answer([](QWidget& d) {
               const auto fields = d.findChildren<QLineEdit*>();
               QCOMPARE(fields.size(), 2);
               QCOMPARE(fields[0]->echoMode(), QLineEdit::Normal);
               QCOMPARE(fields[1]->echoMode(), QLineEdit::Password);
               fields[0]->setText(QStringLiteral("123"));
               fields[1]->setText(QStringLiteral("42"));
               dynamic_cast<QDialog&>(d).accept();
           })
        << QStringLiteral("123,42");
    QTest::newRow("keyboard-interactive, too many prompts")
        << true << Question([](RemoteHostPrompts& p) {
               return shown(
                   p.keyboardInteractive("", "", std::vector<KeyboardPrompt>(17)).has_value()
                       ? std::optional<std::string>("asked")
                       : std::nullopt);
           })
        << Answer([](QWidget&) { QFAIL("no dialog expected"); }) << QStringLiteral("<none>");
}

void RemoteDialogsTest::dialogPrompts() {
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

void RemoteDialogsTest::terminalPrompts_data() {
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<bool>("acceptNewKey");
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<Question>("question");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("said");

    const Question password = [](RemoteHostPrompts& p) {
        return shown(p.password("u@h's:"));
    };
    const Question hostKey = [](RemoteHostPrompts& p) {
        return QString::number(p.trustNewHostKey("h", "ED25519", "SHA256:abc"));
    };
    QTest::newRow("password without echo")
        << true << false << QByteArray("s3cret\n") << password << "s3cret"
        << "u@h's:";
    QTest::newRow("input ended") << true << false << QByteArray("\x04") << password << "<none>"
                                 << "u@h's:";
    QTest::newRow("a long answer is cut")
        << true << false << QByteArray(3000, 'x').append('\n') << password
        << QString(int(TerminalPrompts::maxAnswerBytes), 'x') << "u@h's:";
    QTest::newRow("not a terminal: never read")
        << false << false << QByteArray("s3cret\n") << password << "<none>"
        << "not a terminal";
    QTest::newRow("new key refused") << true << false << QByteArray() << hostKey << "0"
                                     << "--accept-new-host-key to trust it";
    QTest::newRow("new key accepted") << false << true << QByteArray() << hostKey << "1"
                                      << "ED25519 key fingerprint is SHA256:abc.";
    QTest::newRow("the host's escapes are not passed to the terminal")
        << true << false << QByteArray("1\n") << Question([](RemoteHostPrompts& p) {
               const auto a = p.keyboardInteractive("", "\x1b[2Jcleared", {{"Code:", true}});
               return a ? QString::fromStdString(a->front()) : QStringLiteral("<none>");
           })
        << "1"
        << " [2Jcleared\nCode:";
}

void RemoteDialogsTest::terminalPrompts() {
    QFETCH(bool, terminal);
    QFETCH(bool, acceptNewKey);
    QFETCH(QByteArray, typed);
    QFETCH(Question, question);
    QFETCH(QString, expected);
    QFETCH(QString, said);
    int input = -1;
    int other = -1;
    if (terminal) {
        QVERIFY(::openpty(&other, &input, nullptr, nullptr, nullptr) == 0);
    } else {
        int ends[2];
        QVERIFY(::pipe(ends) == 0);
        input = ends[0];
        other = ends[1];
    }
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
    std::FILE* messages = std::tmpfile();
    TerminalPrompts prompts(acceptNewKey, input, messages);
    const QString got = question(prompts);
    user.join();
    QCOMPARE(got, expected);
    QVERIFY(QString::fromStdString(drain(messages)).contains(said));
    if (terminal) {
        termios after{};
        QVERIFY(::tcgetattr(input, &after) == 0);
        QVERIFY((after.c_lflag & ECHO) != 0);
        // Nothing typed came back on the screen.
        ::fcntl(other, F_SETFL, O_NONBLOCK);
        char echoed[4096];
        const ssize_t count = ::read(other, echoed, sizeof echoed);
        const QByteArray screen(echoed, count > 0 ? int(count) : 0);
        QVERIFY2(!screen.contains("s3cret"), screen.constData());
    }
    std::fclose(messages);
    ::close(input);
    ::close(other);
}

QTEST_MAIN(RemoteDialogsTest)
#include "RemoteDialogsTest.moc"
