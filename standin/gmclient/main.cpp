// gmclient: stands in for the GoldMine client on a machine without one. It
// creates and inspects stores of the GoldMine API stand-in and answers the
// client's DDE items over the user's private local socket.

#include "DdeServer.h"
#include "DemoData.h"
#include "StoreFiles.h"

#include "goldmine/gm7s32.h"
#include "standin/gm7s32/Store.h"
#include "util/Version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <pwd.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kUsageError = 2;
// The demo store's password when none is typed: it guards made-up contacts
// only, and scripts/demo shows it to whoever runs the demo.
constexpr const char *kDemoPassword = "demo-goldmine";

void printError(const QString &message)
{
    std::fprintf(stderr, "gmclient: %s\n", qPrintable(message));
}

int usage()
{
    std::fputs("usage:\n"
               "  gmclient init DIR [--user NAME] [--demo]\n"
               "      creates a store; the password is read from standard input and may\n"
               "      not be empty, except with --demo (demo contacts), where an empty\n"
               "      one stands for the demo password, which is then printed\n"
               "  gmclient serve DIR [--golddir TEXT] [--commondir TEXT] [--username TEXT]\n"
               "      answers the GoldMine client's DDE items until stopped\n"
               "  gmclient contacts DIR\n"
               "      ACCOUNTNO, RECID, COMPANY, CONTACT, e-mail, PHONE1, CITY per line\n"
               "  gmclient groups DIR\n"
               "      group number, name, code, member ACCOUNTNO, member name per line\n"
               "  gmclient --version\n"
               "      the Ruvelo version it belongs to\n",
               stderr);
    return kUsageError;
}

// The arguments after the command: one directory and --name value options.
struct Arguments
{
    QString directory;
    QHash<QString, QString> options;
    QSet<QString> flags;
};

bool parseArguments(const QStringList &words, const QSet<QString> &valueOptions,
                    const QSet<QString> &flagOptions, Arguments *arguments)
{
    for (qsizetype index = 0; index < words.size(); ++index) {
        const QString &word = words.at(index);
        if (valueOptions.contains(word)) {
            if (index + 1 >= words.size()) {
                printError(word + QStringLiteral(" needs a value"));
                return false;
            }
            arguments->options.insert(word, words.at(++index));
        } else if (flagOptions.contains(word)) {
            arguments->flags.insert(word);
        } else if (word.startsWith(QStringLiteral("--")) || !arguments->directory.isEmpty()) {
            printError(QStringLiteral("unexpected argument: ") + word);
            return false;
        } else {
            arguments->directory = word;
        }
    }
    if (arguments->directory.isEmpty()) {
        printError(QStringLiteral("no store directory given"));
        return false;
    }
    return true;
}

QString loginName()
{
    if (const passwd *entry = getpwuid(getuid()); entry && entry->pw_name && *entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    const QString fromEnvironment = qEnvironmentVariable("USER");
    return fromEnvironment.isEmpty() ? QStringLiteral("MASTER") : fromEnvironment;
}

void wipe(std::string &secret)
{
    std::fill(secret.begin(), secret.end(), '\0');
    secret.clear();
}

// One line from the terminal with echo off.
bool readPasswordFromTerminal(const QString &prompt, std::string *password)
{
    FILE *terminal = std::fopen("/dev/tty", "r+");
    if (!terminal)
        return false;
    std::fprintf(terminal, "%s", qPrintable(prompt));
    std::fflush(terminal);
    termios saved{};
    const int fd = fileno(terminal);
    const bool canHide = tcgetattr(fd, &saved) == 0;
    if (canHide) {
        termios hidden = saved;
        hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd, TCSAFLUSH, &hidden);
    }
    password->clear();
    int character;
    while ((character = std::fgetc(terminal)) != EOF && character != '\n')
        password->push_back(static_cast<char>(character));
    if (canHide)
        tcsetattr(fd, TCSAFLUSH, &saved);
    std::fputc('\n', terminal);
    std::fclose(terminal);
    return true;
}

