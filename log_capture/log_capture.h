#ifndef LOG_CAPTURE_H
#define LOG_CAPTURE_H

// Every line the tool writes, kept for the log panel: the device layer's printf-style lines on
// standard output and the log handler's lines on standard error. While a capture runs, both
// streams are pipes read by a thread of the capture, so a long exchange on the GUI thread can
// never fill them; every byte is passed on unchanged to where the stream went before (the
// terminal, a file, the journal), and each complete line is kept. The log handler is installed
// through the capture, which keeps its lines in order with the standard output written before
// and after them.

#include <QObject>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stream_pipes.h"

class LogCapture : public QObject {
    Q_OBJECT

public:
    enum class Stream { Out, Err };
    struct Line {
        Stream stream;
        QString text; // without its line feed
    };

    // The most lines kept; the oldest go first.
    static constexpr std::size_t MAX_LINES = 100000;

    explicit LogCapture(QObject *parent = nullptr);
    ~LogCapture() override;
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // Takes over standard output and standard error and installs `handler` (the tool's log
    // handler) through the capture; with none, messages go to the handler in force before until
    // installHandler names one. False, with the streams as they were, when the pipes cannot be
    // set up; the handler is installed all the same.
    bool start(QtMessageHandler handler = nullptr);
    // Puts the streams back, keeps what was still on its way, and installs the plain handler.
    void stop();

    // The capture in force, or null.
    static LogCapture *running();
    // Installs `handler` as the log handler: through the running capture when there is one.
    static void installHandler(QtMessageHandler handler);

    // Lines kept, counted from the first line ever captured; `from` is such a count.
    std::size_t lineCount() const;
    std::vector<Line> linesFrom(std::size_t from) const;
    // Everything kept, one line feed after each line: what Save Log writes.
    QString text() const;

signals:
    // New lines were kept; sent from whichever thread read them.
    void linesAdded();

private:
    static void handleMessage(QtMsgType type, const QMessageLogContext &context,
                              const QString &msg);
    // Reads what the pipes hold now, passes it on and keeps its complete lines.
    void drain();
    void take(Stream stream, const char *bytes, std::size_t length);
    void readLoop();
    // Points standard output and error back at where they went before the capture.
    void restoreStreams();

    std::atomic<QtMessageHandler> handler_{nullptr}; // set while other threads may log
    QtMessageHandler previous_ = nullptr;            // in force before start; null: Qt's own
    std::thread reader_;
    mutable std::mutex mutex_; // the pipes' read ends, the lines and the partial lines
    platform::StreamPipes pipes_;
    std::string partial_[2];
    std::vector<Line> lines_;
    std::size_t dropped_ = 0; // lines let go to keep MAX_LINES
    bool capturing_ = false;
};

#endif // LOG_CAPTURE_H
