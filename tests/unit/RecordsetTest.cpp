#include "Recordset.h"

#include "TestSupport.h"
#include "VbError.h"
#include "cMySQL.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

// A table of two columns and the given records, filled as the result conversion fills it.
std::unique_ptr<Recordset> table(const QList<QStringList>& records) {
    auto rs = std::make_unique<Recordset>();
    rs->Fields().Append(QStringLiteral("id"), Recordset::adBSTR, 11, Recordset::adFldUnspecified);
    rs->Fields().Append(QStringLiteral("name"), Recordset::adBSTR, 40, Recordset::adFldUnspecified);
    rs->Open();
    for (const QStringList& record : records) {
        rs->AddNew();
        for (int i = 0; i < record.size(); ++i)
            rs->Fields().Item(i).setValue(record[i]);
    }
    rs->UpdateBatch();
    if (rs->RecordCount() > 1)
        rs->MoveFirst();
    return rs;
}

TEST(RecordsetTest, WalksItsRecordsInOrder) {
    auto rs = table({{"1", "하나"}, {"2", "둘"}, {"3", "셋"}});
    EXPECT_EQ(rs->RecordCount(), 3);
    QStringList seen;
    while (!rs->Eof()) {
        seen << rs->Fields().Item(QStringLiteral("ID")).Value() + "=" + rs->Fields().Item(1).Value();
        rs->MoveNext();
    }
    EXPECT_EQ(seen, QStringList({"1=하나", "2=둘", "3=셋"}));
    EXPECT_EQ(rs->Fields().Item(1).DefinedSize(), 40);
    EXPECT_EQ(rs->Fields().Item(1).Name(), QStringLiteral("name"));

    auto one = table({{"9", "only"}});
    EXPECT_FALSE(one->Eof());
    EXPECT_EQ(one->Fields().Item(0).Value(), QStringLiteral("9"));
    EXPECT_TRUE(table({})->Eof());
}

TEST(RecordsetTest, MisuseRaisesTheTablesOwnErrors) {
    struct Case {
        const char* name;
        std::function<void(Recordset&)> act;
        int number;
    };
    const Case cases[] = {
        {"unknown name", [](Recordset& rs) { rs.Fields().Item(QStringLiteral("nope")); }, 3265},
        {"ordinal past the end", [](Recordset& rs) { rs.Fields().Item(2); }, 3265},
        {"negative ordinal", [](Recordset& rs) { rs.Fields().Item(-1); }, 3265},
        {"value at the end", [](Recordset& rs) { rs.Fields().Item(0).Value(); }, 3021},
        {"move past the end", [](Recordset& rs) { rs.MoveNext(); }, 3021},
        {"append after opening",
         [](Recordset& rs) { rs.Fields().Append(QStringLiteral("NAME"), Recordset::adBSTR, 1, -1); }, 3219},
        {"closed", [](Recordset& rs) { rs.Close(), rs.RecordCount(); }, 3704},
        {"closed twice", [](Recordset& rs) { rs.Close(), rs.Close(); }, 3704},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto rs = table({{"1", "a"}});
        rs->MoveNext();
        try {
            c.act(*rs);
            ADD_FAILURE() << "nothing raised";
        } catch (const VbError& e) {
            EXPECT_EQ(e.number(), c.number);
        }
    }

    Recordset fresh;
    fresh.Fields().Append(QStringLiteral("id"), Recordset::adBSTR, 1, -1);
    try {
        fresh.Fields().Append(QStringLiteral("ID"), Recordset::adBSTR, 1, -1);
        ADD_FAILURE() << "duplicate accepted";
    } catch (const VbError& e) {
        EXPECT_EQ(e.number(), 3367);
        EXPECT_EQ(e.description(), QStringLiteral("Object already in collection. Cannot append."));
    }
}

TEST(RecordsetTest, CloseRecordsetClosesAnOpenTableAndDropsIt) {
    auto open = table({{"1", "a"}});
    Recordset::CloseRecordset(open);
    EXPECT_EQ(open, nullptr);

    auto closed = table({});
    closed->Close();
    Recordset::CloseRecordset(closed);
    EXPECT_EQ(closed, nullptr);

    std::unique_ptr<Recordset> none;
    Recordset::CloseRecordset(none);
    EXPECT_EQ(none, nullptr);
}

TEST(MySqlTextTest, LibraryTextsAreDecodedCutAndTrimmedOfSpacesOnly) {
    struct Case {
        const char* in;
        QString out;
    };
    const Case cases[] = {
        {nullptr, QString()},
        {"", QString()},
        {"     ", QString()},
        {"  x  ", QStringLiteral("x")},
        {"\t x \t", QStringLiteral("\t x \t")},
        {" a\0b ", QStringLiteral("a")},
        {" \xc7\xd1\xb1\xdb  ", QStringLiteral("한글")},
        {"\x8c\x63 ", QStringLiteral("똠")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in ? c.in : "(null)");
        EXPECT_EQ(cMySQL::text_from_cstr(c.in), c.out);
    }
}

TEST(MySqlTextTest, CountsKeepTheirLow32BitsSigned) {
    EXPECT_EQ(cMySQL::low_long(3'000'000'000ULL), -1'294'967'296);
    EXPECT_EQ(cMySQL::low_long(0x1'0000'0005ULL), 5);
    EXPECT_EQ(cMySQL::low_long(0xFFFF'FFFFULL), -1);
    EXPECT_EQ(cMySQL::low_long(42), 42);
}

} // namespace
