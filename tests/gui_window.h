// Helpers of the window tests: a fixture that builds the real MainWindow over the simulated
// unit (or over no unit), reaches its private steps, captures what it writes, records its
// status-bar messages and drives its modal dialogs.
#ifndef TESTS_GUI_WINDOW_H
#define TESTS_GUI_WINDOW_H

#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "capture.h"
#include "discovery.h"
#include "get_set.h"
#include "mainwindow.h"
#include "settings_file.h"
#include "settings_flows.h"
#include "sim_unit.h"
#include "unit_connection.h"
#include "update_job.h"

// Reaches the window's private steps and state.
class MainWindowTestPeer {
public:
    explicit MainWindowTestPeer(MainWindow *w) : w_(w) {}
    void updateUIFromConfig() { w_->updateUIFromConfig(); }
    void updateConfigFromUI() { w_->updateConfigFromUI(); }
    void updateConfigValueLocal(settings_struct_index index, uint32_t value) {
        w_->updateConfigValueLocal(index, value);
    }
    // The window's settings session and the record the form shows.
    SettingsSession &session() { return w_->session; }
    // The tests lay values into the record as a flow would, without an edit and unheard by the
    // session's listeners.
    Settings_t &record() { return const_cast<Settings_t &>(w_->session.record()); }
    uint32_t unitChecksum() { return w_->session.unitChecksum(); }
    QString &firmwareFilePath() { return w_->firmwareFilePath; }
    CommsManager *comms() { return w_->comms; }
    UnitConnection *connection() { return w_->connection; }
    void startUpdate() { w_->onStartUpdateClicked(); }
    void skyColor0Changed() { w_->onSkyColor0Changed(); }
    // One tick of the poll that looks for the unit while it is not connected.
    void pollForUnit() { w_->connection->pollForUnit(); }

private:
    MainWindow *w_;
};

namespace gui_test {

// What one action wrote to the standard output and, through the log handler, to standard error.
struct Output {
    std::string out;
    std::string log;
};

inline Output run(const std::function<void()> &body) {
    Output o;
    o.log = captureStderr([&] { o.out = captureStdout(body); });
    return o;
}

// One log-handler line taken apart: "Debug: <text> (<file>:<line>, <function>)".
struct LogLine {
    std::string text;
    std::string file;
    std::string function;
};

inline std::vector<LogLine> logLines(const std::string &log) {
    static const std::regex line_re(R"(^Debug: (.*) \(([^():,]*):([0-9]+), (.*)\)$)");
    std::vector<LogLine> lines;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos) {
            end = log.size();
        }
        const std::string line = log.substr(start, end - start);
        std::smatch m;
        if (std::regex_match(line, m, line_re)) {
            lines.push_back({m[1], m[2], m[4]});
        }
        start = end + 1;
    }
    return lines;
}

// The texts of the window's log lines, in order, as an installer or a support script reads them
// (where each line comes from is pinned once, in the test of the specified shapes). The trace of
// the registration that every fill of the form writes ("Created string:", "Found prefix:") is
// left out, so that a flow's lines read alone; allLogTexts and hasLog keep it.
inline std::vector<std::string> logTexts(const std::string &log) {
    std::vector<std::string> texts;
    for (const LogLine &l : logLines(log)) {
        if (l.text.rfind("Created string:", 0) != 0 && l.text.rfind("Found prefix:", 0) != 0) {
            texts.push_back(l.text);
        }
    }
    return texts;
}

// Every text, the fill's trace included.
inline std::vector<std::string> allLogTexts(const std::string &log) {
    std::vector<std::string> texts;
    for (const LogLine &l : logLines(log)) {
        texts.push_back(l.text);
    }
    return texts;
}

inline bool hasLog(const std::string &log, const std::string &text) {
    for (const LogLine &l : logLines(log)) {
        if (l.text == text) {
            return true;
        }
    }
    return false;
}

// Records every status-bar message of the windows built while it lives, from the first one on:
// it attaches to a window's status bar at the first event the window receives once its form
// holds the bar (the window title change of the form's set-up comes before any message).
class StatusRecorder : public QObject {
public:
    StatusRecorder() { qApp->installEventFilter(this); }
    ~StatusRecorder() override { qApp->removeEventFilter(this); }
    QStringList messages;

protected:
    bool eventFilter(QObject *watched, QEvent *) override {
        auto *window = qobject_cast<QMainWindow *>(watched);
        if (window == nullptr) {
            return false;
        }
        auto *bar = window->findChild<QStatusBar *>("statusbar", Qt::FindDirectChildrenOnly);
        if (bar != nullptr && !attached_.contains(bar)) {
            attached_.push_back(bar);
            connect(bar, &QStatusBar::messageChanged, this,
                    [this](const QString &m) { messages << m; });
        }
        return false;
    }

private:
    QList<QPointer<QStatusBar>> attached_;
};

