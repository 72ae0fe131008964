// The main window running the import that bench/import/run.sh gives
// ruvelo-import: the real FrmMain, offscreen, its options and mappings set
// through its own controls, timed from the click on "Run the Import" until the
// closing message.
//
//   window-bench STORE_DIR WORKBOOK GROUP LOG_FILE
//       runs the import; prints "window run S s" and the closing message,
//       and writes the window's log to LOG_FILE (CR LF as the window keeps it)
//   window-bench STORE_DIR WORKBOOK GROUP LOG_FILE --linger SECONDS
//       the same, then keeps the window up (to be looked at under Xvfb)
//   window-bench --count WORKBOOK
//       times the counting pass the run makes before its first row
#include "app/FrmMain.h"
#include "excel/Workbook.h"
#include "goldmine/DdeLink.h"
#include "goldmine/LibraryGoldMineApi.h"
#include "mapping/FrmMappings.h"
#include "util/Prompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

// Answers the password, says yes to every question and keeps the last box.
class BenchPrompts : public util::Prompts
{
public:
    QString lastMessage;
    void messageBox(const QString &text, const QString &, util::PromptIcon) override
    {
        lastMessage = text;
    }
    QString inputBox(const QString &, const QString &, const QString &, bool) override
    {
        return QStringLiteral("bench");
    }
    bool question(const QString &, const QString &) override { return true; }
};

[[noreturn]] void die(const char *message)
{
    std::fprintf(stderr, "window-bench: %s\n", message);
    std::exit(1);
}

template <typename T> T *control(QWidget &parent, const char *name)
{
    T *widget = parent.findChild<T *>(QString::fromLatin1(name));
    if (!widget)
        die(name);
    return widget;
}

bool pick(QWidget &window, const char *list, const QString &text)
{
    auto *widget = control<QListWidget>(window, list);
    const QList<QListWidgetItem *> found = widget->findItems(text, Qt::MatchExactly);
    if (found.isEmpty())
        return false;
    widget->setCurrentItem(found.first());
    return true;
}

// The process's resident memory now and at its peak, in MB.
std::pair<double, double> residentMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    double now = 0;
    double peak = 0;
    if (!status.open(QIODevice::ReadOnly))
        return {now, peak};
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() >= 2 && words[0] == "VmRSS:")
            now = words[1].toDouble() / 1024;
        if (words.size() >= 2 && words[0] == "VmHWM:")
            peak = words[1].toDouble() / 1024;
    }
    return {now, peak};
}

int countRows(const QString &workbook)
{
    QElapsedTimer clock;
    clock.start();
    const excel::Result<int64_t> rows = excel::CountRows(workbook);
    if (!rows)
        die("the workbook cannot be counted");
    std::printf("count pass %lld rows %.2f s\n", static_cast<long long>(*rows),
                static_cast<double>(clock.nsecsElapsed()) / 1e9);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3 && arguments.at(1) == QLatin1String("--count"))
        return countRows(arguments.at(2));
    const bool linger = arguments.size() == 7 && arguments.at(5) == QLatin1String("--linger");
    if (arguments.size() != 5 && !linger)
        die("usage: window-bench STORE_DIR WORKBOOK GROUP LOG_FILE [--linger SECONDS] | --count "
            "WORKBOOK");
    const QString store = arguments.at(1);
    const QString workbook = arguments.at(2);
    const QString group = arguments.at(3);
    const QString logFile = arguments.at(4);

    BenchPrompts prompts;
    goldmine::LibraryGoldMineApi api;
    goldmine::DdeLink link;
    goldmine::ConnectionSettings settings{store, QStringLiteral("GoldMine:"),
                                          QStringLiteral("Common:"), QStringLiteral("MASTER"),
                                          QString()};
    app::FrmMain form(api, prompts);
    if (form.Form_Load(link, settings) != goldmine::StartupOutcome::Ready)
        die("the GoldMine API did not load");
    form.show();

    control<QLineEdit>(form, "txtFilename")->setText(workbook);
    control<QComboBox>(form, "cmbEmailCol")->setEditText(QStringLiteral("Email"));

    // The same mappings as ruvelo-import's --map options, made in the window.
    const QList<std::pair<const char *, const char *>> mappings{
        {"Company", "COMPANY"}, {"Contact", "CONTACT"}, {"Phone", "PHONE1"},    {"City", "CITY"},
        {"State", "STATE"},     {"Zip", "ZIP"},         {"Country", "COUNTRY"}, {"Title", "TITLE"},
        {"Since", "KEY1"},      {"Score", "KEY2"},      {"Remark", "NOTES"}};
    bool mapped = true;
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, &form, [&] {
        mapping::FrmMappings *window = form.mappingWindow();
        if (!window || !window->isVisible())
            return;
        poll.stop();
        for (const auto &[column, field] : mappings) {
            mapped = mapped && pick(*window, "lstExcel", QString::fromLatin1(column)) &&
                     pick(*window, "lstGoldMine", QString::fromLatin1(field));
            window->btnMap_Click();
        }
        control<QPushButton>(*window, "Command2")->click();
    });
    poll.start();
    control<QPushButton>(form, "btnMap")->click();
    if (!mapped || !form.mappingWindow() || form.mappingWindow()->entries().count() != 11)
        die("the mappings could not be made");

    control<QCheckBox>(form, "chkUpdateMatches")->click();
    control<QCheckBox>(form, "chkGroup")->click();
    control<QLineEdit>(form, "txtGroupName")->setText(group);
    QCoreApplication::processEvents();

    const auto [before, peakBefore] = residentMemory();
    QElapsedTimer clock;
    clock.start();
    control<QPushButton>(form, "btnImport")->click();
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const auto [after, peak] = residentMemory();

    std::printf("window memory before the run %.1f MB (peak so far %.1f MB), after it %.1f MB, "
                "peak %.1f MB\n",
                before, peakBefore, after, peak);
    std::printf("window run %.2f s\n%s\n", seconds, qPrintable(prompts.lastMessage));
    QFile log(logFile);
    if (!log.open(QIODevice::WriteOnly) || log.write(form.logText().toUtf8()) < 0)
        die("the log cannot be written");
    if (linger) {
        QTimer::singleShot(arguments.at(6).toInt() * 1000, &application, &QApplication::quit);
        return QApplication::exec();
    }
    return 0;
}
