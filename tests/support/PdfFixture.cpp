#include "tests/support/PdfFixture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>

namespace pagelume::test {

namespace {

// Offsets depend on the width of the numbers written before them, so the layout is
// repeated until it no longer changes; a handful of rounds always suffices.
constexpr int kLayoutRoundsMax = 32;

struct Segment {
  bool literal = true;
  std::string text;               // literal bytes
  std::vector<std::string> args;  // placeholder: name then arguments
};

struct Header {
  int64_t number;
  int64_t generation;
  int64_t position;  // absolute, in the output
};

struct Layout {
  std::vector<Header> headers;
  std::map<std::string, int64_t> marks;  // absolute positions
};

std::vector<Segment> SplitTemplate(const std::string& text) {
  std::vector<Segment> segments;
  size_t at = 0;
  while (at < text.size()) {
    size_t open = text.find("{{", at);
    if (open == std::string::npos) {
      segments.push_back({true, text.substr(at), {}});
      break;
    }
    if (open > at) segments.push_back({true, text.substr(at, open - at), {}});
    size_t close = text.find("}}", open + 2);
    if (close == std::string::npos)
      throw std::invalid_argument("fixture template: '{{' without '}}' at " + std::to_string(open));
    Segment ph;
    ph.literal = false;
    std::string inner = text.substr(open + 2, close - open - 2);
    std::stringstream parts(inner);
    std::string part;
    while (std::getline(parts, part, ':')) ph.args.push_back(part);
    if (ph.args.empty()) throw std::invalid_argument("fixture template: empty placeholder");
    segments.push_back(std::move(ph));
    at = close + 2;
  }
  return segments;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "N G obj" at the start of a line.
std::vector<Header> ScanHeaders(const std::string& out) {
  std::vector<Header> headers;
  for (size_t i = 0; i < out.size(); ++i) {
    if (i > 0 && out[i - 1] != '\n' && out[i - 1] != '\r') continue;
    size_t p = i;
    auto digits = [&](int64_t& value) {
      size_t start = p;
      value = 0;
      while (p < out.size() && IsDigit(out[p]) && p - start < 12) value = value * 10 + (out[p++] - '0');
      return p > start;
    };
    auto spaces = [&] {
      size_t start = p;
      while (p < out.size() && out[p] == ' ') ++p;
      return p > start;
    };
    int64_t number = 0, generation = 0;
    if (!digits(number) || !spaces() || !digits(generation) || !spaces()) continue;
    if (out.compare(p, 3, "obj") != 0) continue;
    headers.push_back({number, generation, int64_t(i)});
  }
  return headers;
}

std::string Padded(int64_t value, int width) {
  std::string digits = std::to_string(value < 0 ? 0 : value);
  if (digits.size() < size_t(width)) digits.insert(0, size_t(width) - digits.size(), '0');
  return digits;
}

int64_t ParseNumberArg(const std::string& s, const std::string& what) {
  if (s.empty()) throw std::invalid_argument("fixture template: missing number in {{" + what + "}}");
  for (char c : s)
    if (!IsDigit(c)) throw std::invalid_argument("fixture template: bad number '" + s + "' in {{" + what + "}}");
  return std::stoll(s);
}

}  // namespace

Bytes FillTemplate(const std::string& text, const PdfFixtureOptions& options) {
  const std::vector<Segment> segments = SplitTemplate(text);
  Layout previous;
  std::string previousOut;
  bool havePrevious = false;

  for (int round = 0; round < kLayoutRoundsMax; ++round) {
    std::string out;
    Layout current;
    int64_t base = 0;
    std::vector<int64_t> xrefs;

    auto markAt = [&](const std::string& name, const std::string& what) -> int64_t {
      auto it = previous.marks.find(name);
      if (it == previous.marks.end()) {
        if (!havePrevious) return 0;
        throw std::invalid_argument("fixture template: unknown mark '" + name + "' in {{" + what + "}}");
      }
      return it->second;
    };
    auto objectAt = [&](int64_t number, const std::string& what) -> int64_t {
      const int64_t here = int64_t(out.size());
      const Header* found = nullptr;
      for (const Header& h : previous.headers)
        if (h.number == number && h.position < here) found = &h;
      if (!found)
        for (const Header& h : previous.headers)
          if (h.number == number) {
            found = &h;
            break;
          }
      if (!found) {
        if (!havePrevious) return 0;
        throw std::invalid_argument("fixture template: no object " + std::to_string(number) + " for {{" +
                                    what + "}}");
      }
      return found->position;
    };

    for (const Segment& seg : segments) {
      if (seg.literal) {
        out += seg.text;
        continue;
      }
      const std::string& name = seg.args[0];
      std::string whole = name;
      for (size_t i = 1; i < seg.args.size(); ++i) whole += ":" + seg.args[i];
      auto needArgs = [&](size_t n) {
        if (seg.args.size() != n + 1)
          throw std::invalid_argument("fixture template: wrong arguments in {{" + whole + "}}");
      };
      const int64_t here = int64_t(out.size());
      if (name == "xref") {
        needArgs(0);
        std::map<int64_t, const Header*> latest;
        for (const Header& h : previous.headers)
          if (h.position < here) latest[h.number] = &h;
        int64_t size = latest.empty() ? 1 : latest.rbegin()->first + 1;
        xrefs.push_back(here);
        out += "xref\n0 " + std::to_string(size) + "\n";
        for (int64_t n = 0; n < size; ++n) {
          auto it = latest.find(n);
          if (it != latest.end() && n > 0)
            out += Padded(it->second->position - base, 10) + " " + Padded(it->second->generation, 5) + " n" +
                   options.entryEnd;
          else
            out += std::string("0000000000 ") + (n == 0 ? "65535" : "00000") + " f" + options.entryEnd;
        }
      } else if (name == "startxref") {
        needArgs(0);
        if (xrefs.empty()) throw std::invalid_argument("fixture template: {{startxref}} before any {{xref}}");
        out += std::to_string(xrefs.back() - base);
      } else if (name == "size") {
        needArgs(0);
        int64_t highest = 0;
        for (const Header& h : previous.headers)
          if (h.position < here && h.number > highest) highest = h.number;
        out += std::to_string(highest + 1);
      } else if (name == "offset" || name == "offset10") {
        needArgs(1);
        int64_t value = objectAt(ParseNumberArg(seg.args[1], whole), whole) - base;
        out += name == "offset" ? std::to_string(value) : Padded(value, 10);
      } else if (name == "mark") {
        needArgs(1);
        current.marks[seg.args[1]] = here;
      } else if (name == "pos" || name == "pos10") {
        needArgs(1);
        int64_t value = markAt(seg.args[1], whole) - base;
        out += name == "pos" ? std::to_string(value) : Padded(value, 10);
      } else if (name == "dist") {
        needArgs(2);
        out += std::to_string(markAt(seg.args[2], whole) - markAt(seg.args[1], whole));
      } else if (name == "base") {
        needArgs(0);
        base = here;
      } else {
        throw std::invalid_argument("fixture template: unknown placeholder {{" + whole + "}}");
      }
    }
    current.headers = ScanHeaders(out);
    if (havePrevious && out == previousOut) return out;
    previous = std::move(current);
    previousOut = std::move(out);
    havePrevious = true;
  }
  throw std::invalid_argument("fixture template: offsets do not settle");
}

Bytes BuildPdf(const std::vector<std::string>& objects, const std::string& trailerExtra,
               const PdfFixtureOptions& options) {
  std::string t = options.junkBeforeHeader;
  if (options.offsetsFromHeader) t += "{{base}}";
  t += "%PDF-" + options.version + "\n%\xE2\xE3\xCF\xD3\n";
  for (size_t i = 0; i < objects.size(); ++i)
    t += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  t += "{{xref}}trailer\n<< /Size {{size}}";
  if (!trailerExtra.empty()) t += " " + trailerExtra;
  t += " >>\nstartxref\n{{startxref}}\n%%EOF\n";
  return FillTemplate(t, options);
}

// ---- Files and commands -------------------------------------------------------------

namespace {

std::string UniqueTempName(const std::string& suffix) {
  static std::atomic<unsigned> counter{0};
  static const unsigned long long salt = std::random_device{}();
  std::filesystem::path dir = std::filesystem::temp_directory_path();
  std::string name = "pagelume-" + std::to_string(::getpid()) + "-" + std::to_string(salt % 1000000) + "-" +
                     std::to_string(counter++) + suffix;
  return (dir / name).string();
}

}  // namespace

std::string WriteTempFile(ByteView bytes, const std::string& suffix) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = UniqueTempName(suffix);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) continue;
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) {
        ::close(fd);
        throw std::runtime_error("cannot write temp file " + path);
      }
      done += size_t(n);
    }
    ::close(fd);
    return path;
  }
  throw std::runtime_error("cannot create a temp file");
}

Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

