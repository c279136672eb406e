#include "json_lines.h"

#include "base64.h"
#include "utf8_bytes.h"

#include <cstdio>

namespace qg_cli {

namespace {

// `text` (valid UTF-8) as a JSON string: '"' and '\' escaped, the control
// characters as \b \f \n \r \t or \u00xx in lower-case hex, every other
// character as it is, which is how ripgrep's writer spells them.
void put_string(std::string &out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20) {
          out += "\\u00";
          out += kHex[u >> 4];
          out += kHex[u & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

// {"text":...} for bytes that are UTF-8, {"bytes":BASE64} for others.
void put_data(std::string &out, std::string_view bytes) {
  if (is_utf8(bytes)) {
    out += "{\"text\":";
    put_string(out, bytes);
  } else {
    out += "{\"bytes\":\"" + to_base64(bytes) + "\"";
  }
  out += '}';
}

void put_number(std::string &out, int64_t n) { out += std::to_string(n); }

// A time in ripgrep's three parts; `summary_order` writes its keys sorted,
// as ripgrep's summary does, rather than in the order of an "end".
void put_elapsed(std::string &out, int64_t ns, bool summary_order) {
  const int64_t secs = ns / 1000000000, nanos = ns % 1000000000;
  char human[64];
  std::snprintf(human, sizeof human, "%0.6fs", static_cast<double>(ns) / 1e9);
  const std::string s = std::to_string(secs), n = std::to_string(nanos);
  if (summary_order) {
    out += "{\"human\":\"" + std::string(human) + "\",\"nanos\":" + n + ",\"secs\":" + s + "}";
  } else {
    out += "{\"secs\":" + s + ",\"nanos\":" + n + ",\"human\":\"" + human + "\"}";
  }
}

}  // namespace

void message_stats::add(const message_stats &other) {
  elapsed_ns += other.elapsed_ns;
  searches += other.searches;
  searches_with_match += other.searches_with_match;
  bytes_searched += other.bytes_searched;
  bytes_printed += other.bytes_printed;
  matched_lines += other.matched_lines;
  matches += other.matches;
}

std::string begin_message(std::string_view path) {
  std::string out = "{\"type\":\"begin\",\"data\":{\"path\":";
  put_data(out, path);
  out += "}}";
  return out;
}

std::string line_message(bool context, std::string_view path, std::string_view line,
                         int64_t line_number, int64_t offset,
                         const std::vector<submatch> &matches) {
  std::string out = context ? "{\"type\":\"context\"" : "{\"type\":\"match\"";
  out += ",\"data\":{\"path\":";
  put_data(out, path);
  out += ",\"lines\":";
  put_data(out, line);
  out += ",\"line_number\":";
  put_number(out, line_number);
  out += ",\"absolute_offset\":";
  put_number(out, offset);
  out += ",\"submatches\":[";
  for (const submatch &m : matches) {
    if (&m != &matches.front()) out += ',';
    out += "{\"match\":";
    put_data(out, line.substr(m.start, m.end - m.start));
    out += ",\"start\":";
    put_number(out, static_cast<int64_t>(m.start));
    out += ",\"end\":";
    put_number(out, static_cast<int64_t>(m.end));
    out += '}';
  }
  out += "]}}";
  return out;
}

std::string end_message(std::string_view path, std::optional<int64_t> binary_offset,
                        const message_stats &stats) {
  std::string out = "{\"type\":\"end\",\"data\":{\"path\":";
  put_data(out, path);
  out += ",\"binary_offset\":";
  if (binary_offset) {
    put_number(out, *binary_offset);
  } else {
    out += "null";
  }
  out += ",\"stats\":{\"elapsed\":";
  put_elapsed(out, stats.elapsed_ns, false);
  out += ",\"searches\":" + std::to_string(stats.searches) +
         ",\"searches_with_match\":" + std::to_string(stats.searches_with_match) +
         ",\"bytes_searched\":" + std::to_string(stats.bytes_searched) +
         ",\"bytes_printed\":" + std::to_string(stats.bytes_printed) +
         ",\"matched_lines\":" + std::to_string(stats.matched_lines) +
         ",\"matches\":" + std::to_string(stats.matches) + "}}}";
  return out;
}

std::string summary_message(int64_t elapsed_total_ns, const message_stats &stats) {
  std::string out = "{\"data\":{\"elapsed_total\":";
  put_elapsed(out, elapsed_total_ns, true);
  out += ",\"stats\":{\"bytes_printed\":" + std::to_string(stats.bytes_printed) +
         ",\"bytes_searched\":" + std::to_string(stats.bytes_searched) + ",\"elapsed\":";
  put_elapsed(out, stats.elapsed_ns, true);
  out += ",\"matched_lines\":" + std::to_string(stats.matched_lines) +
         ",\"matches\":" + std::to_string(stats.matches) +
         ",\"searches\":" + std::to_string(stats.searches) +
         ",\"searches_with_match\":" + std::to_string(stats.searches_with_match) +
         "}},\"type\":\"summary\"}";
  return out;
}

}  // namespace qg_cli
