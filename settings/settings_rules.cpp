#include "settings_rules.h"

#include <cstdio>

#include "get_set.h"

namespace {

enum class Order { AtMost, Below }; // low <= high, low < high

struct Rule {
    settings_struct_index low;
    const char *low_label;
    settings_struct_index high;
    const char *high_label;
    Order order;
    const char *consequence;
};

const Rule V_SPEED_RULES[] = {
    {VMIN_INDEX, "Vmin", VS0_INDEX, "Vs0", Order::AtMost,
     "the white arc would start below the lowest speed shown"},
    {VS0_INDEX, "Vs0", VS1_INDEX, "Vs1", Order::AtMost,
     "the green arc would start below the white arc"},
    {VS0_INDEX, "Vs0", VFE_INDEX, "Vfe", Order::Below, "the white arc would run backwards"},
    {VS0_INDEX, "Vs0", APPROACHSPEED_INDEX, "Vref", Order::Below,
     "the approach speed would lie at or below the stall speed"},
    {VS1_INDEX, "Vs1", VN0_INDEX, "Vn0", Order::Below, "the green arc would run backwards"},
    {VN0_INDEX, "Vn0", VNE_INDEX, "Vne", Order::Below, "the yellow arc would run backwards"},
    {VFE_INDEX, "Vfe", VNE_INDEX, "Vne", Order::AtMost,
     "the white arc would reach into the red arc"},
    {VLO_INDEX, "Vlo", VNE_INDEX, "Vne", Order::AtMost,
     "the gear could be operated above the never-exceed speed"},
};

const Rule VOLTAGE_RULES[] = {
    {MIN_VOLTS_ALERT_INDEX, "Min Volt Alert", MIN_VOLTS_INDEX, "Min Volt Warning", Order::AtMost,
     "the low-voltage alert would come before the warning"},
    {MIN_VOLTS_INDEX, "Min Volt Warning", MAX_VOLTS_INDEX, "Max Volt Warning", Order::Below,
     "every voltage would raise a warning"},
    {MAX_VOLTS_INDEX, "Max Volt Warning", MAX_VOLTS_ALERT_INDEX, "Max Volt Alert", Order::AtMost,
     "the high-voltage alert would come before the warning"},
};

// Voltages are held in tenths of a volt and shown with one decimal.
std::string shown(uint32_t value, bool volts) {
    char text[32];
    if (volts) {
        std::snprintf(text, sizeof(text), "%u.%u", value / 10u, value % 10u);
    } else {
        std::snprintf(text, sizeof(text), "%u", value);
    }
    return text;
}

void check(const Settings_t &record, const Rule &rule, bool volts,
           std::vector<SettingsProblem> *problems) {
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
    problem.fields = {{rule.high, rule.high_label, shown(high, volts)},
                      {rule.low, rule.low_label, shown(low, volts)}};
    problem.text = problem.fields[0].label + " (" + problem.fields[0].value + ") " +
                   (high < low ? "is below " : "equals ") + problem.fields[1].label + " (" +
                   problem.fields[1].value + "): " + rule.consequence;
    problems->push_back(problem);
}

} // namespace

std::vector<SettingsProblem> checkSettings(const Settings_t &record) {
    std::vector<SettingsProblem> problems;
    for (const Rule &rule : V_SPEED_RULES) {
        check(record, rule, false, &problems);
    }
    for (const Rule &rule : VOLTAGE_RULES) {
        check(record, rule, true, &problems);
    }
    return problems;
}
