// The SQLite object layer on a database of its own.
#include <gtest/gtest.h>

#include "core/eventstore/CppSQLite3.h"
#include "platform/text.h"
#include "support/isolation.h"

namespace {

using plat::PathFromNative;

std::string Narrow(const std::u16string& s)
{
    return plat::WideToUtf8(s);
}

class WrapperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db.Open(PathFromNative(dir.file("w.db")));
        ASSERT_EQ(0, db.ExecuteDml(u"CREATE TABLE FileInfo (FileIndex INTEGER PRIMARY KEY, Name TEXT UNIQUE, "
                                   u"Note TEXT)"));
    }

    ps_test::TempDir dir;
    CppSQLite3DB db;
};

TEST(CppSQLite3ExceptionTest, MessageAndCodeNames)
{
    const struct {
        int code;
        const char* name;
    } cases[] = {{0, "SQLITE_OK"},         {1, "SQLITE_ERROR"},   {5, "SQLITE_BUSY"},         {14, "SQLITE_CANTOPEN"},
                 {19, "SQLITE_CONSTRAINT"}, {25, "SQLITE_RANGE"}, {100, "SQLITE_ROW"},        {101, "SQLITE_DONE"},
                 {1000, "CPPSQLITE_ERROR"}, {26, "UNKNOWN_ERROR"}, {-1, "UNKNOWN_ERROR"},     {1001, "UNKNOWN_ERROR"},
                 {261, "UNKNOWN_ERROR"}};
    for (const auto& c : cases)
        EXPECT_EQ(c.name, Narrow(CppSQLite3Exception::CodeName(c.code))) << c.code;

    EXPECT_EQ("SQLITE_BUSY[5]: database is locked", Narrow(CppSQLite3Exception(5, u"database is locked").ErrorMessage()));
    EXPECT_EQ("CPPSQLITE_ERROR[1000]: ", Narrow(CppSQLite3Exception(1000).ErrorMessage()));
    const CppSQLite3Exception copy = CppSQLite3Exception(19, u"x");
    EXPECT_EQ(19, copy.ErrorCode());
    EXPECT_EQ("SQLITE_CONSTRAINT[19]: x", Narrow(copy.ErrorMessage()));
}

TEST_F(WrapperTest, SyntaxErrorsThrowAtPreparation)
{
    for (bool query : {false, true}) {
        try {
            if (query)
                db.ExecuteQuery(u"SELEC * FROM FileInfo");
            else
                db.ExecuteDml(u"INSERT INTO FileInfo values (");
            FAIL() << "no exception";
        } catch (const CppSQLite3Exception& e) {
            EXPECT_EQ(1, e.ErrorCode());
            EXPECT_EQ(0u, e.ErrorMessage().rfind(u"SQLITE_ERROR[1]: ", 0)) << Narrow(e.ErrorMessage());
            EXPECT_GT(e.ErrorMessage().size(), 17u);
        }
    }
    // A missing table is named in the text.
    try {
        db.ExecuteQuery(u"SELECT * FROM EventInfo");
        FAIL();
    } catch (const CppSQLite3Exception& e) {
        EXPECT_NE(std::u16string::npos, e.ErrorMessage().find(u"EventInfo"));
    }
}

TEST_F(WrapperTest, ClosedDatabaseAndMissingStatement)
{
    CppSQLite3DB closed;
    try {
        closed.ExecuteDml(u"SELECT 1");
        FAIL();
    } catch (const CppSQLite3Exception& e) {
        EXPECT_EQ(1000, e.ErrorCode());
        EXPECT_EQ("CPPSQLITE_ERROR[1000]: Database not open", Narrow(e.ErrorMessage()));
    }
    EXPECT_THROW(closed.ExecuteQuery(u"SELECT 1"), CppSQLite3Exception);
    EXPECT_NO_THROW(closed.Close());

    CppSQLite3Query none;
    EXPECT_TRUE(none.AtEnd());
    try {
        none.FieldIndex(u"Name");
        FAIL();
    } catch (const CppSQLite3Exception& e) {
        EXPECT_EQ("CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer", Narrow(e.ErrorMessage()));
    }
}

