#include "form_binder.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QTextCursor>
#include <QVariant>
#include <QWidget>

#include <cstring>
#include <vector>

#include "get_set.h"
#include "speed_unit_question.h"
#include "speed_units.h"

namespace {

const char *const REGISTRATION_LIMIT =
    "The registration after its prefix: letters (in capitals), digits and signs of Western "
    "European text, at most 11 characters with the prefix";
const char *const REGISTRATION_REFUSED =
    "%1 cannot be stored in the registration: the unit holds only letters, digits "
    "and signs of Western European text (Latin-1)";
const char *const REGISTRATION_UNREAD =
    "The registration could not be read from the unit; Save keeps the unit's registration "
    "unless you type a new one";

QString tr(const char *text) {
    return QCoreApplication::translate("MainWindow", text);
}

QString fromLatin1(const std::string &bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

bool sameWords(const FieldRow &row, const Settings_t &a, const Settings_t &b) {
    const uint32_t mask = row.unit_bits != 0 ? row.unit_bits : 0xFFFFFFFFu;
    for (const settings_struct_index index : indicesOf(row)) {
        if (((settings_get_value(&a, index) ^ settings_get_value(&b, index)) & mask) != 0) {
            return false;
        }
    }
    return true;
}

bool hasWidgets(const FieldRow &row) {
    return row.widgets[0] != nullptr;
}

bool marked(const FieldRow &row, const SettingsSession &session) {
    if (row.kind == FieldKind::Registration) {
        return anyRegistrationWordIn(session.edits());
    }
    if (session.edits().count(row.index) == 0) {
        return false;
    }
    return row.unit_bits == 0 || !sameWords(row, session.record(), session.unitRecord());
}

void setWord(Settings_t *record, settings_struct_index index, uint32_t word) {
    settings_set_value(record, index, &word);
}

} // namespace

FormBinder::FormBinder(QWidget *form) : form_(form) {
    for (const FieldRow &row : fieldCatalogue()) {
        for (const char *name : row.widgets) {
            if (name != nullptr) {
                widgets_[name] = form->findChild<QWidget *>(name);
            }
        }
        if (row.kind == FieldKind::Colour) {
            colours_.emplace(row.index, ColourButton(widgetAs<QPushButton>(row)));
        }
    }
    widgetAs<QPlainTextEdit>(*fieldByIndex(REGISTRATION_1_INDEX), 1)
        ->setToolTip(tr(REGISTRATION_LIMIT));
    for (const UnitOption &choice : fieldByIndex(UNITS_VALUE_INDEX)->choices) {
        QObject::connect(qobject_cast<QRadioButton *>(widget(choice.widget)),
                         &QRadioButton::toggled, form, [this] { showSpeedUnit(); });
    }
    showSpeedUnit();
}

QWidget *FormBinder::widget(const char *name) const {
    if (name == nullptr) {
        return nullptr;
    }
    const auto found = widgets_.find(name);
    return found != widgets_.end() ? found->second : nullptr;
}

template <typename T> T *FormBinder::widgetAs(const FieldRow &row, int i) const {
    return qobject_cast<T *>(widget(row.widgets[static_cast<std::size_t>(i)]));
}

FormBinder::Filled FormBinder::fill(const Settings_t &record, const Fill &how) {
    const bool from_unit = how.previous == nullptr;
    // Shown from the unit, the form reaches no edit handler; shown as edits, every change goes
    // through its handler, which marks the field. Setting a colour emits nothing connected.
    for (const auto &named : widgets_) {
        if (named.second != nullptr && qobject_cast<QPushButton *>(named.second) == nullptr) {
            named.second->blockSignals(from_unit);
        }
    }
    const auto changed = [&](const FieldRow &row) {
        return from_unit || !sameWords(row, record, *how.previous);
    };

    Filled filled;
    for (const FieldRow &row : fieldCatalogue()) {
        const uint32_t word = settings_get_value(&record, row.index);
        switch (row.kind) {
        case FieldKind::Colour:
            if (changed(row)) {
                colours_.at(row.index).show(word);
                uint32_t shown = 0;
                if (!from_unit && colours_.at(row.index).word(&shown) && how.edit) {
                    how.edit(row.index, shown);
                }
            }
            break;
        case FieldKind::UnitChoice:
            for (std::size_t i = 0; i < row.widgets.size() && row.widgets[i] != nullptr; ++i) {
                auto *radio = widgetAs<QRadioButton>(row, static_cast<int>(i));
                if (from_unit && how.units_unread) {
                    // The unit's choices are not known: none chosen rather than the last shown.
                    radio->setAutoExclusive(false);
                    radio->setChecked(false);
                    radio->setAutoExclusive(true);
                    continue;
                }
                for (const UnitOption &choice : row.choices) {
                    if (choice.widget != nullptr &&
                        std::strcmp(choice.widget, row.widgets[i]) == 0) {
                        radio->setChecked((word & choice.bit) != 0);
                    }
                }
            }
            break;
        case FieldKind::Whole:
            if (auto *spin = widgetAs<QSpinBox>(row)) {
                spin->setValue(static_cast<int>(word));
            } else if (auto *slider = widgetAs<QSlider>(row)) {
                // The widget bounds the value: a word above its range shows its maximum.
                slider->setValue(static_cast<int>(word));
            }
            break;
        case FieldKind::Volts:
            widgetAs<QDoubleSpinBox>(row)->setValue(codecs::voltsFromTenths(word));
            break;
        case FieldKind::Angle:
            widgetAs<QDoubleSpinBox>(row)->setValue(static_cast<double>(codecs::angleOf(word)));
            break;
        case FieldKind::Registration: {
            auto *prefix = widgetAs<QComboBox>(row, 0);
            auto *number = widgetAs<QPlainTextEdit>(row, 1);
            // One that could not be read whole is shown as unread, the prefix box as it was.
            const bool unread = from_unit && how.registration_unread;
            number->setPlaceholderText(unread ? tr(REGISTRATION_UNREAD) : QString());
            number->setToolTip(unread ? tr(REGISTRATION_UNREAD) : tr(REGISTRATION_LIMIT));
            if (unread) {
                number->setPlainText(QString());
            } else if (changed(row)) {
                // An import that leaves the registration as it is marks none of its words.
                filled.registration_shown = true;
                filled.split = codecs::splitRegistration(record.registration);
                // A registration with no prefix of the table is shown whole with none chosen.
                prefix->setCurrentIndex(filled.split.prefix_row);
                number->setPlainText(fromLatin1(filled.split.rest));
            }
            break;
        }
        case FieldKind::UnitBits:
            break;
        }
    }
    for (const auto &named : widgets_) {
        if (named.second != nullptr) {
            named.second->blockSignals(false);
        }
    }
    showSpeedUnit(); // the buttons were set with their signals blocked
    // What no widget shows is marked by its word alone.
    for (const FieldRow &row : fieldCatalogue()) {
        if (!from_unit && !hasWidgets(row) && changed(row) && how.edit) {
            how.edit(row.index, settings_get_value(&record, row.index));
        }
    }
    return filled;
}

Settings_t FormBinder::readBack(const Settings_t &base) const {
    Settings_t record = base;
    for (const FieldRow &row : fieldCatalogue()) {
        switch (row.kind) {
        case FieldKind::Colour: {
            uint32_t word = 0;
            if (colour(row.index, &word)) {
                setWord(&record, row.index, word);
            }
            break;
        }
        case FieldKind::UnitChoice:
            setWord(&record, row.index, layUnitChoices(record.units, unitChoices()).units_value);
            break;
        case FieldKind::Whole:
            if (const auto *spin = widgetAs<QSpinBox>(row)) {
                setWord(&record, row.index, static_cast<uint32_t>(spin->value()));
            } else if (const auto *slider = widgetAs<QSlider>(row)) {
                setWord(&record, row.index, static_cast<uint32_t>(slider->value()));
            }
            break;
        case FieldKind::Volts:
            setWord(&record, row.index,
                    codecs::tenthsFromVolts(widgetAs<QDoubleSpinBox>(row)->value()));
            break;
        case FieldKind::Angle:
            setWord(&record, row.index, codecs::angleBits(widgetAs<QDoubleSpinBox>(row)->value()));
            break;
        case FieldKind::Registration: {
            const std::array<uint32_t, 3> words = registrationWords();
            for (std::size_t g = 0; g < words.size(); ++g) {
                setWord(&record, indicesOf(row)[g], words[g]);
            }
            break;
        }
        case FieldKind::UnitBits:
            break;
        }
    }
    return record;
}

UnitChoices FormBinder::unitChoices() const {
    UnitChoices choices;
    for (const FieldRow &row : fieldCatalogue()) {
        if (row.kind != FieldKind::UnitChoice) {
            continue;
        }
        for (const UnitOption &choice : row.choices) {
            const auto *radio = choice.widget != nullptr
                                    ? qobject_cast<QRadioButton *>(widget(choice.widget))
                                    : nullptr;
            if (radio != nullptr && radio->isChecked()) {
                choices.bits |= choice.bit;
                // A group with no button checked is a choice the form does not show (the unit's
                // word could not be read): its bits are not the form's to set.
                choices.mask |= row.unit_bits;
            }
        }
    }
    return choices;
}

bool FormBinder::colour(settings_struct_index index, uint32_t *word) const {
    const auto found = colours_.find(index);
    return found != colours_.end() && found->second.word(word);
}

bool FormBinder::pickColour(QWidget *parent, settings_struct_index index, uint32_t current) {
    const FieldRow *row = fieldByIndex(index);
    return row != nullptr && row->kind == FieldKind::Colour &&
           colours_.at(index).pick(parent, row->picker, current);
}

std::array<uint32_t, 3> FormBinder::registrationWords() const {
    const FieldRow &row = *fieldByIndex(REGISTRATION_1_INDEX);
    const QString number = widgetAs<QPlainTextEdit>(row, 1)->toPlainText();
    // An empty number box stores no registration, whatever the prefix box shows. Characters
    // outside Latin-1 become "?".
    const QString text = number.isEmpty() ? QString()
                                          : (widgetAs<QComboBox>(row, 0)->currentText() + number)
                                                .left(codecs::REGISTRATION_TEXT_LEN);
    codecs::RegistrationBytes bytes{};
    return codecs::joinRegistration(bytes, text.toLatin1().toStdString());
}

std::array<uint32_t, 3> FormBinder::takeRegistration(QString *refused) {
    const FieldRow &row = *fieldByIndex(REGISTRATION_1_INDEX);
    QPlainTextEdit *box = widgetAs<QPlainTextEdit>(row, 1);
    const QString typed = box->toPlainText();
    const int room = codecs::REGISTRATION_TEXT_LEN -
                     static_cast<int>(widgetAs<QComboBox>(row, 0)->currentText().size());
    QString note;
    const QString kept = form_binding::registrationInput(typed, room, &note);
    // The tool tip says why a character was kept out until the next one is taken.
    box->setToolTip(note.isEmpty() ? tr(REGISTRATION_LIMIT) : note);
    if (refused != nullptr) {
        *refused = note;
    }
    if (kept != typed) {
        // The cursor stays after what it followed.
        const int position = static_cast<int>(
            form_binding::registrationInput(typed.left(box->textCursor().position()), room).size());
        const QSignalBlocker blocker(box);
        box->setPlainText(kept);
        QTextCursor cursor = box->textCursor();
        cursor.setPosition(position);
        box->setTextCursor(cursor);
    }
    return registrationWords();
}

int FormBinder::mark(const SettingsSession &session) {
    return form_binding::markEdited(form_, session);
}

void FormBinder::showSpeedUnit() {
    const std::optional<SpeedUnit> unit = speedUnitOf(unitChoices().bits);
    const QString suffix =
        unit ? QStringLiteral(" ") + QString::fromLatin1(speedSymbol(*unit)) : QString();
    for (const settings_struct_index index : vSpeedIndices()) {
        widgetAs<QSpinBox>(*fieldByIndex(index))->setSuffix(suffix);
    }
}

FormBinder::SpeedUnitChange FormBinder::changeSpeedUnit(QWidget *parent, const Settings_t &record,
                                                        uint32_t units) {
    const std::optional<SpeedUnit> from = speedUnitOf(record.units.units_value);
    const std::optional<SpeedUnit> to = speedUnitOf(units);
    SpeedUnitChange change;
    // Without a known unit before and after, the numbers have no meaning to keep or convert.
    if (!from || !to || *from == *to || !anyVSpeedSet(record)) {
        return change;
    }
    const SpeedConversion conversion = convertSpeeds(record, *from, *to);
    const speed_unit_question::Answer answer =
        speed_unit_question::ask(parent, conversion, *from, *to);
    change.status = speed_unit_question::outcomeText(answer, *from, *to,
                                                     static_cast<int>(conversion.speeds.size()));
    switch (answer) {
    case speed_unit_question::Answer::Cancel: {
        // The buttons show the record's choice again; nothing reaches an edit handler.
        change.go_on = false;
        const FieldRow &row = *fieldByIndex(UNITS_VALUE_INDEX);
        for (const UnitOption &choice : row.choices) {
            widget(choice.widget)->blockSignals(true);
        }
        for (const UnitOption &choice : row.choices) {
            if ((record.units.units_value & choice.bit) != 0) {
                qobject_cast<QRadioButton *>(widget(choice.widget))->setChecked(true);
            }
        }
        for (const UnitOption &choice : row.choices) {
            widget(choice.widget)->blockSignals(false);
        }
        showSpeedUnit();
        break;
    }
    case speed_unit_question::Answer::Convert:
        // Each box takes its new value as a person's edit would: its handler marks it.
        for (const ConvertedSpeed &speed : conversion.speeds) {
            widgetAs<QSpinBox>(*fieldByIndex(speed.index))
                ->setValue(static_cast<int>(settings_get_value(&conversion.record, speed.index)));
        }
        break;
    case speed_unit_question::Answer::Keep:
        break;
    }
    return change;
}

namespace form_binding {

QString labelOf(const QString &key) {
    const QByteArray name = key.toLatin1();
    const FieldRow *row = fieldByKey(name.constData());
    return row != nullptr ? QString::fromLatin1(row->label) : key;
}

Settings_t asTheFormHoldsIt(const Settings_t &record) {
    Settings_t held = record;
    // Probes with the form's ranges and decimals bound a value as the form's own widgets do.
    QDoubleSpinBox probe;
    probe.setDecimals(1);
    for (const FieldRow &row : fieldCatalogue()) {
        if (!hasWidgets(row)) {
            continue;
        }
        const uint32_t word = settings_get_value(&record, row.index);
        probe.setRange(row.min, row.max);
        switch (row.kind) {
        case FieldKind::Colour:
            setWord(&held, row.index, codecs::colourWord(codecs::rgbOf(word)));
            break;
        case FieldKind::Whole: {
            const int value = static_cast<int>(word);
            setWord(&held, row.index,
                    static_cast<uint32_t>(value < row.min   ? static_cast<int>(row.min)
                                          : value > row.max ? static_cast<int>(row.max)
                                                            : value));
            break;
        }
        case FieldKind::Volts:
            probe.setValue(codecs::voltsFromTenths(word));
            setWord(&held, row.index, codecs::tenthsFromVolts(probe.value()));
            break;
        case FieldKind::Angle:
            probe.setValue(static_cast<double>(codecs::angleOf(word)));
            setWord(&held, row.index, codecs::angleBits(probe.value()));
            break;
        case FieldKind::Registration: {
            // The prefix box and the number box: a text that is a prefix alone leaves the
            // number box empty, which stores no registration.
            const codecs::RegistrationSplit split = codecs::splitRegistration(record.registration);
            const std::array<uint32_t, 3> words = codecs::joinRegistration(
                held.registration, split.rest.empty() ? std::string() : split.text);
            for (std::size_t g = 0; g < words.size(); ++g) {
                setWord(&held, indicesOf(row)[g], words[g]);
            }
            break;
        }
        case FieldKind::UnitChoice: // as the radio buttons showed them before
        case FieldKind::UnitBits:
            break;
        }
    }
    return held;
}

int markEdited(QWidget *form, const SettingsSession &session) {
    int count = 0;
    for (const FieldRow &row : fieldCatalogue()) {
        const bool mark = marked(row, session);
        count += mark ? 1 : 0;
        for (const char *name : row.widgets) {
            QWidget *widget = name != nullptr ? form->findChild<QWidget *>(name) : nullptr;
            if (widget == nullptr || widget->property("edited").toBool() == mark) {
                continue;
            }
            widget->setProperty("edited", mark);
            widget->style()->unpolish(widget);
            widget->style()->polish(widget);
            widget->update();
        }
    }
    return count;
}

QString registrationInput(const QString &typed, int room, QString *refused) {
    QString kept;
    for (const char32_t c : typed.toUcs4()) {
        const char32_t upper = codecs::registrationUpper(c);
        if (!codecs::registrationCharStorable(upper)) {
            if (refused != nullptr && refused->isEmpty()) {
                // Named by its code as well: a control character or a space look like nothing.
                QString name = QStringLiteral("U+") + QString::number(static_cast<uint>(c), 16)
                                                          .toUpper()
                                                          .rightJustified(4, QLatin1Char('0'));
                if (QChar::isPrint(c) && !QChar::isSpace(c)) {
                    name = QStringLiteral("\"%1\" (%2)").arg(QString::fromUcs4(&c, 1), name);
                }
                *refused = tr(REGISTRATION_REFUSED).arg(name);
            }
            continue;
        }
        if (kept.size() < room) {
            kept += QChar(static_cast<char16_t>(upper));
        }
    }
    return kept;
}

} // namespace form_binding