TempFile::TempFile(ByteView bytes, const std::string& suffix) : path_(WriteTempFile(bytes, suffix)) {}

TempFile::TempFile() : path_(UniqueTempName(".pdf")) {}

TempFile::~TempFile() {
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

CommandResult RunCommand(const std::string& commandLine) {
  CommandResult result;
  std::string line = "(" + commandLine + ") 2>&1";
  FILE* pipe = ::popen(line.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int status = ::pclose(pipe);
  if (status != -1 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

CliResult RunCli(const std::string& args, const std::string& env) {
  const char* fromEnv = std::getenv("PAGELUME_CLI");
  const std::string cli = fromEnv ? fromEnv : std::string(PAGELUME_BINARY_DIR) + "/pagelume-cli";
  TempFile errors;
  const std::string command = "env -u PAGELUME_PASSWORD " + env + " " + ShellQuote(cli) + " " + args + " 2>" +
                              ShellQuote(errors.Path());
  CliResult r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int rc = ::pclose(pipe);
  r.status = rc != -1 && WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  if (std::filesystem::exists(errors.Path())) r.err = ReadWholeFile(errors.Path());
  return r;
}

std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

bool HaveTool(const std::string& tool) {
  return RunCommand("command -v " + ShellQuote(tool) + " >/dev/null").exitCode == 0;
}

}  // namespace pagelume::test
