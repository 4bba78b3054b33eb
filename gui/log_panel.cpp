#include "log_panel.h"

#include <QAction>
#include <QDate>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QStatusTipEvent>
#include <QStatusBar>
#include <QTextCursor>
#include <QVBoxLayout>

#include <algorithm>

#include <hidapi.h>

#include "log_capture.h"
#include "shown_text.h"

LogPanel::LogPanel(LogCapture *capture, QWidget *parent)
    : QDockWidget(tr("Log"), parent), capture_(capture), dropped_label_(new QLabel),
      view_(new QPlainTextEdit) {
    setObjectName("logPanel");
    dropped_label_->setObjectName("logDropped");
    dropped_label_->hide();
    view_->setObjectName("logView");
    view_->setReadOnly(true);
    view_->setLineWrapMode(QPlainTextEdit::NoWrap);
    view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto *content = new QWidget(this);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(dropped_label_);
    layout->addWidget(view_);
    if (capture_ == nullptr) {
        view_->setPlaceholderText(tr("No log is kept in this run."));
    } else {
        // Queued: lines can be read on the capture's thread, or inside a log call.
        connect(capture_, &LogCapture::linesAdded, this, &LogPanel::showNewLines,
                Qt::QueuedConnection);
        showNewLines();
    }
    setWidget(content);
}

namespace {

// Control characters in a line (a registration read from a unit, a file's name) are shown as
// escapes, never acted on.
QString printableLines(const std::vector<LogCapture::Line> &lines) {
    QString text;
    for (const LogCapture::Line &line : lines) {
        if (!text.isEmpty()) {
            text += QLatin1Char('\n');
        }
        text += shown_text::escapeControls(line.text);
    }
    return text;
}

QString droppedText(std::size_t dropped) {
    return dropped == 1 ? QObject::tr("1 earlier line dropped to keep the log within its bounds")
                        : QObject::tr("%1 earlier lines dropped to keep the log within its bounds")
                              .arg(static_cast<qulonglong>(dropped));
}

} // namespace

void LogPanel::showNewLines() {
    const LogCapture::Lines read = capture_->since(next_);
    // The lines the capture let go leave the view too, so that it shows exactly what is kept.
    if (read.dropped > first_) {
        const std::size_t gone = std::min(read.dropped, next_) - first_;
        if (gone >= static_cast<std::size_t>(view_->blockCount()) || gone >= next_ - first_) {
            view_->clear();
        } else if (gone > 0) {
            QTextCursor cursor(view_->document());
            cursor.movePosition(QTextCursor::Start);
            cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor,
                                static_cast<int>(gone));
            cursor.removeSelectedText();
        }
        first_ = read.dropped;
        dropped_label_->setText(droppedText(read.dropped));
        dropped_label_->show();
    }
    if (!read.lines.empty()) {
        view_->appendPlainText(printableLines(read.lines));
    }
    next_ = read.next;
}

bool LogPanel::save(const QString &path, QString *error) const {
    QSaveFile out(path);
    QByteArray text;
    if (capture_ != nullptr) {
        const LogCapture::Lines read = capture_->since(0);
        if (read.dropped > 0) {
            text = QStringLiteral("[%1]\n").arg(droppedText(read.dropped)).toLocal8Bit();
        }
        QString lines = printableLines(read.lines);
        if (!read.lines.empty()) {
            lines += QLatin1Char('\n');
        }
        text += lines.toLocal8Bit();
    }
    if (!out.open(QIODevice::WriteOnly) || out.write(text) < 0 || !out.commit()) {
        *error = out.errorString();
        return false;
    }
    return true;
}

QString aboutText() {
    return QObject::tr("EFIS Config %1\n"
                       "Configuration tool for the RK_62 EFIS display unit.\n\n"
                       "Qt %2 (built with Qt %3), used under the GNU LGPL version 3\n"
                       "hidapi %4\n\n"
                       "Licensed under the Apache License, Version 2.0: see the LICENSE file or "
                       "https://www.apache.org/licenses/LICENSE-2.0")
        .arg(QStringLiteral(EFIS_TOOL_VERSION), QString::fromLatin1(qVersion()),
             QStringLiteral(QT_VERSION_STR), QString::fromLatin1(hid_version_str()));
}

namespace {

// Keeps an outcome in the status bar while a menu is open: Qt clears the bar's message for every
// menu entry the pointer passes, all of which have no status tip. Without it, opening View to
// read the log would wipe the line that pointed there.
class KeepStatusMessage : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        return event->type() == QEvent::StatusTip &&
               static_cast<QStatusTipEvent *>(event)->tip().isEmpty();
    }
};

constexpr int PANEL_HEIGHT = 200;

} // namespace

void addLogAndHelpMenus(QMainWindow *window) {
    window->installEventFilter(new KeepStatusMessage(window));
    auto *panel = new LogPanel(LogCapture::running(), window);
    window->addDockWidget(Qt::BottomDockWidgetArea, panel);
    panel->hide();
    // The form keeps its room: the window grows by the panel while it is shown below the form.
    panel->resize(panel->width(), PANEL_HEIGHT);
    QObject::connect(panel->toggleViewAction(), &QAction::toggled, window,
                     [window, panel](bool on) {
                         if (!panel->isFloating()) {
                             window->resize(window->width(),
                                            window->height() + (on ? PANEL_HEIGHT : -PANEL_HEIGHT));
                         }
                     });

    QMenu *view = window->menuBar()->addMenu(QObject::tr("&View"));
    view->setObjectName("menuView");
    QAction *log = panel->toggleViewAction();
    log->setText(QObject::tr("&Log"));
    log->setObjectName("actionLog");
    view->addAction(log);
    QAction *save = view->addAction(QObject::tr("&Save Log…"));
    save->setObjectName("actionSaveLog");
    QObject::connect(save, &QAction::triggered, panel, [window, panel] {
        const QString name = QStringLiteral("efis-config-log-%1.txt")
                                 .arg(QDate::currentDate().toString(Qt::ISODate));
        const QString path =
            QFileDialog::getSaveFileName(window, QObject::tr("Save Log"), name,
                                         QObject::tr("Text files (*.txt);;All Files (*)"));
        if (path.isEmpty()) {
            return;
        }
        QString error;
        window->statusBar()->showMessage(
            panel->save(path, &error)
                ? QObject::tr("Log saved to %1").arg(path)
                : QObject::tr("Error: Could not write %1: %2").arg(path, error),
            0);
    });

    QMenu *help = window->menuBar()->addMenu(QObject::tr("&Help"));
    help->setObjectName("menuHelp");
    QAction *about = help->addAction(QObject::tr("&About EFIS Config"));
    about->setObjectName("actionAbout");
    QObject::connect(about, &QAction::triggered, window, [window] {
        QMessageBox box(QMessageBox::Information, QObject::tr("About EFIS Config"), aboutText(),
                        QMessageBox::Ok, window);
        box.setObjectName("aboutBox");
        box.exec();
    });
}
