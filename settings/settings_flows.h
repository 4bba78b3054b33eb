#ifndef SETTINGS_FLOWS_H
#define SETTINGS_FLOWS_H

// The settings flows of the tool, without widgets: load the unit's record with its checksum
// check, send the edited fields, and save (send what the unit lacks, then store under a
// checksum of what the unit holds). The window and the command line both run these; each words
// the outcome in its own terms. The flows print only the device-layer lines of standard output
// that they have always printed.

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "comms.h"
#include "settings_types.h"

using FieldSet = std::set<settings_struct_index>;
// Fields with a word each: what the unit took of them, for instance.
using FieldWords = std::map<settings_struct_index, uint32_t>;

// What the tool holds of the unit's settings between flows. The references point at the
// caller's own record and sets, which outlive the flows.
struct SettingsState {
    Settings_t &record;        // the tool's record of the unit's settings
    uint32_t &unit_checksum;   // the checksum the unit reported at the last load
    FieldSet &changed;         // edited fields not yet acknowledged by the unit
    FieldSet &unknown_on_unit; // fields whose value on the unit is not known to be the record's
    FieldSet &unread_at_load;  // fields the last load could not read
};

// Every field index of the record, 0 to 30.
FieldSet allSettingsFields();
// The three words that carry the registration: one text, so one value.
inline constexpr settings_struct_index REGISTRATION_WORDS[] = {
    REGISTRATION_1_INDEX, REGISTRATION_2_INDEX, REGISTRATION_3_INDEX};
bool anyRegistrationWordIn(const FieldSet &set);
// How many of the form's fields `set` holds: the three registration words count as one.
int formFieldCount(const FieldSet &set);

// The unit choices (units word bits) that the user has set, and which bits those choices
// cover: the rest of the word is the unit's own.
struct UnitChoices {
    uint32_t bits = 0;
    uint32_t mask = 0;
};
units_t layUnitChoices(units_t base, UnitChoices choices);

// ---- load ------------------------------------------------------------------------------------

enum class LoadOutcome { NotConnected, HeaderUnread, FieldRejected, Loaded };

struct LoadResult {
    LoadOutcome outcome = LoadOutcome::NotConnected;
    settings_struct_index header = SETTINGS_CHECKSUM_INDEX; // the unread header word
    int rejected_field = -1;                                // a field the record would not take
    std::vector<int> unread_fields; // fields held as 0 because they could not be read
    uint32_t calculated_crc = 0;
    bool crc_matches = false;
    // The unit's settings record is erased (its marker word reads 0xFFFFFFFF): the unit answered
    // every word, and a save writes a new record.
    bool erased = false;
};

// What the tool says of an erased record, in the window and on the command line.
inline constexpr const char *ERASED_RECORD_TEXT =
    "the unit's settings record is erased; Save writes a new one";

// Reads the four header words and the 31 fields into the record and checks its checksum.
// The changed set is emptied; every field not read stays unknown on the unit.
LoadResult load_settings(CommsManager *comms, SettingsState &state);

// ---- update ----------------------------------------------------------------------------------

struct SendResult {
    std::vector<int> sent;
    std::vector<int> failed; // not acknowledged (or, for the units word, not readable)
};

// Sends every changed field in ascending order; what the unit did not acknowledge stays changed.
// The connection and an empty changed set are the caller's to check first.
SendResult send_changed_settings(CommsManager *comms, SettingsState &state, UnitChoices choices);

// ---- save ------------------------------------------------------------------------------------

enum class StoreOutcome {
    NotConnected,
    SendFailed,
    EraseTimeout,
    EraseFailed,
    UnexpectedErase, // `can_id` holds the identifier
    AckTimeout,
    UnexpectedAck, // `can_id` holds the identifier
    Stored
};

struct StoreResult {
    StoreOutcome outcome = StoreOutcome::NotConnected;
    uint32_t can_id = 0;
};

// The store exchange: the store command, then the erase status and the acknowledgement.
StoreResult store_settings_exchange(CommsManager *comms, uint32_t crc);

// How the caller stores: the exchange above, worded by its caller; 0 when stored.
using StoreFunction = int (*)(CommsManager *comms, uint32_t crc);

enum class SaveOutcome { Unread, SendFailed, HeaderUnread, StoreFailed, Saved };

struct SaveResult {
    SaveOutcome outcome = SaveOutcome::Unread;
    std::vector<int> unread; // fields whose unit value was needed but could not be read
    std::vector<int> failed; // fields the unit did not acknowledge
    settings_struct_index header = SETTINGS_VERSION;
    uint32_t new_crc = 0;
};

// Saves the record as it stands (the caller has laid its edits into it; `before` is the record
// as it stood before that). Fields unknown on the unit and not edited are read again and kept
// as the unit holds them; then every edit and every field the caller changed is sent; then the
// unit's version and element count are read, the checksum computed and the record stored with
// `store`. Nothing is stored after a failed read or send.
SaveResult save_settings(CommsManager *comms, SettingsState &state, const Settings_t &before,
                         UnitChoices choices, StoreFunction store);

// ---- reboot -----------------------------------------------------------------------------------

// Sends the unit its reboot command (into its boot loader); the unit does not answer it. True
// when the command was sent.
bool reboot_unit(CommsManager *comms);

#endif // SETTINGS_FLOWS_H
