#ifndef TESTS_CLI_RUN_H
#define TESTS_CLI_RUN_H

// Runs efis-cli in process, over the simulated unit, with its output captured.

#include <QJsonDocument>
#include <QJsonObject>

#include <initializer_list>
#include <string>
#include <vector>

#include "capture.h"
#include "efis_cli.h"

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
    QJsonObject json() const {
        return QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
    }
};

inline CliRun cli(std::initializer_list<std::string> args) {
    std::vector<std::string> words{"efis-cli"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words) {
        argv.push_back(w.data());
    }
    CliRun r;
    r.err = captureStderr([&] {
        r.out = captureStdout(
            [&] { r.status = efisCliMain(static_cast<int>(argv.size()), argv.data()); });
    });
    return r;
}

#endif // TESTS_CLI_RUN_H
