#ifndef PREVIEW_RULES_H
#define PREVIEW_RULES_H

// What the preview names under its drawing as wrong with a settings record: what the settings'
// cross-field rules find, and every arc of the airspeed tape that runs
// backwards or is empty, in the form's terms.

#include <QStringList>

#include "settings_types.h"

namespace display_preview {

QStringList previewRuleProblems(const Settings_t &settings);

} // namespace display_preview

#endif // PREVIEW_RULES_H
