// libpq, PostgreSQL's client library, as a table of the functions the
// registry calls. Linux links it; Windows loads libpq.dll (and the DLLs it
// needs) from the program's folder the first time a registry is named, so
// that a program without those files runs until then. The types are libpq's
// own opaque structures; the enums it returns are read as the ints below.
#pragma once

#include <string>

struct pg_conn;
struct pg_result;
struct pg_cancel;

namespace vorsal::platform {

// One option of a parsed connection string (libpq's PQconninfoOption).
struct PqOption {
  char* keyword;
  char* envvar;
  char* compiled;
  char* val;
  char* label;
  char* dispchar;
  int dispsize;
};

struct Pq {
  // libpq's numbers for the states the registry looks at.
  static constexpr int ConnectionOk = 0;
  static constexpr int CommandOk = 1;
  static constexpr int TuplesOk = 2;
  static constexpr int TransactionIdle = 0;
  static constexpr int TransactionInError = 3;
  static constexpr int DiagnosticSqlState = 'C';

  using NoticeProcessor = void (*)(void* arg, const char* message);

  pg_conn* (*connectdbParams)(const char* const* keywords, const char* const* values, int expandDbname);
  void (*finish)(pg_conn*);
  void (*reset)(pg_conn*);
  int (*status)(const pg_conn*);
  int (*transactionStatus)(const pg_conn*);
  char* (*errorMessage)(const pg_conn*);
  char* (*db)(const pg_conn*);
  char* (*host)(const pg_conn*);
  char* (*user)(const pg_conn*);
  int (*connectionNeedsPassword)(const pg_conn*);
  int (*connectionUsedPassword)(const pg_conn*);
  NoticeProcessor (*setNoticeProcessor)(pg_conn*, NoticeProcessor, void* arg);
  pg_result* (*exec)(pg_conn*, const char* command);
  pg_result* (*execParams)(pg_conn*, const char* command, int nParams, const unsigned* paramTypes,
                           const char* const* paramValues, const int* paramLengths, const int* paramFormats,
                           int resultFormat);
  int (*resultStatus)(const pg_result*);
  char* (*resultErrorMessage)(const pg_result*);
  char* (*resultErrorField)(const pg_result*, int fieldcode);
  int (*ntuples)(const pg_result*);
  int (*getisnull)(const pg_result*, int row, int column);
  char* (*getvalue)(const pg_result*, int row, int column);
  char* (*cmdTuples)(pg_result*);
  void (*clear)(pg_result*);
  pg_cancel* (*getCancel)(pg_conn*);
  int (*cancel)(pg_cancel*, char* errbuf, int errbufsize);
  void (*freeCancel)(pg_cancel*);
  PqOption* (*conninfoParse)(const char* conninfo, char** errmsg);
  void (*conninfoFree)(PqOption*);
  void (*freemem)(void*);
};

// libpq's functions, loaded once for the whole program; null when they
// cannot be had, with `error` saying why in the operator's terms (which file
// is missing, and what installs it).
const Pq* LoadPq(std::string& error);

}  // namespace vorsal::platform
