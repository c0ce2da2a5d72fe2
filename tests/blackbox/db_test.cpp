// db_test.cpp - the db module run in the simulated camera on real SQLite
// files, checked afterwards with the sqlite3 program in the same sandbox.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

const char kCvdbLine[] = "Current Database File: [/mnt/nand/cvdb.db] \n";
const char kOemLine[] = "Current Database File: [/mnt/nand2/oem.db] \n";
const char kTableListSql[] = "select name from sqlite_master where type='table' order by name;";

const char kCvdbTables[] = "Query Result: \n"
                           "name            \n"
                           "audio\nimage\nnetwork\nosd\nports\nptz_presets\nsystem\nusers\nvideo\n"
                           " \n";
const char kOemTables[] = "Query Result: \n"
                          "name            \n"
                          "capability\nlens\noem_info\nsensor\n"
                          " \n";

// The usage's options; the current database's tables follow them (the
// fixture, from the help, shows the default database's).
const std::string kHelp = module_usage("db");
const std::string kUsage = kHelp.substr(0, kHelp.find("DB table list: \n"));

// Makes /mnt/nand/cvdb.db (a first run restores it) and runs sql on it.
std::string prepare_cvdb(const std::string &sql)
{
    return "debug -M db >/dev/null && sqlite3 /mnt/nand/cvdb.db " + shell_quote(sql) + " || exit 9; ";
}

} // namespace

