// Python bytecode (.pyc): a header whose size depends on the version that
// wrote it, then one marshalled object, the module's code object, and the
// file ends where that object ends. Nothing in the file says its length, so
// the whole marshal stream is walked: every object's type byte, counts and
// sizes, and the code objects' fields in the order that version writes them.

#include <cstring>
#include <string>

#include "engine/formats/byte_reader.h"
#include "engine/formats/documents_parts.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

// How one line of interpreters writes its files.
struct Layout {
  const char* name;
  std::uint64_t header;  // bytes before the code object
  bool python2;          // 'R' refers to an interned string
  bool references;       // FLAG_REF, 'r', the short and ASCII strings
  bool slices;           // ':' (constant slices)
  int intsBefore;        // argcount ... flags
  int objectsAfterLine;  // lnotab, or linetable and exception table
};

const Layout kPython27 = {"Python 2.7", 8, true, false, false, 4, 1};
const Layout kPython33 = {"Python 3.3", 12, false, false, false, 5, 1};
const Layout kPython34 = {"Python 3.4-3.6", 12, false, true, false, 5, 1};
const Layout kPython37 = {"Python 3.7", 16, false, true, false, 5, 1};
const Layout kPython38 = {"Python 3.8-3.10", 16, false, true, false, 6, 1};
const Layout kPython311 = {"Python 3.11-3.13", 16, false, true, false, 5, 2};
const Layout kPython314 = {"Python 3.14", 16, false, true, true, 5, 2};

// The layout of a magic number (little-endian, followed by "\r\n"), or null
// for versions this checker does not know (3.0-3.2, later than 3.14).
const Layout* LayoutOf(std::uint16_t magic) {
  if (magic == 62211) return &kPython27;
  if (magic >= 3190 && magic < 3250) return &kPython33;
  if (magic >= 3250 && magic < 3390) return &kPython34;
  if (magic >= 3390 && magic < 3400) return &kPython37;
  if (magic >= 3400 && magic < 3450) return &kPython38;
  if (magic >= 3450 && magic < 3600) return &kPython311;
  if (magic >= 3600 && magic < 3650) return &kPython314;
  return nullptr;
}

// What a code object's field holds: its bytecode and tables are bytes, its
// constants and names tuples, its file and names text; a reference may stand
// for any of them.
enum class Field : std::uint8_t { kAny, kBytes, kTuple, kText };

// The fields before the first line number, then those after it.
const Field kFields[] = {Field::kBytes, Field::kTuple, Field::kTuple, Field::kTuple, Field::kTuple,
                         Field::kTuple, Field::kText,  Field::kText,  Field::kBytes};
const Field kFields311[] = {Field::kBytes, Field::kTuple, Field::kTuple, Field::kTuple, Field::kBytes,
                            Field::kText,  Field::kText,  Field::kText,  Field::kBytes, Field::kBytes};

constexpr int kMaxDepth = 200;
constexpr std::uint8_t kFlagRef = 0x80;

// Reads the stream forward through a buffer, as most objects are a few
// bytes long and a code object holds thousands of them.
class Stream : public ByteReader {
 public:
  using ByteReader::ByteReader;
  std::uint64_t At() const { return Position(); }
  bool Int32(std::int32_t* out) {
    unsigned char b[4];
    if (!Bytes(b, 4)) return false;
    *out = static_cast<std::int32_t>(Le32(b));
    return true;
  }
};

class Walker {
 public:
  Walker(Fragment& f, const Layout& layout) : s_(f, layout.header), layout_(layout) {
    for (std::int64_t& slot : open_) slot = -1;
  }

  // Walks the object at the current position; false when it is cut or
  // damaged (Cut() tells which). A '0' (the end of a dict) is allowed only
  // where `null` is given, and sets it.
  bool Object(int depth, bool* null = nullptr, Field field = Field::kAny);

  bool Cut() const { return cut_; }
  bool TooDeep() const { return tooDeep_; }
  const std::string& Why() const { return why_; }
  std::uint64_t At() const { return s_.At(); }
  std::uint64_t Codes() const { return codes_; }

