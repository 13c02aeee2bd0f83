// The mask of an FTP listing, matched on our side.
#include "FtpClient.h"

#include <gtest/gtest.h>

namespace {

TEST(FtpMaskTest, MatchesStarAndQuestionMarkWithCase) {
    const struct {
        const char16_t* name;
        const char16_t* mask;
        bool matches;
    } cases[] = {
        {u"setup_2.exe", u"*_2.*", true},
        {u"a_2_2.tar.gz", u"*_2.*", true},
        {u"_2.", u"*_2.*", true},
        {u"setup_2exe", u"*_2.*", false},
        {u"setup_3.exe", u"*_2.*", false},
        {u"(db1)_20261209.bak", u"(db1)*", true},
        {u"(db10)_20261209.bak", u"(db1)*", false},
        {u"abc", u"a?c", true},
        {u"ac", u"a?c", false},
        {u"ABC", u"abc", false},
        {u"설치_2.exe", u"*_2.*", true},
        {u"axbxc", u"a*c", true},
        {u"axbxd", u"a*c", false},
        {u"", u"*", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FtpClient::matchesMask(QStringView(c.name), QStringView(c.mask)), c.matches)
            << QString::fromUtf16(c.name).toStdString() << " ~ " << QString::fromUtf16(c.mask).toStdString();
}

} // namespace
