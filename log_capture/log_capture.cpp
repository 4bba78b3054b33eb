#include "log_capture.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

std::atomic<LogCapture *> active{nullptr};

constexpr int STREAM_FD[2] = {STDOUT_FILENO, STDERR_FILENO};
constexpr std::size_t MAX_LINE_BYTES = 64 * 1024;

int index(LogCapture::Stream stream) {
    return stream == LogCapture::Stream::Out ? 0 : 1;
}

void writeAll(int fd, const char *bytes, std::size_t length) {
    while (length > 0) {
        const ssize_t n = write(fd, bytes, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // where the stream went is gone: the lines are still kept
        }
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
}

void closeFd(int &fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
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
    std::fflush(stdout);
    std::fflush(stderr);
    int pipes[2][2] = {{-1, -1}, {-1, -1}};
    bool ok = pipe2(pipes[0], O_CLOEXEC) == 0 && pipe2(pipes[1], O_CLOEXEC) == 0 &&
              pipe2(wake_, O_CLOEXEC) == 0;
    for (int s = 0; ok && s < 2; ++s) {
        saved_[s] = fcntl(STREAM_FD[s], F_DUPFD_CLOEXEC, 3);
        ok = saved_[s] >= 0 && fcntl(pipes[s][0], F_SETFL, O_NONBLOCK) == 0;
    }
    for (int s = 0; ok && s < 2; ++s) {
        ok = dup2(pipes[s][1], STREAM_FD[s]) >= 0;
    }
    for (int s = 0; s < 2; ++s) {
        closeFd(pipes[s][1]); // the stream's descriptor is the write end now
        pipe_read_[s] = pipes[s][0];
    }
    if (!ok) {
        restoreStreams();
        for (int s = 0; s < 2; ++s) {
            closeFd(pipe_read_[s]);
            closeFd(saved_[s]);
            closeFd(wake_[s]);
        }
        if (handler != nullptr) {
            qInstallMessageHandler(handler);
        }
        return false;
    }
    // A pipe would make standard output fully buffered: keep each line going out as printed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    capturing_ = true;
    active.store(this);
    previous_ = qInstallMessageHandler(handleMessage);
    reader_ = std::thread([this] { readLoop(); });
    return true;
}

void LogCapture::restoreStreams() {
    for (int s = 0; s < 2; ++s) {
        if (saved_[s] >= 0) {
            dup2(saved_[s], STREAM_FD[s]);
        }
    }
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
    const char wake = 1;
    writeAll(wake_[1], &wake, 1);
    reader_.join();
    drain(); // what the streams wrote before they were put back
    for (int s = 0; s < 2; ++s) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!partial_[s].empty()) {
            take(s == 0 ? Stream::Out : Stream::Err, "\n", 1);
        }
    }
    for (int s = 0; s < 2; ++s) {
        closeFd(pipe_read_[s]);
        closeFd(saved_[s]);
        closeFd(wake_[s]);
    }
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
    for (;;) {
        pollfd fds[3] = {
            {pipe_read_[0], POLLIN, 0}, {pipe_read_[1], POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[2].revents != 0) {
            return;
        }
        drain();
    }
}

void LogCapture::drain() {
    bool added = false;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        char buffer[4096];
        for (int s = 0; s < 2; ++s) {
            for (;;) {
                const ssize_t n = read(pipe_read_[s], buffer, sizeof(buffer));
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    break;
                }
                writeAll(saved_[s], buffer, static_cast<std::size_t>(n));
                const std::size_t before = lines_.size() + dropped_;
                take(s == 0 ? Stream::Out : Stream::Err, buffer, static_cast<std::size_t>(n));
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