// Runs `act` on the modal dialog of type T as soon as it is open (inside its event loop). The
// check is repeated on the next event-loop pass while the dialog is not open yet.
template <class T> void whenModal(std::function<void(T *)> act, int passes = 1000) {
    QTimer::singleShot(0, qApp, [act, passes] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            act(dialog);
        } else if (passes > 0) {
            whenModal<T>(act, passes - 1);
        } else {
            ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " opened";
        }
    });
}

// Takes Write Firmware in the question that names the image and the unit before a firmware
// update, then runs `next` (which may wait for the questions that follow).
inline void confirmUpdate(const std::function<void()> &next = {}) {
    whenModal<QMessageBox>([next](QMessageBox *box) {
        EXPECT_EQ(box->objectName(), "confirmUpdateBox");
        // Answered first: a question looked for by `next` must not find this box still open.
        box->button(QMessageBox::Ok)->click();
        if (next) {
            next();
        }
    });
}

// Confirms the update, then answers the backup offered before it with `button`.
inline void answerBackupOffer(QMessageBox::StandardButton button) {
    confirmUpdate([button] {
        whenModal<QMessageBox>([button](QMessageBox *box) {
            EXPECT_EQ(box->objectName(), "backupBeforeUpdateBox");
            box->button(button)->click();
        });
    });
}

// Answers the message box named `name` with `button` once it is open, looking every 5 ms for up
// to `tries` times (a box that opens after a transfer or another dialog).
// Runs `act` on the question box named `name` once it is the modal widget.
inline void actOnBox(const QString &name, const std::function<void(QMessageBox *)> &act,
                     int tries = 4000) {
    QTimer::singleShot(5, qApp, [name, act, tries] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box != nullptr && box->objectName() == name) {
            act(box);
        } else if (tries > 0) {
            actOnBox(name, act, tries - 1);
        } else {
            ADD_FAILURE() << "no " << name.toStdString() << " opened";
        }
    });
}

inline void answerBox(const QString &name, QMessageBox::StandardButton button) {
    actOnBox(name, [button](QMessageBox *box) { box->button(button)->click(); });
}

// Answers the reboot offered after a completed firmware update.
inline void answerRebootOffer(QMessageBox::StandardButton button) {
    answerBox("rebootAfterUpdateBox", button);
}

// Answers the question before edits are lost (the box named `name`) with `button`.
inline void answerEditsQuestion(QMessageBox::StandardButton button,
                                const char *name = "unsentEditsBox") {
    whenModal<QMessageBox>([button, name](QMessageBox *box) {
        EXPECT_EQ(box->objectName(), name);
        box->button(button)->click();
    });
}

// A record the simulated unit holds consistently: its checksum matches its content.
inline void sealUnitRecord() {
    Settings_t &s = sim::unit().settings();
    s.crc32 = sim::SimUnit::storeChecksum(s);
}

// The window tests' fixture. Every test starts from a fresh unit and a zero-filled record, as
// a new run of the tool does; no test may lead the unit to store a record under a wrong checksum.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
    void TearDown() override {
        window.reset();
        qInstallMessageHandler(nullptr);
        EXPECT_FALSE(sim::unit().corruptStoreSeen());
    }

    // Builds the window over the simulated unit, or with no unit attached.
    MainWindow &open(bool with_unit = true) {
        if (!with_unit) {
            sim::unit().enumeration().clear();
        }
        startup = run([this] { window = std::make_unique<MainWindow>(); });
        return *window;
    }

    template <class T> T *w(const char *name) {
        T *found = window->findChild<T *>(QString::fromLatin1(name));
        if (found == nullptr) {
            std::fprintf(stderr, "the form has no %s \"%s\"\n", T::staticMetaObject.className(),
                         name);
            std::abort();
        }
        return found;
    }

    QString status() const { return window->statusBar()->currentMessage(); }
    MainWindowTestPeer peer() { return MainWindowTestPeer(window.get()); }

    // The requests the unit received from position `from` on, with identifier `can_id`.
    static std::vector<sim::Message> requests(uint32_t can_id, std::size_t from = 0) {
        std::vector<sim::Message> found;
        const auto &all = sim::unit().received();
        for (std::size_t i = from; i < all.size(); ++i) {
            if (all[i].can_id == can_id) {
                found.push_back(all[i]);
            }
        }
        return found;
    }
    static std::size_t requestCount() { return sim::unit().received().size(); }

    std::unique_ptr<MainWindow> window;
    Output startup;
};

} // namespace gui_test

#endif // TESTS_GUI_WINDOW_H
