// Expected layout of the main window's form, as a table, and a checker that compares a built
// window against it.
//
// checkForm() walks the widget tree of a window whose form has been set up (a bare QMainWindow
// after Ui::MainWindow::setupUi, or the real MainWindow) and returns one readable line per
// difference; an empty result means the form matches. It also checks the state the form starts
// in (values, unchecked radio buttons, no style sheets, disabled firmware widgets). The
// registration prefix items are not part of the form (the window's constructor adds them), so the
// combo box items are not checked here. Geometry is checked as set up, before the window is shown.
#ifndef TESTS_FORM_TABLE_H
#define TESTS_FORM_TABLE_H

#include <algorithm>

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QTextEdit>
#include <QWidget>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <QScrollArea>

#include "form_binder.h"

namespace form_table {

// Font point sizes: the form font, the small font, and "keeps the application font".
inline constexpr int kFormFont = 12;
inline constexpr int kSmallFont = 10;
inline constexpr int kAppFont = -1;

// Label alignments. kDefaultAlign stands for "Qt's default", read from a fresh QLabel.
inline constexpr int kDefaultAlign = -1;
inline constexpr int kRightAligned = static_cast<int>(Qt::AlignRight) |
                                     static_cast<int>(Qt::AlignTrailing) |
                                     static_cast<int>(Qt::AlignVCenter);
inline constexpr int kLeftAligned = static_cast<int>(Qt::AlignLeft) |
                                    static_cast<int>(Qt::AlignLeading) |
                                    static_cast<int>(Qt::AlignVCenter);

struct ExpectedWidget {
    const char *name = nullptr;
    // metaObject()->className(); for the window itself, a class it must inherit.
    const char *type = nullptr;
    // objectName of parentWidget(); nullptr for the window. For a tab page, the tab widget.
    const char *parent = nullptr;

    // Geometry relative to the parent; width < 0 when a layout places the widget.
    int x = 0;
    int y = 0;
    int width = -1;
    int height = -1;

    // Layout that places the widget: grid cell (row, column), or index (row) in a box layout.
    const char *layout = nullptr;
    int row = -1;
    int column = -1;

    // Layout owned by this widget (a container); nullptr when it has none.
    const char *ownLayout = nullptr;
    const char *ownLayoutType = nullptr;
    int ownLayoutCount = 0;

    int pointSize = kAppFont;
    // Label or button text, window title or tab title; nullptr when the widget has no text.
    const char *text = nullptr;
    const char *toolTip = "";
    int alignment = kDefaultAlign; // labels only
    bool enabled = true;

    // Spin boxes, sliders and the progress bar.
    bool hasRange = false;
    double minimum = 0.0;
    double maximum = 0.0;
    double singleStep = 0.0; // < 0: not checked
    double value = 0.0;
    int decimals = -1; // double spin boxes

    int hPolicy = -1; // QSizePolicy::Policy, -1: not checked
    int vPolicy = -1;
    int frameShape = -1; // QFrame::Shape, -1: not checked
    int frameShadow = -1;
    int orientation = 0; // sliders: Qt::Orientation
    const char *placeholder = nullptr;
    int lineWrapMode = -1;      // QTextEdit::LineWrapMode or QPlainTextEdit's
    bool scrollBarsOff = false; // both scroll bar policies Qt::ScrollBarAlwaysOff
    int sizeAdjustPolicy = -1;  // QComboBox::SizeAdjustPolicy
    int tabIndex = -1;          // pages of a tab widget
    int currentIndex = -1;      // tab widget

