// The SARIF log's rules, one a class of finding: their ids, names and texts, and each
// class's SARIF level and code scanning's problem.severity.
#include "report/sarif_rules.h"

#include <iterator>

namespace drelk::sarif {
namespace {

// The first three rules keep the ids they had before findings were classed: a size
// mismatch with nothing graver is an extent, and a layout mismatch is a type conflict.

constexpr Rule kRules[] = {
    {"DRK1001", "CommonBlockSizeMismatch", FindingClass::kExtent,
     "COMMON block declared with different sizes.",
     "Objects declare the same COMMON block with different sizes, and the declarations agree "
     "on the bytes they share (or their layouts were not compared): a routine declares only "
     "the start of the block. GNU ld and lld keep the largest size; Apple's ld64 since Xcode "
     "15 and MSVC's LINK may keep another, and the larger declarations then overrun it.",
     "Declare the block identically in every program unit, best from one INCLUDE file. "
     "The result lists each size with an object declaring it; the related locations are "
     "the other declarations."},
    {"DRK1002", "CommonBlockProcedureClash", FindingClass::kProcedureClash,
     "COMMON block named like a procedure.",
     "A COMMON block has the name of a procedure that some object defines. The linker "
     "takes both for one symbol: the block's storage overlays the procedure's code, or "
     "a call jumps into the data.",
     "Rename the COMMON block or the procedure. The result's locations are the objects "
     "that define the procedure; the related locations declare the block."},
    {"DRK1003", "CommonBlockTypeConflict", FindingClass::kTypeConflict,
     "COMMON block whose declarations read the same bytes as different types.",
     "Program units declare the same COMMON block with members that read some bytes as "
     "different types, as the objects' debug information shows (EQUIVALENCE views, padding "
     "and names make no difference). Storage association then reinterprets the bytes: an "
     "INTEGER is read as part of a REAL*8.",
     "Declare the block identically in every program unit, best from one INCLUDE file. "
     "The message names the first conflicting bytes; the result's locations are the source "
     "lines that declare each distinct layout; the related locations are the objects."},
    {"DRK1004", "CommonBlockInitialisedSmaller", FindingClass::kInitialisedSmaller,
     "COMMON block initialised with fewer bytes than it is declared with.",
     "An initialised definition of a COMMON block (BLOCK DATA) is smaller than some "
     "declaration. The initialised definition decides the block's size on every linker, so "
     "the program units that declare more read and write past its end, into other data.",
     "Make the BLOCK DATA declare the block as large as its largest declaration, best from "
     "the INCLUDE file that the other program units use."},
    {"DRK1005", "BlankCommonSizeMismatch", FindingClass::kBlankCommon,
     "Blank COMMON declared with different sizes.",
     "Blank COMMON may be declared with different sizes in different program units, as the "
     "Fortran standard allows. GNU ld and lld keep the largest size; with Apple's ld64 since "
     "Xcode 15 or MSVC's LINK check that the largest is kept.",
     "Nothing needs to change where the linker keeps the largest size; declaring blank COMMON "
     "alike everywhere removes the note."},
    {"DRK1006", "CommonBlockLibrarySmaller", FindingClass::kLibrarySmaller,
     "COMMON block defined by a shared library with fewer bytes than it is declared with.",
     "A shared library (an ELF shared object) exports the COMMON block as data smaller than "
     "some object's declaration. A program linked against it gets a copy of the declared size "
     "while the library's code knows only its own object, or reads and writes past the "
     "library's object: the program units that declare more overrun it.",
     "Declare the block as the library's headers do (for MPI, include the mpif.h or use the "
     "module of the MPI the program links with), and rebuild against that library."},
    {"DRK1007", "CommonBlockLibraryDefinition", FindingClass::kLibraryUnsized,
     "COMMON block defined by a shared library that records no size.",
     "A Mach-O dylib or bundle, or a PE DLL, exports data of the COMMON block's name, and its "
     "format records no size. Apple's ld64 refuses a COMMON block that a dylib defines; a "
     "program that imports a block from a DLL must declare it with the DLL's order, sizes and "
     "types.",
     "Compare the declarations with the library's by hand (its headers or INCLUDE files)."},
    {"DRK1008", "CommonBlockPossibleProcedureClash", FindingClass::kPossibleProcedureClash,
     "COMMON block named like a procedure that is called but not given.",
     "A COMMON block has the name of a procedure that some object calls, and none of the "
     "inputs defines it: it comes from a library that was not read. Linked with that "
     "library, the block and the procedure are one symbol: the block's storage overlays "
     "the procedure's code, or the call jumps into the data.",
     "Rename the COMMON block, or check the library the procedure comes from. The result's "
     "locations are the objects that call the procedure; the related locations declare the "
     "block."},
    {"DRK1009", "CommonBlockAlignmentSmaller", FindingClass::kAlignmentSmaller,
     "COMMON block defined less aligned than a declaration asks for.",
     "An object or shared library defines the COMMON block at an alignment smaller than "
     "another object's COMMON declaration asks for. Where the block is placed as the "
     "definition is (an object's definition always is; GNU ld warns of it for ELF), code "
     "compiled for the larger alignment may use aligned vector loads and stores that fault "
     "on the block. The declarations' own alignments are never compared: compilers choose "
     "them differently.",
     "Align the definition as the declarations ask (for a C or assembler definition, with an "
     "aligned attribute or directive), or build the definition with the compiler and options "
     "of the declaring units. The result's locations are the definitions; the related "
     "location is the declaration that asks for more."},
};

}  // namespace

std::span<const Rule> rules() {
  return kRules;
}

size_t rule_of(FindingClass finding_class) {
  for (size_t i = 0; i < std::size(kRules); ++i) {
    if (kRules[i].finding_class == finding_class) return i;
  }
  return 0;
}

// SARIF's level and code scanning's problem.severity of a class.
std::string_view level_of(FindingClass finding_class) {
  return severity_name(severity_of(finding_class));
}

std::string_view problem_severity(FindingClass finding_class) {
  switch (severity_of(finding_class)) {
    case Severity::kError:
      return "error";
    case Severity::kWarning:
      return "warning";
    case Severity::kNote:
      break;
  }
  return "recommendation";
}

void write_rules(JsonWriter& out) {
  out.raw("          \"rules\": [");
  bool first = true;
  for (const Rule& rule : kRules) {
    out.item(first).raw("            {\"id\": ").string(rule.id);
    out.raw(", \"name\": ").string(rule.name);
    out.raw(",\n             \"shortDescription\": {\"text\": ").string(rule.short_description);
    out.raw("},\n             \"fullDescription\": {\"text\": ").string(rule.full_description);
    out.raw("},\n             \"help\": {\"text\": ").string(rule.help);
    out.raw("},\n             \"defaultConfiguration\": {\"level\": ")
        .string(level_of(rule.finding_class))
        .raw("}");
    out.raw(",\n             \"properties\": {\"precision\": \"very-high\", ")
        .raw("\"problem.severity\": ")
        .string(problem_severity(rule.finding_class))
        .raw(", \"class\": ")
        .string(class_name(rule.finding_class))
        .raw(", \"tags\": [\"correctness\", \"fortran\"]}}");
  }
  out.close_items(first, "          ").raw("\n");
}

}  // namespace drelk::sarif
