#include "preview_rules.h"

namespace display_preview {

namespace {

// One arc of the tape: its name and the V-speeds it runs between, by their form labels.
struct Arc {
    const char *name;
    const char *from_label;
    const char *to_label;
    int from;
    int to;
};

} // namespace

QStringList previewRuleProblems(const Settings_t &settings) {
    const vspeeds_t &v = settings.vspeeds;
    const Arc arcs[] = {{"White Arc", "Vs0", "Vfe", v.Vs0, v.Vfe},
                        {"Green Arc", "Vs1", "Vn0", v.Vs1, v.Vn0},
                        {"Yellow Arc", "Vn0", "Vne", v.Vn0, v.Vne}};
    QStringList found;
    for (const Arc &arc : arcs) {
        if (arc.from > arc.to) {
            found << QStringLiteral("%1 runs backwards: %2 %3 is above %4 %5")
                         .arg(arc.name, arc.from_label)
                         .arg(arc.from)
                         .arg(arc.to_label)
                         .arg(arc.to);
        } else if (arc.from == arc.to) {
            found << QStringLiteral("%1 is empty: %2 and %3 are both %4")
                         .arg(arc.name, arc.from_label, arc.to_label)
                         .arg(arc.from);
        }
    }
    return found;
}

} // namespace display_preview
