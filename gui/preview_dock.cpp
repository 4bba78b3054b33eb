#include "preview_dock.h"

#include <QDockWidget>
#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QStyle>

PreviewDock::PreviewDock(DisplayPreviewPanel::Source source, QMainWindow *window)
    : QObject(window), dock_(new QDockWidget(tr("Display Preview"), window)) {
    setObjectName("previewDock");
    dock_->setObjectName("displayPreviewDock");
    // Hidden and shown again from View → Display Preview, where a small screen needs the room.
    dock_->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable |
                       QDockWidget::DockWidgetClosable);
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

void PreviewDock::addTo(QMenu *view) {
    QAction *show = dock_->toggleViewAction();
    show->setObjectName("actionShowPreview");
    show->setText(tr("Display &Preview"));
    view->insertAction(view->actions().value(0), show);
}
