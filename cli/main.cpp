#include "efis_cli.h"

// efisCliMain makes the application object its command needs.
int main(int argc, char *argv[]) {
    return efisCliMain(argc, argv);
}
