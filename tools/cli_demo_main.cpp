// efis-cli-demo: efis-cli over the simulated units, which keep their state between runs as
// powered units do (in the user's runtime folder, or the cache folder where there is none,
// shared with efis-config-demo), so that a value set by one run is there for the next.
// --units N simulates N units; --reset-demo starts from fresh units.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>
#include <vector>

#include "demo_units.h"
#include "efis_cli.h"
#include "sim_state.h"
#include "sim_unit.h"
#include "unit_lock.h"

int main(int argc, char *argv[]) {
    // No application object here: efis-cli makes the one its command needs (a preview draws
    // text, which needs a GUI application), and Qt allows one per process.
    QStringList words;
    for (int i = 0; i < argc; ++i) {
        words << QString::fromLocal8Bit(argv[i]);
    }
    int units = 1;
    QString problem;
    if (!demo::takeUnitsOption(&words, &units, &problem)) {
        std::fprintf(stderr, "efis-cli-demo: %s\n", qPrintable(problem));
        return CLI_USAGE;
    }
    const bool reset = words.removeAll(QStringLiteral("--reset-demo")) > 0;
    std::vector<QByteArray> kept;
    std::vector<char *> args;
    for (const QString &word : words) {
        kept.push_back(word.toLocal8Bit());
    }
    for (QByteArray &word : kept) {
        args.push_back(word.data());
    }

    const QString path = demo::statePath();
    // One demo program at a time on the state: the second is refused, as on a real unit.
    QDir().mkpath(QFileInfo(path).absolutePath());
    platform::ExclusiveLock state_lock;
    if (sim::lockState(path.toStdString(), state_lock) ==
        platform::ExclusiveLock::Outcome::HeldByOther) {
        const UnitHolder holder = parse_holder(sim::stateHolder(path.toStdString()));
        const QString text = QStringLiteral("%1: nothing sent")
                                 .arg(QString::fromStdString(in_use_text(
                                     USB_HID, sim::unit().enumeration().front().path, holder)));
        std::fprintf(stderr, "efis-cli-demo: %s\n", qPrintable(text));
        // As efis-cli says a failure under --json.
        if (words.contains(QStringLiteral("--json"))) {
            QJsonObject o;
            o.insert("error", text);
            o.insert("exit", CLI_IN_USE);
            std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
        }
        return CLI_IN_USE;
    }
    demo::setUpUnits(units);
    demo::Loaded loaded;
    if (reset) {
        QFile::remove(path);
        if (args.size() == 1) {
            std::printf("efis-cli-demo: the simulated units start afresh\n");
            return CLI_OK;
        }
    } else {
        loaded = demo::loadUnits(path, "efis-cli-demo");
    }
    const int status = efisCliMain(static_cast<int>(args.size()), args.data());
    demo::saveUnits(path, loaded, "efis-cli-demo");
    return status;
}