 private:
  bool Truncate(const char* where) {
    cut_ = true;
    why_ = std::string("ends inside ") + where + " at " + std::to_string(s_.At());
    return false;
  }
  bool Damage(std::string why) {
    why_ = std::move(why) + " at " + std::to_string(s_.At());
    return false;
  }
  bool Unknown(std::uint8_t code) { return Damage("unknown object type " + std::to_string(code)); }
  bool Items(int depth, std::uint64_t count, const char* what) {
    // Each item takes at least a byte: a count beyond the fragment is a cut.
    if (!s_.Room(count)) return Truncate(what);
    for (std::uint64_t i = 0; i < count; ++i) {
      if (!Object(depth + 1)) return false;
    }
    return true;
  }
  bool Count(std::int32_t* n, const char* what) {
    if (!s_.Int32(n)) return Truncate(what);
    if (*n < 0) return Damage(std::string("negative size of ") + what);
    return true;
  }
  bool Sized(const char* what) {
    std::int32_t n = 0;
    if (!Count(&n, what)) return false;
    return s_.Skip(static_cast<std::uint64_t>(n)) || Truncate(what);
  }
  bool ShortSized(const char* what) {
    std::uint8_t n = 0;
    return (s_.Byte(&n) && s_.Skip(n)) || Truncate(what);
  }
  bool Long();
  bool Fits(std::uint8_t type, Field field) const;
  bool Code(int depth);
  bool Reference();

  Stream s_;
  const Layout& layout_;
  bool cut_ = false;
  bool tooDeep_ = false;
  std::string why_;
  std::uint64_t codes_ = 0;
  std::uint32_t references_ = 0;  // objects flagged so far (or interned strings, Python 2)
  // The reference slots of the objects still being read, one per level: a
  // reference to one of them would make the object contain itself.
  std::int64_t open_[kMaxDepth + 2];
};

bool Walker::Object(int depth, bool* null, Field field) {
  // Deeper nesting is allowed by the format but unheard of in compiled
  // modules: rather than guess, the walk gives up without a verdict.
  if (depth > kMaxDepth) {
    tooDeep_ = true;
    return Damage("objects nested deeper than " + std::to_string(kMaxDepth));
  }
  std::uint8_t code = 0;
  if (!s_.Byte(&code)) return Truncate("an object");
  const bool flagged = (code & kFlagRef) != 0;
  const std::uint8_t type = code & 0x7F;
  if (flagged && !layout_.references) return Unknown(code);
  if (!Fits(type, field)) return Damage("a code object field of the wrong type " + std::to_string(code));
  open_[depth] = -1;
  switch (type) {
    case '0':
      if (null == nullptr) return Damage("a null object where a value belongs");
      *null = true;
      return true;
    case 'N':
    case 'F':
    case 'T':
    case 'S':
    case '.':
      return true;  // singletons take no reference slot, flagged or not
    case 'r':
      if (!layout_.references) break;
      return Reference();
    case 'R':
      if (!layout_.python2) break;
      return Reference();
    default:
      break;
  }
  // Every other object takes the next reference slot when flagged, numbered
  // in the order the objects begin.
  if (flagged) open_[depth] = references_++;
  bool ok = true;
  switch (type) {
    case 'i':
      ok = s_.Skip(4) || Truncate("an integer");
      break;
    case 'I':
      ok = s_.Skip(8) || Truncate("an integer");
      break;
    case 'g':
      ok = s_.Skip(8) || Truncate("a float");
      break;
    case 'y':
      ok = s_.Skip(16) || Truncate("a complex number");
      break;
    case 'f':
      ok = ShortSized("a float");
      break;
    case 'x':
      ok = ShortSized("a complex number") && ShortSized("a complex number");
      break;
    case 'l':
      ok = Long();
      break;
    case 't':
      if (layout_.python2) ++references_;
      ok = Sized("a string");
      break;
    case 's':
    case 'u':
      ok = Sized("a string");
      break;
    case 'a':
    case 'A':
      if (!layout_.references) return Unknown(code);
      ok = Sized("a string");
      break;
    case 'z':
    case 'Z':
      if (!layout_.references) return Unknown(code);
      ok = ShortSized("a string");
      break;
    case '(':
    case '[':
    case '<':
    case '>': {
      std::int32_t n = 0;
      ok = Count(&n, "a tuple, list or set") && Items(depth, static_cast<std::uint64_t>(n), "a tuple, list or set");
      break;
    }
    case ')': {
      if (!layout_.references) return Unknown(code);
      std::uint8_t n = 0;
      ok = (s_.Byte(&n) || Truncate("a tuple")) && Items(depth, n, "a tuple");
      break;
    }
    case '{':
      // Pairs up to a null key; each pair takes bytes, so the loop ends
      // with the fragment at the latest.
      for (;;) {
        bool end = false;
        if (!Object(depth + 1, &end)) return false;
        if (end) break;
        if (!Object(depth + 1)) return false;
      }
      break;
    case ':':
      if (!layout_.slices) return Unknown(code);
      ok = Items(depth, 3, "a slice");
      break;
    case 'c':
      ok = Code(depth);
      break;
    default:
      return Unknown(code);
  }
  open_[depth] = -1;
  return ok;
}

