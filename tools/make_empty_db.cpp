// make-empty-db [--replace] SCHEMA.sql OUT.mdb
// Creates the SQLite file OUT.mdb from SCHEMA.sql. An existing OUT.mdb is left alone unless
// --replace is given, so a watch list beside the program survives every build.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <sqlite3.h>
#include <sys/stat.h>

int main(int argc, char* argv[])
{
    bool replace = false;
    int arg = 1;
    if (arg < argc && std::strcmp(argv[arg], "--replace") == 0) {
        replace = true;
        ++arg;
    }
    if (argc - arg != 2) {
        std::fprintf(stderr, "usage: make-empty-db [--replace] SCHEMA.sql OUT.mdb\n");
        return 2;
    }
    const std::string schemaPath = argv[arg];
    const std::string out = argv[arg + 1];
    struct stat st
    {
    };
    if (!replace && stat(out.c_str(), &st) == 0)
        return 0;

    std::ifstream in(schemaPath);
    if (!in) {
        std::fprintf(stderr, "make-empty-db: cannot read %s\n", schemaPath.c_str());
        return 1;
    }
    std::stringstream schema;
    schema << in.rdbuf();

    // Built under a temporary name and renamed, so OUT.mdb is never seen half made.
    const std::string temp = out + ".new";
    std::remove(temp.c_str());
    sqlite3* db = nullptr;
    int rc
        = sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    char* error = nullptr;
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, schema.str().c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        std::fprintf(stderr, "make-empty-db: %s\n", error ? error : sqlite3_errmsg(db));
        sqlite3_free(error);
        sqlite3_close(db);
        std::remove(temp.c_str());
        return 1;
    }
    sqlite3_close(db);
    if (std::rename(temp.c_str(), out.c_str()) != 0) {
        std::perror("make-empty-db");
        return 1;
    }
    return 0;
}
