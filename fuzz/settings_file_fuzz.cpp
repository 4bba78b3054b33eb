// The settings-file reader with a write-then-read oracle.
#include <cstring>

#include "fuzz_targets.h"
#include "settings_file.h"

namespace {

bool sameUnit(const settings_file::UnitHeader &a, const settings_file::UnitHeader &b) {
    return a.has_serial == b.has_serial && (!a.has_serial || a.serial == b.serial) &&
           a.magic == b.magic && a.version == b.version && a.num_elements == b.num_elements;
}

} // namespace

int fuzzSettingsFile(const uint8_t *data, std::size_t size) {
    if (size > settings_file::MAX_FILE_SIZE) {
        return 0; // the tools refuse such a file before reading it
    }
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    // A record whose header words and unused unit bits a file must keep.
    Settings_t base{};
    base.magic = 0x5F57565Au;
    base.version = 1;
    base.num_elements = 26;
    Settings_t record = base;
    settings_file::UnitHeader unit;
    QString error;
    if (!settings_file::read(text, &record, &unit, &error)) {
        if (error.isEmpty()) {
            fuzzFault("a refused file without a reason");
        }
        if (std::memcmp(&record, &base, sizeof(record)) != 0) {
            fuzzFault("a refused file changed the record");
        }
        return 0;
    }
    const QByteArray written = settings_file::write(record, unit);
    Settings_t again = base;
    settings_file::UnitHeader unit_again;
    if (!settings_file::read(written, &again, &unit_again, &error)) {
        fuzzFault("the file written for an accepted record is refused");
    }
    if (std::memcmp(&record, &again, sizeof(record)) != 0) {
        fuzzFault("an accepted file does not read back as written");
    }
    if (!sameUnit(unit, unit_again)) {
        fuzzFault("the unit header does not read back as written");
    }
    return 0;
}

EFIS_FUZZ_ENTRY(fuzzSettingsFile)
