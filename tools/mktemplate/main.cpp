// Writes the empty SQLite database that the program carries as its template.
#include <iostream>
#include <string>

#include "core/schema.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: kestrix_mktemplate FILE\n";
        return 2;
    }
    std::string error;
    if (!kestrix::createSqliteDatabaseFile(argv[1], &error)) {
        std::cerr << error << "\n";
        return 1;
    }
    return 0;
}
