#ifndef DEMO_UNITS_H
#define DEMO_UNITS_H

// The demo programs' simulated units, shared by efis-config-demo and efis-cli-demo: how many
// there are (--units N), and their state between runs, kept in one file in the user's runtime
// folder as powered units keep theirs, so that a value set with one demo is there for the other.

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <vector>

#include "exclusive_lock.h"

namespace demo {

inline constexpr int MAX_UNITS = 8;

// Takes "--units N" (or "--units=N") out of `args`; `count` is N, 1 when the option is absent.
// False, with `problem` set, for a count that is not a whole number from 1 to MAX_UNITS.
bool takeUnitsOption(QStringList *args, int *count, QString *problem);

// A fresh simulated machine with `count` units: the first at the simulated unit's own path and
// serial number, each further one at "sim:efis-display-unit-K" with the next serial number.
void setUpUnits(int count);

// The file every demo keeps its units' state in.
QString statePath();

// The units' state as it was when loaded: a unit whose state has not changed since is not
// written back, so that a demo never puts back what another demo changed meanwhile.
struct Loaded {
    std::vector<std::vector<uint8_t>> states; // by unit, as loaded (or fresh); none: write all
};

// Takes the state file's lock (the one every demo program honours), waiting up to `wait` for a
// demo that holds it; false when it is still held then. The loads and saves below are made
// while it is held.
bool lockState(const QString &path, platform::ExclusiveLock *lock, std::chrono::milliseconds wait);

// Loads the state of every unit the file holds; a missing file leaves fresh units. Messages
// about a file that is not a demo state go to standard error, prefixed with `program`.
Loaded loadUnits(const QString &path, const char *program);
// Writes back the units whose state changed since `loaded`, keeping every other unit the file
// holds as it is now. False, with the reason on standard error, when it cannot be kept.
bool saveUnits(const QString &path, const Loaded &loaded, const char *program);

} // namespace demo

#endif // DEMO_UNITS_H
