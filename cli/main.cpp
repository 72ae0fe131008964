// ruvelo-import: the import run from the command line, on the same engine as
// the main window, for scheduled and scripted imports.
#include "cli/Command.h"
#include "goldmine/ApiFactory.h"
#include "util/Version.h"

#include <QCoreApplication>

#include <cstring>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace {

// The password passes through this process's memory: no core dump may carry
// it, and other processes of the same user may not read the memory.
void keepMemoryPrivate()
{
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

// An argument whose bytes are not text in the locale's encoding cannot name a
// file here: Qt would open a different name and say it does not exist.
QString firstUndecodableArgument(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        if (QString::fromLocal8Bit(bytes).toLocal8Bit() == bytes)
            continue;
        QString shown;
        for (const char c : bytes) {
            const auto byte = static_cast<unsigned char>(c);
            shown += byte >= 0x20 && byte < 0x7F
                         ? QString(QLatin1Char(c))
                         : QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
        }
        return shown;
    }
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    keepMemoryPrivate();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ruvelo-import"));
    QCoreApplication::setApplicationVersion(util::version());

    if (const QString bytes = firstUndecodableArgument(argc, argv); !bytes.isEmpty()) {
        cli::printError(QStringLiteral("this argument is not valid text in the locale's "
                                       "encoding (LANG or LC_ALL), shown by its bytes: ") +
                        bytes);
        return cli::CouldNotStart;
    }
    const cli::Result<cli::CommandLine> commandLine =
        cli::parseCommandLine(QCoreApplication::arguments());
    if (!commandLine) {
        cli::printError(commandLine.error().message);
        return cli::CouldNotStart;
    }
    // In process here, through gm7bridge where GoldMine's library has another
    // bitness than the program (Windows) or when asked.
    const std::unique_ptr<goldmine::GoldMineApi> api =
        goldmine::makeGoldMineApi(commandLine->bridgePath);
    return cli::runCommand(*commandLine, *api);
}