// A long: a signed count of 15-bit digits, each in 16 bits, the top one not
// zero (the writer never leaves it so).
bool Walker::Long() {
  std::int32_t n = 0;
  if (!s_.Int32(&n)) return Truncate("a long integer");
  if (n == INT32_MIN) return Damage("impossible long integer size");
  const std::uint64_t digits = static_cast<std::uint64_t>(n < 0 ? -static_cast<std::int64_t>(n) : n);
  if (!s_.Room(2 * digits)) return Truncate("a long integer");
  std::uint32_t digit = 0;
  for (std::uint64_t i = 0; i < digits; ++i) {
    std::uint8_t low = 0;
    std::uint8_t high = 0;
    if (!s_.Byte(&low) || !s_.Byte(&high)) return Truncate("a long integer");
    digit = static_cast<std::uint32_t>(low | high << 8);
    if (digit > 0x7FFF) return Damage("long integer digit out of range");
  }
  if (digits != 0 && digit == 0) return Damage("long integer with a zero top digit");
  return true;
}

// A reference must name an object already begun ('r') or an interned
// string already read (Python 2's 'R'), and not one still being read.
bool Walker::Reference() {
  std::int32_t n = 0;
  if (!s_.Int32(&n)) return Truncate("a reference");
  if (n < 0 || static_cast<std::uint32_t>(n) >= references_) {
    return Damage("reference to object " + std::to_string(n) + " of " + std::to_string(references_));
  }
  if (!layout_.python2) {
    for (const std::int64_t slot : open_) {
      if (slot == n) return Damage("reference to object " + std::to_string(n) + " from inside itself");
    }
  }
  return true;
}

// A code object: its integers (argcount ... flags), its objects (code,
// consts, names and the rest up to its name, or qualname), the first line
// number, then the line table (and, from 3.11, the exception table).
bool Walker::Code(int depth) {
  ++codes_;
  if (!s_.Skip(4ull * static_cast<unsigned>(layout_.intsBefore))) return Truncate("a code object's header");
  const Field* fields = layout_.objectsAfterLine == 2 ? kFields311 : kFields;
  for (int i = 0; i < 8 + layout_.objectsAfterLine; ++i) {
    if (i == 8 && !s_.Skip(4)) return Truncate("a code object");
    if (!Object(depth + 1, nullptr, fields[i])) return false;
  }
  return true;
}

// Whether an object of `type` may stand in a field: Python 2 keeps bytes
// and text alike in strings (interned ones too), Python 3 text in any of
// its string types.
bool Walker::Fits(std::uint8_t type, Field field) const {
  const char* allowed = "";
  switch (field) {
    case Field::kAny:
      return true;
    case Field::kTuple:
      allowed = "()r";
      break;
    case Field::kBytes:
      allowed = layout_.python2 ? "stR" : "sr";
      break;
    case Field::kText:
      allowed = layout_.python2 ? "stRu" : "utaAzZr";
      break;
  }
  return type != 0 && std::strchr(allowed, type) != nullptr;
}

}  // namespace

CheckResult CheckPythonBytecode(Fragment& f, const CheckOptions&) {
  unsigned char h[16];
  if (!f.Read(0, h, 4)) return Truncated(kUnknown, "ends inside the header");
  if (h[2] != '\r' || h[3] != '\n') return Damaged("no Python bytecode header");
  const Layout* layout = LayoutOf(Le16(h));
  if (layout == nullptr) {
    return Unchecked("bytecode of an unknown Python version (magic " + std::to_string(Le16(h)) + ")");
  }
  if (!f.Read(0, h, layout->header)) return Truncated(kUnknown, "ends inside the header");
  // From 3.7 a flags word says whether a source hash or a time follows;
  // CPython refuses any other bit.
  if (layout->header == 16 && (Le32(h + 4) & ~3u) != 0) return Damaged("unknown header flags");
  std::uint8_t type = 0;
  if (!f.Read(layout->header, &type, 1)) return Truncated(kUnknown, "ends after the header");
  if ((type & 0x7F) != 'c' || (layout->python2 && type != 'c')) return Damaged("no code object after the header");
  Walker walker(f, *layout);
  if (!walker.Object(0)) {
    if (walker.Cut()) return Truncated(kUnknown, walker.Why());
    if (walker.TooDeep()) return Unchecked(walker.Why());
    return Damaged(walker.Why());
  }
  const std::uint64_t codes = walker.Codes();
  return Intact(walker.At(), std::string(layout->name) + ", " + std::to_string(codes) +
                                 (codes == 1 ? " code object" : " code objects") + ", ends at " +
                                 std::to_string(walker.At()));
}

extern const FormatRow kPythonBytecodeRow{.extensions = {"pyc"}, .checker = CheckPythonBytecode};

}  // namespace tessaro::formats