    constexpr ExpectedWidget at(int px, int py, int w, int h) const {
        ExpectedWidget e = *this;
        e.x = px;
        e.y = py;
        e.width = w;
        e.height = h;
        return e;
    }
    constexpr ExpectedWidget in(const char *l, int r, int c = -1) const {
        ExpectedWidget e = *this;
        e.layout = l;
        e.row = r;
        e.column = c;
        return e;
    }
    constexpr ExpectedWidget holds(const char *l, const char *type, int count) const {
        ExpectedWidget e = *this;
        e.ownLayout = l;
        e.ownLayoutType = type;
        e.ownLayoutCount = count;
        return e;
    }
    constexpr ExpectedWidget font(int points) const {
        ExpectedWidget e = *this;
        e.pointSize = points;
        return e;
    }
    constexpr ExpectedWidget withText(const char *t) const {
        ExpectedWidget e = *this;
        e.text = t;
        return e;
    }
    constexpr ExpectedWidget tip(const char *t) const {
        ExpectedWidget e = *this;
        e.toolTip = t;
        return e;
    }
    constexpr ExpectedWidget align(int a) const {
        ExpectedWidget e = *this;
        e.alignment = a;
        return e;
    }
    constexpr ExpectedWidget disabled() const {
        ExpectedWidget e = *this;
        e.enabled = false;
        return e;
    }
    constexpr ExpectedWidget range(double lo, double hi, double step, double v) const {
        ExpectedWidget e = *this;
        e.hasRange = true;
        e.minimum = lo;
        e.maximum = hi;
        e.singleStep = step;
        e.value = v;
        return e;
    }
    constexpr ExpectedWidget withDecimals(int d) const {
        ExpectedWidget e = *this;
        e.decimals = d;
        return e;
    }
    constexpr ExpectedWidget policy(QSizePolicy::Policy h, QSizePolicy::Policy v) const {
        ExpectedWidget e = *this;
        e.hPolicy = static_cast<int>(h);
        e.vPolicy = static_cast<int>(v);
        return e;
    }
    constexpr ExpectedWidget frame(QFrame::Shape shape, QFrame::Shadow shadow) const {
        ExpectedWidget e = *this;
        e.frameShape = static_cast<int>(shape);
        e.frameShadow = static_cast<int>(shadow);
        return e;
    }
    constexpr ExpectedWidget oriented(Qt::Orientation o) const {
        ExpectedWidget e = *this;
        e.orientation = static_cast<int>(o);
        return e;
    }
    constexpr ExpectedWidget placeholderText(const char *t) const {
        ExpectedWidget e = *this;
        e.placeholder = t;
        return e;
    }
    constexpr ExpectedWidget wrap(QTextEdit::LineWrapMode m) const {
        ExpectedWidget e = *this;
        e.lineWrapMode = static_cast<int>(m);
        return e;
    }
    constexpr ExpectedWidget wrap(QPlainTextEdit::LineWrapMode m) const {
        ExpectedWidget e = *this;
        e.lineWrapMode = static_cast<int>(m);
        return e;
    }
    constexpr ExpectedWidget noScrollBars() const {
        ExpectedWidget e = *this;
        e.scrollBarsOff = true;
        return e;
    }
    constexpr ExpectedWidget adjust(QComboBox::SizeAdjustPolicy p) const {
        ExpectedWidget e = *this;
        e.sizeAdjustPolicy = static_cast<int>(p);
        return e;
    }
    constexpr ExpectedWidget page(int index, const char *title) const {
        ExpectedWidget e = *this;
        e.tabIndex = index;
        e.text = title;
        return e;
    }
    constexpr ExpectedWidget current(int index) const {
        ExpectedWidget e = *this;
        e.currentIndex = index;
        return e;
    }
};

// Row builders for the kinds of widget the form is made of.
constexpr ExpectedWidget widget(const char *name, const char *type, const char *parent) {
    ExpectedWidget e;
    e.name = name;
    e.type = type;
    e.parent = parent;
    return e;
}
// Every label carries the form font.
constexpr ExpectedWidget label(const char *name, const char *parent, const char *text) {
    return widget(name, "QLabel", parent).font(kFormFont).withText(text);
}
// Unit radio buttons: form font, no text.
constexpr ExpectedWidget radio(const char *name, const char *parent) {
    return widget(name, "QRadioButton", parent).font(kFormFont).withText("");
}
// V-speed spin boxes: form font, 0 to 255 in steps of 1, value 0.
constexpr ExpectedWidget speedBox(const char *name) {
    return widget(name, "QSpinBox", "gridLayoutWidget").font(kFormFont).range(0, 255, 1, 0);
}
// Voltage and attitude spin boxes: application font, one decimal, steps of 0.1.
constexpr ExpectedWidget decimalBox(const char *name, const char *parent, double lo, double hi,
                                    double v) {
    return widget(name, "QDoubleSpinBox", parent).range(lo, hi, 0.1, v).withDecimals(1);
}
// Colour buttons: application font, no text.
constexpr ExpectedWidget colourButton(const char *name, int row) {
    return widget(name, "QPushButton", "layoutWidget").in("colors_layout", row).withText("");
}
constexpr ExpectedWidget colourLabel(const char *name, int row, const char *text) {
    return label(name, "layoutWidget_3", text).in("colors_label_layout", row).align(kRightAligned);
}
constexpr ExpectedWidget separator(const char *name, int y) {
    return widget(name, "QFrame", "tab").at(30, y, 131, 20).frame(QFrame::HLine, QFrame::Sunken);
}

inline constexpr const char *kTipVmin = "Minimum airspeed that will be displayed";
inline constexpr const char *kTipVs0 =
    "<html><head/><body><p><span style=\" font-weight:700;\">Dirty stall speed</span> (Bottom of "
    "white arc)</p><p>Stall speed or minimum flight speed in landing "
    "configuration</p></body></html>";
inline constexpr const char *kTipVs1 =
    "<html><head/><body><p><span style=\" font-weight:700;\">Clean stall speed</span> (Bottom of "
    "green arc)</p><p>Stall speed or minimum steady flight speed for which the aircraft is still "
    "controllable in a specific configuration</p></body></html>";
inline constexpr const char *kTipVfe =
    "<html><head/><body><p><span style=\" font-weight:700;\">Maximum flap extension speed "
    "</span>(Top of white arc)</p></body></html>";
inline constexpr const char *kTipVn0 =
    "<html><head/><body><p><span style=\" font-weight:700;\">Maximum structural cruising speed "
    "</span>(Top of green arc)</p><p>Maximum structural cruising speed or maximum speed for normal "
    "operations.</p></body></html>";
inline constexpr const char *kTipVne =
    "<html><head/><body><p><span style=\" font-weight:700;\">Never exceed speed</span> (Bottom of "
    "red arc)</p></body></html>";
inline constexpr const char *kTipVref =
    "<html><head/><body><p><span style=\" font-weight:700;\">Approach speed</span> (Magenta "
    "indicator)</p><p>Landing reference speed or threshold crossing speed</p></body></html>";
inline constexpr const char *kTipVlo =
    "<html><head/><body><p><span style=\" font-weight:700;\">Gear operating speed</span> "
    "(**placeholder**)</p><p>Maximum landing gear operating speed</p></body></html>";

// The whole form, window first.
inline const ExpectedWidget kExpectedForm[] = {
    // Window level.
    widget("MainWindow", "QMainWindow", nullptr).at(0, 0, 860, 598).withText("RK_62 EFIS Config"),
    widget("windowBody", "QWidget", "MainWindow").holds("windowBodyLayout", "QVBoxLayout", 3),
    widget("label_formValuesNote", "QLabel", "windowBody"),
    widget("formScrollArea", "QScrollArea", "windowBody"),
    widget("settingsButtonBar", "QWidget", "windowBody")
        .holds("settingsButtonBarLayout", "QHBoxLayout", 3),
    widget("centralwidget", "QWidget", "qt_scrollarea_viewport"),
    widget("tabWidget", "QTabWidget", "centralwidget").at(10, 10, 841, 541).current(0),
    widget("menubar", "QMenuBar", "MainWindow").at(0, 0, 860, 23),
    widget("statusbar", "QStatusBar", "MainWindow"),
    widget("logPanel", "LogPanel", "MainWindow"),
    widget("displayPreviewDock", "QDockWidget", "MainWindow"),
    widget("tab", "QWidget", "tabWidget").page(0, "Settings"),
    widget("tab_2", "QWidget", "tabWidget").page(1, "Firmware Update"),

    // Settings tab: speed unit.
    widget("gridLayoutWidget_2", "QWidget", "tab")
        .at(30, 60, 149, 136)
        .holds("speed_layout", "QGridLayout", 6),
    label("label_mph", "gridLayoutWidget_2", "Mph").in("speed_layout", 0, 0).align(kRightAligned),
    radio("radioButton_mph", "gridLayoutWidget_2").in("speed_layout", 0, 1),
    label("label_kph", "gridLayoutWidget_2", "Kph").in("speed_layout", 1, 0).align(kRightAligned),
    radio("radioButton_kph", "gridLayoutWidget_2").in("speed_layout", 1, 1),
    label("label_knots", "gridLayoutWidget_2", "Knots")
        .in("speed_layout", 2, 0)
        .align(kRightAligned),
    radio("radioButton_knots", "gridLayoutWidget_2").in("speed_layout", 2, 1),

    // Altitude unit.
    widget("gridLayoutWidget_3", "QWidget", "tab")
        .at(30, 200, 131, 71)
        .holds("alt_layout", "QGridLayout", 4),
    label("label_feet", "gridLayoutWidget_3", "Feet").in("alt_layout", 0, 0).align(kRightAligned),
    radio("radioButton_feet", "gridLayoutWidget_3").in("alt_layout", 0, 1),
    label("label_meter", "gridLayoutWidget_3", "Meter").in("alt_layout", 1, 0).align(kRightAligned),
    radio("radioButton_meter", "gridLayoutWidget_3").in("alt_layout", 1, 1),

    // Pressure unit.
    widget("gridLayoutWidget_4", "QWidget", "tab")
        .at(30, 310, 131, 71)
        .holds("pressure_layout", "QGridLayout", 4),
    label("label_inhg", "gridLayoutWidget_4", "InHg")
        .in("pressure_layout", 0, 0)
        .align(kRightAligned),
    radio("radioButton_inhg", "gridLayoutWidget_4").in("pressure_layout", 0, 1),
    label("label_mbar", "gridLayoutWidget_4", "Mbar")
        .in("pressure_layout", 1, 0)
        .align(kRightAligned),
    radio("radioButton_mbar", "gridLayoutWidget_4").in("pressure_layout", 1, 1),

    // Temperature unit.
    widget("gridLayoutWidget_5", "QWidget", "tab")
        .at(30, 420, 131, 71)
        .holds("temp_unit_layout", "QGridLayout", 4),
    label("label_degF", "gridLayoutWidget_5", "degF")
        .in("temp_unit_layout", 0, 0)
        .align(kRightAligned),
    radio("radioButton_degF", "gridLayoutWidget_5").in("temp_unit_layout", 0, 1),
    label("label_degC", "gridLayoutWidget_5", "degC")
        .in("temp_unit_layout", 1, 0)
        .align(kRightAligned),
    radio("radioButton_degC", "gridLayoutWidget_5").in("temp_unit_layout", 1, 1),

    // Separators between the unit groups.
    separator("line", 170),
    separator("line_2", 280),
    separator("line_3", 390),

    // V-speeds: labels keep Qt's default alignment and carry the tool tips.
    widget("gridLayoutWidget", "QWidget", "tab")
        .at(205, 60, 155, 320)
        .holds("v_speed_layout", "QGridLayout", 16),
    label("label_vmin", "gridLayoutWidget", "Vmin").in("v_speed_layout", 0, 0).tip(kTipVmin),
    speedBox("spinBox_vmin").in("v_speed_layout", 0, 1),
    label("label_vs0", "gridLayoutWidget", "Vs0").in("v_speed_layout", 1, 0).tip(kTipVs0),
    speedBox("spinBox_vs0").in("v_speed_layout", 1, 1),
    label("label_vs1", "gridLayoutWidget", "Vs1").in("v_speed_layout", 2, 0).tip(kTipVs1),
    speedBox("spinBox_vs1").in("v_speed_layout", 2, 1),
    label("label_vfe", "gridLayoutWidget", "Vfe").in("v_speed_layout", 3, 0).tip(kTipVfe),
    speedBox("spinBox_vfe").in("v_speed_layout", 3, 1),
    label("label_vn0", "gridLayoutWidget", "Vn0").in("v_speed_layout", 4, 0).tip(kTipVn0),
    speedBox("spinBox_vn0").in("v_speed_layout", 4, 1),
    label("label_vne", "gridLayoutWidget", "Vne").in("v_speed_layout", 5, 0).tip(kTipVne),
    speedBox("spinBox_vne").in("v_speed_layout", 5, 1),
    label("label_vref", "gridLayoutWidget", "Vref").in("v_speed_layout", 6, 0).tip(kTipVref),
    speedBox("spinBox_vref").in("v_speed_layout", 6, 1),
    label("label_vlo", "gridLayoutWidget", "Vlo").in("v_speed_layout", 7, 0).tip(kTipVlo),
    speedBox("spinBox_vlo").in("v_speed_layout", 7, 1),

    // Voltage thresholds: only the minimum alert box has a fixed size policy, the others keep
    // Qt's default for spin boxes (minimum horizontally, fixed vertically).
    widget("gridLayoutWidget_6", "QWidget", "tab")
        .at(600, 60, 201, 128)
        .holds("volt_layout", "QGridLayout", 8),
    label("label_MinVolt_alert", "gridLayoutWidget_6", "Min Volt Alert")
        .in("volt_layout", 0, 0)
        .align(kRightAligned),
    decimalBox("min_volt_alert_value", "gridLayoutWidget_6", 5.0, 65.0, 11.5)
        .in("volt_layout", 0, 1)
        .policy(QSizePolicy::Fixed, QSizePolicy::Fixed),
    label("label_MinVolt_warn", "gridLayoutWidget_6", "Min Volt Warning")
        .in("volt_layout", 1, 0)
        .align(kRightAligned),
    decimalBox("min_volt_warn_value", "gridLayoutWidget_6", 5.0, 65.0, 11.5)
        .in("volt_layout", 1, 1)
        .policy(QSizePolicy::Minimum, QSizePolicy::Fixed),
    label("label_MaxVolt_warn", "gridLayoutWidget_6", "Max Volt Warning")
        .in("volt_layout", 2, 0)
        .align(kRightAligned),
    decimalBox("max_volt_warn_value", "gridLayoutWidget_6", 5.0, 65.0, 15.5)
        .in("volt_layout", 2, 1)
        .policy(QSizePolicy::Minimum, QSizePolicy::Fixed),
    label("label_MaxVolt_alarm", "gridLayoutWidget_6", "Max Volt Alert")
        .in("volt_layout", 3, 0)
        .align(kRightAligned),
    decimalBox("max_volt_alert_value", "gridLayoutWidget_6", 5.0, 65.0, 15.5)
        .in("volt_layout", 3, 1)
        .policy(QSizePolicy::Minimum, QSizePolicy::Fixed),

    // Attitude corrections.
    widget("gridLayoutWidget_7", "QWidget", "tab")
        .at(600, 220, 201, 71)
        .holds("ang_corr_layout", "QGridLayout", 4),
    label("label_roll_corr", "gridLayoutWidget_7", "Roll Correction")
        .in("ang_corr_layout", 0, 0)
        .align(kRightAligned),
    decimalBox("roll_corr_spinbox", "gridLayoutWidget_7", -90.0, 90.0, 0.0)
        .in("ang_corr_layout", 0, 1),
    label("label_pitch_corr", "gridLayoutWidget_7", "Pitch Correction")
        .in("ang_corr_layout", 1, 0)
        .align(kRightAligned),
    decimalBox("pitch_corr_spinbox", "gridLayoutWidget_7", -90.0, 90.0, 0.0)
        .in("ang_corr_layout", 1, 1),

    // Colours: label column and button column.
    widget("layoutWidget_3", "QWidget", "tab")
        .at(363, 60, 152, 321)
        .holds("colors_label_layout", "QVBoxLayout", 10),
    colourLabel("sky_top_label", 0, "Sky Upper"),
    colourLabel("sky_bottom_label", 1, "Sky Lower"),
    colourLabel("ground_top_label", 2, "Ground Upper"),
    colourLabel("ground_bottom_label", 3, "Ground Lower"),
    colourLabel("approach_indi_label", 4, "Approach Indicator"),
    colourLabel("gear_label", 5, "Gear Indicator"),
    colourLabel("airplane_label", 6, "Airplane"),
    colourLabel("green_label", 7, "Green Arc"),
    colourLabel("yellow_label", 8, "Yellow Arc"),
    colourLabel("red_label", 9, "Red Arc"),
    widget("layoutWidget", "QWidget", "tab")
        .at(519, 60, 78, 316)
        .holds("colors_layout", "QVBoxLayout", 10),
    colourButton("color_picker_sky0", 0),
    colourButton("color_picker_sky1", 1),
    colourButton("color_picker_ground0", 2),
    colourButton("color_picker_ground1", 3),
    colourButton("color_picker_app_indi", 4),
    colourButton("color_picker_gear", 5),
    colourButton("color_picker_airplane", 6),
    colourButton("color_picker_green", 7),
    colourButton("color_picker_yellow", 8),
    colourButton("color_picker_red", 9),

    // Registration.
    widget("comboBox_reg_prefix", "QComboBox", "tab")
        .at(30, 10, 71, 30)
        .font(kFormFont)
        .adjust(QComboBox::AdjustToContentsOnFirstShow),
    widget("text_registration_num", "QPlainTextEdit", "tab")
        .at(110, 10, 104, 31)
        .font(kFormFont)
        .wrap(QPlainTextEdit::NoWrap)
        .tip("The registration after its prefix: letters (in capitals), digits and signs of "
             "Western European text, at most 11 characters with the prefix")
        .noScrollBars()
        .policy(QSizePolicy::Expanding, QSizePolicy::Fixed),

    // Brightness and transparency.
    label("label_brightness", "tab", "Display Brightness")
        .at(620, 320, 161, 19)
        .align(kLeftAligned),
    widget("backlight_slider", "QSlider", "tab")
        .at(620, 350, 160, 16)
        .oriented(Qt::Horizontal)
        .range(0, 21, -1, 10),
    // The sliders' values beside them.
    widget("label_brightness_value", "QLabel", "tab").at(785, 346, 36, 24).withText("10"),
    widget("label_text_bg_alpha_value", "QLabel", "tab").at(785, 406, 36, 24).withText("150"),
    label("label_text_bg_alpha", "tab", "Text Background Transparency")
        .at(580, 380, 245, 19)
        .align(kLeftAligned),
    widget("text_bg_alpha_slider", "QSlider", "tab")
        .at(620, 410, 160, 16)
        .oriented(Qt::Horizontal)
        .range(0, 254, -1, 150),

    // Action buttons, left to right.
    // Kept in view below the scrolling form.
    widget("layoutWidget_2", "QWidget", "settingsButtonBar").holds("btn_layout", "QHBoxLayout", 3),
    widget("pushButton_load", "QPushButton", "layoutWidget_2")
        .in("btn_layout", 0)
        .font(kSmallFont)
        .withText("Load settings from EFIS"),
    widget("pushButton_update", "QPushButton", "layoutWidget_2")
        .in("btn_layout", 1)
        .font(kSmallFont)
        .withText("Update Settings on EFIS"),
    widget("pushButton_save", "QPushButton", "layoutWidget_2")
        .in("btn_layout", 2)
        .font(kSmallFont)
        .withText("Save settings to EFIS"),

    // Firmware tab.
    widget("frame", "QFrame", "tab_2")
        .at(190, 90, 461, 331)
        .frame(QFrame::StyledPanel, QFrame::Raised),
    widget("pushButton_browse", "QPushButton", "frame")
        .at(146, 20, 169, 31)
        .font(kFormFont)
        .withText("Select Firmware File"),
    widget("text_firmware_file", "QTextEdit", "frame")
        .at(20, 60, 421, 41)
        .font(kSmallFont)
        .placeholderText("*.bin")
        .wrap(QTextEdit::NoWrap)
        .policy(QSizePolicy::Expanding, QSizePolicy::Fixed)
        .disabled(),
    widget("label_firmware_version", "QLabel", "frame").at(20, 104, 421, 32).font(kSmallFont),
    widget("pushButton_start_update", "QPushButton", "frame")
        .at(146, 140, 169, 31)
        .font(kFormFont)
        .withText("Start Update")
        .disabled(),
    widget("progressBar_firmware", "QProgressBar", "frame")
        .at(10, 180, 441, 23)
        .range(0, 100, -1, 0)
        .disabled(),
    widget("pushButton_cancel_update", "QPushButton", "frame")
        .at(146, 214, 169, 31)
        .font(kFormFont)
        .withText("Cancel Update")
        .disabled(),
    widget("pushButton_reboot", "QPushButton", "frame")
        .at(146, 280, 169, 31)
        .font(kFormFont)
        .withText("Reboot EFIS"),
};

namespace detail {

inline std::string quoted(const QString &s) {
    return "\"" + s.toStdString() + "\"";
}
inline std::string quoted(const char *s) {
    return "\"" + std::string(s) + "\"";
}
inline std::string num(double v) {
    return QString::number(v, 'g', 10).toStdString();
}
inline bool same(double a, double b) {
    return std::fabs(a - b) < 1e-9;
}

// Text a widget shows of its own, as listed in the table.
inline bool widgetText(const QWidget *w, QString &out) {
    if (const auto *l = qobject_cast<const QLabel *>(w)) {
        out = l->text();
        return true;
    }
    if (const auto *b = qobject_cast<const QAbstractButton *>(w)) {
        out = b->text();
        return true;
    }
    return false;
}

// Range widgets report minimum, maximum, single step, value and decimals.
struct RangeState {
    double minimum = 0.0;
    double maximum = 0.0;
    double step = 0.0;
    double value = 0.0;
    int decimals = -1;
};
inline bool rangeState(const QWidget *w, RangeState &out) {
    if (const auto *s = qobject_cast<const QSpinBox *>(w)) {
        out = {double(s->minimum()), double(s->maximum()), double(s->singleStep()),
               double(s->value()), -1};
        return true;
    }
    if (const auto *d = qobject_cast<const QDoubleSpinBox *>(w)) {
        out = {d->minimum(), d->maximum(), d->singleStep(), d->value(), d->decimals()};
        return true;
    }
    if (const auto *sl = qobject_cast<const QSlider *>(w)) {
        out = {double(sl->minimum()), double(sl->maximum()), double(sl->singleStep()),
               double(sl->value()), -1};
        return true;
    }
    if (const auto *p = qobject_cast<const QProgressBar *>(w)) {
        out = {double(p->minimum()), double(p->maximum()), 0.0, double(p->value()), -1};
        return true;
    }
    return false;
}

inline std::string policyName(int p) {
    switch (p) {
    case QSizePolicy::Fixed:
        return "Fixed";
    case QSizePolicy::Minimum:
        return "Minimum";
    case QSizePolicy::Maximum:
        return "Maximum";
    case QSizePolicy::Preferred:
        return "Preferred";
    case QSizePolicy::MinimumExpanding:
        return "MinimumExpanding";
    case QSizePolicy::Expanding:
        return "Expanding";
    case QSizePolicy::Ignored:
        return "Ignored";
    default:
        return std::to_string(p);
    }
}

inline const char *alignmentName(int a) {
    if (a == kRightAligned) {
        return "right-aligned";
    }
    if (a == kLeftAligned) {
        return "left-aligned";
    }
    return "other";
}

inline void checkRow(QMainWindow *window, const ExpectedWidget &e, std::vector<std::string> &out) {
    const std::string n = e.name;
    auto report = [&](const std::string &what) { out.push_back(n + ": " + what); };

    QWidget *w = nullptr;
    if (e.parent == nullptr) {
        w = window;
        if (window->objectName() != QLatin1String(e.name)) {
            report("window object name is " + quoted(window->objectName()));
        }
        if (!window->inherits(e.type)) {
            report(std::string("window does not inherit ") + e.type);
        }
    } else {
        const QList<QWidget *> found = window->findChildren<QWidget *>(QString::fromLatin1(e.name));
        if (found.isEmpty()) {
            report("missing");
            return;
        }
        if (found.size() > 1) {
            report(std::to_string(found.size()) + " widgets have this name");
        }
        w = found.first();
        if (std::strcmp(w->metaObject()->className(), e.type) != 0) {
            report(std::string("type is ") + w->metaObject()->className() + ", expected " + e.type);
        }
    }

    // Parent, or place in the tab widget.
    if (e.tabIndex >= 0) {
        auto *tabs = window->findChild<QTabWidget *>(QString::fromLatin1(e.parent));
        if (tabs == nullptr) {
            report(std::string("tab widget ") + e.parent + " not found");
        } else {
            if (tabs->indexOf(w) != e.tabIndex) {
                report("is tab " + std::to_string(tabs->indexOf(w)) + ", expected tab " +
                       std::to_string(e.tabIndex));
            } else if (tabs->tabText(e.tabIndex) != QString::fromUtf8(e.text)) {
                report("tab title is " + quoted(tabs->tabText(e.tabIndex)) + ", expected " +
                       quoted(e.text));
            }
        }
    } else if (e.parent != nullptr) {
        QWidget *p = w->parentWidget();
        if (p == nullptr || p->objectName() != QLatin1String(e.parent)) {
            report("parent is " + (p ? quoted(p->objectName()) : std::string("none")) +
                   ", expected " + quoted(e.parent));
        }
    }

    // Geometry (the window: its size only).
    if (e.width >= 0) {
        const QRect g = w->geometry();
        if (e.parent == nullptr) {
            // The display preview docked beside the settings widens the window by its room.
            int preview_room = 0;
            const auto *dock = window->findChild<QDockWidget *>("displayPreviewDock");
            if (dock != nullptr && !dock->isFloating()) {
                preview_room = dock->sizeHint().width() +
                               window->style()->pixelMetric(QStyle::PM_DockWidgetSeparatorExtent,
                                                            nullptr, window);
            }
            // Never larger than the screen's free area.
            const QSize room = window->screen()->availableGeometry().size();
            if (w->width() != std::min(e.width + preview_room, room.width()) ||
                w->height() != std::min(e.height, room.height())) {
                report("size is " + std::to_string(w->width()) + "x" + std::to_string(w->height()) +
                       ", expected " + std::to_string(e.width) + "x" + std::to_string(e.height));
            }
        } else if (g != QRect(e.x, e.y, e.width, e.height)) {
            report("geometry is " + std::to_string(g.x()) + "," + std::to_string(g.y()) + " " +
                   std::to_string(g.width()) + "x" + std::to_string(g.height()) + ", expected " +
                   std::to_string(e.x) + "," + std::to_string(e.y) + " " + std::to_string(e.width) +
                   "x" + std::to_string(e.height));
        }
    }

    // Place in its layout.
    if (e.layout != nullptr) {
        auto *l = window->findChild<QLayout *>(QString::fromLatin1(e.layout));
        const int index = l ? l->indexOf(w) : -1;
        if (index < 0) {
            report(std::string("not in layout ") + e.layout);
        } else if (auto *grid = qobject_cast<QGridLayout *>(l)) {
            int r = 0, c = 0, rs = 0, cs = 0;
            grid->getItemPosition(index, &r, &c, &rs, &cs);
            if (r != e.row || c != e.column || rs != 1 || cs != 1) {
                report("grid cell is " + std::to_string(r) + "," + std::to_string(c) + " (span " +
                       std::to_string(rs) + "x" + std::to_string(cs) + "), expected " +
                       std::to_string(e.row) + "," + std::to_string(e.column));
            }
        } else if (index != e.row) {
            report("layout index is " + std::to_string(index) + ", expected " +
                   std::to_string(e.row));
        }
    }

    // Own layout (containers); tab pages, the central widget and the frame have none.
    if (e.parent != nullptr) {
        QLayout *own = w->layout();
        if (e.ownLayout == nullptr) {
            bool isContainer = e.tabIndex >= 0;
            for (const ExpectedWidget &other : kExpectedForm) {
                if (other.parent != nullptr && std::strcmp(other.parent, e.name) == 0 &&
                    other.tabIndex < 0) {
                    isContainer = true;
                }
            }
            if (isContainer && own != nullptr) {
                report("has layout " + quoted(own->objectName()) + ", expected none");
            }
        } else {
            const QList<QLayout *> named =
                window->findChildren<QLayout *>(QString::fromLatin1(e.ownLayout));
            if (own == nullptr) {
                report(std::string("has no layout, expected ") + e.ownLayout);
            } else {
                if (own->objectName() != QLatin1String(e.ownLayout)) {
                    report("layout is named " + quoted(own->objectName()) + ", expected " +
                           quoted(e.ownLayout));
                }
                if (named.size() != 1) {
                    report(std::to_string(named.size()) + " layouts are named " +
                           quoted(e.ownLayout));
                }
                if (std::strcmp(own->metaObject()->className(), e.ownLayoutType) != 0) {
                    report(std::string("layout type is ") + own->metaObject()->className() +
                           ", expected " + e.ownLayoutType);
                }
                const QMargins m = own->contentsMargins();
                if (m != QMargins(0, 0, 0, 0)) {
                    report("layout margins are " + std::to_string(m.left()) + "," +
                           std::to_string(m.top()) + "," + std::to_string(m.right()) + "," +
                           std::to_string(m.bottom()) + ", expected 0,0,0,0");
                }
                if (own->count() != e.ownLayoutCount) {
                    report("layout holds " + std::to_string(own->count()) + " items, expected " +
                           std::to_string(e.ownLayoutCount));
                }
            }
        }
    }

    // Font.
    const QFont appFont = QApplication::font(w);
    if (e.pointSize == kAppFont) {
        if (w->testAttribute(Qt::WA_SetFont) || w->font().pointSize() != appFont.pointSize()) {
            report("font is " + std::to_string(w->font().pointSize()) + " pt" +
                   (w->testAttribute(Qt::WA_SetFont) ? " set on the widget" : "") +
                   ", expected the application font (" + std::to_string(appFont.pointSize()) +
                   " pt)");
        }
    } else {
        if (!w->testAttribute(Qt::WA_SetFont) || w->font().pointSize() != e.pointSize) {
            report("font is " + std::to_string(w->font().pointSize()) + " pt" +
                   (w->testAttribute(Qt::WA_SetFont) ? "" : " (not set)") + ", expected " +
                   std::to_string(e.pointSize) + " pt");
        }
        if (w->font().family() != appFont.family()) {
            report("font family is " + quoted(w->font().family()) + ", expected " +
                   quoted(appFont.family()));
        }
        if (w->font().bold() != appFont.bold() || w->font().italic() != appFont.italic()) {
            report("font is bold or italic, expected the application font's style");
        }
    }

    // Texts.
    if (e.parent == nullptr) {
        if (w->windowTitle() != QString::fromUtf8(e.text)) {
            report("title is " + quoted(w->windowTitle()) + ", expected " + quoted(e.text));
        }
    } else if (e.tabIndex < 0) {
        QString actual;
        const bool hasText = widgetText(w, actual);
        if (e.text != nullptr && !hasText) {
            report("has no text property");
        } else if (e.text != nullptr && actual != QString::fromUtf8(e.text)) {
            report("text is " + quoted(actual) + ", expected " + quoted(e.text));
        }
    }
    if (w->toolTip() != QString::fromUtf8(e.toolTip)) {
        report("tool tip is " + quoted(w->toolTip()) + ", expected " + quoted(e.toolTip));
    }
    if (const auto *l = qobject_cast<const QLabel *>(w)) {
        const int expected =
            e.alignment == kDefaultAlign ? static_cast<int>(QLabel().alignment()) : e.alignment;
        const int actual = static_cast<int>(l->alignment());
        if (actual != expected) {
            report("alignment is 0x" + QString::number(actual, 16).toStdString() + " (" +
                   alignmentName(actual) + "), expected 0x" +
                   QString::number(expected, 16).toStdString() + " (" +
                   (e.alignment == kDefaultAlign ? "Qt default" : alignmentName(expected)) + ")");
        }
    }
    if (e.placeholder != nullptr) {
        const auto *t = qobject_cast<const QTextEdit *>(w);
        if (t == nullptr || t->placeholderText() != QString::fromUtf8(e.placeholder)) {
            report("placeholder text is " + (t ? quoted(t->placeholderText()) : std::string("?")) +
                   ", expected " + quoted(e.placeholder));
        }
    }

    // Enabled state (the firmware widgets change it later).
    if (w->isEnabled() != e.enabled) {
        report(std::string("is ") + (w->isEnabled() ? "enabled" : "disabled") + ", expected " +
               (e.enabled ? "enabled" : "disabled"));
    }

    // Ranges, steps, decimals and values.
    RangeState r;
    if (e.hasRange) {
        if (!rangeState(w, r)) {
            report("has no range");
        } else {
            if (!same(r.minimum, e.minimum) || !same(r.maximum, e.maximum)) {
                report("range is " + num(r.minimum) + " to " + num(r.maximum) + ", expected " +
                       num(e.minimum) + " to " + num(e.maximum));
            }
            if (e.singleStep > 0 && !same(r.step, e.singleStep)) {
                report("single step is " + num(r.step) + ", expected " + num(e.singleStep));
            }
            if (r.decimals != e.decimals) {
                report("decimals are " + std::to_string(r.decimals) + ", expected " +
                       std::to_string(e.decimals));
            }
            if (!same(r.value, e.value)) {
                report("value is " + num(r.value) + ", expected " + num(e.value));
            }
        }
    } else if (rangeState(w, r)) {
        report("has a range the form does not list");
    }

    // Size policies.
    if (e.hPolicy >= 0) {
        const QSizePolicy sp = w->sizePolicy();
        if (static_cast<int>(sp.horizontalPolicy()) != e.hPolicy ||
            static_cast<int>(sp.verticalPolicy()) != e.vPolicy) {
            report("size policy is " + policyName(sp.horizontalPolicy()) + "/" +
                   policyName(sp.verticalPolicy()) + ", expected " + policyName(e.hPolicy) + "/" +
                   policyName(e.vPolicy));
        }
    }

    // Frames.
    if (e.frameShape >= 0) {
        const auto *f = qobject_cast<const QFrame *>(w);
        if (f == nullptr || static_cast<int>(f->frameShape()) != e.frameShape ||
            static_cast<int>(f->frameShadow()) != e.frameShadow) {
            report("frame shape/shadow is " +
                   (f ? std::to_string(f->frameShape()) + "/" + std::to_string(f->frameShadow())
                      : std::string("?")) +
                   ", expected " + std::to_string(e.frameShape) + "/" +
                   std::to_string(e.frameShadow));
        }
    }

    // Sliders.
    if (const auto *s = qobject_cast<const QSlider *>(w)) {
        if (static_cast<int>(s->orientation()) != e.orientation) {
            report("orientation is " + std::to_string(s->orientation()) + ", expected " +
                   std::to_string(e.orientation));
        }
        if (s->invertedAppearance() || s->invertedControls()) {
            report("is inverted");
        }
    }

    // Text boxes.
    if (const auto *t = qobject_cast<const QTextEdit *>(w)) {
        if (e.lineWrapMode >= 0 && static_cast<int>(t->lineWrapMode()) != e.lineWrapMode) {
            report("line wrap mode is " + std::to_string(t->lineWrapMode()) + ", expected " +
                   std::to_string(e.lineWrapMode));
        }
        if (!t->toPlainText().isEmpty()) {
            report("holds " + quoted(t->toPlainText()) + ", expected empty");
        }
    }
    if (const auto *t = qobject_cast<const QPlainTextEdit *>(w)) {
        if (e.lineWrapMode >= 0 && static_cast<int>(t->lineWrapMode()) != e.lineWrapMode) {
            report("line wrap mode is " + std::to_string(t->lineWrapMode()) + ", expected " +
                   std::to_string(e.lineWrapMode));
        }
        if (!t->toPlainText().isEmpty()) {
            report("holds " + quoted(t->toPlainText()) + ", expected empty");
        }
    }
    if (e.scrollBarsOff) {
        const auto *a = qobject_cast<const QAbstractScrollArea *>(w);
        if (a == nullptr || a->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff ||
            a->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff) {
            report("scroll bars are not both always off");
        }
    }

    // Combo box.
    if (const auto *c = qobject_cast<const QComboBox *>(w)) {
        if (c->isEditable()) {
            report("is editable");
        }
        if (static_cast<int>(c->sizeAdjustPolicy()) != e.sizeAdjustPolicy) {
            report("size adjust policy is " + std::to_string(c->sizeAdjustPolicy()) +
                   ", expected " + std::to_string(e.sizeAdjustPolicy));
        }
    }

    // Tab widget.
    if (e.currentIndex >= 0) {
        const auto *tabs = qobject_cast<const QTabWidget *>(w);
        int pages = 0;
        for (const ExpectedWidget &other : kExpectedForm) {
            if (other.tabIndex >= 0 && std::strcmp(other.parent, e.name) == 0) {
                ++pages;
            }
        }
        if (tabs == nullptr) {
            report("is not a tab widget");
        } else {
            if (tabs->count() != pages) {
                report("has " + std::to_string(tabs->count()) + " tabs, expected " +
                       std::to_string(pages));
            }
            if (tabs->currentIndex() != e.currentIndex) {
                report("current tab is " + std::to_string(tabs->currentIndex()) + ", expected " +
                       std::to_string(e.currentIndex));
            }
        }
    }

    // Buttons: unit radio buttons start unchecked, exclude each other only through their
    // container (no button groups); no button is checkable otherwise.
    if (const auto *rb = qobject_cast<const QRadioButton *>(w)) {
        if (rb->isChecked()) {
            report("is checked, expected unchecked");
        }
        if (!rb->autoExclusive()) {
            report("is not auto-exclusive");
        }
        if (rb->group() != nullptr) {
            report("belongs to a button group");
        }
    } else if (const auto *pb = qobject_cast<const QAbstractButton *>(w)) {
        if (pb->isCheckable()) {
            report("is checkable");
        }
    }

    // No style sheet anywhere at start (colour buttons get theirs from a load), but the settings
    // tab's style of edited fields.
    const bool edited_style = std::strcmp(e.name, "tab") == 0 &&
                              w->styleSheet() == QLatin1String(form_binding::EDITED_STYLE);
    if (!w->styleSheet().isEmpty() && !edited_style) {
        report("style sheet is " + quoted(w->styleSheet()) + ", expected none");
    }

    // Containers hold no widgets besides the ones listed.
    const bool listsChildren = e.parent == nullptr || e.ownLayout != nullptr || e.tabIndex >= 0 ||
                               std::strcmp(e.type, "QFrame") == 0 ||
                               std::strcmp(e.name, "centralwidget") == 0;
    if (listsChildren) {
        for (QObject *child : w->children()) {
            auto *cw = qobject_cast<QWidget *>(child);
            if (cw == nullptr) {
                continue;
            }
            bool listed = false;
            for (const ExpectedWidget &other : kExpectedForm) {
                if (other.parent != nullptr && cw->objectName() == QLatin1String(other.name)) {
                    listed = true;
                }
            }
            if (!listed) {
                report(std::string("holds an unlisted ") + cw->metaObject()->className() + " " +
                       quoted(cw->objectName()));
            }
        }
    }
}

} // namespace detail

// Compares the window's form with kExpectedForm; returns one line per difference.
inline std::vector<std::string> checkForm(QWidget *window) {
    std::vector<std::string> out;
    auto *mw = qobject_cast<QMainWindow *>(window);
    if (mw == nullptr) {
        out.push_back("window is not a QMainWindow");
        return out;
    }
    for (const ExpectedWidget &e : kExpectedForm) {
        detail::checkRow(mw, e, out);
    }

    // The main window's own parts.
    auto nameOf = [](const QWidget *w) {
        return w ? detail::quoted(w->objectName()) : std::string("none");
    };
    // The form scrolls inside the scroll area of the window's body.
    QWidget *body = mw->centralWidget();
    auto *scroll = body == nullptr || body->objectName() != QLatin1String("windowBody")
                       ? nullptr
                       : body->findChild<QScrollArea *>("formScrollArea");
    if (scroll == nullptr || scroll->objectName() != QLatin1String("formScrollArea") ||
        scroll->widget() == nullptr ||
        scroll->widget()->objectName() != QLatin1String("centralwidget")) {
        out.push_back("MainWindow: central widget is " + nameOf(mw->centralWidget()) +
                      ", expected \"centralwidget\"");
    }
    QWidget *menu = mw->menuWidget();
    if (menu == nullptr || menu->objectName() != QLatin1String("menubar")) {
        out.push_back("MainWindow: menu bar is " + nameOf(menu) + ", expected \"menubar\"");
    } else {
        // The form's menu bar is empty; the window adds its own menus, and nothing else.
        for (const QAction *action : menu->actions()) {
            const QObject *added = action->menu();
            const QStringList own = {"menuFile", "menuEdit", "menuDevice", "menuView", "menuHelp"};
            if (added == nullptr || !own.contains(added->objectName())) {
                out.push_back("menubar: has " + detail::quoted(action->text()) +
                              ", expected only the window's own menus");
            }
        }
    }
    QStatusBar *status = mw->findChild<QStatusBar *>(QString(), Qt::FindDirectChildrenOnly);
    if (status == nullptr || status->objectName() != QLatin1String("statusbar")) {
        out.push_back("MainWindow: status bar is " + nameOf(status) + ", expected \"statusbar\"");
    }

    // Radio buttons exclude each other only through their containers.
    const QList<QButtonGroup *> groups = mw->findChildren<QButtonGroup *>();
    if (!groups.isEmpty()) {
        out.push_back("MainWindow: has " + std::to_string(groups.size()) +
                      " button groups, expected none");
    }

    return out;
}

} // namespace form_table

#endif // TESTS_FORM_TABLE_H