// The password never comes from the command line, where other users could
// read it: standard input when that is not a terminal, else a silent prompt.
bool readPassword(const QString &userName, std::string *password)
{
    if (!isatty(STDIN_FILENO)) {
        std::getline(std::cin, *password);
        if (std::cin.bad())
            return false;
        if (!password->empty() && password->back() == '\r')
            password->pop_back();
        return true;
    }
    std::string again;
    if (!readPasswordFromTerminal(QStringLiteral("Password for %1: ").arg(userName), password) ||
        !readPasswordFromTerminal(QStringLiteral("Password again: "), &again))
        return false;
    const bool same = *password == again;
    wipe(again);
    if (!same) {
        wipe(*password);
        printError(QStringLiteral("the passwords differ"));
    }
    return same;
}

QString absoluteStorePath(const QString &directory)
{
    return QDir::cleanPath(QDir(directory).absolutePath());
}

void printItems(const QString &sysDir, const QString &goldDir, const QString &commonDir,
                const QString &userName)
{
    std::printf("&sysdir=%s\n&golddir=%s\n&commondir=%s\n&username=%s\n", qPrintable(sysDir),
                qPrintable(goldDir), qPrintable(commonDir), qPrintable(userName));
}

bool writeDemoContacts(const QString &directory, const QString &userName,
                       const std::string &password)
{
    const std::string goldAlias = gm7s32::goldMineAlias();
    const std::string commonAlias = gm7s32::commonAlias();
    const int32_t loaded =
        GMW_LoadBDE(QFile::encodeName(directory).constData(), goldAlias.c_str(),
                    commonAlias.c_str(), userName.toLocal8Bit().constData(), password.c_str());
    if (loaded < 0) {
        printError(
            QStringLiteral("cannot open the new store (GMW_LoadBDE answered %1)").arg(loaded));
        return false;
    }
    const int32_t container = GMW_NV_Create();
    const QList<DemoContact> contacts = demoContacts(300);
    for (const DemoContact &contact : contacts) {
        GMW_NV_EraseAll(container);
        const std::pair<const char *, QString> values[] = {
            {"Company", contact.company},   {"Contact", contact.contact},
            {"LastName", contact.lastName}, {"Title", contact.title},
            {"Email", contact.email},       {"Phone1", contact.phone1},
            {"City", contact.city},         {"Country", contact.country},
        };
        for (const auto &[name, value] : values)
            GMW_NV_SetValue(container, name, value.toLocal8Bit().constData());
        const int32_t written = GMW_Execute("WriteContact", container);
        if (written < 0) {
            printError(
                QStringLiteral("WriteContact failed (%1) for %2").arg(written).arg(contact.email));
            GMW_NV_Delete(container);
            return false;
        }
    }
    GMW_NV_Delete(container);
    return true;
}

int runInit(const Arguments &arguments)
{
    const QString directory = absoluteStorePath(arguments.directory);
    const QString userName = arguments.options.value(QStringLiteral("--user"), loginName());
    if (userName.isEmpty()) {
        printError(QStringLiteral("the user name is empty"));
        return kUsageError;
    }
    std::string password;
    if (!readPassword(userName, &password)) {
        printError(QStringLiteral("no password read"));
        return 1;
    }
    const bool demo = arguments.flags.contains(QStringLiteral("--demo"));
    const bool demoPassword = password.empty() && demo;
    if (password.empty() && !demo) {
        printError(QStringLiteral("the password is empty; a store needs one (only a --demo store "
                                  "may go without, and gets the demo password)"));
        return kUsageError;
    }
    if (demoPassword)
        password = kDemoPassword;
    std::string error;
    const bool created =
        gm7s32::createStore(QFile::encodeName(directory).toStdString(),
                            userName.toLocal8Bit().toStdString(), password, &error);
    if (!created) {
        wipe(password);
        printError(QString::fromLocal8Bit(error.c_str()));
        return 1;
    }
    const bool demoWritten = !demo || writeDemoContacts(directory, userName, password);
    wipe(password);
    if (!demoWritten)
        return 1;
    printItems(directory, QString::fromStdString(gm7s32::goldMineAlias()),
               QString::fromStdString(gm7s32::commonAlias()), userName);
    if (demoPassword)
        std::printf("demo password: %s\n", kDemoPassword);
    return 0;
}

