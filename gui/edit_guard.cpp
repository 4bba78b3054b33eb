// The window's edit session: the edited marks and the title's marker, Edit → Revert Edits, the
// question before anything that would lose edits or unstored values, and the warning before
// settings that contradict each other are sent.
#include "edit_guard.h"

#include <QAction>
#include <QDebug>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QStringList>

#include "form_binding.h"
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
    }
    return QString();
}

} // namespace

EditGuard::EditGuard(QMainWindow *window, QWidget *form, SettingsSession &session)
    : QObject(window), window_(window), form_(form), session_(session) {
    setObjectName("editGuard");
    form_->setStyleSheet(form_binding::EDITED_STYLE);
}

void EditGuard::addMenu(QMenuBar *bar) {
    QMenu *edit = bar->addMenu(tr("&Edit"));
    edit->setObjectName("menuEdit");
    revert_ = edit->addAction(tr("Revert Edits"));
    revert_->setObjectName("actionRevertEdits");
    revert_->setToolTip(tr("Put back the values the unit is known to hold"));
    connect(revert_, &QAction::triggered, this, [this] { revert(); });
    refresh();
}

void EditGuard::refresh() {
    form_binding::markEdited(form_, session_);
    const bool modified = session_.hasUnsentEdits();
    window_->setWindowTitle(modified ? QStringLiteral("%1[*]").arg(WINDOW_TITLE) : WINDOW_TITLE);
    window_->setWindowModified(modified);
    if (revert_ != nullptr) {
        revert_->setEnabled(modified);
    }
}

void EditGuard::revert() {
    session_.revertAll();
    emit formReverted();
    refresh();
    window_->statusBar()->showMessage(tr("Edits reverted: the form shows the unit's settings"), 0);
}

bool EditGuard::mayLose(Loss loss) {
    const bool restart = loss == Loss::Close || loss == Loss::Reboot;
    const bool unstored = restart && session_.hasUnstoredValues();
    if (!session_.hasUnsentEdits() && !unstored) {
        return true;
    }
    QStringList text;
    if (session_.hasUnsentEdits()) {
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
    box.setObjectName(session_.hasUnsentEdits() ? "unsentEditsBox" : "unstoredValuesBox");
    box.setInformativeText(tr("Save sends them to the unit and stores them there first."));
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save:
        emit saveRequested();
        return !session_.hasUnsentEdits() && !session_.hasUnstoredValues();
    case QMessageBox::Discard:
        // What follows a load replaces the form anyway, and a failed load leaves it as it is.
        session_.revertAll();
        if (loss == Loss::Import || loss == Loss::Reboot) {
            emit formReverted();
        }
        refresh();
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