TEST_F(WrapperTest, BoundValuesRoundTripUnchanged)
{
    const std::u16string values[] = {
        u"plain",
        u"quote \" inside",
        u"it's",
        u"a; DROP TABLE FileInfo; --",
        u"주민등록번호 보고서.hwp",
        u"\"; DELETE FROM FileInfo WHERE \"1\" = \"1",
        u"",
        // A file name byte that is not UTF-8 (kept as U+DC80..U+DCFF).
        plat::PathFromNative(std::string("caf\xe9.doc", 8)),
    };
    int64_t id = 0;
    for (const auto& v : values) {
        ASSERT_EQ(0, db.ExecuteDml(u"INSERT INTO FileInfo (Name, Note) values (?, ?)", {v, u"n"}));
        ++id;
        EXPECT_EQ(id, db.LastInsertRowId());
    }
    CppSQLite3Query q = db.ExecuteQuery(u"SELECT Name FROM FileInfo ORDER BY FileIndex");
    for (const auto& v : values) {
        ASSERT_FALSE(q.AtEnd());
        EXPECT_EQ(v, q.FieldText(0));
        q.NextRow();
    }
    EXPECT_TRUE(q.AtEnd());

    // Lookups by a bound value find the row with the same text.
    CppSQLite3Query one = db.ExecuteQuery(u"SELECT FileIndex FROM FileInfo WHERE Name = ?", {values[5]});
    ASSERT_FALSE(one.AtEnd());
    EXPECT_EQ(u"6", one.FieldText(u"FileIndex"));

    // Values and placeholders must agree.
    EXPECT_THROW(db.ExecuteDml(u"INSERT INTO FileInfo (Name) values (?)"), CppSQLite3Exception);
    EXPECT_THROW(db.ExecuteDml(u"INSERT INTO FileInfo (Name) values (?)", {u"a", u"b"}), CppSQLite3Exception);
}

TEST_F(WrapperTest, QueriesRowsNullsAndFieldNames)
{
    ASSERT_EQ(0, db.ExecuteDml(u"INSERT INTO FileInfo (FileIndex, Name) values (7, 'a')"));
    CppSQLite3Query empty = db.ExecuteQuery(u"SELECT * FROM FileInfo WHERE FileIndex = 99");
    EXPECT_TRUE(empty.HasStatement());
    EXPECT_TRUE(empty.AtEnd());

    CppSQLite3Query q = db.ExecuteQuery(u"SELECT * FROM FileInfo");
    ASSERT_FALSE(q.AtEnd());
    EXPECT_EQ(3, q.NumFields());
    EXPECT_EQ(0, q.FieldIndex(u"FileIndex"));
    EXPECT_EQ(u"7", q.FieldText(u"FileIndex"));
    EXPECT_EQ(u"", q.FieldText(u"Note"));  // NULL
    try {
        q.FieldIndex(u"fileindex");
        FAIL();
    } catch (const CppSQLite3Exception& e) {
        EXPECT_EQ("CPPSQLITE_ERROR[1000]: Invalid field name requested", Narrow(e.ErrorMessage()));
    }
    EXPECT_THROW(q.FieldText(3), CppSQLite3Exception);
    EXPECT_THROW(q.FieldText(-1), CppSQLite3Exception);
    q.NextRow();
    EXPECT_TRUE(q.AtEnd());
}

TEST_F(WrapperTest, AssignMovesOwnershipOfTheStatement)
{
    CppSQLite3Query taker;
    {
        CppSQLite3Query result = db.ExecuteQuery(u"SELECT 1 AS One");
        taker.Assign(result);
        EXPECT_FALSE(result.HasStatement());
    }  // destroying the source finalizes nothing
    ASSERT_TRUE(taker.HasStatement());
    EXPECT_EQ(u"1", taker.FieldText(u"One"));
    // While the taker holds its statement the connection cannot close.
    EXPECT_THROW(db.Close(), CppSQLite3Exception);
    EXPECT_TRUE(db.IsOpen());
    // Assigning another result finalizes the old statement.
    CppSQLite3Query next = db.ExecuteQuery(u"SELECT 2 AS Two");
    taker.Assign(next);
    EXPECT_EQ(u"2", taker.FieldText(u"Two"));
    taker = CppSQLite3Query();
    EXPECT_NO_THROW(db.Close());
}

TEST_F(WrapperTest, FailedStepIsReportedAndLeavesNothingOpen)
{
    ASSERT_EQ(0, db.ExecuteDml(u"INSERT INTO FileInfo (Name) values (?)", {u"same"}));
    const int rc = db.ExecuteDml(u"INSERT INTO FileInfo (Name) values (?)", {u"same"});
    EXPECT_EQ(19, rc);  // the specific cause, not only "failed"
    EXPECT_NE(0, db.ExecuteDml(u"INSERT INTO FileInfo (FileIndex, Name) values (1, 'other')"));
    EXPECT_NO_THROW(db.Close());
    EXPECT_FALSE(db.IsOpen());
}

TEST(WrapperOpenTest, UnopenablePathThrowsAndHoldsNoConnection)
{
    ps_test::TempDir dir;
    CppSQLite3DB db;
    try {
        db.Open(PathFromNative(dir.file("missing/folder/x.db")));
        FAIL();
    } catch (const CppSQLite3Exception& e) {
        EXPECT_EQ(14, e.ErrorCode());
    }
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(60000, db.BusyTimeout());
}

}  // namespace
