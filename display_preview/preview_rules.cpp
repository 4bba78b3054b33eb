#include "preview_rules.h"

#include <set>
#include <utility>

// The preview names what the settings' cross-field rules find; its own arc checks add only the
// wrong arcs that no rule names (an arc with an end not set, which the rules skip).
#include "settings_rules.h"

namespace display_preview {

namespace {

// One arc of the tape: its name and the V-speeds it runs between, by their form labels.
struct Arc {
    const char *name;
    settings_struct_index from_index;
    const char *from_label;
    int from;
    settings_struct_index to_index;
    const char *to_label;
    int to;
};

} // namespace

QStringList previewRuleProblems(const Settings_t &settings) {
    QStringList found;
    // The pairs of fields that the rules' problems name together.
    std::set<std::pair<int, int>> named;
    for (const SettingsProblem &problem : checkSettings(settings)) {
        found << QString::fromStdString(problem.text);
        for (const ProblemField &a : problem.fields) {
            for (const ProblemField &b : problem.fields) {
                named.insert({a.index, b.index});
            }
        }
    }
    const vspeeds_t &v = settings.vspeeds;
    const Arc arcs[] = {{"White Arc", VS0_INDEX, "Vs0", v.Vs0, VFE_INDEX, "Vfe", v.Vfe},
                        {"Green Arc", VS1_INDEX, "Vs1", v.Vs1, VN0_INDEX, "Vn0", v.Vn0},
                        {"Yellow Arc", VN0_INDEX, "Vn0", v.Vn0, VNE_INDEX, "Vne", v.Vne}};
    for (const Arc &arc : arcs) {
        if (arc.from < arc.to || named.count({arc.from_index, arc.to_index}) != 0) {
            continue;
        }
        if (arc.from > arc.to) {
            found << QStringLiteral("%1 runs backwards: %2 %3 is above %4 %5")
                         .arg(arc.name, arc.from_label)
                         .arg(arc.from)
                         .arg(arc.to_label)
                         .arg(arc.to);
        } else {
            found << QStringLiteral("%1 is empty: %2 and %3 are both %4")
                         .arg(arc.name, arc.from_label, arc.to_label)
                         .arg(arc.from);
        }
    }
    return found;
}

} // namespace display_preview
