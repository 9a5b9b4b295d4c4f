// CSV as the operator tool reads and writes it: fields separated by commas,
// records ended by CR LF or LF, fields quoted with double quotes when they
// hold a comma, a quote or a line break (a quote inside a quoted field is
// doubled). Texts are UTF-8; a UTF-8 byte order mark at the very start is
// skipped.
#ifndef QLOK_TOOLS_CSV_H_
#define QLOK_TOOLS_CSV_H_

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace qlok {

struct CsvRecord {
  // The line of the input on which the record starts, counting from 1.
  // Line breaks inside quoted fields count, so this is the line an editor
  // shows.
  size_t line = 0;
  // The fields, unquoted, as UTF-8. Line breaks inside quoted fields are
  // kept exactly as the input has them.
  std::vector<std::string> fields;
};

// Reads records one by one from a stream.
class CsvReader {
 public:
  // `in` must outlive the reader. `name` (usually the file name) begins
  // every error message.
  CsvReader(std::istream& in, std::string name);

  // Reads the next record into `record`. Returns false, leaving `record`
  // alone, when the input has no more records. Lines that are wholly empty
  // are skipped, so a final line break or blank lines between records add
  // no record.
  //
  // Throws Failure "NAME:LINE: why" for a quoted field that is never
  // closed, a quote inside an unquoted field, anything but a comma or a
  // line end after a closing quote, bytes that are not UTF-8, or a NUL
  // byte.
  bool Next(CsvRecord& record);

 private:
  [[noreturn]] void Fail(size_t line, const std::string& why) const;

  int Get();
  int Peek();

  std::streambuf* buffer_;
  std::string name_;
  std::string pending_;  // bytes read ahead at the start, served first
  size_t pending_pos_ = 0;
  size_t line_ = 1;
  bool started_ = false;
};

// True when `bytes` are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// One field as CSV: as it stands, or quoted with its quotes doubled when it
// holds a comma, a quote, CR or LF, or begins or ends with a blank.
std::string CsvField(std::string_view text);

// One record: the fields as CsvField writes them, joined by commas, ended
// by CR LF.
std::string CsvLine(const std::vector<std::string>& fields);

}  // namespace qlok

#endif  // QLOK_TOOLS_CSV_H_
