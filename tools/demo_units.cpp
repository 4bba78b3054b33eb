#include "demo_units.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>
#include <cstring>
#include <thread>

#include "sim_state.h"
#include "sim_unit.h"

namespace demo {

namespace {

constexpr char MAGIC[8] = {'E', 'F', 'I', 'S', 'D', 'E', 'M', '1'};
// A state file holds at most MAX_UNITS units of a few hundred bytes each.
constexpr qint64 MAX_FILE_SIZE = 64 * 1024;

// The file's units: each unit's state as sim::saveState wrote it.
std::vector<std::vector<uint8_t>> readStates(const QString &path, const char *program) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        return {}; // no state yet: fresh units
    }
    const QByteArray bytes = in.read(MAX_FILE_SIZE + 1);
    std::vector<std::vector<uint8_t>> states;
    const auto refuse = [&] {
        std::fprintf(stderr,
                     "%s: %s is not a state of the demo's units; starting from fresh units\n",
                     program, qPrintable(path));
        return std::vector<std::vector<uint8_t>>{};
    };
    if (bytes.size() > MAX_FILE_SIZE || bytes.size() < static_cast<qsizetype>(sizeof(MAGIC) + 1) ||
        std::memcmp(bytes.constData(), MAGIC, sizeof(MAGIC)) != 0) {
        return refuse();
    }
    const int count = static_cast<unsigned char>(bytes.at(sizeof(MAGIC)));
    const qsizetype body = bytes.size() - static_cast<qsizetype>(sizeof(MAGIC)) - 1;
    if (count < 1 || count > MAX_UNITS || body % count != 0) {
        return refuse();
    }
    const qsizetype each = body / count;
    for (int i = 0; i < count; ++i) {
        const char *start = bytes.constData() + sizeof(MAGIC) + 1 + i * each;
        states.emplace_back(start, start + each);
    }
    return states;
}

} // namespace

bool takeUnitsOption(QStringList *args, int *count, QString *problem) {
    *count = 1;
    for (int i = 0; i < args->size(); ++i) {
        QString value;
        const QString &arg = args->at(i);
        if (arg == QLatin1String("--units")) {
            if (i + 1 >= args->size()) {
                *problem = QStringLiteral("--units needs a number of units");
                return false;
            }
            value = args->at(i + 1);
            args->remove(i, 2);
        } else if (arg.startsWith(QLatin1String("--units="))) {
            value = arg.mid(8);
            args->remove(i);
        } else {
            continue;
        }
        bool ok = false;
        *count = value.toInt(&ok);
        if (!ok || *count < 1 || *count > MAX_UNITS) {
            *problem =
                QStringLiteral("--units takes a number of units from 1 to %1").arg(MAX_UNITS);
            return false;
        }
        --i;
    }
    return true;
}

void setUpUnits(int count) {
    sim::reset();
    const uint32_t first = sim::unit().serialNumber();
    for (int k = 2; k <= count; ++k) {
        sim::addUnit("sim:efis-display-unit-" + std::to_string(k),
                     first + static_cast<uint32_t>(k - 1));
    }
}

QString statePath() {
#if defined(Q_OS_WIN)
    // Windows has no runtime folder of the user's (Qt names the home folder): the per-user
    // application data folder, %LOCALAPPDATA%.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#else
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#endif
    if (folder.isEmpty()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    }
    return folder + QStringLiteral("/efis-demo/units.state");
}

Loaded loadUnits(const QString &path, const char *program) {
    Loaded loaded;
    const std::vector<std::vector<uint8_t>> states = readStates(path, program);
    for (std::size_t i = 0; i < sim::units().size(); ++i) {
        if (i < states.size()) {
            sim::loadState(states[i], sim::units()[i]);
        }
        loaded.states.push_back(sim::saveState(sim::units()[i]));
    }
    return loaded;
}

bool lockState(const QString &path, platform::ExclusiveLock *lock, std::chrono::milliseconds wait) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const platform::ExclusiveLock::Outcome outcome = sim::lockState(path.toStdString(), *lock);
        if (outcome != platform::ExclusiveLock::Outcome::HeldByOther) {
            // Without a lock file the demo goes on unlocked rather than not at all.
            return true;
        }
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool saveUnits(const QString &path, const Loaded &loaded, const char *program) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    std::vector<std::vector<uint8_t>> states = readStates(path, program);
    bool changed = false;
    for (std::size_t i = 0; i < sim::units().size(); ++i) {
        std::vector<uint8_t> now = sim::saveState(sim::units()[i]);
        if (i < loaded.states.size() && now == loaded.states[i]) {
            continue; // as loaded: whatever the file holds now stays
        }
        while (states.size() <= i) {
            states.push_back(sim::saveState(sim::units()[states.size()]));
        }
        states[i] = std::move(now);
        changed = true;
    }
    if (!changed) {
        return true;
    }
    QByteArray bytes(MAGIC, sizeof(MAGIC));
    bytes.append(static_cast<char>(states.size()));
    for (const std::vector<uint8_t> &state : states) {
        bytes.append(reinterpret_cast<const char *>(state.data()),
                     static_cast<qsizetype>(state.size()));
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) < 0 || !out.commit()) {
        std::fprintf(stderr, "%s: cannot keep the simulated units' state in %s: %s\n", program,
                     qPrintable(path), qPrintable(out.errorString()));
        return false;
    }
    return true;
}

} // namespace demo
