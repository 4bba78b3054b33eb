// efis-cli-demo: efis-cli over the simulated unit, which keeps its state between runs as a
// powered unit does (in the user's runtime folder, or the cache folder where there is none), so
// that a value set by one run is there for the next. --reset-demo starts from a fresh unit.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>
#include <cstring>
#include <vector>

#include "efis_cli.h"
#include "sim_state.h"
#include "sim_unit.h"
#include "unit_lock.h"

namespace {

QString statePath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    }
    return folder + QStringLiteral("/efis-cli-demo/unit.state");
}

void loadUnit(const QString &path) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly) || in.size() > 4096) {
        return; // no state yet: a fresh unit
    }
    const QByteArray bytes = in.readAll();
    if (!sim::loadState(std::vector<uint8_t>(bytes.begin(), bytes.end()), sim::unit())) {
        std::fprintf(stderr,
                     "efis-cli-demo: %s is not a state of the simulated unit; starting "
                     "from a fresh unit\n",
                     qPrintable(path));
    }
}

void saveUnit(const QString &path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const std::vector<uint8_t> bytes = sim::saveState(sim::unit());
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<qint64>(bytes.size())) <
            0 ||
        !out.commit()) {
        std::fprintf(stderr, "efis-cli-demo: cannot keep the simulated unit's state in %s: %s\n",
                     qPrintable(path), qPrintable(out.errorString()));
    }
}

} // namespace

int main(int argc, char *argv[]) {
    // No application object here: efis-cli makes the one its command needs (a preview draws
    // text, which needs a GUI application), and Qt allows one per process.
    std::vector<char *> args;
    bool reset = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--reset-demo") == 0) {
            reset = true;
        } else {
            args.push_back(argv[i]);
        }
    }
    const QString path = statePath();
    // One demo program at a time on the state: the second is refused, as on a real unit.
    QDir().mkpath(QFileInfo(path).absolutePath());
    platform::ExclusiveLock state_lock;
    if (sim::lockState(path.toStdString(), state_lock) ==
        platform::ExclusiveLock::Outcome::HeldByOther) {
        const UnitHolder holder = parse_holder(sim::stateHolder(path.toStdString()));
        std::fprintf(stderr, "efis-cli-demo: %s: nothing sent\n",
                     in_use_text(USB_HID, sim::unit().enumeration().front().path, holder).c_str());
        return CLI_IN_USE;
    }
    sim::reset();
    if (reset) {
        QFile::remove(path);
        if (args.size() == 1) {
            std::printf("efis-cli-demo: the simulated unit starts afresh\n");
            saveUnit(path);
            return CLI_OK;
        }
    } else {
        loadUnit(path);
    }
    const int status = efisCliMain(static_cast<int>(args.size()), args.data());
    saveUnit(path);
    return status;
}
