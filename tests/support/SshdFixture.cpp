#include "support/SshdFixture.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <arpa/inet.h>
#include <csignal>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Plovermantle::Testing {

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

bool accepting(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(port);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Every process descended from `root`, parents before their children.
std::vector<pid_t> descendants(pid_t root) {
    std::vector<pid_t> found{root};
    for (std::size_t i = 0; i < found.size(); ++i) {
        const std::string pid = std::to_string(found[i]);
        std::ifstream children("/proc/" + pid + "/task/" + pid + "/children");
        found.insert(found.end(), std::istream_iterator<pid_t>(children),
                     std::istream_iterator<pid_t>());
    }
    found.erase(found.begin());
    return found;
}

} // namespace

int loopbackSocket(bool listening, int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    const bool ready = ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                       (!listening || ::listen(fd, 1) == 0) &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    port = ready ? ntohs(address.sin_port) : 0;
    return fd;
}

int runProgram(const QString& program, const QStringList& arguments, const QStringList& environment,
               QByteArray* output) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& setting : environment) {
        env.insert(setting.section('=', 0, 0), setting.section('=', 1));
    }
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    if (output != nullptr) {
        *output = process.readAllStandardOutput();
    }
    return process.exitCode();
}

bool makeKey(const std::string& path, const std::string& passphrase) {
    QFile::remove(QString::fromStdString(path));
    QFile::remove(QString::fromStdString(path + ".pub"));
    return runProgram("ssh-keygen",
                      {"-q", "-t", "ed25519", "-N", QString::fromStdString(passphrase), "-C",
                       "test", "-f", QString::fromStdString(path)}) == 0;
}

SshdFixture::SshdFixture(Mode mode) : mode_(mode) {}

SshdFixture::~SshdFixture() {
    killSessions();
    sshd_.kill();
    sshd_.waitForFinished(5000);
}

std::string SshdFixture::start() {
    const QString dir = dir_.path();
    if (!dir_.isValid() || !makeKey((dir + "/host_key").toStdString())) {
        return "cannot make a host key";
    }
    writeFile((dir + "/authorized_keys").toStdString(), "");
    // sshd's privilege separation needs its empty folder (only root can make it).
    QDir().mkpath("/run/sshd");
    // A port nobody listens on now; sshd takes it a moment later.
    ::close(loopbackSocket(false, port_));
    QByteArray text = "ListenAddress 127.0.0.1\nPort " + QByteArray::number(port_) + "\nHostKey " +
                      dir.toUtf8() + "/host_key\nPidFile none\n" + "AuthorizedKeysFile " +
                      dir.toUtf8() + "/authorized_keys\n" +
                      "UsePAM no\nStrictModes no\nPubkeyAuthentication yes\n"
                      "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                      "PermitRootLogin prohibit-password\nLogLevel VERBOSE\nMaxStartups 50\n"
                      "Subsystem sftp internal-sftp\n"
                      // Bash run by sshd reads ~/.bashrc unless it is a nested shell: the
                      // account's own start-up (slow, or killed mid-way by a test) stays out.
                      "SetEnv SHLVL=1\n";
    if (mode_ == Mode::SftpOnly) {
        text += "ForceCommand internal-sftp\nAllowTcpForwarding no\nX11Forwarding no\n"
                "PermitTTY no\n";
    }
    writeFile((dir + "/sshd_config").toStdString(), text.toStdString());
    sshd_.setProcessChannelMode(QProcess::MergedChannels);
    sshd_.setStandardOutputFile(dir + "/sshd.log");
    sshd_.start("/usr/sbin/sshd", {"-D", "-e", "-f", dir + "/sshd_config"});
    if (!sshd_.waitForStarted(10000)) {
        return "cannot start /usr/sbin/sshd";
    }
    for (int i = 0; i < 200; ++i) {
        if (accepting(port_)) {
            return {};
        }
        if (sshd_.state() == QProcess::NotRunning) {
            break;
        }
        QThread::msleep(25);
    }
    return "sshd did not start: " + log();
}

std::string SshdFixture::hostKeyLine() const {
    const std::string line = readFile((dir_.path() + "/host_key.pub").toStdString());
    return QString::fromStdString(line).section(' ', 0, 1).toStdString();
}

std::string SshdFixture::hostKeyFingerprint() const {
    QByteArray output;
    runProgram("ssh-keygen", {"-l", "-E", "sha256", "-f", dir_.path() + "/host_key.pub"}, {},
               &output);
    return QString(output).section(' ', 1, 1).toStdString();
}

void SshdFixture::authorize(const std::string& publicKey) {
    std::ofstream(dir_.path().toStdString() + "/authorized_keys", std::ios::app)
        << readFile(publicKey);
}

void SshdFixture::killSessions() {
    for (const pid_t pid : descendants(static_cast<pid_t>(sshd_.processId()))) {
        ::kill(pid, SIGKILL);
    }
}

std::string SshdFixture::log() const {
    const std::string text = readFile(dir_.path().toStdString() + "/sshd.log");
    return text.substr(text.size() - std::min<std::size_t>(text.size(), 4000));
}

} // namespace Plovermantle::Testing
