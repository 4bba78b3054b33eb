#ifndef LOG_PANEL_H
#define LOG_PANEL_H

// The window's log and its About box. View → Log shows, in a panel, every line the tool has
// written (standard output and the log handler's lines, as the terminal shows them); View →
// Save Log… writes them to a file for a support request; Help → About EFIS Config names the
// tool's version, the Qt and hidapi versions it runs with, and its licence.

#include <QDockWidget>
#include <QString>

#include <cstddef>

class LogCapture;
class QLabel;
class QMainWindow;
class QPlainTextEdit;

class LogPanel : public QDockWidget {
    Q_OBJECT

public:
    // Shows the lines of `capture`, or none when the tool runs without one.
    LogPanel(LogCapture *capture, QWidget *parent);

    // Writes the capture's lines to `path` (after a line that says how many earlier ones were
    // dropped, if any), whole or not at all; false with `error` set.
    bool save(const QString &path, QString *error) const;

private:
    // Brings the view to the capture: the lines it dropped go, the new ones come.
    void showNewLines();

    LogCapture *capture_;
    QLabel *dropped_label_;
    QPlainTextEdit *view_;
    // The view shows the capture's lines numbered first_ to next_ - 1.
    std::size_t first_ = 0;
    std::size_t next_ = 0;
};

// Adds View (Log, Save Log…) and Help (About EFIS Config) to the window's menu bar, with a log
// panel over the capture that is running, if any.
void addLogAndHelpMenus(QMainWindow *window);

// The About box's text: the tool's version, the Qt and hidapi versions, the licence.
QString aboutText();

#endif // LOG_PANEL_H
