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
#include <deque>
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

    // The most lines kept, and the most bytes of their text (a line of the device layer can be
    // up to 64 KiB long): past either, the oldest go first, a tenth of the bound at a time.
    static constexpr std::size_t MAX_LINES = 100000;
    static constexpr std::size_t MAX_BYTES = 16 * 1024 * 1024;
    struct Bounds {
        std::size_t lines = MAX_LINES;
        std::size_t bytes = MAX_BYTES;
    };

    // The lines kept from one line number on, taken under one hold of the lock, so that a reader
    // never misses a line written between two calls.
    struct Lines {
        std::vector<Line> lines;
        std::size_t first = 0;   // the number of lines[0]
        std::size_t next = 0;    // the number after the last: where the next read starts
        std::size_t dropped = 0; // lines let go so far to keep within the bounds (numbers below)
    };

    explicit LogCapture(QObject *parent = nullptr);
    explicit LogCapture(Bounds bounds, QObject *parent = nullptr);
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

    // Lines captured, counted from the first line ever captured; `from` is such a count.
    std::size_t lineCount() const;
    std::vector<Line> linesFrom(std::size_t from) const;
    // The kept lines numbered `from` or later, with the count they end at and the lines dropped.
    Lines since(std::size_t from) const;
    // Lines let go so far to keep within the bounds.
    std::size_t droppedCount() const;
    // The bytes of text kept now (each line with its line feed).
    std::size_t keptBytes() const;
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
    // Keeps one complete line, letting the oldest go when a bound is passed.
    void keep(Stream stream, const std::string &line);
    void readLoop();
    // Points standard output and error back at where they went before the capture.
    void restoreStreams();

    std::atomic<QtMessageHandler> handler_{nullptr}; // set while other threads may log
    QtMessageHandler previous_ = nullptr;            // in force before start; null: Qt's own
    std::thread reader_;
    mutable std::mutex mutex_; // the pipes' read ends, the lines and the partial lines
    platform::StreamPipes pipes_;
    std::string partial_[2];
    const Bounds bounds_;
    std::deque<Line> lines_;
    std::deque<std::size_t> line_bytes_; // each kept line's bytes, with its line feed
    std::size_t bytes_ = 0;              // their sum
    std::size_t dropped_ = 0;            // lines let go to keep within the bounds
    bool capturing_ = false;
};

#endif // LOG_CAPTURE_H
