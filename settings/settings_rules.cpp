#include "settings_rules.h"

#include "codecs.h"
#include "field_catalogue.h"
#include "get_set.h"

namespace {

enum class Order { AtMost, Below }; // low <= high, low < high

// The fields are named by their labels in the field catalogue.
struct Rule {
    settings_struct_index low;
    settings_struct_index high;
    Order order;
    const char *consequence;
};

const Rule V_SPEED_RULES[] = {
    {VMIN_INDEX, VS0_INDEX, Order::AtMost,
     "the white arc would start below the lowest speed shown"},
    {VS0_INDEX, VS1_INDEX, Order::AtMost, "the green arc would start below the white arc"},
    {VS0_INDEX, VFE_INDEX, Order::Below, "the white arc would run backwards"},
    {VS0_INDEX, APPROACHSPEED_INDEX, Order::Below,
     "the approach speed would lie at or below the stall speed"},
    {VS1_INDEX, VN0_INDEX, Order::Below, "the green arc would run backwards"},
    {VN0_INDEX, VNE_INDEX, Order::Below, "the yellow arc would run backwards"},
    {VFE_INDEX, VNE_INDEX, Order::AtMost, "the white arc would reach into the red arc"},
    {VLO_INDEX, VNE_INDEX, Order::AtMost,
     "the gear could be operated above the never-exceed speed"},
};

const Rule VOLTAGE_RULES[] = {
    {MIN_VOLTS_ALERT_INDEX, MIN_VOLTS_INDEX, Order::AtMost,
     "the low-voltage alert would come before the warning"},
    {MIN_VOLTS_INDEX, MAX_VOLTS_INDEX, Order::Below, "every voltage would raise a warning"},
    {MAX_VOLTS_INDEX, MAX_VOLTS_ALERT_INDEX, Order::AtMost,
     "the high-voltage alert would come before the warning"},
};

// A value as the form shows it: voltages in volts with one decimal, V-speeds as stored.
std::string shown(settings_struct_index index, uint32_t value) {
    const FieldRow *row = fieldByIndex(index);
    return row != nullptr && row->kind == FieldKind::Volts ? codecs::voltsText(value)
                                                           : std::to_string(value);
}

void check(const Settings_t &record, const Rule &rule, std::vector<SettingsProblem> *problems) {
    const uint32_t low = settings_get_value(&record, rule.low);
    const uint32_t high = settings_get_value(&record, rule.high);
    if (low == 0 || high == 0) {
        return; // not set
    }
    const bool kept = rule.order == Order::AtMost ? low <= high : low < high;
    if (kept) {
        return;
    }
    SettingsProblem problem;
    problem.fields = {{rule.high, labelOf(rule.high), shown(rule.high, high)},
                      {rule.low, labelOf(rule.low), shown(rule.low, low)}};
    problem.text = problem.fields[0].label + " (" + problem.fields[0].value + ") " +
                   (high < low ? "is below " : "equals ") + problem.fields[1].label + " (" +
                   problem.fields[1].value + "): " + rule.consequence;
    problems->push_back(problem);
}

} // namespace

std::vector<SettingsProblem> checkSettings(const Settings_t &record) {
    std::vector<SettingsProblem> problems;
    for (const Rule &rule : V_SPEED_RULES) {
        check(record, rule, &problems);
    }
    for (const Rule &rule : VOLTAGE_RULES) {
        check(record, rule, &problems);
    }
    return problems;
}
