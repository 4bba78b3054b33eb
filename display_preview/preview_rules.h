#ifndef PREVIEW_RULES_H
#define PREVIEW_RULES_H

// What the preview names under its drawing as wrong with a settings record: the arcs of the
// airspeed tape that run backwards or are empty, in the form's terms.

#include <QStringList>

#include "settings_types.h"

namespace display_preview {

QStringList previewRuleProblems(const Settings_t &settings);

} // namespace display_preview

#endif // PREVIEW_RULES_H
