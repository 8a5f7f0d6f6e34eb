// The logon line in DL.txt, byte for byte, and the refusals.
#include "panels/logon_form.h"
#include "tests/common/site_test.h"

namespace qm::test {
namespace {

class LogonRules : public SiteTest {};

TEST_F(LogonRules, WritesBothFieldsRightAlignedInGbk) {
    struct Case {
        const char* name;
        const char* password;
        const char* line;
    };
    const Case cases[] = {
        {"", "", "         \r\n"},  // 11 bytes
        {"a", "123456", "   a 123456\r\n"},
        {"abcd", "1", "abcd    1\r\n"},
        {"张三", "密码", "\xD5\xC5\xC8\xFD \xC3\xDC\xC2\xEB\r\n"},
    };
    for (const Case& c : cases) {
        LogonForm form(site_);
        EXPECT_EQ(form.Confirm(c.name, c.password), LogonForm::Outcome::kWritten) << c.name;
        EXPECT_EQ(ReadFile(Txt("DL.txt")), c.line) << c.name;
        EXPECT_TRUE(form.Name().empty() && form.Password().empty());
    }
}

TEST_F(LogonRules, RefusesANameOverFourBytesAndEmptiesBothFields) {
    LogonForm form(site_);
    // Three characters, five GBK bytes.
    EXPECT_EQ(form.Confirm("张三a", "12"), LogonForm::Outcome::kNameTooLong);
    EXPECT_STREQ(kLogonNameWarning, "Please enter no more than 4 characters.");
    EXPECT_TRUE(form.Name().empty() && form.Password().empty());
    EXPECT_FALSE(Exists(Txt("DL.txt")));

    EXPECT_TRUE(LogonForm::PasswordFits("密码密码"));
    EXPECT_FALSE(LogonForm::PasswordFits("密码密码1"));
    EXPECT_EQ(form.Confirm("ab", "123456789"), LogonForm::Outcome::kPasswordTooLong);
    EXPECT_FALSE(Exists(Txt("DL.txt")));
}

}  // namespace
}  // namespace qm::test
