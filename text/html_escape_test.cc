#include "text/html_escape.h"

#include <gtest/gtest.h>

namespace qlok {
namespace {

TEST(HtmlEscapeTest, NothingCanLeaveAnAttribute) {
  EXPECT_EQ(EscapeHtml(u"a'b\"c<d>e&f"), u"a&#39;b&quot;c&lt;d&gt;e&amp;f");
  EXPECT_EQ(EscapeHtml(u"SELECT * WHERE 齢上 >= 35"),
            u"SELECT * WHERE 齢上 &gt;= 35");
  EXPECT_EQ(EscapeHtml(u""), u"");
}

}  // namespace
}  // namespace qlok
