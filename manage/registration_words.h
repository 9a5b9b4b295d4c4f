// A registration described in words for its owner: the address partly
// masked, and the stored search as readable Japanese conditions, for the
// manage page and the list mail.
//
// Pure: values in, texts out.
#ifndef QLOK_MANAGE_REGISTRATION_WORDS_H_
#define QLOK_MANAGE_REGISTRATION_WORDS_H_

#include <string>
#include <string_view>
#include <vector>

#include "registrations/registration_store.h"

namespace qlok {

// `address` with most of the part before its last "@" hidden: the first two
// characters of a part of three or more ("ta***@example.jp"), the first of
// a part of two, none of a part of one; the domain stays. Without an "@"
// only the first character stays. The mask is always "***", whatever the
// length hidden.
std::u16string MaskAddress(std::u16string_view address);

// One line of a description: a label in lenticular brackets ("【職種】")
// and its text. Texts are plain (not HTML).
struct WordedLine {
  std::u16string label;
  std::u16string text;
};

// The registration in words, in this order: 【登録番号】, 【配信状況】
// (配信中, or 停止中 with the day it was stopped), 【職種】, 【内容検索単語】,
// 【休みたい曜日】, 【時間】, 【都県市町村区】, 【就労形態】, 【福利厚生】,
// 【障がい者対象求人】, 【年齢】, 【1日上限送信求人数】, 【登録日】 and, when
// the conditions were changed later, 【条件の変更日】. The conditions are
// those of the search rebuilt from the stored settings, as the search runs
// them: words that widen the search are "いずれか", boxes of welfare items
// all have to hold, and so on; a condition not set reads "指定なし".
std::vector<WordedLine> DescribeRegistration(const Registration& registration);

// The lines as HTML for the page: each label and its text (escaped),
// followed by "<BR>".
std::u16string WordedLinesHtml(const std::vector<WordedLine>& lines);

// The lines as mail text: label and text, each line ended by CR LF.
std::u16string WordedLinesText(const std::vector<WordedLine>& lines);

}  // namespace qlok

#endif  // QLOK_MANAGE_REGISTRATION_WORDS_H_
