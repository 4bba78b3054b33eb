#ifndef PREVIEW_PANEL_H
#define PREVIEW_PANEL_H

// The window's display preview: a thin widget that paints the preview of the settings its
// source gives (the form's current values) whenever it is asked to refresh. It never talks to
// the unit.

#include <QWidget>

#include <functional>

#include "settings_types.h"

class DisplayPreviewPanel : public QWidget {
public:
    using Source = std::function<Settings_t()>;

    explicit DisplayPreviewPanel(Source source, QWidget *parent = nullptr);

    // The source has changed: paint again at the next pass of the event loop.
    void refresh();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Source source_;
};

#endif // PREVIEW_PANEL_H
