// The window's edit session: the edited marks and the title's marker, Edit → Revert Edits, the
// question before anything that would lose edits or unstored values, and the warning before
// settings that contradict each other are sent.
#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QAction>
#include <QDebug>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include "form_binder.h"
#include "settings_rules.h"

namespace {

const char *const WINDOW_TITLE = "RK_62 EFIS Config";

// What the person was about to do, in the question's words.
QString consequence(MainWindow::EditLoss loss) {
    switch (loss) {
    case MainWindow::EditLoss::Close:
        return QObject::tr("Closing the window loses them.");
    case MainWindow::EditLoss::Load:
        return QObject::tr("Loading puts the unit's settings in their place.");
    case MainWindow::EditLoss::Import:
        return QObject::tr("Importing lays the file's settings over them.");
    case MainWindow::EditLoss::Reboot:
        return QObject::tr("The unit restarts with the settings it has stored.");
    case MainWindow::EditLoss::Reconnect:
        return QObject::tr("Connecting anew loads the unit's settings in their place.");
    case MainWindow::EditLoss::OtherUnit:
        return QObject::tr("Choosing another unit loads its settings in their place.");
    }
    return QString();
}

} // namespace

void MainWindow::setUpEditMenu() {
    QMenu *edit = ui->menubar->addMenu(tr("&Edit"));
    edit->setObjectName("menuEdit");
    revert_action = edit->addAction(tr("Revert Edits"));
    revert_action->setObjectName("actionRevertEdits");
    revert_action->setToolTip(tr("Put back the values the unit is known to hold"));
    connect(revert_action, &QAction::triggered, this, [this] { revertEdits(); });
    ui->tab->setStyleSheet(form_binding::EDITED_STYLE);
    refreshEditState();
}

void MainWindow::refreshEditState() {
    form_binding::markEdited(ui->tab, session);
    const bool modified = session.hasUnsentEdits();
    setWindowTitle(modified ? QStringLiteral("%1[*]").arg(WINDOW_TITLE) : WINDOW_TITLE);
    setWindowModified(modified);
    revert_action->setEnabled(modified);
    export_action->setEnabled(session.recordRead());
    export_action->setToolTip(session.recordRead()
                                  ? tr("Write the form's settings to a settings file")
                                  : tr("Load the settings from a unit first: until then the form "
                                       "holds no unit's settings to export"));
}

void MainWindow::revertEdits() {
    session.revertAll();
    updateUIFromConfig();
    refreshEditState();
    ui->statusbar->showMessage(tr("Edits reverted: the form shows the unit's settings"), 0);
}

bool MainWindow::mayLoseEdits(EditLoss loss) {
    const bool restart = loss == EditLoss::Close || loss == EditLoss::Reboot;
    const bool unstored = restart && session.hasUnstoredValues();
    if (!session.hasUnsentEdits() && !unstored) {
        return true;
    }
    QStringList text;
    if (session.hasUnsentEdits()) {
        text << tr("%n field(s) of the form are edited and not sent to the unit.", nullptr,
                   session.editedFieldCount())
             << consequence(loss);
    }
    if (unstored) {
        text << tr("The unit holds the values that Update sent, but has not stored them: a "
                   "restart of the unit loses them.");
    }
    QMessageBox box(QMessageBox::Warning, tr("Unsent Edits"), text.join(' '),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setObjectName(session.hasUnsentEdits() ? "unsentEditsBox" : "unstoredValuesBox");
    box.setInformativeText(tr("Save sends them to the unit and stores them there first."));
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save:
        onSaveClicked();
        return !session.hasUnsentEdits() && !session.hasUnstoredValues();
    case QMessageBox::Discard:
        // What follows a load replaces the form anyway, and a failed load leaves it as it is.
        session.revertAll();
        if (loss == EditLoss::Import || loss == EditLoss::Reboot) {
            updateUIFromConfig();
        }
        refreshEditState();
        return true;
    default:
        return false;
    }
}

bool MainWindow::settingsProblemsAccepted(const Settings_t &record) {
    const std::vector<SettingsProblem> problems = checkSettings(session.withoutUnknown(record));
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
                    QMessageBox::Yes | QMessageBox::Cancel, this);
    box.setObjectName("settingsWarningsBox");
    box.setInformativeText(lines.join('\n'));
    box.button(QMessageBox::Yes)->setText(tr("Send Anyway"));
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Yes;
}
