#ifndef PREVIEW_DOCK_H
#define PREVIEW_DOCK_H

// The window's display preview: a dock beside the settings that draws the form's current
// values, edited or not, without asking the unit for anything.

#include <QObject>

#include "preview_panel.h"

class QDockWidget;
class QMainWindow;
class QMenu;

class PreviewDock : public QObject {
    Q_OBJECT

public:
    // Docks itself on the right of `window`, which grows by the panel so the settings keep
    // their room; `source` gives the settings to draw.
    PreviewDock(DisplayPreviewPanel::Source source, QMainWindow *window);

    // The settings changed: draw them again.
    void refresh();

    // Adds Display Preview to `view`: it shows and hides the dock.
    void addTo(QMenu *view);

    QDockWidget *dock() const { return dock_; }

private:
    QDockWidget *dock_;
    DisplayPreviewPanel *panel_;
};

#endif // PREVIEW_DOCK_H
