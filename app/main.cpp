// The program's entry point: the catalog first, so every text of the
// windows is looked up in it; the rest of the start-up is in app/startup.cpp.
#include "app/catalog.h"
#include "app/startup.h"

int main(int argc, char** argv) {
    load_catalog("vantorix_v3.mo", "ru");  // without a catalog the texts stay English
    return run_program(argc, argv);
}
