#include "preview_panel.h"

#include <QPainter>

#include <utility>

#include "display_preview.h"

DisplayPreviewPanel::DisplayPreviewPanel(Source source, QWidget *parent)
    : QWidget(parent), source_(std::move(source)) {
    setObjectName(QStringLiteral("displayPreview"));
    setToolTip(QString::fromUtf8(display_preview::SKETCH_NOTE));
    setAccessibleName(QStringLiteral("Display Preview"));
    setAccessibleDescription(QString::fromUtf8(display_preview::SKETCH_NOTE));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // The drawing covers the whole widget.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void DisplayPreviewPanel::refresh() {
    update();
}

QSize DisplayPreviewPanel::sizeHint() const {
    return {380, 480};
}

QSize DisplayPreviewPanel::minimumSizeHint() const {
    return {240, 300};
}

void DisplayPreviewPanel::paintEvent(QPaintEvent *) {
    const Settings_t settings = source_();
    QPainter painter(this);
    display_preview::paint(painter, size(), settings, display_preview::problems(settings));
}
