#include "log_capture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<LogCapture *> active{nullptr};

constexpr std::size_t MAX_LINE_BYTES = 64 * 1024;

int index(LogCapture::Stream stream) {
    return stream == LogCapture::Stream::Out ? 0 : 1;
}

} // namespace

LogCapture::LogCapture(QObject *parent) : LogCapture(Bounds{}, parent) {}

LogCapture::LogCapture(Bounds bounds, QObject *parent) : QObject(parent), bounds_(bounds) {}

LogCapture::~LogCapture() {
    stop();
}

LogCapture *LogCapture::running() {
    return active.load();
}

void LogCapture::installHandler(QtMessageHandler handler) {
    LogCapture *capture = active.load();
    if (capture != nullptr) {
        capture->handler_ = handler;
        qInstallMessageHandler(handleMessage);
    } else {
        qInstallMessageHandler(handler);
    }
}

bool LogCapture::start(QtMessageHandler handler) {
    handler_ = handler;
    if (capturing_ || active.load() != nullptr) {
        installHandler(handler);
        return capturing_;
    }
    if (!pipes_.open()) {
        if (handler != nullptr) {
            qInstallMessageHandler(handler);
        }
        return false;
    }
    capturing_ = true;
    active.store(this);
    previous_ = qInstallMessageHandler(handleMessage);
    reader_ = std::thread([this] { readLoop(); });
    return true;
}

void LogCapture::restoreStreams() {
    pipes_.restore();
}

void LogCapture::stop() {
    if (!capturing_) {
        return;
    }
    const QtMessageHandler handler = handler_.load();
    qInstallMessageHandler(handler != nullptr ? handler : previous_);
    active.store(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    restoreStreams();
    pipes_.wake();
    reader_.join();
    drain(); // what the streams wrote before they were put back
    for (int s = 0; s < 2; ++s) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!partial_[s].empty()) {
            take(s == 0 ? Stream::Out : Stream::Err, "\n", 1);
        }
    }
    pipes_.close();
    capturing_ = false;
}

void LogCapture::handleMessage(QtMsgType type, const QMessageLogContext &context,
                               const QString &msg) {
    LogCapture *capture = active.load();
    if (capture == nullptr) {
        return;
    }
    // What standard output holds now comes before this line, and what follows after it.
    std::fflush(stdout);
    capture->drain();
    if (type == QtFatalMsg) {
        // The handler ends the process: its line goes straight to where standard error went.
        capture->restoreStreams();
    }
    if (const QtMessageHandler handler = capture->handler_.load(); handler != nullptr) {
        handler(type, context, msg);
    } else if (capture->previous_ != nullptr) {
        capture->previous_(type, context, msg);
    } else {
        // Qt's own line, as it writes it without a handler.
        std::fprintf(stderr, "%s\n",
                     qFormatLogMessage(type, context, msg).toLocal8Bit().constData());
        std::fflush(stderr);
        if (type == QtFatalMsg) {
            std::abort();
        }
    }
    capture->drain();
}

void LogCapture::readLoop() {
    while (pipes_.wait()) {
        drain();
    }
}

void LogCapture::drain() {
    bool added = false;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        char buffer[4096];
        for (int s = 0; s < 2; ++s) {
            const auto pipe = s == 0 ? platform::StreamPipes::Out : platform::StreamPipes::Err;
            for (;;) {
                const std::size_t n = pipes_.readNow(pipe, buffer, sizeof(buffer));
                if (n == 0) {
                    break;
                }
                pipes_.passOn(pipe, buffer, n);
                const std::size_t before = lines_.size() + dropped_;
                take(s == 0 ? Stream::Out : Stream::Err, buffer, n);
                added = added || lines_.size() + dropped_ != before;
            }
        }
    }
    if (added) {
        emit linesAdded();
    }
}

void LogCapture::take(Stream stream, const char *bytes, std::size_t length) {
    std::string &partial = partial_[index(stream)];
    for (std::size_t i = 0; i < length; ++i) {
        // A line without end is kept in pieces of at most MAX_LINE_BYTES.
        if (bytes[i] != '\n' && partial.size() < MAX_LINE_BYTES) {
            partial.push_back(bytes[i]);
            continue;
        }
        keep(stream, partial);
        partial.clear();
        if (bytes[i] != '\n') {
            partial.push_back(bytes[i]); // the first byte of the line's next piece
        }
    }
}

void LogCapture::keep(Stream stream, const std::string &line) {
    lines_.push_back(
        {stream, QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()))});
    line_bytes_.push_back(line.size() + 1);
    bytes_ += line.size() + 1;
    if (lines_.size() <= bounds_.lines && bytes_ <= bounds_.bytes) {
        return;
    }
    // Past a bound: the oldest go until a tenth of it is free, so that this is rare.
    const std::size_t lines_left = bounds_.lines - bounds_.lines / 10;
    const std::size_t bytes_left = bounds_.bytes - bounds_.bytes / 10;
    while (!lines_.empty() && (lines_.size() > lines_left || bytes_ > bytes_left)) {
        bytes_ -= line_bytes_.front();
        line_bytes_.pop_front();
        lines_.pop_front();
        ++dropped_;
    }
}

std::size_t LogCapture::lineCount() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return dropped_ + lines_.size();
}

std::vector<LogCapture::Line> LogCapture::linesFrom(std::size_t from) const {
    return since(from).lines;
}

LogCapture::Lines LogCapture::since(std::size_t from) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    Lines read;
    read.dropped = dropped_;
    read.next = dropped_ + lines_.size();
    read.first = std::max(from, dropped_);
    if (read.first < read.next) {
        read.lines.assign(lines_.begin() + static_cast<std::ptrdiff_t>(read.first - dropped_),
                          lines_.end());
    } else {
        read.first = read.next;
    }
    return read;
}

std::size_t LogCapture::droppedCount() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

std::size_t LogCapture::keptBytes() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

QString LogCapture::text() const {
    QString all;
    for (const Line &line : linesFrom(0)) {
        all += line.text;
        all += QLatin1Char('\n');
    }
    return all;
}
