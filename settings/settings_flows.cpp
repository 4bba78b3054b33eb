#include "settings_flows.h"

#include <cstdio>
#include <cstring>

#include "get_set.h"
#include "wire.h"

namespace {

// The record's marker of a valid settings record.
constexpr uint32_t SETTINGS_MAGIC = 0x5F57565Au;
// The byte the reboot command carries.
constexpr uint8_t REBOOT_MAGIC = 0x48;
// An erased or unreadable 32-bit word.
constexpr uint32_t NO_VALUE = 0xFFFFFFFFu;

struct HeaderField {
    settings_struct_index index;
    uint32_t Settings_t::*field;
};
constexpr HeaderField LOAD_HEADER[] = {{SETTINGS_CHECKSUM_INDEX, &Settings_t::crc32},
                                       {SETTINGS_MAGIC_NUM, &Settings_t::magic},
                                       {SETTINGS_VERSION, &Settings_t::version},
                                       {SETTINGS_NUM_ELEMENTS, &Settings_t::num_elements}};
// The unit's own version and element count go into the record a store's checksum covers.
constexpr HeaderField SAVE_HEADER[] = {{SETTINGS_VERSION, &Settings_t::version},
                                       {SETTINGS_NUM_ELEMENTS, &Settings_t::num_elements}};

// Reads header words into the record; false with `unread` set at the first that cannot be read.
// A word the unit answers with 0xFFFFFFFF (an erased record) is a value, not a failure: the set
// and save that repair the record need the load and the save to go on.
template <std::size_t N>
bool readHeaderWords(CommsManager *comms, const HeaderField (&words)[N], Settings_t &record,
                     settings_struct_index *unread) {
    for (const HeaderField &word : words) {
        uint32_t value = 0;
        if (!get_value_checked(comms, SETTINGS_COMMS, static_cast<uint8_t>(word.index), &value)) {
            *unread = word.index;
            return false;
        }
        record.*word.field = value;
    }
    return true;
}

bool connected(const CommsManager *comms) {
    return comms != nullptr && comms->isConnected();
}

// When the units word is edited but its value on the unit is not known, reads it and lays the
// user's choices over it, so that the choices the user did not make keep the unit's bits.
// False when it could not be read.
bool settleUnitsWord(CommsManager *comms, SettingsState &state, UnitChoices choices) {
    if (state.unknown_on_unit.count(UNITS_VALUE_INDEX) == 0 ||
        state.changed.count(UNITS_VALUE_INDEX) == 0) {
        return true;
    }
    uint32_t word = 0;
    if (!get_value_checked(comms, SETTINGS_COMMS, UNITS_VALUE_INDEX, &word)) {
        return false;
    }
    units_t base;
    base.units_value = word;
    const units_t units = layUnitChoices(base, choices);
    return settings_set_value(&state.record, UNITS_VALUE_INDEX, &units.units_value);
}

} // namespace

FieldSet allSettingsFields() {
    FieldSet all;
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        all.insert(static_cast<settings_struct_index>(i));
    }
    return all;
}

bool anyRegistrationWordIn(const FieldSet &set) {
    for (const settings_struct_index index : REGISTRATION_WORDS) {
        if (set.count(index) != 0) {
            return true;
        }
    }
    return false;
}

int formFieldCount(const FieldSet &set) {
    int count = anyRegistrationWordIn(set) ? 1 : 0;
    for (const settings_struct_index index : set) {
        if (index != REGISTRATION_1_INDEX && index != REGISTRATION_2_INDEX &&
            index != REGISTRATION_3_INDEX) {
            ++count;
        }
    }
    return count;
}

units_t layUnitChoices(units_t base, UnitChoices choices) {
    units_t units;
    units.units_value = (base.units_value & ~choices.mask) | (choices.bits & choices.mask);
    return units;
}

LoadResult load_settings(CommsManager *comms, SettingsState &state) {
    LoadResult result;
    if (!connected(comms)) {
        return result;
    }
    state.changed.clear();
    std::memset(&state.record, 0, sizeof(state.record));
    state.unknown_on_unit = allSettingsFields();
    state.unread_at_load.clear();

    // The header words: an unreadable one ends the load (the checksum read still counts).
    const bool header_read = readHeaderWords(comms, LOAD_HEADER, state.record, &result.header);
    if (header_read || result.header != SETTINGS_CHECKSUM_INDEX) {
        state.unit_checksum = state.record.crc32;
    }
    if (!header_read) {
        result.outcome = LoadOutcome::HeaderUnread;
        return result;
    }

    result.erased = state.record.magic == NO_VALUE;

    // The fields: a failed read is told apart from a field that holds 0xFFFFFFFF.
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        const auto index = static_cast<settings_struct_index>(i);
        uint32_t value = 0;
        if (!get_value_checked(comms, SETTINGS_COMMS, static_cast<uint8_t>(i), &value)) {
            result.unread_fields.push_back(i);
            value = 0;
        } else {
            state.unknown_on_unit.erase(index);
        }
        if (!settings_set_value(&state.record, index, &value)) {
            result.outcome = LoadOutcome::FieldRejected;
            result.rejected_field = i;
            return result;
        }
    }

    // A registration missing one of its words would show, and be saved as, a cut text.
    if (anyRegistrationWordIn(state.unknown_on_unit)) {
        state.unknown_on_unit.insert(std::begin(REGISTRATION_WORDS), std::end(REGISTRATION_WORDS));
    }
    state.unread_at_load = state.unknown_on_unit;

    result.calculated_crc = settings_CalcCRC(&state.record);
    std::printf("app: 0x%08lX, device: 0x%08lX \n",
                static_cast<unsigned long>(result.calculated_crc),
                static_cast<unsigned long>(state.unit_checksum));
    result.crc_matches = result.calculated_crc == state.unit_checksum;
    if (result.crc_matches) {
        std::printf("CRC Check Passed.\n");
    }
    result.outcome = LoadOutcome::Loaded;
    return result;
}

