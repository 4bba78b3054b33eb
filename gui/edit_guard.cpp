// The window's edit session: the edited marks and the title's marker, Edit → Revert Edits, the
// question before anything that would lose edits or unstored values, and the warning before
// settings that contradict each other are sent.
#include "edit_guard.h"

#include <QAction>
#include <QDebug>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QStringList>
#include <QTimer>

#include <cstring>

#include "form_binder.h"
#include "settings_rules.h"

namespace {

const char *const WINDOW_TITLE = "RK_62 EFIS Config";

// What the person was about to do, in the question's words.
QString consequence(EditGuard::Loss loss) {
    switch (loss) {
    case EditGuard::Loss::Close:
        return QObject::tr("Closing the window loses them.");
    case EditGuard::Loss::Load:
        return QObject::tr("Loading puts the unit's settings in their place.");
    case EditGuard::Loss::Import:
        return QObject::tr("Importing lays the file's settings over them.");
    case EditGuard::Loss::Reboot:
        return QObject::tr("The unit restarts with the settings it has stored.");
    case EditGuard::Loss::Reconnect:
        return QObject::tr("Connecting anew loads the unit's settings in their place.");
    case EditGuard::Loss::OtherUnit:
        return QObject::tr("Choosing another unit loads its settings in their place.");
    case EditGuard::Loss::FirmwareUpdate:
        return QObject::tr("A firmware update restarts the unit with the settings it has stored.");
    }
    return QString();
}

// The unit's side of a session: what a flow changes and an edit does not.
bool sameUnitSide(const SettingsSession &a, const SettingsSession &b) {
    return std::memcmp(&a.unitRecord(), &b.unitRecord(), sizeof(Settings_t)) == 0 &&
           a.unitChecksum() == b.unitChecksum() && a.recordRead() == b.recordRead() &&
           a.hasUnstoredValues() == b.hasUnstoredValues();
}

// The edits' side: what the form shows and which fields are edited.
bool sameEdits(const SettingsSession &a, const SettingsSession &b) {
    return std::memcmp(&a.record(), &b.record(), sizeof(Settings_t)) == 0 && a.edits() == b.edits();
}

} // namespace

EditGuard::EditGuard(QMainWindow *window, QWidget *form, SettingsSession &session)
    : QObject(window), window_(window), form_(form), session_(session), settled_(session) {
    setObjectName("editGuard");
    form_->setStyleSheet(form_binding::EDITED_STYLE);
    unstored_note_ = new QLabel(window);
    unstored_note_->setObjectName("unstoredValuesNote");
    window->statusBar()->addPermanentWidget(unstored_note_);
    unstored_note_->hide();
}

void EditGuard::addMenu(QMenuBar *bar) {
    QMenu *edit = bar->addMenu(tr("&Edit"));
    edit->setObjectName("menuEdit");
    undo_action_ = edit->addAction(tr("&Undo Edit"));
    undo_action_->setObjectName("actionUndoEdit");
    undo_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    connect(undo_action_, &QAction::triggered, this, [this] { undo(); });
    redo_action_ = edit->addAction(tr("&Redo Edit"));
    redo_action_->setObjectName("actionRedoEdit");
    redo_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    connect(redo_action_, &QAction::triggered, this, [this] { redo(); });
    edit->addSeparator();
    revert_ = edit->addAction(tr("Revert Edits"));
    revert_->setObjectName("actionRevertEdits");
    revert_->setToolTip(tr("Put back the values the unit is known to hold"));
    connect(revert_, &QAction::triggered, this, [this] { revert(); });
    refresh();
}