// SIGTERM and SIGINT end the event loop through a socket pair, so the socket
// file is removed on the way out.
int g_signalPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
}

int runServe(QCoreApplication &application, const Arguments &arguments)
{
    const QString directory = absoluteStorePath(arguments.directory);
    if (!QFileInfo(directory).isDir()) {
        printError(directory + QStringLiteral(" is not a directory"));
        return 1;
    }
    QString userName = arguments.options.value(QStringLiteral("--username"));
    if (!arguments.options.contains(QStringLiteral("--username"))) {
        gmclient::Result<QString> stored = gmclient::firstUserName(directory);
        if (!stored) {
            printError(stored.error().message);
            return 1;
        }
        userName = *stored;
    }
    QHash<QString, QString> items{
        {QStringLiteral("&sysdir"), directory},
        {QStringLiteral("&golddir"),
         arguments.options.value(QStringLiteral("--golddir"),
                                 QString::fromStdString(gm7s32::goldMineAlias()))},
        {QStringLiteral("&commondir"),
         arguments.options.value(QStringLiteral("--commondir"),
                                 QString::fromStdString(gm7s32::commonAlias()))},
        {QStringLiteral("&username"), userName},
    };

    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        printError(QStringLiteral("cannot set up signal handling"));
        return 1;
    }
    QSocketNotifier stopNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &application,
                     &QCoreApplication::quit);
    struct sigaction action
    {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    DdeServer server(items);
    QString error;
    if (!server.listen(QStringLiteral("GoldMine"), QStringLiteral("Data"), &error)) {
        printError(error);
        return 1;
    }
    std::printf("gmclient: serving GoldMine|Data on %s\n", qPrintable(server.socketPath()));
    std::fflush(stdout);
    application.exec();
    server.close();
    return 0;
}

int runListing(const Arguments &arguments, bool groups)
{
    const QString directory = absoluteStorePath(arguments.directory);
    gmclient::Result<QStringList> lines =
        groups ? gmclient::groupLines(directory) : gmclient::contactLines(directory);
    if (!lines) {
        printError(lines.error().message);
        return 1;
    }
    for (const QString &line : *lines)
        std::printf("%s\n", line.toLocal8Bit().constData());
    return 0;
}

int run(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QStringList words = application.arguments().mid(1);
    if (words.isEmpty())
        return usage();
    const QString command = words.takeFirst();
    if (command == QStringLiteral("--version") && words.isEmpty()) {
        std::printf("gmclient %s\n", qPrintable(util::version()));
        return 0;
    }
    Arguments arguments;
    if (command == QStringLiteral("init")) {
        if (!parseArguments(words, {QStringLiteral("--user")}, {QStringLiteral("--demo")},
                            &arguments))
            return usage();
        return runInit(arguments);
    }
    if (command == QStringLiteral("serve")) {
        if (!parseArguments(words,
                            {QStringLiteral("--golddir"), QStringLiteral("--commondir"),
                             QStringLiteral("--username")},
                            {}, &arguments))
            return usage();
        return runServe(application, arguments);
    }
    if (command == QStringLiteral("contacts") || command == QStringLiteral("groups")) {
        if (!parseArguments(words, {}, {}, &arguments))
            return usage();
        return runListing(arguments, command == QStringLiteral("groups"));
    }
    return usage();
}

} // namespace

int main(int argc, char *argv[])
{
    // Whatever escapes (an allocation that fails, a store that throws past
    // its own handling) is said, not left to terminate() without a word.
    try {
        return run(argc, argv);
    } catch (const std::exception &error) {
        printError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        printError(QStringLiteral("unexpected failure"));
    }
    return 1;
}
