// SQLite registers its full-text, r-tree, statement and page-statistics
// tables on every connection it opens. The registry uses none of them, and a
// press paid for their registration in every cold process. In the device
// programs these stand-ins take the registrations' place in the link, so the
// extensions' code is never brought in.
struct sqlite3;

extern "C" {
int sqlite3Fts3Init(sqlite3*) { return 0; }
int sqlite3Fts5Init(sqlite3*) { return 0; }
int sqlite3RtreeInit(sqlite3*) { return 0; }
int sqlite3DbstatRegister(sqlite3*) { return 0; }
int sqlite3StmtVtabInit(sqlite3*) { return 0; }
}
