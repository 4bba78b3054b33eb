#ifndef SETTINGS_SESSION_H
#define SETTINGS_SESSION_H

// The settings session: what the unit is known to hold, what the user has edited over it, what
// the unit took but has not stored, and what could not be read. The window and efis-cli both keep
// their settings in one of these and run the settings flows through it, so that the edited marks,
// Revert and the questions before edits are lost all read one state. No widgets, no Qt.

#include <cstdint>
#include <functional>
#include <vector>

#include "comms.h"
#include "settings_flows.h"
#include "settings_types.h"

// What the tool knows of one field.
enum class FieldState {
    Unknown,       // never read from the unit nor sent to it
    InStep,        // the unit holds the record's value
    Edited,        // edited and not yet acknowledged by the unit
    SentNotStored, // the unit took it, but a restart would lose it until a Save
    Unread,        // the last load could not read it
};

class SettingsSession {
public:
    SettingsSession();

    // The record the form shows and the flows send: the unit's values with the edits over them.
    // Read-only: it changes by an edit, a flow, or replaceRecord.
    const Settings_t &record() const { return record_; }
    // Lays a whole record in without marking anything: the form's values read back before a
    // Save (which sends what differs from the record before), or a file read as the record.
    void replaceRecord(const Settings_t &record);
    // The values the unit is known to hold (the last load, and every value it took since).
    const Settings_t &unitRecord() const { return unit_; }
    // The checksum the unit reported for its stored record at the last load.
    uint32_t unitChecksum() const { return unit_checksum_; }

    FieldState state(settings_struct_index index) const;
    // An edit: the record takes the value and the field is marked. False (nothing changed) for
    // an index that reaches no field.
    bool edit(settings_struct_index index, uint32_t value);
    // Puts back the values the unit is known to hold; nothing is left to send.
    void revertAll();

    // Edited fields not yet acknowledged, in ascending order.
    const FieldSet &edits() const { return edits_; }
    bool hasUnsentEdits() const { return !edits_.empty(); }
    // How many of the form's fields are edited: the three registration words are one field.
    int editedFieldCount() const;
    // Values the unit took since its last store: a restart of the unit loses them. A load keeps
    // them while it reads back the words the unit took (the unit reads out what it holds, not
    // what it stored); only a store, or a restart, ends them.
    bool hasUnstoredValues() const { return !sent_not_stored_.empty(); }
    // Those values: each field with the word the unit took.
    const FieldWords &unstoredValues() const { return sent_not_stored_; }
    // How many of the form's fields they are: the three registration words are one field.
    int unstoredFieldCount() const;
    // True once a load has read the unit's record (its header words and fields).
    bool recordRead() const { return record_read_; }
    // True when the last load read the record and its checksum was the one the unit reported.
    bool checksumMatched() const { return checksum_matched_; }
    bool unknownOnUnit(settings_struct_index index) const {
        return unknown_on_unit_.count(index) != 0;
    }
    bool allUnknownOnUnit() const {
        return unknown_on_unit_.size() == static_cast<std::size_t>(SETTINGS_LAST_INDEX);
    }
    // Read by the last load in vain and still not known: the form shows it as not read.
    bool shownUnread(settings_struct_index index) const {
        return unread_at_load_.count(index) != 0 && unknownOnUnit(index);
    }

    // `record` with 0 ("not set") in every field that is unknown on the unit and not edited: what
    // the settings rules should judge, since a Save keeps the unit's own value there.
    Settings_t withoutUnknown(const Settings_t &record) const;

    // The settings flows on this session's state. Load replaces everything with the unit's
    // record; sendEdits sends the edits; save sends what the unit lacks and stores (`before` is
    // the record as it stood before the caller laid the form into it).
    LoadResult load(CommsManager *comms);
    SendResult sendEdits(CommsManager *comms, UnitChoices choices);
    SaveResult save(CommsManager *comms, const Settings_t &before, UnitChoices choices,
                    StoreFunction store);
    // The unit restarted: what it had not stored is no longer known to be on it.
    void unitRestarted();

    // Called after every change of the record or of a field's state (an edit, a revert, a flow,
    // a replaced record, a restart), so that what shows the state (the marks, the title, the
    // preview) follows without each flow remembering to refresh it.
    using Listener = std::function<void()>;
    void addListener(Listener listener);

private:
    SettingsState flowState();
    // After a flow: every field neither edited nor unknown is on the unit as the record holds
    // it; what changed there since the last store is not stored yet.
    void settle(CommsManager *comms, bool stored);
    void changed() const;

    Settings_t record_{};
    Settings_t unit_{};
    uint32_t unit_checksum_ = 0;
    FieldSet edits_;
    FieldSet unknown_on_unit_;
    FieldSet unread_at_load_;
    FieldWords sent_not_stored_;
    // The unit that took them (its serial number): another unit's load does not keep them.
    uint32_t took_serial_ = 0xFFFFFFFFu;
    bool record_read_ = false;
    bool checksum_matched_ = false;
    std::vector<Listener> listeners_;
};

#endif // SETTINGS_SESSION_H
