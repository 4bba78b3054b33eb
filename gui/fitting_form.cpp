#include "fitting_form.h"

#include "ui_mainwindow.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <iterator>

namespace {

// The form's own size: the tabs and their margin.
constexpr int FORM_MARGIN = 10;
// The smallest window that still shows a useful part of the form.
constexpr int SMALLEST_WIDTH = 320;
constexpr int SMALLEST_HEIGHT = 240;

} // namespace

FittingForm::FittingForm(QMainWindow *window, Ui::MainWindow &ui)
    : QObject(window), window_(window) {
    setObjectName("fittingForm");
    QWidget *form = window->takeCentralWidget();
    const QRect tabs = ui.tabWidget->geometry();
    form->setMinimumSize(tabs.right() + 1 + FORM_MARGIN, tabs.bottom() + 1 + FORM_MARGIN);
    scroll_ = new QScrollArea(window);
    scroll_->setObjectName("formScrollArea");
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setWidget(form);
    window->setCentralWidget(scroll_);
    window->setMinimumSize(SMALLEST_WIDTH, SMALLEST_HEIGHT);
    keepButtonsInView(ui);

    showValue(ui.backlight_slider, "label_brightness_value");
    showValue(ui.text_bg_alpha_slider, "label_text_bg_alpha_value");
    setTabOrder(ui);

    for (QWidget *control : form->findChildren<QWidget *>()) {
        if (qobject_cast<QAbstractSpinBox *>(control) != nullptr ||
            qobject_cast<QAbstractSlider *>(control) != nullptr ||
            qobject_cast<QComboBox *>(control) != nullptr) {
            // No focus from the wheel: the wheel scrolls the form until the control is chosen.
            control->setFocusPolicy(Qt::StrongFocus);
            control->installEventFilter(this);
        }
    }
    window->installEventFilter(this);
}

void FittingForm::keepButtonsInView(Ui::MainWindow &ui) {
    // Load, Update and Save leave the scrolling form for a bar below it, shown with the
    // settings tab.
    auto *body = new QWidget(window_);
    body->setObjectName("windowBody");
    auto *column = new QVBoxLayout(body);
    column->setObjectName("windowBodyLayout");
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    window_->takeCentralWidget();
    column->addWidget(scroll_, 1);
    auto *bar = new QWidget(body);
    bar->setObjectName("settingsButtonBar");
    auto *row = new QHBoxLayout(bar);
    row->setObjectName("settingsButtonBarLayout");
    row->setContentsMargins(0, 0, 0, 0);
    bar->setContentsMargins(FORM_MARGIN, FORM_MARGIN / 2, FORM_MARGIN, FORM_MARGIN / 2);
    row->addStretch(1);
    QWidget *buttons = ui.layoutWidget_2;
    buttons->setParent(bar);
    buttons->setMinimumSize(buttons->size());
    row->addWidget(buttons);
    row->addStretch(1);
    column->addWidget(bar);
    window_->setCentralWidget(body);
    connect(ui.tabWidget, &QTabWidget::currentChanged, bar,
            [bar, settings = ui.tab, tabs = ui.tabWidget] {
                bar->setVisible(tabs->currentWidget() == settings);
            });
}

void FittingForm::showSliderValues() {
    for (const auto &value : values_) {
        value.second->setNum(value.first->value());
    }
}

void FittingForm::fitToScreen() {
    const QScreen *screen = window_->screen();
    if (screen == nullptr) {
        return;
    }
    const QRect free = screen->availableGeometry();
    // The frame the desktop adds (known once the window is shown; none before).
    const QSize frame = window_->frameGeometry().size() - window_->size();
    const QSize most = free.size() - frame;
    if (window_->width() > most.width() || window_->height() > most.height()) {
        window_->resize(std::min(window_->width(), most.width()),
                        std::min(window_->height(), most.height()));
    }
    if (window_->isVisible() && !free.contains(window_->frameGeometry())) {
        window_->move(
            std::max(free.left(),
                     std::min(window_->x(), free.right() + 1 - window_->frameGeometry().width())),
            std::max(free.top(), std::min(window_->y(),
                                          free.bottom() + 1 - window_->frameGeometry().height())));
    }
}

bool FittingForm::eventFilter(QObject *watched, QEvent *event) {
    if (watched == window_) {
        if (event->type() == QEvent::Show) {
            fitToScreen();
        }
        return false;
    }
    if (event->type() == QEvent::Wheel) {
        auto *control = static_cast<QWidget *>(watched);
        if (!control->hasFocus()) {
            // The form scrolls; the value under the pointer stays as it is.
            auto *wheel = static_cast<QWheelEvent *>(event);
            QScrollBar *bar =
                wheel->modifiers().testFlag(Qt::AltModifier) || wheel->angleDelta().y() == 0
                    ? scroll_->horizontalScrollBar()
                    : scroll_->verticalScrollBar();
            QApplication::sendEvent(bar, event);
            return true;
        }
    }
    return false;
}

// A number beside the slider, kept at its value.
void FittingForm::showValue(QSlider *slider, const char *name) {
    auto *value = new QLabel(slider->parentWidget());
    value->setObjectName(name);
    const QRect at = slider->geometry();
    value->setGeometry(at.right() + 6, at.top() - 4, 36, at.height() + 8);
    value->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    value->setNum(slider->value());
    connect(slider, &QSlider::valueChanged, value, [value](int v) { value->setNum(v); });
    values_.emplace_back(slider, value);
}

void FittingForm::setTabOrder(Ui::MainWindow &ui) {
    // Reading order: the registration, the units column, the V-speeds, the colours, the
    // voltages and corrections, the sliders, then the three buttons; then the firmware tab.
    QWidget *const order[] = {
        ui.comboBox_reg_prefix,  ui.text_registration_num, ui.radioButton_mph,
        ui.radioButton_kph,      ui.radioButton_knots,     ui.radioButton_feet,
        ui.radioButton_meter,    ui.radioButton_inhg,      ui.radioButton_mbar,
        ui.radioButton_degF,     ui.radioButton_degC,      ui.spinBox_vmin,
        ui.spinBox_vs0,          ui.spinBox_vs1,           ui.spinBox_vfe,
        ui.spinBox_vn0,          ui.spinBox_vne,           ui.spinBox_vref,
        ui.spinBox_vlo,          ui.color_picker_sky0,     ui.color_picker_sky1,
        ui.color_picker_ground0, ui.color_picker_ground1,  ui.color_picker_app_indi,
        ui.color_picker_gear,    ui.color_picker_airplane, ui.color_picker_green,
        ui.color_picker_yellow,  ui.color_picker_red,      ui.min_volt_alert_value,
        ui.min_volt_warn_value,  ui.max_volt_warn_value,   ui.max_volt_alert_value,
        ui.roll_corr_spinbox,    ui.pitch_corr_spinbox,    ui.backlight_slider,
        ui.text_bg_alpha_slider, ui.pushButton_load,       ui.pushButton_update,
        ui.pushButton_save,      ui.pushButton_browse,     ui.pushButton_start_update,
        ui.pushButton_reboot};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget::setTabOrder(order[i], order[i + 1]);
    }
    // Radio buttons of one group are one stop for Tab in Qt (the arrows move within it); each
    // group's buttons are reached one by one here, like every other control.
    for (QWidget *widget : order) {
        widget->setFocusPolicy(Qt::StrongFocus);
    }
}
