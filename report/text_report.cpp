#include "report/report.h"

#include <cstdio>
#include <string>

namespace drelk {
namespace {

constexpr size_t kFlushSize = 64 * 1024;

// Collects the report's text and writes it in large pieces: a code base's report runs to
// millions of lines.
class ReportWriter {
 public:
  explicit ReportWriter(TextStream& output) : output_(output) {}
  ~ReportWriter() { flush(); }

  ReportWriter& text(std::string_view s) {
    text_.append(s);
    if (text_.size() >= kFlushSize) flush();
    return *this;
  }

  // An unsigned decimal right-aligned in `width` columns, as "%<width>u" prints it.
  ReportWriter& number(uint64_t value, int width) {
    char digits[24];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    for (int pad = width - n; pad > 0; --pad) text_.push_back(' ');
    while (n > 0) text_.push_back(digits[--n]);
    return *this;
  }

  void flush() {
    write_text(output_, text_);
    text_.clear();
  }

 private:
  TextStream& output_;
  std::string text_;
};

}  // namespace

void render_text(const Findings& findings, bool problems_only, TextStream& output) {
  ReportWriter out(output);
  if (findings.incomplete) out.text("Drelk: Processing is incomplete due to previous error(s).\n\n");

  if (!problems_only) {
    out.text("Common Block Analysis\n\n");
    if (findings.blocks.empty()) {
      out.text("\tNone of the objects scanned contain COMMON BLOCKS\n\n");
      return;
    }
    out.text("Common   Block   Initialized   Object File\n");
    out.text("         Size \n\n");
  }

  for (const BlockFindings& found : findings.blocks) {
    const CommonBlock& block = *found.block;
    const std::vector<const BlockReference*> references = block_references(block);
    if (!problems_only) {
      out.text(" ").text(block.name).text("\n");
      for (const BlockReference* reference : references) {
        out.number(reference->size, 13)
            .text(reference->initialized ? "   I              " : "                  ")
            .text(reference->object->path)
            .text("\n");
      }
      out.text("\n");
    }
    if (found.size_mismatch) {
      out.text("Drelk Error: Common Block ")
          .text(block.name)
          .text(" is declared with different sizes\n");
      if (problems_only) {
        for (const BlockReference* reference : references) {
          out.number(reference->size, 15)
              .text(" bytes in ")
              .text(reference->object->path)
              .text("\n");
        }
      }
      out.text("\n");
    }
    for (size_t i = found.first_clash; i < found.first_clash + found.clash_count; ++i) {
      const ProcedureEntry& procedure = findings.procedures[i];
      out.text("Drelk Error: Common Block ")
          .text(block.name)
          .text(" conflicts with procedure ")
          .text(procedure.name)
          .text(" in ")
          .text(procedure.definer->path)
          .text("\n\n");
    }
  }
  if (!problems_only) {
    out.text("End of Analysis")
        .text(findings.errors_seen ? ":  COMMON Block errors encountered."
                                   : ":  No problems encountered.")
        .text("\n");
  }
}

void report_common_blocks(const Registry& registry, int error_count, bool problems_only,
                          TextStream& output) {
  render_text(find_problems(registry, error_count), problems_only, output);
}

}  // namespace drelk
