#include "differences_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "form_binder.h"
#include "shown_text.h"

namespace {

// Room for a few rows and the longest values without a scroll bar in the common case.
constexpr int DIALOG_WIDTH = 560;
constexpr int DIALOG_HEIGHT = 360;

} // namespace

DifferencesDialog::DifferencesDialog(const Wording &wording,
                                     const std::vector<settings_file::Difference> &differences,
                                     const QStringList &notes, QWidget *parent)
    : QDialog(parent) {
    setObjectName(wording.dialog_name);
    setWindowTitle(wording.title);
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(wording.intro, this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto *table = new QTableWidget(static_cast<int>(differences.size()), 3, this);
    table->setObjectName(wording.table_name);
    table->setHorizontalHeaderLabels(
        {tr("Setting"), wording.current_heading, wording.other_heading});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setVisible(false);
    for (std::size_t row = 0; row < differences.size(); ++row) {
        const settings_file::Difference &d = differences[row];
        // One name for a setting wherever the window shows it: the form's label. A value from a
        // unit or a file shows its control characters as escapes.
        QString name = form_binding::labelOf(d.key);
        if (wording.marked.count(d.index) != 0) {
            name = QStringLiteral("%1 (%2)").arg(name, wording.marked_note);
        }
        const QString cells[] = {name, shown_text::escapeControls(d.current),
                                 shown_text::escapeControls(d.other)};
        for (int column = 0; column < 3; ++column) {
            table->setItem(static_cast<int>(row), column, new QTableWidgetItem(cells[column]));
        }
    }
    table->resizeColumnsToContents();
    layout->addWidget(table);

    if (!notes.isEmpty()) {
        auto *list = new QLabel(notes.join('\n'), this);
        list->setObjectName("label_importNotes");
        list->setWordWrap(true);
        layout->addWidget(list);
    }

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *take = buttons->addButton(wording.take_text, QDialogButtonBox::AcceptRole);
    take->setObjectName(wording.take_name);
    QPushButton *keep = buttons->addButton(wording.keep_text, QDialogButtonBox::RejectRole);
    keep->setObjectName(wording.keep_name);
    // Enter leaves everything as it is; taking the other values takes a click.
    take->setAutoDefault(false);
    keep->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(DIALOG_WIDTH, DIALOG_HEIGHT);
}

bool DifferencesDialog::ask(const Wording &wording,
                            const std::vector<settings_file::Difference> &differences,
                            const QStringList &notes, QWidget *parent) {
    DifferencesDialog dialog(wording, differences, notes, parent);
    return dialog.exec() == QDialog::Accepted;
}
