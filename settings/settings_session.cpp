#include "settings_session.h"

#include <utility>

#include "get_set.h"

SettingsSession::SettingsSession() : unknown_on_unit_(allSettingsFields()) {}

SettingsState SettingsSession::flowState() {
    return SettingsState{record_, unit_checksum_, edits_, unknown_on_unit_, unread_at_load_};
}

FieldState SettingsSession::state(settings_struct_index index) const {
    if (edits_.count(index) != 0) {
        return FieldState::Edited;
    }
    if (shownUnread(index)) {
        return FieldState::Unread;
    }
    if (unknownOnUnit(index)) {
        return FieldState::Unknown;
    }
    if (sent_not_stored_.count(index) != 0) {
        return FieldState::SentNotStored;
    }
    return FieldState::InStep;
}

bool SettingsSession::edit(settings_struct_index index, uint32_t value) {
    if (!settings_set_value(&record_, index, &value)) {
        return false;
    }
    edits_.insert(index);
    changed();
    return true;
}

void SettingsSession::replaceRecord(const Settings_t &record) {
    record_ = record;
    changed();
}

void SettingsSession::revertAll() {
    for (const settings_struct_index index : edits_) {
        const uint32_t value = settings_get_value(&unit_, index);
        settings_set_value(&record_, index, &value);
    }
    edits_.clear();
    changed();
}

void SettingsSession::addListener(Listener listener) {
    listeners_.push_back(std::move(listener));
}

void SettingsSession::changed() const {
    for (const Listener &listener : listeners_) {
        listener();
    }
}

namespace {

// The serial number of the unit `comms` reaches (0xFFFFFFFF when it did not say).
uint32_t serialOf(const CommsManager *comms) {
    return comms != nullptr ? comms->confirmedSerial(comms->getActiveInterface()) : 0xFFFFFFFFu;
}

} // namespace

int SettingsSession::editedFieldCount() const {
    return formFieldCount(edits_);
}

int SettingsSession::unstoredFieldCount() const {
    FieldSet fields;
    for (const auto &sent : sent_not_stored_) {
        fields.insert(sent.first);
    }
    return formFieldCount(fields);
}

Settings_t SettingsSession::withoutUnknown(const Settings_t &record) const {
    Settings_t known = record;
    const uint32_t zero = 0;
    for (const settings_struct_index index : unknown_on_unit_) {
        if (edits_.count(index) == 0) {
            settings_set_value(&known, index, &zero);
        }
    }
    return known;
}

void SettingsSession::settle(CommsManager *comms, bool stored) {
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        const auto index = static_cast<settings_struct_index>(i);
        if (edits_.count(index) != 0 || unknown_on_unit_.count(index) != 0) {
            continue;
        }
        const uint32_t value = settings_get_value(&record_, index);
        if (value != settings_get_value(&unit_, index)) {
            settings_set_value(&unit_, index, &value);
            sent_not_stored_[index] = value;
            took_serial_ = serialOf(comms);
        }
    }
    if (stored) {
        sent_not_stored_.clear();
    }
}

LoadResult SettingsSession::load(CommsManager *comms) {
    const FieldWords sent = sent_not_stored_;
    SettingsState state = flowState();
    LoadResult result = load_settings(comms, state);
    if (result.outcome == LoadOutcome::NotConnected) {
        return result;
    }
    // What the unit reported is what it holds. A load reads the unit's working values, not its
    // stored record (and the unit's checksum word follows every value it takes, so it tells
    // nothing of what is stored): a value it took and still reads out as taken is still not
    // stored. One it reads out otherwise was changed there since (by another program, or by a
    // restart this window did not see), so what Update sent is gone from it; one the load
    // could not read is taken to be there still, so that a restart is still asked about.
    unit_ = record_;
    sent_not_stored_.clear();
    // Another unit's load: what the first one took says nothing of this one.
    const bool same_unit = serialOf(comms) == took_serial_;
    for (const auto &[index, word] : sent) {
        if (same_unit &&
            (unknown_on_unit_.count(index) != 0 || settings_get_value(&unit_, index) == word)) {
            sent_not_stored_[index] = word;
        }
    }
    record_read_ = result.outcome == LoadOutcome::Loaded;
    checksum_matched_ = record_read_ && result.crc_matches;
    changed();
    return result;
}

SendResult SettingsSession::sendEdits(CommsManager *comms, UnitChoices choices) {
    SettingsState state = flowState();
    SendResult result = send_changed_settings(comms, state, choices);
    settle(comms, false);
    changed();
    return result;
}

SaveResult SettingsSession::save(CommsManager *comms, const Settings_t &before, UnitChoices choices,
                                 StoreFunction store) {
    SettingsState state = flowState();
    SaveResult result = save_settings(comms, state, before, choices, store);
    settle(comms, result.outcome == SaveOutcome::Saved);
    changed();
    return result;
}

void SettingsSession::unitRestarted() {
    for (const auto &sent : sent_not_stored_) {
        unknown_on_unit_.insert(sent.first);
    }
    sent_not_stored_.clear();
    changed();
}
