// The window's display preview: a panel beside the settings that draws the form's current
// values, edited or not, without asking the unit for anything.
#include "mainwindow.h"

#include <QDockWidget>
#include <QStyle>

#include "preview_panel.h"

void MainWindow::setUpPreview() {
    auto *dock = new QDockWidget(tr("Display Preview"), this);
    dock->setObjectName("displayPreviewDock");
    // Always in view while the settings are edited, so it is not closed.
    dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    display_preview = new DisplayPreviewPanel([this] { return formRecord(); }, dock);
    dock->setWidget(display_preview);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    // The settings keep their room: the window grows by the panel and its separator.
    resize(width() + dock->sizeHint().width() +
               style()->pixelMetric(QStyle::PM_DockWidgetSeparatorExtent, nullptr, this),
           height());
}

void MainWindow::refreshPreview() {
    if (display_preview != nullptr) {
        display_preview->refresh();
    }
}
