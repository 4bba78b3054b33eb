#ifndef EFIS_CLI_H
#define EFIS_CLI_H

// efis-cli: the tool's flows from the command line, for scripts (a fleet, a bench, a log for a
// support request). It runs the same settings flows, file format and firmware transfer as the
// window. Its own output goes to standard output; the device layer's lines go to standard error
// with --verbose and nowhere without.

// Exit statuses.
enum CliExit {
    CLI_OK = 0,
    CLI_UNIT_FAILED = 1,  // the unit refused or an exchange failed
    CLI_USAGE = 2,        // bad usage or a bad file
    CLI_NO_UNIT = 3,      // no unit found
    CLI_IN_USE = 4,       // another program of the tool holds the unit: nothing was sent
    CLI_INTERRUPTED = 130 // SIGINT or SIGTERM: stopped after the exchange in flight
};

// Runs one command line; returns its exit status. Standard output and error are as they were
// when it returns.
int efisCliMain(int argc, char *argv[]);

#endif // EFIS_CLI_H
