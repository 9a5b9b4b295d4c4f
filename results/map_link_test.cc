#include "results/map_link.h"

#include <gtest/gtest.h>

#include <string>

#include "text/unicode.h"

namespace qlok {
namespace {

constexpr char16_t kBase[] = u"https://maps.test";

std::u16string Link(std::u16string_view encoded) {
  return std::u16string(kBase) + u"/m/m.cgi?" + std::u16string(encoded);
}

// The trimmed address, read back from the link.
std::u16string Trimmed(std::u16string_view address) {
  std::u16string link = AddressMapLink(address, kBase);
  std::u16string hex = link.substr(Link(u"").size());
  std::u16string out;
  for (size_t i = 0; i + 4 <= hex.size(); i += 4) {
    out += static_cast<char16_t>(std::stoi(U8(hex.substr(i, 4)), nullptr, 16));
  }
  return out;
}

TEST(AddressMapLinkTest, TrimsAndEncodes) {
  struct Case {
    std::u16string address;
    std::u16string trimmed;
    std::u16string encoded;
  } cases[] = {
      {u"〒123-4567 大阪府大阪市北区中之島１丁目２－３　中央ビル",
       u"大阪市北区中之島１丁目",
       u"5927962A5E025317533A4E2D4E4B5CF6FF114E0176EE"},
      {u"〒123-4567 神奈川県横浜市中区山下町１２３番地　港ビル５階",
       u"横浜市中区山下町１２３番",
       u"6A2A6D5C5E024E2D533A5C714E0B753AFF11FF12FF13756A"},
      {u"千葉県千葉市中央区本町２丁目１０番５号（本社）",
       u"千葉市中央区本町２丁目",
       u"534384495E024E2D592E533A672C753AFF124E0176EE"},
      {u"東京都　新宿区西新宿２丁目８－１", u"新宿区西新宿２丁目８－１",
       u"65B05BBF533A897F65B05BBFFF124E0176EEFF18FF0DFF11"},
      {u"静岡県浜松市中区元城町１０３－２※駐車場あり",
       u"浜松市中区元城町１０３",
       u"6D5C677E5E024E2D533A514357CE753AFF11FF10FF13"},
      {u"港区芝　公園", u"港区芝公園", u"6E2F533A829D516C5712"},
      {u"　港区", u"", u""},
      {u"〒123-4567 ", u"", u""},  // exactly ten characters
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AddressMapLink(c.address, kBase), Link(c.encoded))
        << U8(c.address);
    EXPECT_EQ(Trimmed(c.address), c.trimmed) << U8(c.address);
  }
}

TEST(AddressMapLinkTest, BlanksAndLength) {
  struct Case {
    std::u16string address;
    std::u16string trimmed;
  } cases[] = {
      // A blank shortly after a hyphen ends the address; one further on
      // is dropped.
      {u"西新宿２－８　ビル", u"西新宿２－８"},
      {u"本町１－２３４５　ビル", u"本町１－２３４５ビル"},
      // Without a hyphen a blank at 4 to 10 is dropped, at 1 to 3 it cuts.
      {u"千代田　丸の内", u"千代田丸の内"},
      {u"港　区", u"港"},
      // Twenty-six characters or more keep the first twenty-five.
      {std::u16string(30, u'あ'), std::u16string(25, u'あ')},
      // A postcode cut short leaves nothing rather than failing the page.
      {u"〒123", u""},
      {u"〒", u""},
      {u"", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Trimmed(c.address), c.trimmed) << U8(c.address);
  }
}

}  // namespace
}  // namespace qlok
