#include "preview_dock.h"

#include <QDockWidget>
#include <QMainWindow>
#include <QStyle>

PreviewDock::PreviewDock(DisplayPreviewPanel::Source source, QMainWindow *window)
    : QObject(window), dock_(new QDockWidget(tr("Display Preview"), window)) {
    setObjectName("previewDock");
    dock_->setObjectName("displayPreviewDock");
    // Always in view while the settings are edited, so it is not closed.
    dock_->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    panel_ = new DisplayPreviewPanel(std::move(source), dock_);
    dock_->setWidget(panel_);
    window->addDockWidget(Qt::RightDockWidgetArea, dock_);
    // The settings keep their room: the window grows by the panel and its separator.
    window->resize(
        window->width() + dock_->sizeHint().width() +
            window->style()->pixelMetric(QStyle::PM_DockWidgetSeparatorExtent, nullptr, window),
        window->height());
}

void PreviewDock::refresh() {
    panel_->refresh();
}