TEST(DbQuery, TablePadsEveryCellButTheLastOfARowAndPadsTheWholeHeader)
{
    Camsim cam;
    CamsimResult r = cam.run(
        prepare_cvdb("create table t(a, b, c);"
                     "insert into t values('x', '0123456789abcdef', 'last');"
                     "insert into t values('0123456789abcdef0123', 'y', NULL);"
                     "insert into t values(7, '', 'a value longer than sixteen');") +
        debug_command({"-M", "db", "-s", "select a, b, c as c_is_last from t order by rowid"}));
    EXPECT_EQ(r.out, std::string(kCvdbLine) + "Query Result: \n"
                                              "a               b               c_is_last       \n"
                                              "x               0123456789abcdeflast\n"
                                              "0123456789abcdef0123y               \n"
                                              "7                               a value longer than sixteen\n"
                                              " \n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(DbQuery, WideResultIsCutAt2047CharactersAndEachValueAt255)
{
    Camsim cam;
    // 20 rows of a 300-character value: far more than the result holds.
    CamsimResult r = cam.debug({"-M", "db", "-s",
                                "with recursive c(n) as (select 1 union all select n + 1 from c "
                                "where n < 20) select n, hex(zeroblob(150)) as v from c"});
    std::string table = "\nn               v               ";
    for (int n = 1; n <= 20; n++) {
        char first[17];
        snprintf(first, sizeof first, "%-16d", n);
        table += "\n" + std::string(first) + std::string(255, '0');
    }
    table += "\n";
    ASSERT_GT(table.size(), 2047u);
    EXPECT_EQ(r.out, std::string(kCvdbLine) + "Query Result: " + table.substr(0, 2047) + " \n");
    EXPECT_EQ(r.err, "");
}

TEST(DbQuery, NoMatchAndFailingQueriesPrintNoRecordsThenFailed)
{
    Camsim cam;
    CamsimResult r = cam.debug({"-M", "db", "-s", "select * from users where id = 99", "-s",
                                "select * from no_such_table", "-s", "", "-s",
                                "select name from users where id = 1"});
    EXPECT_EQ(r.out, std::string(kCvdbLine) +
                         "[0 Items, No Match Records!] \n"
                         "SQL: 'select * from users where id = 99' Failed!! \n"
                         "[0 Items, No Match Records!] \n"
                         "SQL: 'select * from no_such_table' Failed!! \n"
                         "[0 Items, No Match Records!] \n"
                         "SQL: '' Failed!! \n"
                         "Query Result: \nname            \nadmin\n \n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(DbExecute, StatementsChangeTheFileAndFailuresStillPrintEndExecuteAfterTheirErrorLine)
{
    Camsim cam;
    CamsimResult r = cam.run(
        debug_command({"-M", "db", "-e", "insert into ports values('ssh', 22)", "-e",
                   "update ports set port = 8443 where name = 'https'", "-e", "this is not sql",
                   "-e", "insert into ports values('http', 1)"}) +
        " && sqlite3 /mnt/nand/cvdb.db 'select name, port from ports order by port'");
    EXPECT_EQ(r.out, std::string(kCvdbLine) +
                         "End execute: 'insert into ports values('ssh', 22)' \n"
                         "End execute: 'update ports set port = 8443 where name = 'https'' \n"
                         "End execute: 'this is not sql' \n"
                         "End execute: 'insert into ports values('http', 1)' \n"
                         "ssh|22\nhttp|80\nrtsp|554\nonvif|8080\nhttps|8443\n");
    EXPECT_EQ(without_line_numbers(r.err),
              " ERROR  (cv_db|db_execute|N): db=[/mnt/nand/cvdb.db] 'this is not sql' failed, "
              "database library result 1. \n"
              " ERROR  (cv_db|db_execute|N): db=[/mnt/nand/cvdb.db] 'insert into ports values('http', "
              "1)' failed, database library result 19. \n");
    EXPECT_EQ(r.status, 0);
}

TEST(DbExecute, FileRunsEachWholeLineHoweverLong)
{
    Camsim cam;
    // The WHERE of the DELETE and the end of the INSERT lie far beyond 255
    // characters: run in pieces, the DELETE would empty the table.
    std::string long_value(700, 'v');
    std::string file = cam.scratch() + "/statements.sql";
    write_whole_file(file, "insert into ports values('ftp', 21);\n"
                           "\n"
                           "insert into ports values('" + long_value + "', 9);\n"
                           "delete from users" + std::string(300, ' ') + "where name = 'guest';\n"
                           "not a statement;\n"
                           "update ports set port = 2121 where name = 'ftp'");
    CamsimResult r = cam.run(
        debug_command({"-M", "db", "-f", file, "-f", "/no/such/file.sql"}) +
        " && sqlite3 /mnt/nand/cvdb.db \"select name from users order by id;"
        " select port from ports where name = 'ftp';"
        " select length(name), port from ports where port = 9\"");
    EXPECT_EQ(r.out, std::string(kCvdbLine) + "admin\noperator\n2121\n700|9\n");
    EXPECT_EQ(without_line_numbers(r.err), " ERROR  (cv_db|db_execute|N): db=[/mnt/nand/cvdb.db] "
                                           "'not a statement;' failed, database library result 1. \n");
    EXPECT_EQ(r.status, 0);
}

TEST(DbSelect, DatabaseOptionActsOnTheStatementsAfterIt)
{
    Camsim cam;
    CamsimResult r = cam.debug({"-M", "db", "-t", "-d", "oem", "-t", "-d", "sddb", "-t", "-d",
                                "log", "-d", "OEM", "-d", "cvdb", "-t"});
    const char invalid[] = "Invalid Database '%s'! Optional: [cvdb, oem, sddb, log] \n";
    auto refused = [&](const char *name) {
        char line[128];
        snprintf(line, sizeof line, invalid, name);
        return std::string(line);
    };
    EXPECT_EQ(r.out, std::string(kCvdbLine) + kCvdbTables + kOemLine + kOemTables + refused("sddb") +
                         kOemLine + kOemTables + refused("log") + kOemLine + refused("OEM") +
                         kOemLine + kCvdbLine + kCvdbTables);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(DbSelect, OemStatementsChangeOnlyTheOemFile)
{
    Camsim cam;
    CamsimResult r = cam.run(
        debug_command({"-M", "db", "-d", "oem", "-e", "create table probe(x)"}) +
        " >/dev/null && sqlite3 /mnt/nand2/oem.db \"select count(*) from sqlite_master where name = 'probe'\""
        " && sqlite3 /mnt/nand/cvdb.db \"select count(*) from sqlite_master where name = 'probe'\"");
    EXPECT_EQ(r.out, "1\n0\n");
    EXPECT_EQ(r.status, 0);
}

TEST(DbFailure, MissingDatabaseFileFailsEveryStatementWithItsOwnLines)
{
    Camsim cam;
    std::string file = cam.scratch() + "/two.sql";
    write_whole_file(file, "select 1;\nselect 2;\n");
    // Without its default copy the file cannot be restored.
    CamsimResult r = cam.run("rm /opt/app/cvdb.db && " +
                             debug_command({"-M", "db", "-s", "select 1", "-e", "select 2", "-t", "-f",
                                        file, "-f", "/no/such/file"}));
    // The -e statement never ran: its error lines say so, and its option
    // still ends with the line scripts wait for.
    EXPECT_EQ(r.out, std::string(kCvdbLine) + "SQL: 'select 1' Failed!! \n" +
                         "End execute: 'select 2' \n" + "SQL: '" + kTableListSql + "' Failed!! \n");
    const std::string missing = " ERROR  (cv_db|db_con_init|N): db=[/mnt/nand/cvdb.db] file not existed. \n";
    const std::string not_init = " ERROR  (cv_db|is_db_init|N): db=[/mnt/nand/cvdb.db] not init. \n";
    // The restore is tried at start-up and again by the module.
    const std::string no_copy = " ERROR  (test|restore_database|N): restore /mnt/nand/cvdb.db from "
                                "/opt/app/cvdb.db failed: No such file or directory\n";
    EXPECT_EQ(without_line_numbers(r.err), no_copy + no_copy + missing + not_init + missing + not_init +
                                           missing + not_init + missing + not_init + not_init + missing);
    EXPECT_EQ(r.status, 0);
}

TEST(DbFailure, AStatementLostForWantOfFileDescriptorsIsReportedWithTheLibrarysResult)
{
    Camsim cam;
    // Once the tool waits for the lock, with the database and the lock file
    // open, its descriptor limit is lowered to what it holds: none is left
    // for the statement's journal. (Set from outside: under an emulator the
    // tool's process holds the emulator's descriptors too.)
    CamsimResult r = cam.run(
        prepare_cvdb("select 1") +
        "lockf_hold /tmp/db.fl sh -c 'echo locked >/tmp/holder.out; i=0;"
        "  while [ ! -e /tmp/go ] && [ $i -lt 1200 ]; do i=$((i + 1)); sleep 0.05; done' & holder=$!\n"
        "i=0; until grep -q locked /tmp/holder.out 2>/dev/null; do"
        "  i=$((i + 1)); [ $i -lt 1200 ] || exit 9; sleep 0.05; done\n" +
        debug_command({"-M", "db", "-e", "insert into ports values('ssh', 22)"}) + " & pid=$!\n"
        "i=0; until ls -l /proc/$pid/fd 2>/dev/null | grep -q /tmp/db.fl; do"
        "  i=$((i + 1)); [ $i -lt 1200 ] || exit 9; sleep 0.05; done\n"
        "n=0; while [ -e /proc/$pid/fd/$n ]; do n=$((n + 1)); done\n"
        "prlimit --pid $pid --nofile=$n:$n; touch /tmp/go; wait $pid; echo \"status $?\"; wait $holder\n"
        "sqlite3 /mnt/nand/cvdb.db \"select count(*) from ports where name = 'ssh'\"\n",
        120);
    EXPECT_EQ(r.out, std::string("1\n") + kCvdbLine +
                         "End execute: 'insert into ports values('ssh', 22)' \nstatus 0\n0\n");
    EXPECT_EQ(without_line_numbers(r.err),
              " ERROR  (cv_db|db_execute|N): db=[/mnt/nand/cvdb.db] 'insert into ports values('ssh', 22)' "
              "failed, database library result 14. \n");
}

TEST(DbFailure, DatabaseTheLibraryCannotOpenPrintsInitFailedAndTheCurrentFile)
{
    Camsim cam;
    // A directory in the database's place: present, but no database.
    CamsimResult r = cam.run("mkdir /mnt/nand/cvdb.db && " + debug_command({"-M", "db", "-s", "select 1"}));
    EXPECT_EQ(r.out, std::string(kCvdbLine) + kCvdbLine + "SQL: 'select 1' Failed!! \n");
    EXPECT_EQ(without_line_numbers(r.err), " ERROR  (cv_db|db_con_init|N): db init failed. \n"
                                           " ERROR  (cv_db|is_db_init|N): db=[/mnt/nand/cvdb.db] not init. \n");
    EXPECT_EQ(r.status, 0);
}

TEST(DbUsage, UnknownOptionOrMissingArgumentStopsTheOptionsAndListsTheCurrentTables)
{
    Camsim cam;
    CamsimResult r = cam.run(debug_command({"-M", "db", "-d", "oem", "-x", "-e", "create table probe(x)"}) +
                             "; echo status=$?; " + debug_command({"-M", "db", "-s"}) +
                             "; sqlite3 /mnt/nand2/oem.db \"select count(*) from sqlite_master where name = 'probe'\"");
    EXPECT_EQ(r.out, std::string(kCvdbLine) + kOemLine + kUsage + "DB table list: \n" + kOemTables +
                         "status=0\n" + kCvdbLine + kUsage + "DB table list: \n" + kCvdbTables + "0\n");
    EXPECT_EQ(without_line_numbers(r.err), "debug: invalid option -- 'x'\n"
                                           " ERROR  (cv_db|db_init_param|N): Unknow option. \n"
                                           "debug: option requires an argument -- 's'\n"
                                           " ERROR  (cv_db|db_init_param|N): Unknow option. \n");
}

TEST(DbLock, ToolWaitsForAnotherHolderOfTheLockFileAndLeavesTheFile)
{
    Camsim cam;
    // The holder lets go only once the tool, with the lock file open, sleeps
    // between tries (or has ended without waiting).
    CamsimResult r = cam.run(
        kToolWaits +
        "lockf_hold /tmp/db.fl sh -c 'echo locked >/tmp/holder.out;"
        "  until [ -e /tmp/go ]; do sleep 0.05; done; touch /tmp/released' & "
        "i=0; until grep -q locked /tmp/holder.out 2>/dev/null; do"
        "  i=$((i + 1)); [ $i -lt 600 ] || exit 9; sleep 0.1; done; " +
        debug_command({"-M", "db", "-e", "insert into ports values('held', 1)"}) +
        " & pid=$!; tool_waits $pid /tmp/db.fl sleep; touch /tmp/go; wait $pid"
        " && if [ -e /tmp/released ]; then echo after-release; else echo before-release; fi"
        " && wait && test -e /tmp/db.fl && echo lock-file-kept"
        " && sqlite3 /mnt/nand/cvdb.db \"select port from ports where name = 'held'\"");
    EXPECT_EQ(r.out, std::string(kCvdbLine) + "End execute: 'insert into ports values('held', 1)' \n" +
                         "after-release\nlock-file-kept\n1\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);

    // A program holding the database library's own lock is waited for too:
    // it commits once the tool, with the database open, sleeps between
    // tries.
    r = cam.run(kToolWaits + "debug -M nosuch; (echo 'begin exclusive;'; echo '.print held';"
                " until [ -e /tmp/go ]; do sleep 0.05; done; echo 'commit;')"
                " | sqlite3 /mnt/nand/cvdb.db >/tmp/holder.out & "
                "until grep -q held /tmp/holder.out 2>/dev/null; do sleep 0.05; done; " +
                debug_command({"-M", "db", "-e", "insert into ports values('held', 2)"}) +
                " & pid=$!; tool_waits $pid cvdb.db sleep; touch /tmp/go; wait $pid; s=$?; wait; echo \"status $s\"");
    EXPECT_EQ(r.out,
              std::string(kCvdbLine) + "End execute: 'insert into ports values('held', 2)' \nstatus 0\n");
    EXPECT_EQ(r.err, "");
}

TEST(DbLock, ConcurrentToolsAndLockHoldersLoseNoInsertedRow)
{
    Camsim cam;
    // Beside the tools, a writer that relies on the lock file alone: the
    // sqlite3 program gives up at once when the database is busy, so a tool
    // that wrote without the lock file would make it lose rows.
    const int tools = 4, rows = 25;
    std::string script = prepare_cvdb("create table hits(tool, n);");
    for (int t = 0; t < tools; t++) {
        std::string file = cam.scratch() + "/hits" + std::to_string(t) + ".sql";
        std::string text;
        for (int n = 0; n < rows; n++)
            text += "insert into hits values(" + std::to_string(t) + ", " + std::to_string(n) + ");\n";
        write_whole_file(file, text);
        script += debug_command({"-M", "db", "-f", file}) + " >/dev/null & ";
    }
    script += "n=0; while [ $n -lt 25 ]; do"
              "  lockf_hold /tmp/db.fl sqlite3 /mnt/nand/cvdb.db \"insert into hits values(9, $n)\";"
              "  n=$((n + 1)); done; "
              "wait; sqlite3 /mnt/nand/cvdb.db 'select count(*), count(distinct tool * 100 + n) from hits'";
    CamsimResult r = cam.run(script, 300);
    EXPECT_EQ(r.out, "125|125\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(DbLock, AnInterruptEndsTheWaitForAHeldLockAndTheStatementIsNotRun)
{
    Camsim cam;
    CamsimResult r = cam.run(
        kToolWaits + prepare_cvdb("select 1") +
        "lockf_hold /tmp/db.fl sh -c 'echo locked >/tmp/holder.out; sleep 60' & holder=$!\n"
        "until grep -q locked /tmp/holder.out 2>/dev/null; do sleep 0.05; done\n" +
        debug_command({"-M", "db", "-e", "insert into ports values('late', 2)", "-s",
                   "select 1"}) +
        " & pid=$!\n"
        "tool_waits $pid /tmp/db.fl sleep; kill -INT $pid; wait $pid; echo \"status $?\"; kill $holder\n"
        "sqlite3 /mnt/nand/cvdb.db \"select count(*) from ports where name = 'late'\"\n",
        60);
    // The statements after the interrupted one are not run either; each
    // option still ends with its own line.
    EXPECT_EQ(r.out, std::string("1\n") + kCvdbLine + "\nGet signal, signo = 2\n" +
                         "End execute: 'insert into ports values('late', 2)' \n"
                         "SQL: 'select 1' Failed!! \nstatus 0\n0\n");
    EXPECT_EQ(without_line_numbers(r.err),
              " ERROR  (cv_db|db_wait_file_lock|N): db=[/mnt/nand/cvdb.db] is locked, statement "
              "not run. \n"
              " ERROR  (cv_db|db_wait_file_lock|N): db=[/mnt/nand/cvdb.db] stop requested, "
              "statement not run. \n");
}

// Every -e ends with "End execute", which scripts wait for, whether its
// statement ran or not (a missing database: DbFailure); -f prints nothing
// of its own. What did not run, and why, is said on standard error only.
TEST(DbExecute, StatementsThatDidNotRunStillEndTheirOptionAsUsualAndStandardErrorSaysWhy)
{
    const std::string insert = "insert into ports values('probe', 7)";
    const std::string end = "End execute: '" + insert + "' \n";
    const std::string error = " ERROR  (cv_db|db_open_lock_file|N): lock file /tmp/db.fl ";
    const std::string locked = " ERROR  (cv_db|db_wait_file_lock|N): db=[/mnt/nand/cvdb.db] is locked, "
                               "statement not run. \n";
    const std::string signal = "\nGet signal, signo = 2\n";
    struct Case {
        const char *what;
        std::string setup;             // before the run
        bool held;                     // the lock file is held, the run interrupted
        std::vector<std::string> args; // after "-M db"
        std::string out, err;          // out: after the database line, then the row count
    };
    const std::string file = "/tmp/probe.sql";
    const std::vector<Case> cases = {
        // Opening what is planted at the lock file's name could harm it.
        {"a link at the lock file", "ln -s /mnt/nand2/victim /tmp/db.fl\n", false, {"-e", insert},
         end + "0\n", error + "is a symbolic link, statement not run. \n"},
        {"the oem database's lock file", "ln -s /mnt/nand2/victim /tmp/db.fl\n", false,
         {"-d", "oem", "-e", insert}, "Current Database File: [/mnt/nand2/oem.db] \n" + end + "0\n",
         error + "is a symbolic link, statement not run. \n"},
        {"a FIFO at the lock file", "mkfifo /tmp/db.fl\n", false, {"-e", insert}, end + "0\n",
         error + "is not a plain file, statement not run. \n"},
        // A lock file that cannot be opened: the statement runs unlocked.
        {"a directory at the lock file", "mkdir /tmp/db.fl\n", false, {"-e", insert}, end + "1\n", ""},
        {"stopped waiting for the lock", "", true, {"-e", insert, "-f", file},
         signal + end + "0\n", locked + " ERROR  (cv_db|db_execute_file|N): " + file +
                                   ": stop requested, the file is not read. \n"},
        {"a statement file stopped", "", true, {"-f", file}, signal + "0\n",
         locked + " ERROR  (cv_db|db_execute_file|N): " + file +
             ": stop requested, the file is not read past line 1. \n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Camsim cam;
        std::vector<std::string> args = {"-M", "db"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::string script = kToolWaits + prepare_cvdb("select 1") + "echo " + shell_quote(insert + ";") + " > " +
                             file + "\n" + c.setup;
        if (c.held)
            script += "lockf_hold /tmp/db.fl sh -c 'echo locked >/tmp/holder.out; sleep 60' & holder=$!\n"
                      "until grep -q locked /tmp/holder.out 2>/dev/null; do sleep 0.05; done\n" +
                      debug_command(args) +
                      " & pid=$!\n"
                      "tool_waits $pid /tmp/db.fl sleep; kill -INT $pid; wait $pid; kill $holder\n";
        else
            script += debug_command(args) + "\n";
        CamsimResult r = cam.run(
            script + "[ -e /mnt/nand2/victim ] && echo target-created\n"
                     "sqlite3 /mnt/nand/cvdb.db \"select count(*) from ports where name = 'probe'\"\n",
            60);
        EXPECT_EQ(r.out, "1\n" + std::string(kCvdbLine) + c.out);
        EXPECT_EQ(without_line_numbers(r.err), c.err);
    }
}

TEST(DbExecute, AStatementFileLineHoldingANulByteIsNotRunAndNamed)
{
    using namespace std::string_literals;
    Camsim cam;
    std::string file = cam.scratch() + "/nul.sql";
    // Up to the NUL the second line is a DELETE without its WHERE; a line
    // that starts with NUL still ends the file.
    write_whole_file(file, "insert into ports values('ftp', 21);\n"
                           "delete from users\0 where id=3;\n"
                           "update ports set port = 2121 where name = 'ftp';\0\n"
                           "insert into ports values('tftp', 69);\n"
                           "\0insert into ports values('after', 1);\n"s);
    CamsimResult r = cam.run(debug_command({"-M", "db", "-f", file}) +
                             "\nsqlite3 /mnt/nand/cvdb.db \"select count(*) from users;"
                             " select name, port from ports where name like '%ftp' order by port\"");
    EXPECT_EQ(r.out, std::string(kCvdbLine) + "3\nftp|21\ntftp|69\n");
    const std::string error = " ERROR  (cv_db|db_execute_file|N): " + file + ": line ";
    EXPECT_EQ(without_line_numbers(r.err), error + "2 holds a NUL byte, not run. \n" + error +
                                               "3 holds a NUL byte, not run. \n" + error +
                                               "5 begins with a NUL byte, the file is not read past it. \n");
}

// A statement file that is a FIFO waits for its writer and its lines as
// long as they take, and Ctrl-C ends that wait like any other.
TEST(DbExecute, AStatementFileThatIsAFifoIsReadAsItComesAndAStopEndsTheWait)
{
    const std::string insert = "insert into ports values('fifo', 5);";
    const std::string stopped = " ERROR  (cv_db|db_execute_file|N): /tmp/statements: stop requested, ";
    struct Case {
        const char *what;
        std::string writer; // what feeds the FIFO, in the background
        std::string ready;  // what shows the tool has read all it will get
        std::string out, err;
    };
    const std::vector<Case> cases = {
        {"no writer ever", "", "tool_waits $pid /tmp/statements poll", "0\n", stopped + "the file is not read. \n"},
        {"a writer that sends nothing", "sleep 60 > /tmp/statements &", "tool_waits $pid /tmp/statements poll", "0\n",
         stopped + "the file is not read. \n"},
        {"a late writer that sends one line and stays",
         "{ sleep 0.5; echo " + shell_quote(insert) + "; sleep 60; } > /tmp/statements &",
         "until [ \"$(sqlite3 /mnt/nand/cvdb.db \"select count(*) from ports where name = 'fifo'\")\" "
         "= 1 ]; do sleep 0.05; done",
         "1\n", stopped + "the file is not read past line 1. \n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Camsim cam;
        CamsimResult r = cam.run(
            kToolWaits + prepare_cvdb("select 1") + "mkfifo /tmp/statements\n" + c.writer + "\n" +
                debug_command({"-M", "db", "-f", "/tmp/statements"}) + " & pid=$!\n" + c.ready +
                "\nkill -INT $pid; wait $pid; echo \"status $?\"\n"
                "sqlite3 /mnt/nand/cvdb.db \"select count(*) from ports where name = 'fifo'\"\n"
                "kill $(jobs -p) 2>/dev/null\n",
            60);
        EXPECT_EQ(r.out, "1\n" + std::string(kCvdbLine) + "\nGet signal, signo = 2\nstatus 0\n" + c.out);
        EXPECT_EQ(without_line_numbers(r.err), c.err);
    }
}

TEST(DbExecute, AStatementFileWithoutLineEndsStopsAtOneMebibyteAndRunsNothing)
{
    Camsim cam;
#if defined(__SANITIZE_ADDRESS__)
    const std::string limit; // the sanitizer's shadow memory needs no limit
#else
    const std::string limit = "ulimit -v 1048576; ";
#endif
    // Without a bound the line would grow until the memory runs out.
    CamsimResult r = cam.run(limit + "debug -M db -f /dev/zero; echo \"status $?\"", 60);
    EXPECT_EQ(r.out, std::string(kCvdbLine) + "status 0\n");
    EXPECT_EQ(without_line_numbers(r.err),
              " ERROR  (cv_db|db_execute_file|N): /dev/zero: line 1 is longer than 1048576 bytes, "
              "not run. \n");
}


TEST(DbExecute, AStatementFileLineOfOneMebibyteWithItsLineEndRunsAndOneByteMoreDoesNot)
{
    const std::string statement = "update ports set port = 7 where name = 'rtsp'";
    struct Case {
        size_t line_size; // its line end included
        std::string count, err;
    } cases[] = {
        {1 << 20, "1\n", ""},
        {(1 << 20) + 1, "0\n", "line 1 is longer than 1048576 bytes, not run. \n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line_size);
        Camsim cam;
        std::string file = cam.scratch() + "/long.sql";
        write_whole_file(file, statement + std::string(c.line_size - statement.size() - 2, ' ') + ";\n");
        CamsimResult r = cam.run(debug_command({"-M", "db", "-f", file}) +
                                 " && sqlite3 /mnt/nand/cvdb.db \"select count(*) from ports where port = 7\"");
        EXPECT_EQ(r.out, std::string(kCvdbLine) + c.count);
        EXPECT_EQ(without_line_numbers(r.err),
                  c.err.empty() ? "" : " ERROR  (cv_db|db_execute_file|N): " + file + ": " + c.err);
    }
}
