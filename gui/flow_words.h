#ifndef FLOW_WORDS_H
#define FLOW_WORDS_H

// What the window says of each settings flow's outcome: the status text and the log lines, taken
// from the outcome table's rows (app/outcome), in the order the window says them. The window's
// flow functions write the lines themselves, so that each line still names the function that ran
// the flow.

#include <QString>
#include <QStringList>

#include <cstdint>

#include "settings_flows.h"

namespace flow_words {

struct Said {
    QString status; // empty: the status bar keeps its message
    QStringList log;
};

// A load: what could not be read, then why it stopped or how the checksum compared.
Said load(const LoadResult &result, uint32_t unit_checksum);
// Update: what the unit did not take, and the count sent.
Said send(const SendResult &result);
// Save: what could not be read or sent, or why nothing was stored.
Said save(const SaveResult &result);
// The store exchange, step by step as far as it went.
QStringList store(const StoreResult &result);

} // namespace flow_words

#endif // FLOW_WORDS_H
