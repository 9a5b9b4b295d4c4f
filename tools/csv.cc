#include "tools/csv.h"

#include <string>
#include <utility>

#include "platform/failure.h"

namespace qlok {

CsvReader::CsvReader(std::istream& in, std::string name)
    : buffer_(in.rdbuf()), name_(std::move(name)) {}

int CsvReader::Get() {
  if (pending_pos_ < pending_.size()) {
    return static_cast<unsigned char>(pending_[pending_pos_++]);
  }
  return buffer_ == nullptr ? std::char_traits<char>::eof() : buffer_->sbumpc();
}

int CsvReader::Peek() {
  if (pending_pos_ < pending_.size()) {
    return static_cast<unsigned char>(pending_[pending_pos_]);
  }
  return buffer_ == nullptr ? std::char_traits<char>::eof() : buffer_->sgetc();
}

void CsvReader::Fail(size_t line, const std::string& why) const {
  throw Failure(name_ + ":" + std::to_string(line) + ": " + why);
}

bool CsvReader::Next(CsvRecord& record) {
  constexpr int kEof = std::char_traits<char>::eof();
  if (!started_) {
    started_ = true;
    // Read up to three bytes ahead to see whether they are a byte order
    // mark; whatever they are otherwise is served again by Get.
    for (int i = 0; i < 3; ++i) {
      int c = buffer_ == nullptr ? kEof : buffer_->sbumpc();
      if (c == kEof) break;
      pending_.push_back(static_cast<char>(c));
    }
    if (pending_ == "\xEF\xBB\xBF") pending_pos_ = 3;
  }

  enum class State { kFieldStart, kUnquoted, kQuoted, kAfterQuote };
  for (;;) {
    std::vector<std::string> fields;
    std::string field;
    State state = State::kFieldStart;
    bool any_quote = false;
    bool read_anything = false;
    const size_t record_line = line_;
    size_t field_line = line_;

    auto end_field = [&] {
      // Texts end at a NUL in some engines and not in others.
      if (field.find('\0') != std::string::npos) {
        Fail(field_line, "a NUL character in a field");
      }
      if (!IsValidUtf8(field)) {
        Fail(field_line,
             "not UTF-8 text (a file in Shift_JIS must be saved as UTF-8 "
             "first)");
      }
      fields.push_back(std::move(field));
      field.clear();
      state = State::kFieldStart;
      field_line = line_;
    };

    for (;;) {
      int c = Get();
      if (c == kEof) {
        if (state == State::kQuoted) {
          Fail(field_line, "a quoted field is never closed");
        }
        if (!read_anything) return false;
        end_field();
        break;
      }
      read_anything = true;
      bool line_end = false;
      if (c == '\n') {
        line_end = true;
      } else if (c == '\r' && Peek() == '\n') {
        Get();
        line_end = true;
      }

      if (state == State::kQuoted) {
        if (c == '"') {
          state = State::kAfterQuote;
        } else {
          if (line_end) {
            ++line_;
            // Keep the break as written: CR LF when the input has it.
            if (c == '\r') field.push_back('\r');
            field.push_back('\n');
          } else {
            field.push_back(static_cast<char>(c));
          }
        }
        continue;
      }
      if (line_end) {
        ++line_;
        end_field();
        break;
      }
      if (c == ',') {
        end_field();
        continue;
      }
      if (c == '"') {
        if (state == State::kFieldStart) {
          state = State::kQuoted;
          any_quote = true;
          continue;
        }
        if (state == State::kAfterQuote) {
          field.push_back('"');
          state = State::kQuoted;
          continue;
        }
        Fail(line_,
             "a quote inside an unquoted field (quote the whole field and "
             "double the quote)");
      }
      if (state == State::kAfterQuote) {
        Fail(line_, "text after the closing quote of a field");
      }
      field.push_back(static_cast<char>(c));
      state = State::kUnquoted;
    }

    if (fields.size() == 1 && fields[0].empty() && !any_quote) continue;
    record.line = record_line;
    record.fields = std::move(fields);
    return true;
  }
}

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  const size_t n = bytes.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int length;
    uint32_t code;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + length > n) return false;
    for (int k = 1; k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
        code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

std::string CsvField(std::string_view text) {
  bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
  for (char c : text) {
    if (c == ',' || c == '"' || c == '\r' || c == '\n') quote = true;
  }
  if (!quote) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string CsvLine(const std::vector<std::string>& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out.push_back(',');
    out += CsvField(fields[i]);
  }
  out += "\r\n";
  return out;
}

}  // namespace qlok
