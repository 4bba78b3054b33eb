#include "form_values_note.h"

#include <QLabel>
#include <QPalette>
#include <QTabWidget>
#include <QVBoxLayout>

#include "settings_session.h"
#include "unit_connection.h"

namespace {

const char *const NO_UNIT_VALUES =
    "These are not a unit's values: the form shows the tool's starting values until a load "
    "from a unit (F5) or an import of a settings file (Ctrl+O) fills it.";
const char *const UNIT_GONE =
    "The unit is not connected: the form shows the values last read from it.";

} // namespace

FormValuesNote::FormValuesNote(QWidget *body, QVBoxLayout *column, QTabWidget *tabs,
                               QWidget *settings, SettingsSession &session,
                               UnitConnection *connection)
    : QObject(body), label_(new QLabel(body)), tabs_(tabs), settings_(settings), session_(session),
      connection_(connection) {
    setObjectName("formValuesNote");
    label_->setObjectName("label_formValuesNote");
    label_->setWordWrap(true);
    // A pale note colour with dark text, readable under light and dark desktop themes alike.
    QPalette palette = label_->palette();
    palette.setColor(QPalette::Window, QColor(0xff, 0xf3, 0xc4));
    palette.setColor(QPalette::WindowText, QColor(0x4a, 0x38, 0x00));
    label_->setPalette(palette);
    label_->setAutoFillBackground(true);
    label_->setFrameShape(QFrame::StyledPanel);
    label_->setMargin(6);
    column->insertWidget(0, label_);
    session_.addListener([this] {
        // Reverted or undone to nothing edited: the file's values are gone from the form.
        if (!session_.hasUnsentEdits()) {
            file_shown_ = false;
        }
        refresh();
    });
    connect(connection_, &UnitConnection::stateChanged, this, [this] { refresh(); });
    connect(tabs_, &QTabWidget::currentChanged, this, [this] { refresh(); });
    refresh();
}

void FormValuesNote::fileShown() {
    file_shown_ = true;
    refresh();
}

void FormValuesNote::refresh() {
    // A later load that fails leaves the form with the values read before: still a unit's.
    unit_values_shown_ = unit_values_shown_ || session_.recordRead();
    QString text;
    if (!file_shown_ && !unit_values_shown_) {
        text = tr(NO_UNIT_VALUES);
    } else if (!file_shown_ && !connection_->isConnected()) {
        text = tr(UNIT_GONE);
    }
    label_->setText(text);
    label_->setVisible(!text.isEmpty() && tabs_->currentWidget() == settings_);
}
