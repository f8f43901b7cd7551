// Several connections of one embedded engine calling the SQL functions at the same time:
// each thread attaches on its own, runs the same query over a table of numbers a few
// times and checks every row against what the functions must return for that number.
//
//   parallel_calls <database> <connections> <rounds>
//
// Prints one line per connection and exits non-zero on any wrong row or SQL error.
#include <ibase.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kQuery =
    "SELECT id, fn_inttocnk(id) || '|' || fn_strReplace('x' || id || 'x', 'x', '<>') || '|' ||"
    " fn_setbit(id, 1) || '|' || fn_formatDouble(id + 0.5e0) || '|' ||"
    " CAST(fn_TrimRTF(CAST('{\\rtf1 ' || id || '}' AS BLOB SUB_TYPE 0)) AS VARCHAR(64)) ||"
    " '|' || fn_GetBlobValue(CAST('a=0' || ASCII_CHAR(13) || ASCII_CHAR(10) || 'K=' || id"
    " AS BLOB SUB_TYPE 0), 'k') || '|' || fn_BoolStringToInt(IIF(MOD(id, 2) = 1, 'NY', 'YN'))"
    " FROM numbers ORDER BY id";

std::string Expected(int id) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, "%07d|<>%d<>|%d|%d.5|{\\rtf1 %d}|%d|%d", id, id, id | 1,
                id, id, id, id % 2 == 1 ? 1 : 2);
  return buffer;
}

std::string StatusText(const ISC_STATUS* status) {
  std::string text;
  char buffer[512];
  const ISC_STATUS* cursor = status;
  while (fb_interpret(buffer, sizeof buffer, &cursor) > 0) {
    if (!text.empty()) text += " / ";
    text += buffer;
  }
  return text;
}

struct Result {
  long rows = 0;
  long wrong = 0;
  std::string error;
};

// One connection: attach, run the query `rounds` times, check every row.
void RunConnection(const std::string& database, int rounds, Result* result) {
  ISC_STATUS_ARRAY status = {};
  isc_db_handle db = 0;
  const char user[] = "SYSDBA";
  std::string dpb;
  dpb += static_cast<char>(isc_dpb_version1);
  dpb += static_cast<char>(isc_dpb_user_name);
  dpb += static_cast<char>(sizeof user - 1);
  dpb += user;
  if (isc_attach_database(status, 0, database.c_str(), &db, static_cast<short>(dpb.size()),
                          dpb.data())) {
    result->error = "attach: " + StatusText(status);
    return;
  }
  isc_tr_handle tr = 0;
  isc_stmt_handle stmt = 0;
  XSQLDA* out = static_cast<XSQLDA*>(std::calloc(1, XSQLDA_LENGTH(2)));
  out->version = SQLDA_VERSION1;
  out->sqln = 2;
  int32_t id = 0;
  short idNull = 0, textNull = 0;
  std::vector<char> text;
  if (isc_start_transaction(status, &tr, 1, &db, 0, nullptr) ||
      isc_dsql_allocate_statement(status, &db, &stmt) ||
      isc_dsql_prepare(status, &tr, &stmt, 0, kQuery, 3, out)) {
    result->error = "prepare: " + StatusText(status);
  } else {
    out->sqlvar[0].sqltype = SQL_LONG + 1;
    out->sqlvar[0].sqldata = reinterpret_cast<char*>(&id);
    out->sqlvar[0].sqlind = &idNull;
    text.resize(out->sqlvar[1].sqllen + sizeof(short) + 1);
    out->sqlvar[1].sqltype = SQL_VARYING + 1;
    out->sqlvar[1].sqldata = text.data();
    out->sqlvar[1].sqlind = &textNull;
    for (int round = 0; round < rounds && result->error.empty(); ++round) {
      if (isc_dsql_execute(status, &tr, &stmt, 1, nullptr)) {
        result->error = "execute: " + StatusText(status);
        break;
      }
      ISC_STATUS fetched;
      while ((fetched = isc_dsql_fetch(status, &stmt, 1, out)) == 0) {
        short length;
        std::memcpy(&length, text.data(), sizeof length);
        const std::string got = textNull ? "<null>" : std::string(text.data() + 2, length);
        ++result->rows;
        if (got != Expected(id)) {
          if (result->wrong++ < 3) {
            std::printf("row %d: got \"%s\", expected \"%s\"\n", id, got.c_str(),
                        Expected(id).c_str());
          }
        }
      }
      if (fetched != 100) result->error = "fetch: " + StatusText(status);
      isc_dsql_free_statement(status, &stmt, DSQL_close);
    }
  }
  if (stmt) isc_dsql_free_statement(status, &stmt, DSQL_drop);
  if (tr) isc_commit_transaction(status, &tr);
  isc_detach_database(status, &db);
  std::free(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: parallel_calls <database> <connections> <rounds>\n");
    return 2;
  }
  const std::string database = argv[1];
  const int connections = std::atoi(argv[2]);
  const int rounds = std::atoi(argv[3]);
  std::vector<Result> results(connections);
  std::vector<std::thread> threads;
  for (int i = 0; i < connections; ++i) {
    threads.emplace_back(RunConnection, database, rounds, &results[i]);
  }
  for (auto& thread : threads) thread.join();
  int failed = 0;
  for (int i = 0; i < connections; ++i) {
    const Result& r = results[i];
    std::printf("connection %d: %ld rows, %ld wrong%s%s\n", i, r.rows, r.wrong,
                r.error.empty() ? "" : ", error: ", r.error.c_str());
    if (r.wrong != 0 || !r.error.empty() || r.rows == 0) ++failed;
  }
  return failed == 0 ? 0 : 1;
}
