// Query values encoded exactly where they would change the address.
#include <gtest/gtest.h>

#include <string>

#include "net/url_encode.h"

namespace quilora {
namespace {

TEST(EncodeQueryValue, EncodesOnlyWhatWouldChangeTheAddress) {
    struct Case {
        std::string value, charset, expected;
    } cases[] = {
        {"a&b c#1", "GBK", "a%26b%20c%231"},
        {"%+=?", "GBK", "%25%2B%3D%3F"},
        {"x\ty\r\n\x7F", "GBK", "x%09y%0D%0A%7F"},
        // left alone: ordinary addresses stay exactly the templates filled
        {"2011-03-15/x.aspx:'();,~_*!@$", "GBK", "2011-03-15/x.aspx:'();,~_*!@$"},
        {"复诊", "GBK", "%B8%B4%D5%EF"},
        {"复诊", "UTF-8", "%E5%A4%8D%E8%AF%8A"},
        {"a复b诊", "GBK", "a%B8%B4b%D5%EF"},
        {"", "GBK", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EncodeQueryValue(c.value, c.charset), c.expected) << c.value;
}

} // namespace
} // namespace quilora
