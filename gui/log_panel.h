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
class QMainWindow;
class QPlainTextEdit;

class LogPanel : public QDockWidget {
    Q_OBJECT

public:
    // Shows the lines of `capture`, or none when the tool runs without one.
    LogPanel(LogCapture *capture, QWidget *parent);

    // Writes the lines shown to `path`, whole or not at all; false with `error` set.
    bool save(const QString &path, QString *error) const;

private:
    void showNewLines();

    LogCapture *capture_;
    QPlainTextEdit *view_;
    std::size_t shown_ = 0; // lines of the capture shown so far
};

// Adds View (Log, Save Log…) and Help (About EFIS Config) to the window's menu bar, with a log
// panel over the capture that is running, if any.
void addLogAndHelpMenus(QMainWindow *window);

// The About box's text: the tool's version, the Qt and hidapi versions, the licence.
QString aboutText();

#endif // LOG_PANEL_H
