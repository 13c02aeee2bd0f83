#include "MessageBoxRecorder.h"
#include "ProgramInfo.h"
#include "QStringPrinter.h"
#include "TestSupport.h"
#include "modServerAddressUtil.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

const QByteArray Bom = "\xEF\xBB\xBF";

using TestSupport::readAll;

// The answer of the directory server as text: what it leaves in the cache. An answer cut off by the end of
// its text must not become a cache that reads as less than the server sent (or as no directory at all).
TEST(DirectoryAnswerTest, OnlyAWholeSuccessfulAnswerReplacesTheCache) {
    const QString cache = ProgramInfo::folder() + "/" + modServerAddressUtil::CacheFileName();
    const QByteArray old = Bom + R"({"ver": 11,"servers": []})";
    struct Case {
        const char* name;
        QByteArray answer;
        bool result;
        QByteArray cache;
    };
    const Case cases[] = {
        {"success",
         R"({"success": true, "data": {"ver": 12, "servers": [{"name": "a", "host": "127.0.0.9"}]}})", true,
         Bom + R"({"ver": 12,"servers": [{"name": "a","host": "127.0.0.9"}]})"},
        {"cut after a key", R"({"success": true, "data": {"ver": 3, "servers": [{"name": "a", "host":)", true,
         old},
        {"cut after the last key", R"({"success": true, "data": {"ver":)", true, old},
        {"a misspelt null", R"({"success": true, "data": {"ver": nul, "servers": []}})", true, old},
        {"cut after an element", R"({"success": true, "data": {"ver": 3, "servers": [{"name": "a"}, )", true,
         old},
        {"unclosed but whole", R"({"success": true, "data": {"ver": 3, "servers": [{"name": "a"})", true,
         Bom + R"({"ver": 3,"servers": [{"name": "a"}]})"},
        {"success false", R"({"success": false, "data": {"ver": 12}})", true, old},
        // An answer in clear cannot say it came over verified TLS.
        {"claims TLS", R"({"success": true, "data": {"fetchedOverVerifiedTls": true, "ver": 13}})", true,
         Bom + R"({"ver": 13})"},
        {"no data", R"({"success": true})", true, old},
        {"not an object", "[true]", false, old},
        {"not JSON", "maintenance", false, old},
    };
    MessageBoxRecorder boxes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestSupport::writeFile(cache, old);
        EXPECT_EQ(modServerAddressUtil::TakeDirectoryAnswer(QString::fromUtf8(c.answer)), c.result);
        EXPECT_EQ(readAll(cache), c.cache);
    }
    EXPECT_TRUE(boxes.texts.isEmpty());
    QFile::remove(cache);
}

} // namespace
