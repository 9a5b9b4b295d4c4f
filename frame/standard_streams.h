// The process's standard input and output as the CGI frame reads and
// writes them; the main functions of the CGI programs build them.
#ifndef QLOK_FRAME_STANDARD_STREAMS_H_
#define QLOK_FRAME_STANDARD_STREAMS_H_

#include "frame/cgi_main.h"

namespace qlok {

// Standard input, read as the pipe delivers it (interrupted reads are
// repeated). Throws Failure when it cannot be read.
class StandardInput : public ByteSource {
 public:
  size_t Read(char* buffer, size_t size) override;
};

// Standard output; the response normally leaves in one write, and what a
// pipe takes only in part is written on until all is out. Throws Failure
// when it cannot be written.
class StandardOutput : public ByteSink {
 public:
  void Write(std::string_view bytes) override;
  // Standard output then leads to /dev/null: the descriptor stays taken, so
  // that no file opened later can become standard output. A web server
  // that sees the response end may stop the program (SIGTERM); from here
  // on that is ignored, as what the program still does is bounded by the
  // request's own time limit.
  void Close() override;
};

}  // namespace qlok

#endif  // QLOK_FRAME_STANDARD_STREAMS_H_
