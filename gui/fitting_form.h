#ifndef FITTING_FORM_H
#define FITTING_FORM_H

// A window that fits: the form keeps its fixed positions inside a scroll area, so the window can
// be made smaller than the form (a small laptop screen, display scaling) without losing a
// control; the sliders show their values beside them; Tab follows the form's reading order.

#include <QObject>

class QMainWindow;
class QScrollArea;
class QSlider;

namespace Ui {
class MainWindow;
}

class FittingForm : public QObject {
    Q_OBJECT

public:
    // Arranges the form that `ui` built in `window`.
    FittingForm(QMainWindow *window, Ui::MainWindow &ui);

    QScrollArea *scrollArea() const { return scroll_; }

private:
    void showValue(QSlider *slider, const char *name);
    void setTabOrder(Ui::MainWindow &ui);

    QMainWindow *window_;
    QScrollArea *scroll_ = nullptr;
};

#endif // FITTING_FORM_H