SendResult send_changed_settings(CommsManager *comms, SettingsState &state, UnitChoices choices) {
    SendResult result;
    const bool units_settled = settleUnitsWord(comms, state, choices);
    for (const settings_struct_index index : state.changed) {
        const uint32_t value = settings_get_value(&state.record, index);
        if ((index != UNITS_VALUE_INDEX || units_settled) &&
            set_value(comms, SETTINGS_COMMS, static_cast<uint8_t>(index), value) == 0) {
            result.sent.push_back(index);
            state.unknown_on_unit.erase(index);
        } else {
            result.failed.push_back(index);
        }
    }
    // What the unit did not acknowledge is sent again by the next update.
    FieldSet failed;
    for (const int index : result.failed) {
        failed.insert(static_cast<settings_struct_index>(index));
    }
    state.changed = failed;
    return result;
}

StoreResult store_settings_exchange(CommsManager *comms, uint32_t crc) {
    StoreResult result;
    if (!connected(comms)) {
        return result;
    }
    COMMS_MSG_t store_msg = wire::newMessage(CANMSG_SAVE_USER_SETTINGS, 4);
    wire::putLe32(store_msg.data, crc);
    if (comms->write(store_msg) <= 0) {
        result.outcome = StoreOutcome::SendFailed;
        return result;
    }

    COMMS_MSG_t erase_status = wire::zeroedMessage();
    if (comms->read(&erase_status) <= 0) {
        result.outcome = StoreOutcome::EraseTimeout;
        return result;
    }
    switch (erase_status.can_ID) {
    case CANMSG_MX25_ACK: {
        COMMS_MSG_t ack = wire::zeroedMessage();
        if (comms->read(&ack) <= 0) {
            result.outcome = StoreOutcome::AckTimeout;
        } else if (ack.can_ID == CANMSG_ACK) {
            result.outcome = StoreOutcome::Stored;
        } else {
            result.outcome = StoreOutcome::UnexpectedAck;
            result.can_id = ack.can_ID;
        }
        return result;
    }
    case CANMSG_MX25_NACK:
        result.outcome = StoreOutcome::EraseFailed;
        return result;
    default:
        result.outcome = StoreOutcome::UnexpectedErase;
        result.can_id = erase_status.can_ID;
        return result;
    }
}

SaveResult save_settings(CommsManager *comms, SettingsState &state, const Settings_t &before,
                         UnitChoices choices, StoreFunction store) {
    SaveResult result;

    // The unit must hold what the checksum is computed over. A field whose value on the unit is
    // not known and that the user has not edited is read again and taken as the unit holds it:
    // sending the record's would overwrite a setting that nobody changed.
    FieldSet reread;
    for (const settings_struct_index index : state.unknown_on_unit) {
        if (state.changed.count(index) != 0) {
            continue;
        }
        uint32_t value = 0;
        if (get_value_checked(comms, SETTINGS_COMMS, static_cast<uint8_t>(index), &value) &&
            settings_set_value(&state.record, index, &value)) {
            reread.insert(index);
        } else {
            result.unread.push_back(index);
        }
    }
    for (const settings_struct_index index : reread) {
        state.unknown_on_unit.erase(index);
    }
    if (!settleUnitsWord(comms, state, choices)) {
        result.unread.push_back(UNITS_VALUE_INDEX);
    }
    if (!result.unread.empty()) {
        result.outcome = SaveOutcome::Unread;
        return result;
    }

    // Then every edit not sent yet and every other field that the caller's edits changed.
    FieldSet to_send = state.changed;
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        const auto index = static_cast<settings_struct_index>(i);
        if (reread.count(index) == 0 &&
            settings_get_value(&before, index) != settings_get_value(&state.record, index)) {
            to_send.insert(index);
        }
    }
    FieldSet failed;
    for (const settings_struct_index index : to_send) {
        const uint32_t value = settings_get_value(&state.record, index);
        if (set_value(comms, SETTINGS_COMMS, static_cast<uint8_t>(index), value) != 0) {
            result.failed.push_back(index);
            failed.insert(index);
        } else {
            state.unknown_on_unit.erase(index);
        }
    }
    if (!failed.empty()) {
        state.changed = failed;
        result.outcome = SaveOutcome::SendFailed;
        return result;
    }

    if (!readHeaderWords(comms, SAVE_HEADER, state.record, &result.header)) {
        result.outcome = SaveOutcome::HeaderUnread;
        return result;
    }

    state.record.magic = SETTINGS_MAGIC;
    state.record.crc32 = 0;
    result.new_crc = settings_CalcCRC(&state.record);
    std::printf("New CRC %08X\n", static_cast<unsigned>(result.new_crc));

    if (store == nullptr || store(comms, result.new_crc) != 0) {
        result.outcome = SaveOutcome::StoreFailed;
        return result;
    }
    state.changed.clear();
    result.outcome = SaveOutcome::Saved;
    return result;
}

bool reboot_unit(CommsManager *comms) {
    if (!connected(comms)) {
        return false;
    }
    COMMS_MSG_t reboot_msg = wire::newMessage(CANMSG_ENTER_BL, 1);
    reboot_msg.data[0] = REBOOT_MAGIC;
    return comms->write(reboot_msg) > 0;
}
