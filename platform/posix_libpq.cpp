#include <libpq-fe.h>

#include <cstddef>

#include "platform/libpq.h"

namespace vorsal::platform {

static_assert(CONNECTION_OK == Pq::ConnectionOk && PGRES_COMMAND_OK == Pq::CommandOk &&
              PGRES_TUPLES_OK == Pq::TuplesOk && PQTRANS_IDLE == Pq::TransactionIdle &&
              PQTRANS_INERROR == Pq::TransactionInError && PG_DIAG_SQLSTATE == Pq::DiagnosticSqlState);
static_assert(sizeof(PQconninfoOption) == sizeof(PqOption) &&
              offsetof(PQconninfoOption, val) == offsetof(PqOption, val) &&
              offsetof(PQconninfoOption, dispsize) == offsetof(PqOption, dispsize));

// Linked: the table holds libpq's functions themselves, the enums returned
// as ints.
const Pq* LoadPq(std::string&) {
  static const Pq pq = [] {
    Pq t{};
    t.connectdbParams = PQconnectdbParams;
    t.finish = PQfinish;
    t.reset = PQreset;
    t.status = [](const pg_conn* c) { return static_cast<int>(PQstatus(c)); };
    t.transactionStatus = [](const pg_conn* c) { return static_cast<int>(PQtransactionStatus(c)); };
    t.errorMessage = PQerrorMessage;
    t.db = PQdb;
    t.host = PQhost;
    t.user = PQuser;
    t.connectionNeedsPassword = PQconnectionNeedsPassword;
    t.connectionUsedPassword = PQconnectionUsedPassword;
    t.setNoticeProcessor = PQsetNoticeProcessor;
    t.exec = PQexec;
    t.execParams = PQexecParams;
    t.resultStatus = [](const pg_result* r) { return static_cast<int>(PQresultStatus(r)); };
    t.resultErrorMessage = PQresultErrorMessage;
    t.resultErrorField = PQresultErrorField;
    t.ntuples = PQntuples;
    t.getisnull = PQgetisnull;
    t.getvalue = PQgetvalue;
    t.cmdTuples = PQcmdTuples;
    t.clear = PQclear;
    t.getCancel = PQgetCancel;
    t.cancel = PQcancel;
    t.freeCancel = PQfreeCancel;
    t.conninfoParse = [](const char* conninfo, char** errmsg) {
      return reinterpret_cast<PqOption*>(PQconninfoParse(conninfo, errmsg));
    };
    t.conninfoFree = [](PqOption* options) { PQconninfoFree(reinterpret_cast<PQconninfoOption*>(options)); };
    t.freemem = PQfreemem;
    return t;
  }();
  return &pq;
}

}  // namespace vorsal::platform
