#include "preview_rules.h"

#include <set>
#include <utility>

// The preview names what the settings' cross-field rules find; its own arc checks add only the
// wrong arcs that no rule names (an arc with an end not set, which the rules skip).
#include "field_catalogue.h"
#include "get_set.h"
#include "settings_rules.h"

namespace display_preview {

namespace {

// One arc of the tape: its name and the V-speeds it runs between, named by their labels in the
// field catalogue.
struct Arc {
    const char *name;
    settings_struct_index from;
    settings_struct_index to;
};

const Arc ARCS[] = {{"White Arc", VS0_INDEX, VFE_INDEX},
                    {"Green Arc", VS1_INDEX, VN0_INDEX},
                    {"Yellow Arc", VN0_INDEX, VNE_INDEX}};

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
    for (const Arc &arc : ARCS) {
        const uint32_t from = settings_get_value(&settings, arc.from);
        const uint32_t to = settings_get_value(&settings, arc.to);
        if (from < to || named.count({arc.from, arc.to}) != 0) {
            continue;
        }
        const QString from_label = QString::fromLatin1(labelOf(arc.from));
        const QString to_label = QString::fromLatin1(labelOf(arc.to));
        if (from > to) {
            found << QStringLiteral("%1 runs backwards: %2 %3 is above %4 %5")
                         .arg(QLatin1String(arc.name), from_label)
                         .arg(from)
                         .arg(to_label)
                         .arg(to);
        } else {
            found << QStringLiteral("%1 is empty: %2 and %3 are both %4")
                         .arg(QLatin1String(arc.name), from_label, to_label)
                         .arg(from);
        }
    }
    return found;
}

} // namespace display_preview
