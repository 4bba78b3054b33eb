#ifndef FITTING_FORM_H
#define FITTING_FORM_H

// A window that fits: the form keeps its fixed positions inside a scroll area, so the window can
// be made smaller than the form (a small laptop screen, display scaling) without losing a
// control; Load, Update and Save stay in view below the scrolling form; the window never opens
// larger than the screen's free area; the wheel over a control that has no focus scrolls the
// form instead of changing the value under the pointer; the sliders show their values beside
// them; Tab follows the form's reading order.

#include <QObject>

#include <utility>
#include <vector>

class QLabel;
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

    // The numbers beside the sliders show the sliders' values again (a fill of the form sets
    // the sliders with their signals blocked).
    void showSliderValues();

    // Brings the window within the free area of its screen.
    void fitToScreen();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showValue(QSlider *slider, const char *name);
    void setTabOrder(Ui::MainWindow &ui);
    void keepButtonsInView(Ui::MainWindow &ui);

    QMainWindow *window_;
    QScrollArea *scroll_ = nullptr;
    std::vector<std::pair<QSlider *, QLabel *>> values_;
};

#endif // FITTING_FORM_H