void EditGuard::refresh() {
    if (!sameUnitSide(session_, settled_)) {
        undo_.clear();
        redo_.clear();
        settled_ = session_;
    } else if (!sameEdits(session_, settled_)) {
        if (!step_open_) {
            undo_.push_back(settled_);
            step_open_ = true;
            QTimer::singleShot(0, this, [this] { step_open_ = false; });
        }
        redo_.clear();
        settled_ = session_;
    }
    form_binding::markEdited(form_, session_);
    const bool modified = session_.hasUnsentEdits();
    window_->setWindowTitle(modified ? QStringLiteral("%1[*]").arg(WINDOW_TITLE) : WINDOW_TITLE);
    window_->setWindowModified(modified);
    if (!session_.hasUnstoredValues()) {
        accepted_unstored_.clear();
    }
    const int unstored = session_.unstoredFieldCount();
    unstored_note_->setText(
        tr("%n value(s) sent, not saved - Save stores them", nullptr, unstored));
    unstored_note_->setVisible(unstored > 0);
    if (revert_ != nullptr) {
        revert_->setEnabled(modified);
        undo_action_->setEnabled(!undo_.empty());
        redo_action_->setEnabled(!redo_.empty());
    }
}

void EditGuard::restore(const SettingsSession &state) {
    session_ = state;
    settled_ = state;
    step_open_ = false;
    emit formReverted();
    refresh();
}

void EditGuard::undo() {
    if (undo_.empty()) {
        return;
    }
    redo_.push_back(session_);
    const SettingsSession state = undo_.back();
    undo_.pop_back();
    restore(state);
}

void EditGuard::redo() {
    if (redo_.empty()) {
        return;
    }
    undo_.push_back(session_);
    const SettingsSession state = redo_.back();
    redo_.pop_back();
    restore(state);
}

void EditGuard::revert() {
    session_.revertAll();
    emit formReverted();
    refresh();
    window_->statusBar()->showMessage(tr("Edits reverted: the form shows the unit's settings"), 0);
}

bool EditGuard::mayLose(Loss loss) {
    const bool restart =
        loss == Loss::Close || loss == Loss::Reboot || loss == Loss::FirmwareUpdate;
    const bool unstored =
        restart && session_.hasUnstoredValues() && session_.unstoredValues() != accepted_unstored_;
    // A firmware update leaves the form as it is: only what the unit took is at stake.
    const bool edits = loss != Loss::FirmwareUpdate && session_.hasUnsentEdits();
    if (!edits && !unstored) {
        return true;
    }
    QStringList text;
    if (edits) {
        text << tr("%n field(s) of the form are edited and not sent to the unit.", nullptr,
                   session_.editedFieldCount())
             << consequence(loss);
    }
    if (unstored) {
        text << tr("The unit holds the values that Update sent, but has not stored them: a "
                   "restart of the unit loses them.");
    }
    QMessageBox box(QMessageBox::Warning, tr("Unsent Edits"), text.join(' '),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, window_);
    box.setObjectName(edits ? "unsentEditsBox" : "unstoredValuesBox");
    box.setInformativeText(tr("Save sends them to the unit and stores them there first."));
    // Enter keeps everything as it is: saving into the unit's flash or dropping the edits takes
    // a click or its own key.
    box.setDefaultButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save:
        emit saveRequested();
        return !session_.hasUnstoredValues() && (!edits || !session_.hasUnsentEdits());
    case QMessageBox::Discard:
        if (unstored) {
            accepted_unstored_ = session_.unstoredValues();
        }
        if (edits) {
            // What follows a load replaces the form anyway, and a failed load leaves it as it is.
            session_.revertAll();
            if (loss == Loss::Import || loss == Loss::Reboot) {
                emit formReverted();
            }
            refresh();
        }
        return true;
    default:
        return false;
    }
}

bool EditGuard::problemsAccepted(const Settings_t &record) {
    const std::vector<SettingsProblem> problems = checkSettings(session_.withoutUnknown(record));
    if (problems.empty()) {
        return true;
    }
    QStringList lines;
    for (const SettingsProblem &problem : problems) {
        lines << QString::fromStdString(problem.text);
        qDebug() << "Settings problem:" << lines.back();
    }
    QMessageBox box(QMessageBox::Warning, tr("Settings Contradict Each Other"),
                    tr("%n problem(s) in the settings:", nullptr, static_cast<int>(lines.size())),
                    QMessageBox::Yes | QMessageBox::Cancel, window_);
    box.setObjectName("settingsWarningsBox");
    box.setInformativeText(lines.join('\n'));
    box.button(QMessageBox::Yes)->setText(tr("Send Anyway"));
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Yes;
}
