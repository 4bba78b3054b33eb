#include "fitting_form.h"

#include "ui_mainwindow.h"

#include <QLabel>
#include <QMainWindow>
#include <QScrollArea>
#include <QSlider>

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

    showValue(ui.backlight_slider, "label_brightness_value");
    showValue(ui.text_bg_alpha_slider, "label_text_bg_alpha_value");
    setTabOrder(ui);
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
