// The findings as one self-contained HTML page that a person browses instead of reading a
// long report: the summary, the findings with their declarations (and under -m their
// layouts side by side, the conflicting members marked), and a table of every block that
// can be filtered by name and sorted. No file or network is needed to open it: the style
// and the little script are inline, and the page's Content-Security-Policy forbids every
// load, so that it opens the same from a CI artifact as from a disk.
//
// Names and paths are bytes from the objects: they are escaped, and bytes that are not
// valid UTF-8 show as U+FFFD.
#include <string>

#include "platform/strprintf.h"
#include "report/adoption.h"
#include "report/json_writer.h"
#include "report/report.h"

namespace drelk {
namespace {

constexpr std::string_view kStyle = R"css(
body{font:14px/1.45 system-ui,-apple-system,"Segoe UI",sans-serif;margin:0 auto;max-width:1240px;padding:16px 20px;color:#1b1f24;background:#fff}
h1{font-size:22px;margin:0 0 4px}h2{font-size:18px;margin:28px 0 8px;border-bottom:1px solid #d0d7de;padding-bottom:4px}
h3{font-size:15px;margin:0 0 6px}code,td.num,.layout td{font-family:ui-monospace,"DejaVu Sans Mono",Menlo,Consolas,monospace;font-size:13px}
.tool{color:#57606a;margin:0 0 10px}.summary{font-weight:600;margin:4px 0}
.verdict{display:inline-block;padding:2px 10px;border-radius:12px;font-weight:600}
.verdict.errors{background:#ffebe9;color:#a40e26}.verdict.clean{background:#dafbe1;color:#116329}.verdict.incomplete{background:#fff8c5;color:#7d4e00}
.finding{border:1px solid #d0d7de;border-left:5px solid #cf222e;border-radius:6px;padding:10px 14px;margin:10px 0}
.finding.warning{border-left-color:#bf8700}.finding.note{border-left-color:#0969da}
.badge{display:inline-block;font-size:12px;font-weight:600;padding:0 8px;border-radius:10px;margin-right:6px;background:#eaeef2}
.badge.state{background:#fff;border:1px solid #8c959f}.badge.error{background:#ffebe9;color:#a40e26}.badge.warning{background:#fff8c5;color:#7d4e00}.badge.note{background:#ddf4ff;color:#0550ae}
.explanation{margin:2px 0 8px;color:#3b434b}
table{border-collapse:collapse}th,td{text-align:left;padding:3px 10px 3px 0;vertical-align:top}
th{font-weight:600;border-bottom:1px solid #d0d7de}td.num,th.num{text-align:right}
.layouts{display:flex;flex-wrap:wrap;gap:14px;margin-top:8px}.layout{border:1px solid #d0d7de;border-radius:6px;padding:6px 10px}
.layout caption{text-align:left;font-weight:600;padding-bottom:4px}.layout tr.conflict td{background:#ffebe9;font-weight:600}
#blocks th[data-sort]{cursor:pointer;user-select:none}#blocks th[data-sort]:hover{color:#0969da}
#blocks tbody tr:nth-child(odd){background:#f6f8fa}#filter{font:inherit;padding:4px 8px;width:320px;margin:0 0 8px}
details summary{cursor:pointer;color:#0969da}#suppressed summary h2{display:inline}ul.refs{margin:4px 0;padding-left:18px}
.diagnostics li{font-family:ui-monospace,Menlo,Consolas,monospace;font-size:13px}
)css";

// Filters the block table by name as one types, sorts it by a column when its heading is
// clicked (again for the other direction), and lists a block's declarations when its row
// is opened, or at once for a row open as the page loads.
constexpr std::string_view kScript = R"js(
(function(){
var table=document.getElementById('block-table');if(!table)return;
var body=table.tBodies[0],filter=document.getElementById('filter');
filter.addEventListener('input',function(){var q=filter.value.toLowerCase();
for(var i=0;i<body.rows.length;i++){var r=body.rows[i];r.hidden=q!==''&&r.getAttribute('data-name').toLowerCase().indexOf(q)<0;}});
var heads=table.tHead.rows[0].cells;
for(var c=0;c<heads.length;c++)(function(c){var h=heads[c];if(!h.hasAttribute('data-sort'))return;
h.addEventListener('click',function(){var numeric=h.getAttribute('data-sort')==='number';
var dir=h.getAttribute('aria-sort')==='ascending'?-1:1;
for(var k=0;k<heads.length;k++)heads[k].removeAttribute('aria-sort');
h.setAttribute('aria-sort',dir>0?'ascending':'descending');
var rows=Array.prototype.slice.call(body.rows);
rows.sort(function(a,b){var x=a.cells[c].getAttribute('data-value')||a.cells[c].textContent,y=b.cells[c].getAttribute('data-value')||b.cells[c].textContent;
return dir*(numeric?(Number(x)-Number(y)):(x<y?-1:x>y?1:0));});
var f=document.createDocumentFragment();rows.forEach(function(r){f.appendChild(r);});body.appendChild(f);});})(c);
var data=null;
function fill(d){if(!d.open||d.getAttribute('data-done'))return;
if(!data)data=JSON.parse(document.getElementById('declarations').textContent);
var ul=document.createElement('ul');ul.className='refs';
data.rows[Number(d.getAttribute('data-row'))].forEach(function(r){var li=document.createElement('li');
li.appendChild(document.createTextNode(r[0]+(r[1]?' I ':' ')));var code=document.createElement('code');
code.textContent=data.objects[r[2]];li.appendChild(code);ul.appendChild(li);});
d.appendChild(ul);d.setAttribute('data-done','1');}
body.addEventListener('toggle',function(e){fill(e.target);},true);
Array.prototype.forEach.call(body.querySelectorAll('details[open]'),fill);
})();
)js";

// Collects the page and writes it in large pieces.
class HtmlWriter {
 public:
  explicit HtmlWriter(TextStream& output) : output_(output) {}
  ~HtmlWriter() { flush(); }
  HtmlWriter(const HtmlWriter&) = delete;
  HtmlWriter& operator=(const HtmlWriter&) = delete;

  // Markup, written as it is.
  HtmlWriter& raw(std::string_view markup) {
    text_.append(markup);
    if (text_.size() >= kFlushSize) flush();
    return *this;
  }
  // Text from the objects or the run, escaped for element content and quoted attributes.
  HtmlWriter& text(std::string_view bytes) {
    const bool valid = is_valid_utf8(bytes);
    for (const char c : bytes) {
      const auto u = static_cast<unsigned char>(c);
      switch (c) {
        case '&':
          text_ += "&amp;";
          break;
        case '<':
          text_ += "&lt;";
          break;
        case '>':
          text_ += "&gt;";
          break;
        case '"':
          text_ += "&quot;";
          break;
        case '\'':
          text_ += "&#39;";
          break;
        default:
          if ((u < 0x20 && c != '\t' && c != '\n') || u == 0x7F || (u >= 0x80 && !valid)) {
            text_ += "\xEF\xBF\xBD";
          } else {
            text_ += c;
          }
      }
    }
    if (text_.size() >= kFlushSize) flush();
    return *this;
  }
  HtmlWriter& number(uint64_t value) { return raw(std::to_string(value)); }

  void flush() {
    if (!text_.empty()) write_text(output_, text_);
    text_.clear();
  }

 private:
  static constexpr size_t kFlushSize = 64 * 1024;
  TextStream& output_;
  std::string text_;
};

const char* plural(size_t count) {
  return count == 1 ? "" : "s";
}

// The block's sizes, each once, in the order of the list: "804, 964". A shared library
// whose format records no size has none to show.
std::string sizes_of(const std::vector<const BlockReference*>& references, uint64_t& largest) {
  std::string text;
  std::vector<uint64_t> seen;
  largest = 0;
  for (const BlockReference* reference : references) {
    if (is_unsized_definition(*reference)) continue;
    if (reference->size > largest) largest = reference->size;
    bool known = false;
    for (uint64_t size : seen) known = known || size == reference->size;
    if (known) continue;
    seen.push_back(reference->size);
    if (!text.empty()) text += ", ";
    text += std::to_string(reference->size);
  }
  return text;
}

void write_declarations(HtmlWriter& out, const std::vector<const BlockReference*>& references) {
  out.raw(
      "<table class=\"declarations\"><thead><tr><th class=\"num\">Size</th><th>Initialised"
      "</th><th>Object</th></tr></thead><tbody>\n");
  for (const BlockReference* reference : references) {
    out.raw("<tr><td class=\"num\">");
    if (is_unsized_definition(*reference)) {
      out.raw("-");
    } else {
      out.number(reference->size);
    }
    out.raw("</td><td>");
    out.raw(reference->initialized ? "yes" : "").raw("</td><td><code>");
    out.text(reference->object->path).raw("</code></td></tr>\n");
  }
  out.raw("</tbody></table>\n");
}

// The distinct layouts side by side, the member at the parting offset marked in each.
void write_layouts(HtmlWriter& out, const LayoutFindings& layouts) {
  if (layouts.groups.empty() && layouts.without_debug == 0) return;
  out.raw("<div class=\"layouts\">\n");
  for (size_t g = 0; g < layouts.groups.size(); ++g) {
    const LayoutGroup& group = layouts.groups[g];
    const DeclaredLayout& example = *group.example;
    const PartingMember parting =
        layouts.parted ? member_at(group, layouts.parting_offset) : PartingMember{};
    out.raw("<table class=\"layout\"><caption>Layout ").number(g + 1).raw(": ");
    out.number(group.size).raw(" bytes, ").number(group.count);
    out.raw(" declaration").raw(plural(group.count)).raw(", as in <code>");
    out.text(example.routine);
    if (!example.file.empty()) {
      out.raw(" ").text(example.file);
      if (example.line != 0) out.raw(":").number(example.line);
    }
    out.raw("</code> (").text(group.object->path).raw(")</caption>\n");
    out.raw(
        "<thead><tr><th class=\"num\">Offset</th><th class=\"num\">Size</th><th>Type</th>"
        "<th>Member</th></tr></thead><tbody>\n");
    for (const LayoutMember& member : example.shape->members) {
      out.raw(&member == parting.member ? "<tr class=\"conflict\">" : "<tr>");
      out.raw("<td class=\"num\">").number(member.offset).raw("</td><td class=\"num\">");
      out.number(member.size).raw("</td><td>").text(member.type).raw("</td><td>");
      out.text(member.name).text(member.dimensions).raw("</td></tr>\n");
    }
    out.raw("</tbody></table>\n");
  }
  if (layouts.without_debug > 0) {
    out.raw("<p>Without debug information: ").number(layouts.without_debug);
    out.raw(" declaration").raw(plural(layouts.without_debug)).raw(", as in <code>");
    out.text(layouts.without_example->path).raw("</code></p>\n");
  }
  out.raw("</div>\n");
}

// A finding's heading, its class and severity, what it means, and what the baseline and
// the suppressions make of it.
void open_finding(HtmlWriter& out, const Adoption& adoption, std::string_view block,
                  std::string_view headline, FindingClass finding_class,
                  std::string_view explanation, const FindingMark* mark) {
  const std::string_view severity = severity_name(severity_of(finding_class));
  out.raw("<article class=\"finding ").raw(severity).raw("\" data-block=\"").text(block);
  out.raw("\">\n<h3><span class=\"badge ").raw(severity).raw("\">").raw(severity);
  out.raw("</span><span class=\"badge\">").raw(class_name(finding_class)).raw("</span>");
  if (mark != nullptr && adoption.baseline) {
    out.raw("<span class=\"badge state\">").raw(baseline_state_name(mark->state)).raw("</span>");
  }
  if (mark != nullptr && mark->suppression != nullptr) {
    out.raw("<span class=\"badge state\">suppressed</span>");
  }
  out.raw("<code>").text(block).raw("</code> ").text(headline).raw("</h3>\n");
  out.raw("<p class=\"explanation\">").text(explanation).raw("</p>\n");
  if (mark != nullptr && !mark->change.empty()) {
    out.raw("<p class=\"explanation\">Since the baseline: ").text(mark->change).raw("</p>\n");
  }
  if (mark != nullptr && mark->suppression != nullptr) {
    out.raw("<p class=\"explanation\">Suppressed: ").text(mark->suppression->reason);
    out.raw(" (").text(adoption.suppressions_file).raw(", line ");
    out.number(mark->suppression->line).raw(")</p>\n");
  }
}

// The rest of a finding about a procedure of the block's name: the objects that define or
// call it, and the block's declarations; closes the finding.
void write_procedure(HtmlWriter& out, std::string_view procedure, std::string_view role,
                     const std::vector<const ObjectEntry*>& objects,
                     const std::vector<const BlockReference*>& references) {
  out.raw("<p>The procedure <code>").text(procedure).raw("</code>").text(role).raw("</p>");
  out.raw("<ul class=\"refs\">");
  for (const ObjectEntry* object : objects) {
    out.raw("<li><code>").text(object->path).raw("</code></li>");
  }
  out.raw("</ul>\n");
  write_declarations(out, references);
  out.raw("</article>\n");
}

// Writes the findings, suppressed ones (`suppressed`) or the others; returns how many.
size_t write_findings(HtmlWriter& out, const Findings& findings, const Adoption& adoption,
                      bool suppressed) {
  size_t count = 0;
  const auto wanted = [&](const FindingMark* mark) {
    return (mark != nullptr && mark->suppression != nullptr) == suppressed;
  };
  for (size_t b = 0; b < findings.blocks.size(); ++b) {
    const BlockFindings& found = findings.blocks[b];
    if (!has_errors(found) && found.unsized_libraries == 0 && !has_alignment_note(found)) {
      continue;
    }
    const CommonBlock& block = *found.block;
    const std::vector<const BlockReference*> references = block_references(block);
    const FindingMark* declarations =
        mark_of(adoption, b,
                found.size_mismatch ? FindingKind::kSizeMismatch : FindingKind::kLayoutMismatch);
    if ((found.size_mismatch || found.layout_mismatch) && wanted(declarations)) {
      ++count;
      open_finding(out, adoption, block.name,
                   found.size_mismatch ? "is declared with different sizes"
                                       : "is declared with different layouts",
                   found.finding_class, found.explanation, declarations);
      if (found.layouts.conflict.found) {
        out.raw("<p>Conflict: ").text(describe_conflict(found.layouts)).raw("</p>\n");
      }
      write_declarations(out, references);
      if (findings.layouts) write_layouts(out, found.layouts);
      out.raw("</article>\n");
    }
    const FindingMark* clash = mark_of(adoption, b, FindingKind::kProcedureClash);
    if (found.clash_count > 0 && wanted(clash)) {
      ++count;
      open_finding(out, adoption, block.name, "conflicts with a procedure",
                   FindingClass::kProcedureClash, kProcedureClashExplanation, clash);
      write_procedure(out, findings.procedures[found.first_clash].name,
                      " is defined in:", procedure_objects(findings, found, false), references);
    }
    const FindingMark* possible = mark_of(adoption, b, FindingKind::kPossibleProcedureClash);
    if (found.call_count > 0 && wanted(possible)) {
      ++count;
      open_finding(out, adoption, block.name, "may conflict with a procedure",
                   FindingClass::kPossibleProcedureClash, kPossibleProcedureClashExplanation,
                   possible);
      write_procedure(out, findings.calls[found.first_call].name,
                      ", which no input defines, is called in:",
                      procedure_objects(findings, found, true), references);
    }
    // A note that neither a baseline nor the suppressions take: it is among the others.
    if (found.unsized_libraries > 0 && !suppressed) {
      ++count;
      open_finding(out, adoption, block.name, "is defined by a library that records no size",
                   FindingClass::kLibraryUnsized, kLibraryUnsizedExplanation, nullptr);
      write_declarations(out, references);
      out.raw("</article>\n");
    }
    const FindingMark* alignment_mark = mark_of(adoption, b, FindingKind::kAlignmentSmaller);
    if (has_alignment_note(found) && wanted(alignment_mark)) {
      ++count;
      const AlignmentFindings& alignment = findings.alignments[found.alignment];
      open_finding(out, adoption, block.name, "is defined less aligned than it is declared",
                   FindingClass::kAlignmentSmaller, kAlignmentSmallerExplanation, alignment_mark);
      out.raw("<p>Declared with alignment ").number(alignment.declared).raw(" in <code>");
      out.text(alignment.declaration->path).raw("</code>; defined with:</p>");
      out.raw("<ul class=\"refs\">");
      for (const ShortDefinition& definition : alignment.definitions) {
        out.raw("<li>alignment ").number(definition.alignment).raw(" in <code>");
        out.text(definition.object->path).raw("</code></li>");
      }
      out.raw("</ul>\n</article>\n");
    }
  }
  return count;
}

// The baseline's findings that this run no longer has.
void write_absent(HtmlWriter& out, const Adoption& adoption) {
  if (adoption.absent.empty()) return;
  out.raw("<section id=\"absent\"><h2>Absent since the baseline (");
  out.number(adoption.absent.size()).raw(")</h2><ul>\n");
  for (const FindingPrint& gone : adoption.absent) {
    out.raw("<li><code>").text(gone.block).raw("</code> ").text(gone.kind);
    if (!gone.finding_class.empty()) out.raw(" (").text(gone.finding_class).raw(")");
    out.raw("</li>\n");
  }
  out.raw("</ul></section>\n");
}

// A string for the page's JSON data: escaped as JSON, with '<' escaped too, so that no
// name can close the script element that holds the data.
void write_json_string(HtmlWriter& out, std::string_view bytes) {
  std::string escaped;
  append_json_escaped(escaped, bytes);
  std::string safe = "\"";
  for (const char c : escaped) {
    if (c == '<') {
      safe += "\\u003c";
    } else {
      safe += c;
    }
  }
  safe += '"';
  out.raw(safe);
}

// Every block a row. The declarations of each are listed when its row is opened, from
// data kept once in the page (object paths by number): a tree of ten thousand objects
// declares hundreds of thousands of references, and a list element for each would make
// the page slow to open.
void write_block_table(HtmlWriter& out, const Findings& findings) {
  out.raw("<section id=\"blocks\"><h2>Blocks (").number(findings.blocks.size()).raw(")</h2>\n");
  out.raw(
      "<input id=\"filter\" type=\"search\" placeholder=\"Filter blocks by name\" "
      "aria-label=\"Filter blocks by name\">\n");
  out.raw(
      "<table id=\"block-table\"><thead><tr><th data-sort=\"text\">Block</th>"
      "<th data-sort=\"number\" class=\"num\">Sizes</th>"
      "<th data-sort=\"number\" class=\"num\">Declarations</th>"
      "<th data-sort=\"text\">Problem</th><th>Declared in</th></tr></thead><tbody>\n");
  size_t row = 0;
  for (const BlockFindings& found : findings.blocks) {
    const CommonBlock& block = *found.block;
    const std::vector<const BlockReference*> references = block_references(block);
    uint64_t largest = 0;
    const std::string sizes = sizes_of(references, largest);
    out.raw("<tr data-name=\"").text(block.name).raw("\"><td><code>").text(block.name);
    out.raw("</code></td><td class=\"num\" data-value=\"").number(largest).raw("\">");
    out.raw(sizes).raw("</td><td class=\"num\">").number(references.size()).raw("</td><td>");
    std::string problems;
    if (found.size_mismatch) problems = "sizes";
    if (found.layout_mismatch) problems = "layouts";
    if (found.clash_count > 0) problems += problems.empty() ? "procedure" : ", procedure";
    if (found.call_count > 0) {
      problems += problems.empty() ? "called procedure" : ", called procedure";
    }
    if (has_alignment_note(found)) {
      problems += problems.empty() ? "alignment" : ", alignment";
    }
    out.raw(problems).raw("</td><td><details data-row=\"").number(row++).raw("\"><summary>");
    out.number(references.size()).raw(" object").raw(plural(references.size()));
    out.raw("</summary></details></td></tr>\n");
  }
  out.raw("</tbody></table></section>\n");

  // The data: the objects' paths, and for each row its references as [size, initialised,
  // object number] in list order.
  out.raw("<script type=\"application/json\" id=\"declarations\">{\"objects\": [");
  for (size_t i = 0; i < findings.objects.size(); ++i) {
    if (i > 0) out.raw(",");
    write_json_string(out, findings.objects[i]->path);
  }
  out.raw("],\n\"rows\": [");
  for (size_t b = 0; b < findings.blocks.size(); ++b) {
    out.raw(b > 0 ? ",\n[" : "[");
    bool first = true;
    for (const BlockReference* reference : block_references(*findings.blocks[b].block)) {
      out.raw(first ? "[" : ",[");
      // The page shows a size without one as the text report does.
      if (is_unsized_definition(*reference)) {
        out.raw("\"-\"");
      } else {
        out.number(reference->size);
      }
      out.raw(reference->initialized ? ",1," : ",0,");
      out.number(reference->object->ordinal).raw("]");
      first = false;
    }
    out.raw("]");
  }
  out.raw("]}</script>\n");
}

void write_diagnostics(HtmlWriter& out, const DocumentContext& context) {
  if (context.diagnostics == nullptr || context.diagnostics->empty()) return;
  out.raw("<section id=\"diagnostics\"><h2>Diagnostics (");
  out.number(context.diagnostics->size()).raw(")</h2><ul class=\"diagnostics\">\n");
  for (const DiagnosticRecord& record : *context.diagnostics) {
    std::string_view text = record.text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    out.raw("<li>").text(text).raw("</li>\n");
  }
  out.raw("</ul></section>\n");
}

}  // namespace

void render_html(const Findings& findings, const DocumentContext& context, TextStream& output) {
  HtmlWriter out(output);
  out.raw("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n");
  // Nothing may be loaded: not a font, not an image, not a script from elsewhere.
  out.raw(
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'; script-src 'unsafe-inline'\">\n");
  out.raw("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n");
  out.raw("<title>COMMON block report</title>\n<style>").raw(kStyle).raw("</style>\n</head>\n");
  out.raw("<body>\n<header>\n<h1>COMMON block report</h1>\n<p class=\"tool\">");
  out.text(context.tool_title).raw("</p>\n");

  size_t objects = 0;
  for (const ObjectEntry* object : findings.objects) {
    objects += object->format != "archive" && object->format != "big-archive";
  }
  out.raw("<p id=\"summary\" class=\"summary\">").number(findings.blocks.size());
  out.raw(" block").raw(plural(findings.blocks.size())).raw(" in ").number(objects);
  out.raw(" object").raw(plural(objects)).raw("; ").number(findings.counts.errors);
  out.raw(findings.counts.errors == 1 ? " error, " : " errors, ").number(findings.counts.warnings);
  out.raw(findings.counts.warnings == 1 ? " warning, " : " warnings, ");
  out.number(findings.counts.notes).raw(findings.counts.notes == 1 ? " note" : " notes");
  if (context.adoption != nullptr && context.adoption->baseline) {
    const AdoptionCounts& states = context.adoption->counts;
    out.raw("; against the baseline ").number(states.new_findings).raw(" new, ");
    out.number(states.updated).raw(" updated, ").number(states.unchanged).raw(" unchanged, ");
    out.number(states.absent).raw(" absent");
  }
  if (context.adoption != nullptr && context.adoption->suppressions) {
    out.raw("; ").number(context.adoption->counts.suppressed).raw(" suppressed");
  }
  out.raw("</p>\n");
  if (findings.incomplete) {
    out.raw(
        "<p class=\"verdict incomplete\">Processing is incomplete: see the diagnostics."
        "</p>\n");
  }
  out.raw(findings.errors_seen ? "<p class=\"verdict errors\">COMMON Block errors encountered."
                               : "<p class=\"verdict clean\">No problems encountered.");
  out.raw("</p>\n</header>\n");

  const Adoption none;
  const Adoption& adoption = context.adoption != nullptr ? *context.adoption : none;
  out.raw("<section id=\"findings\"><h2>Findings</h2>\n");
  if (write_findings(out, findings, adoption, false) == 0) out.raw("<p>No findings.</p>\n");
  out.raw("</section>\n");
  if (adoption.counts.suppressed > 0) {
    out.raw("<section id=\"suppressed\"><details><summary><h2>Suppressed findings (");
    out.number(adoption.counts.suppressed).raw(")</h2></summary>\n");
    write_findings(out, findings, adoption, true);
    out.raw("</details></section>\n");
  }
  write_absent(out, adoption);
  write_diagnostics(out, context);
  write_block_table(out, findings);
  out.raw("<script>").raw(kScript).raw("</script>\n</body>\n</html>\n");
}

}  // namespace drelk
