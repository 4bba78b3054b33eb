#ifndef SPEED_UNIT_QUESTION_H
#define SPEED_UNIT_QUESTION_H

// The question when a person changes the speed unit while V-speeds are set: convert them to the
// new unit (rounded to whole numbers), keep the numbers (which then read in the new unit), or
// leave the unit as it was. Leaving it is the default: neither answer that changes what the
// V-speeds mean is taken by Enter. A conversion whose results do not fit the unit's 0 to 255 is
// refused in the question itself, naming the V-speeds and what they would be.

#include <QString>

#include "speed_units.h"

class QWidget;

namespace speed_unit_question {

enum class Answer { Cancel, Keep, Convert };

Answer ask(QWidget *parent, const SpeedConversion &conversion, SpeedUnit from, SpeedUnit to);

// The status bar's words for an answer; `converted` counts the V-speeds converted.
QString outcomeText(Answer answer, SpeedUnit from, SpeedUnit to, int converted);

} // namespace speed_unit_question

#endif // SPEED_UNIT_QUESTION_H
